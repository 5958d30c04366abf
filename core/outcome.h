// How a command ended, as a type: the front ends decide from the status what
// it means for them (the command line's exit status, the window's recent
// files), never from the text of a message.
#pragma once

#include <string>

namespace quarrendel {

enum class Status {
  Done,         // the command did what it was asked
  Refused,      // it refused, or the file was refused, with a message
  Incomplete,   // it did what it could: a file was read only in part
  Unsupported,  // the file is of no kind it reads, or a format has no decoder
  Error,        // it failed with an error
};

struct Outcome {
  Status status = Status::Done;
  std::string message;  // what the user was told about it ("" for nothing)

  // The command did it, in full or as far as the file went.
  bool Ok() const { return status == Status::Done || status == Status::Incomplete; }
  explicit operator bool() const { return Ok(); }
};

}  // namespace quarrendel
