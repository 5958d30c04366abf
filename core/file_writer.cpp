#include "core/file_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/error.h"

namespace quarrendel {

int FileCalls::Open(const std::string& path, int flags, mode_t mode) { return ::open(path.c_str(), flags, mode); }
ssize_t FileCalls::Write(int fd, const uint8_t* data, size_t size) { return ::write(fd, data, size); }
ssize_t FileCalls::WriteAt(int fd, const uint8_t* data, size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
int FileCalls::Sync(int fd) { return ::fsync(fd); }
int FileCalls::Close(int fd) { return ::close(fd); }
int FileCalls::Chmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileCalls::Rename(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()); }
int FileCalls::Unlink(const std::string& path) { return ::unlink(path.c_str()); }

namespace {

constexpr int kMaxLinkHops = 40;        // as the kernel's own limit (ELOOP)
constexpr size_t kMaxTempBaseName = 200;  // leaves room for the suffix within NAME_MAX

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw Error(ErrorKind::Io, "cannot write " + path + ": " + reason);
}
[[noreturn]] void FailErrno(const std::string& path, int err) { Fail(path, std::strerror(err)); }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The folder part of `name` with its trailing slash, or "" for a bare name.
std::string FolderOf(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Follows the symlinks from `name` to the name that holds the file, which
// need not exist yet (a dangling link names the file it will create).
std::string FinalName(const std::string& shown, std::string name) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(name.c_str(), target.data(), target.size());
    if (n < 0) FailErrno(shown, errno);
    if (static_cast<size_t>(n) >= target.size()) FailErrno(shown, ENAMETOOLONG);
    target.resize(static_cast<size_t>(n));
    name = !target.empty() && target[0] == '/' ? target : FolderOf(name) + target;
  }
  FailErrno(shown, ELOOP);
}

// Writes all of `bytes`; false with errno set when a write fails.
bool WriteAll(FileCalls& calls, int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = calls.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// What a target receives: bytes at hand, or a producer that hands them to a sink.
struct Content {
  std::span<const uint8_t> bytes;
  const std::function<void(FileSink&)>* produce = nullptr;

  void WriteTo(FileSink& sink) const {
    if (produce != nullptr) (*produce)(sink);
    else sink.Append(bytes);
  }
};

// The temporary file as a sink: appended bytes are written at once.
class DescriptorSink final : public FileSink {
 public:
  DescriptorSink(FileCalls& calls, int fd, const std::string& path) : calls_(calls), fd_(fd), path_(path) {}

  void Append(std::span<const uint8_t> bytes) override {
    if (!WriteAll(calls_, fd_, bytes)) FailErrno(path_, errno);
    size_ += bytes.size();
  }
  void Overwrite(uint64_t offset, std::span<const uint8_t> bytes) override {
    if (offset > size_ || bytes.size() > size_ - offset) {
      throw Error(ErrorKind::Usage, "an overwrite reaches past the bytes written to " + path_);
    }
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = calls_.WriteAt(fd_, bytes.data() + done, bytes.size() - done,
                                       static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) FailErrno(path_, errno);
      if (n == 0) FailErrno(path_, EIO);
      done += static_cast<size_t>(n);
    }
  }
  uint64_t Size() const override { return size_; }

 private:
  FileCalls& calls_;
  int fd_;
  const std::string& path_;
  uint64_t size_ = 0;
};

// Devices, FIFOs and names that cannot be replaced: opened and written as
// they are, with produced bytes collected first.
void WriteInPlace(FileCalls& calls, const std::string& path, const Content& content, int flags) {
  ByteSink held;
  if (content.produce != nullptr) content.WriteTo(held);
  const std::span<const uint8_t> bytes = content.produce != nullptr ? held.Bytes() : content.bytes;
  const int fd = calls.Open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC | flags, 0);
  if (fd < 0) FailErrno(path, errno);
  if (!WriteAll(calls, fd, bytes)) {
    const int err = errno;
    calls.Close(fd);
    FailErrno(path, err);
  }
  if (calls.Close(fd) != 0) FailErrno(path, errno);
}

// A temporary file beside `finalName`, renamed over it once complete.
void WriteReplacing(FileCalls& calls, const std::string& path, const std::string& finalName,
                    const Content& content, const struct stat* earlier, bool sync) {
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(finalName);
  const std::string base = finalName.substr(folder.size()).substr(0, kMaxTempBaseName);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = calls.Open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) FailErrno(path, errno);
  }
  if (fd < 0) FailErrno(path, EEXIST);

  const auto abandon = [&](bool open) {
    const int err = errno;
    if (open) calls.Close(fd);
    calls.Unlink(temp);
    FailErrno(path, err);
  };
  if (earlier != nullptr) {
    // The owner is kept where the system lets us; the permission bits always.
    if (earlier->st_uid != ::geteuid() || earlier->st_gid != ::getegid()) {
      if (::fchown(fd, earlier->st_uid, earlier->st_gid) != 0) {
        // Not allowed to give the file away: it stays ours.
      }
    }
    if (calls.Chmod(fd, earlier->st_mode & 07777) != 0) abandon(true);
  }
  try {
    DescriptorSink sink(calls, fd, path);
    content.WriteTo(sink);
  } catch (...) {
    calls.Close(fd);
    calls.Unlink(temp);
    throw;
  }
  if (sync && calls.Sync(fd) != 0) abandon(true);
  if (calls.Close(fd) != 0) abandon(false);
  if (calls.Rename(temp, finalName) != 0) abandon(false);
}

void WriteContent(const std::string& path, const Content& content, const WriteOptions& options,
                  FileCalls& calls) {
  if (path.empty()) FailErrno(path, ENOENT);
  struct stat target;
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (!exists && errno != ENOENT) FailErrno(path, errno);
  if (exists) {
    if (!options.mayReplaceInput) {
      for (const std::string& input : options.inputs) {
        struct stat in;
        if (::stat(input.c_str(), &in) == 0 && SameFile(in, target)) Fail(path, "it is the input file " + input);
      }
    }
    if (S_ISDIR(target.st_mode)) FailErrno(path, EISDIR);
    if (!S_ISREG(target.st_mode)) {
      WriteInPlace(calls, path, content, 0);
      return;
    }
    // Root may write anything: a file without any write bit is refused all the same.
    if ((target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) FailErrno(path, EACCES);
    if (::access(path.c_str(), W_OK) != 0) FailErrno(path, errno);
  }
  const std::string finalName = FinalName(path, path);
  if (exists) {
    struct stat check;
    if (::stat(finalName.c_str(), &check) != 0 || !SameFile(check, target)) {
      // A name whose links do not spell out where the file is (a
      // /proc/self/fd entry of a deleted file): it can only be rewritten.
      WriteInPlace(calls, path, content, O_TRUNC);
      return;
    }
  }
  WriteReplacing(calls, path, finalName, content, exists ? &target : nullptr, options.sync);
}

}  // namespace

void WriteFile(const std::string& path, std::span<const uint8_t> bytes, const WriteOptions& options) {
  FileCalls calls;
  WriteFile(path, bytes, options, calls);
}

void WriteFile(const std::string& path, std::span<const uint8_t> bytes, const WriteOptions& options,
               FileCalls& calls) {
  WriteContent(path, Content{bytes}, options, calls);
}

void ByteSink::Append(std::span<const uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

void ByteSink::Overwrite(uint64_t offset, std::span<const uint8_t> bytes) {
  if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset) {
    throw Error(ErrorKind::Usage, "an overwrite reaches past the bytes appended");
  }
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void WriteFileInPieces(const std::string& path, const std::function<void(FileSink&)>& produce,
                       const WriteOptions& options) {
  FileCalls calls;
  WriteFileInPieces(path, produce, options, calls);
}

void WriteFileInPieces(const std::string& path, const std::function<void(FileSink&)>& produce,
                       const WriteOptions& options, FileCalls& calls) {
  WriteContent(path, Content{{}, &produce}, options, calls);
}

void SyncFileSystem(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) FailErrno(folder, errno);
  const int rc = ::syncfs(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0) FailErrno(folder, err);
}

}  // namespace quarrendel
