// One error type for every subsystem: a kind, the byte offset where it was
// found (or -1), and the message the user sees.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quarrendel {

enum class ErrorKind {
  Truncated,     // data ends before a field that must be read
  BadMagic,      // a signature is not the one expected
  Unsupported,   // a valid file of a kind this system does not handle
  Corrupt,       // a value inside the data is impossible (bad PRS stream, size out of range)
  OverCapacity,  // input exceeds the store's fixed capacities
  PoolFull,      // both block pools are full
  Io,            // a file could not be opened, read or written
  Usage,         // a caller passed arguments that make no sense
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, std::string message, int64_t offset = -1)
      : std::runtime_error(std::move(message)), kind_(kind), offset_(offset) {}

  ErrorKind Kind() const { return kind_; }
  // Byte offset in the data being parsed, or -1 when the error has no position.
  int64_t Offset() const { return offset_; }

 private:
  ErrorKind kind_;
  int64_t offset_;
};

}  // namespace quarrendel
