#include "core/file_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <set>
#include <string_view>
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
constexpr std::string_view kTempMark = ".quarrendel-tmp-";

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

// What a derived target is when it is neither a regular file nor a symlink.
std::string NotRegularReason(mode_t mode) {
  const char* what = S_ISDIR(mode)    ? "a folder"
                     : S_ISFIFO(mode) ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                                      : "something";
  return std::string("it is ") + what + ", not a regular file";
}

// The decimal number `text` spells as std::to_string writes it (no sign, no
// leading zero but for 0 itself), or -1.
long long PlainDecimal(std::string_view text, long long limit) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return -1;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value <= limit ? value : -1;
}

// ".NAME.quarrendel-tmp-": what the temporary files of the target NAME start with.
std::string TemporaryPrefix(std::string_view name) {
  std::string prefix(1, '.');
  prefix.append(name.substr(0, kMaxTempBaseName)).append(kTempMark);
  return prefix;
}

// The process id in `entry` when it is exactly "PREFIX" + PID + "-" + N, the
// name WriteReplacing gives its temporary files; else 0.
pid_t TemporaryOwner(std::string_view entry, std::string_view prefix) {
  if (!entry.starts_with(prefix)) return 0;
  entry.remove_prefix(prefix.size());
  const size_t dash = entry.find('-');
  if (dash == std::string_view::npos) return 0;
  const long long pid = PlainDecimal(entry.substr(0, dash), INT_MAX);
  if (pid <= 0 || PlainDecimal(entry.substr(dash + 1), UINT_MAX) < 0) return 0;
  return static_cast<pid_t>(pid);
}

// A temporary file beside `finalName`, renamed over it once complete.
void WriteReplacing(FileCalls& calls, const std::string& path, const std::string& finalName,
                    const Content& content, const struct stat* earlier, const WriteOptions& options) {
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(finalName);
  const std::string name = finalName.substr(folder.size());
  const std::string prefix = TemporaryPrefix(name);
  if (options.removeStale) RemoveStaleTemporaryFiles(folder, std::span(&name, 1), calls);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    // O_EXCL: never opens what is there already, a symlink included.
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
  if (options.sync && calls.Sync(fd) != 0) abandon(true);
  if (calls.Close(fd) != 0) abandon(false);
  if (calls.Rename(temp, finalName) != 0) abandon(false);
}

// Refuses `path`, found as `target`, when it is one of the inputs.
void RequireNotInput(const std::string& path, const struct stat& target, const WriteOptions& options) {
  if (options.mayReplaceInput) return;
  for (const std::string& input : options.inputs) {
    struct stat in;
    if (::stat(input.c_str(), &in) == 0 && SameFile(in, target)) Fail(path, "it is the input file " + input);
  }
}

// A name the command chose inside the user's folder: only ever replaced by
// rename, which takes a symlink's own name and never opens what was there.
void WriteDerived(FileCalls& calls, const std::string& path, const Content& content,
                  const WriteOptions& options) {
  struct stat target;
  const bool exists = ::lstat(path.c_str(), &target) == 0;
  if (!exists && errno != ENOENT) FailErrno(path, errno);
  const bool regular = exists && S_ISREG(target.st_mode);
  if (exists && !regular && !S_ISLNK(target.st_mode)) Fail(path, NotRegularReason(target.st_mode));
  if (regular) {
    RequireNotInput(path, target, options);
    if ((target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) FailErrno(path, EACCES);
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) != 0) FailErrno(path, errno);
  }
  // A symlink is not the file the user had: the new file gets default permissions.
  WriteReplacing(calls, path, path, content, regular ? &target : nullptr, options);
}

void WriteContent(const std::string& path, const Content& content, const WriteOptions& options,
                  FileCalls& calls) {
  if (path.empty()) FailErrno(path, ENOENT);
  if (options.derivedName) {
    WriteDerived(calls, path, content, options);
    return;
  }
  struct stat target;
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (!exists && errno != ENOENT) FailErrno(path, errno);
  if (exists) {
    RequireNotInput(path, target, options);
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
  WriteReplacing(calls, path, finalName, content, exists ? &target : nullptr, options);
}

}  // namespace

void RemoveStaleTemporaryFiles(const std::string& folder, std::span<const std::string> names, FileCalls& calls) {
  std::set<std::string, std::less<>> prefixes;
  for (const std::string& name : names) prefixes.insert(TemporaryPrefix(name));
  const std::string lead = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  DIR* dir = ::opendir(lead.empty() ? "." : lead.c_str());
  if (dir == nullptr) return;
  const pid_t self = ::getpid();
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    // The mark's last place ends the prefix: "PID-N" holds none.
    const std::string_view name(entry->d_name);
    const size_t mark = name.rfind(kTempMark);
    if (mark == std::string_view::npos) continue;
    const std::string_view prefix = name.substr(0, mark + kTempMark.size());
    if (prefixes.find(prefix) == prefixes.end()) continue;
    const pid_t owner = TemporaryOwner(name, prefix);
    if (owner != 0 && owner != self && ::kill(owner, 0) != 0 && errno == ESRCH) stale.push_back(lead + entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) calls.Unlink(name);
}

void RemoveStaleTemporaryFiles(const std::string& folder, std::span<const std::string> names) {
  FileCalls calls;
  RemoveStaleTemporaryFiles(folder, names, calls);
}

void CheckDerivedTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    FailErrno(path, errno);
  }
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) Fail(path, NotRegularReason(st.st_mode));
}

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
