// A file's bytes for the readers, mapped read-only instead of read into
// memory: pages are read from the file when first touched, a part that is
// only copied somewhere can be read without mapping its pages at all, and a
// part the reader is done with gives its memory back. Only regular files of
// at most 4 GiB (what 32-bit archive offsets can address) are opened; a
// device, FIFO or folder is refused before it is opened for reading.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quarrendel {

// What a reader may ask of the file whose bytes it reads. For bytes that are
// ordinary memory, this base does the plain thing.
class InputHooks {
 public:
  virtual ~InputHooks() = default;
  // `part` (a part of the bytes) copied into `buffer`, which must hold it.
  virtual std::span<const uint8_t> CopyInto(std::span<const uint8_t> part, std::span<uint8_t> buffer) const;
  // The reader is done with `part`; parts come in file order.
  virtual void Release(std::span<const uint8_t>) const {}
};

class MappedFile : public InputHooks {
 public:
  static constexpr uint64_t kMaxBytes = uint64_t{1} << 32;

  // Throws Error("cannot read PATH: reason"): of kind Io when the file cannot
  // be found, opened or mapped; Unsupported for a folder or anything else that
  // is not a regular file; OverCapacity for a file over kMaxBytes.
  explicit MappedFile(const std::string& path);
  ~MappedFile() override;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> Bytes() const { return {data_, size_}; }
  // Reads the part from the file, so that its pages are not mapped.
  std::span<const uint8_t> CopyInto(std::span<const uint8_t> part, std::span<uint8_t> buffer) const override;
  // Drops the pages of `part` from memory; the one holding its end goes once
  // a later part starts beyond it. Reading a dropped page again reads the
  // file again, so any order of parts is safe; file order gives back every page.
  void Release(std::span<const uint8_t> part) const override;

 private:
  // Offset of `part` in the file, or -1 when it is not a part of Bytes().
  int64_t OffsetOf(std::span<const uint8_t> part) const;

  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  mutable uintptr_t heldPage_ = 0;  // start of the page holding the end of the last part released
};

}  // namespace quarrendel
