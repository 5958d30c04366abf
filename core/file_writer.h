// The one way every command writes a file. A new or regular target is written
// to a temporary file beside it, ".NAME.quarrendel-tmp-PID-N", and renamed
// over it only once every byte, the flush to disk and the close succeeded, so
// a failure leaves the earlier file as it was and no temporary file behind.
// Temporary files of the same target left by processes that no longer exist
// (a killed run) are removed first. The earlier file's permission bits are
// kept, a symlink is followed (the link stays a link), and a read-only file is
// refused. A target that is not a regular file (a character device, a FIFO,
// /dev/stdout) is written in place. Names a command derives inside a folder
// have stricter rules (WriteOptions::derivedName). Every failure is
// Error(Io, "cannot write PATH: reason"). WriteFileInPieces keeps the same
// promises for a file written as it is produced.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quarrendel {

struct WriteOptions {
  // Files the command read: a target that is one of them (same device and
  // inode, whatever the name) is refused, naming both.
  std::vector<std::string> inputs;
  // The package rebuild exists to rewrite its input: it may replace one of
  // `inputs` (still through a temporary file).
  bool mayReplaceInput = false;
  // The temporary file reaches the disk before the rename. A command that
  // writes many files at once may clear it and call SyncFileSystem once
  // before the file that completes the set.
  bool sync = true;
  // The command made up this name inside a folder the user named, which may
  // hold what someone else put there (a downloaded pack): a symlink there is
  // replaced by a regular file, never followed, and a target that is neither
  // a regular file nor a symlink is refused as CheckDerivedTarget refuses it.
  // Nothing but the new file is ever opened, so no FIFO can block the write.
  bool derivedName = false;
  // Stale temporary files of the target are removed before it is written. A
  // command that writes many files into one folder clears it and calls
  // RemoveStaleTemporaryFiles once for the batch: a look through the folder
  // per file would grow with the square of their number.
  bool removeStale = true;
};

// Refuses a derived name (see WriteOptions::derivedName) whose existing entry
// is not a regular file or a symlink: Error(Io, "cannot write PATH: it is a
// FIFO, not a regular file") (a folder, a socket, a character device ...).
// A command that writes a batch of such names checks them all first.
void CheckDerivedTarget(const std::string& path);

// The system calls the writer makes, one virtual each so a test can make any
// of them fail. Each returns what the POSIX call returns and leaves errno set
// on failure.
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  virtual int Open(const std::string& path, int flags, mode_t mode);
  virtual ssize_t Write(int fd, const uint8_t* data, size_t size);
  virtual ssize_t WriteAt(int fd, const uint8_t* data, size_t size, off_t offset);
  virtual int Sync(int fd);
  virtual int Close(int fd);
  virtual int Chmod(int fd, mode_t mode);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);
};

void WriteFile(const std::string& path, std::span<const uint8_t> bytes, const WriteOptions& options = {});
// Removes, in one look through `folder`, the temporary files that processes
// which no longer exist (kill(pid, 0) fails with ESRCH) left for any of the
// targets `names` inside it: exactly ".NAME.quarrendel-tmp-PID-N". Files of a
// live process or of this one, and every other name, stay; failures are
// ignored.
void RemoveStaleTemporaryFiles(const std::string& folder, std::span<const std::string> names);
// Flushes everything written to the file system that holds `folder`.
// Throws Error(Io, "cannot write FOLDER: reason").
void SyncFileSystem(const std::string& folder);
void WriteFile(const std::string& path, std::span<const uint8_t> bytes, const WriteOptions& options,
               FileCalls& calls);
void RemoveStaleTemporaryFiles(const std::string& folder, std::span<const std::string> names, FileCalls& calls);

// Takes a file's bytes piece by piece. A failure to write them throws
// Error(Io) as WriteFile does.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // Adds `bytes` after those taken so far.
  virtual void Append(std::span<const uint8_t> bytes) = 0;
  // Writes `bytes` over bytes already appended, from `offset` on; throws
  // Error(Usage) when they would reach past them.
  virtual void Overwrite(uint64_t offset, std::span<const uint8_t> bytes) = 0;
  // Bytes appended so far.
  virtual uint64_t Size() const = 0;
};

// A sink that keeps the bytes.
class ByteSink final : public FileSink {
 public:
  void Append(std::span<const uint8_t> bytes) override;
  void Overwrite(uint64_t offset, std::span<const uint8_t> bytes) override;
  uint64_t Size() const override { return bytes_.size(); }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// WriteFile for a file too large to hold at once: `produce` hands the bytes
// to the sink while they go to the temporary file, which is renamed over
// the target once `produce` returned and every byte, the flush and the close
// succeeded. An exception from `produce` propagates as it is, the earlier
// file kept and the temporary file removed. A target written in place (a
// device, a FIFO) gets the bytes only once `produce` returned: they are held
// until then.
void WriteFileInPieces(const std::string& path, const std::function<void(FileSink&)>& produce,
                       const WriteOptions& options = {});
void WriteFileInPieces(const std::string& path, const std::function<void(FileSink&)>& produce,
                       const WriteOptions& options, FileCalls& calls);


}  // namespace quarrendel
