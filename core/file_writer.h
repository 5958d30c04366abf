// The one way every command writes a file. A new or regular target is written
// to a temporary file beside it and renamed over it only once every byte,
// the flush to disk and the close succeeded, so a failure leaves the earlier
// file as it was and no temporary file behind. The earlier file's permission
// bits are kept, a symlink is followed (the link stays a link), and a read-only
// file is refused. A target that is not a regular file (a character device, a
// FIFO, /dev/stdout) is written in place. Every failure is
// Error(Io, "cannot write PATH: reason").
#pragma once

#include <cstdint>
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
};

// The system calls the writer makes, one virtual each so a test can make any
// of them fail. Each returns what the POSIX call returns and leaves errno set
// on failure.
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  virtual int Open(const std::string& path, int flags, mode_t mode);
  virtual ssize_t Write(int fd, const uint8_t* data, size_t size);
  virtual int Sync(int fd);
  virtual int Close(int fd);
  virtual int Chmod(int fd, mode_t mode);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);
};

void WriteFile(const std::string& path, std::span<const uint8_t> bytes, const WriteOptions& options = {});
void WriteFile(const std::string& path, std::span<const uint8_t> bytes, const WriteOptions& options,
               FileCalls& calls);

}  // namespace quarrendel
