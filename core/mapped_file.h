// A file's bytes for the readers, mapped read-only instead of read into
// memory: pages are read from the file when first touched, and a reader that
// has copied a part out can give that part's memory back. Only regular files
// of at most 4 GiB (what 32-bit archive offsets can address) are opened; a
// device, FIFO or folder is refused before it is opened for reading.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace quarrendel {

// Called by a reader with a part of its input it is done with; empty when the
// input is ordinary memory.
using InputRelease = std::function<void(std::span<const uint8_t>)>;

class MappedFile {
 public:
  static constexpr uint64_t kMaxBytes = uint64_t{1} << 32;

  // Throws Error("cannot read PATH: reason"): of kind Io when the file cannot
  // be found, opened or mapped; Unsupported for a folder or anything else that
  // is not a regular file; OverCapacity for a file over kMaxBytes.
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> Bytes() const { return {data_, size_}; }
  // Drops the whole pages inside `part` (a part of Bytes()) from memory;
  // reading them again reads the file again.
  void Release(std::span<const uint8_t> part) const;
  InputRelease Releaser() const {
    return [this](std::span<const uint8_t> part) { Release(part); };
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace quarrendel
