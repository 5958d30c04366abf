// A file's bytes for the readers, mapped read-only instead of read into
// memory: pages are read from the file when first touched, a part that is
// only copied somewhere can be read without mapping its pages at all, and a
// part the reader is done with gives its memory back. Only regular files of
// at most 4 GiB (what 32-bit archive offsets can address), or of a smaller
// limit the caller sets, are opened; a device, FIFO or folder is refused
// before it is opened for reading. Every file the commands read comes
// through here.
//
// A file of at most kReadWhole bytes is read into memory at once instead:
// mapping and unmapping it would cost more than the copy (a pack reads
// thousands of small PNG files on several threads, and every unmapping
// stops the other threads' cores to flush their TLBs).
//
// A file cut short while it is mapped would end the process with SIGBUS at
// the first read of a page beyond its new end. The mappings are guarded: the
// rest of such a mapping is replaced by zero pages, the read goes on and sees
// zeros, and CutWhileRead() tells the reader that the file changed under it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quarrendel {

// What a reader may ask of the file whose bytes it reads. For bytes that are
// ordinary memory, this base does the plain thing.
class InputHooks {
 public:
  virtual ~InputHooks() = default;
  // The bytes of `part` (a part of the bytes): `part` itself here; a file
  // may copy them into `buffer`, which must be able to hold them.
  virtual std::span<const uint8_t> Fetch(std::span<const uint8_t> part, std::span<uint8_t> buffer) const;
  // The reader is done with `part`; parts come in file order.
  virtual void Release(std::span<const uint8_t>) const {}
  // The bytes were cut short while they were read: what lay beyond the new
  // end read as zeros.
  virtual bool CutWhileRead() const { return false; }
};

class MappedFile : public InputHooks {
 public:
  static constexpr uint64_t kMaxBytes = uint64_t{1} << 32;
  static constexpr size_t kReadWhole = 64 * 1024;

  // Throws Error("cannot read PATH: reason"): of kind Io when the file cannot
  // be found, opened or mapped; Unsupported for a folder or anything else that
  // is not a regular file; OverCapacity for a file over `maxBytes` (at most
  // kMaxBytes), tested before the file is opened. With `followLinks` false
  // a symlink as the last part of `path` is refused as not a regular file,
  // also one that appears between the test and the open.
  explicit MappedFile(const std::string& path, uint64_t maxBytes = kMaxBytes, bool followLinks = true);
  ~MappedFile() override;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> Bytes() const { return {data_, size_}; }
  // Reads the part from the file into `buffer`, so that its pages are not mapped.
  std::span<const uint8_t> Fetch(std::span<const uint8_t> part, std::span<uint8_t> buffer) const override;
  // Drops the pages of `part` from memory, a few hundred kilobytes at a time;
  // the one holding its end goes with a later part. Reading a dropped page
  // again reads the file again, so any order of parts is safe; file order
  // gives back every page.
  void Release(std::span<const uint8_t> part) const override;
  bool CutWhileRead() const override;

 private:
  // Offset of `part` in the file, or -1 when it is not a part of Bytes().
  int64_t OffsetOf(std::span<const uint8_t> part) const;

  static constexpr uintptr_t kReleaseBatch = 256 * 1024;
  static void Drop(uintptr_t first, uintptr_t end);

  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  std::unique_ptr<uint8_t[]> read_;  // the bytes of a file read whole, else null
  bool readShort_ = false;           // the file gave fewer bytes than its size
  size_t size_ = 0;
  int guard_ = -1;  // the guard slot of the mapping, -1 when all were taken
  // Pages [pendingBegin_, pendingEnd_) are done with but not dropped yet.
  mutable uintptr_t pendingBegin_ = 0;
  mutable uintptr_t pendingEnd_ = 0;
};

}  // namespace quarrendel
