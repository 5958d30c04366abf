#include "core/mapped_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/error.h"

namespace quarrendel {

namespace {

[[noreturn]] void Fail(ErrorKind kind, const std::string& path, const std::string& reason) {
  throw Error(kind, "cannot read " + path + ": " + reason);
}

// Refuses what a reader cannot take, from the file's status.
void Check(const std::string& path, const struct stat& st, uint64_t maxBytes) {
  if (S_ISDIR(st.st_mode)) Fail(ErrorKind::Unsupported, path, std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) Fail(ErrorKind::Unsupported, path, "not a regular file");
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    const std::string limit = maxBytes == MappedFile::kMaxBytes ? std::string("4 GiB an archive can hold")
                                                                : std::to_string(maxBytes) + " bytes such a file can have";
    Fail(ErrorKind::OverCapacity, path, std::to_string(st.st_size) + " bytes is more than the " + limit);
  }
}

// Mapped ranges a SIGBUS may come from, for the handler to look up without
// taking a lock: [begin, end) with end rounded up to a page; begin 0 marks a
// free slot.
struct Guard {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> cut{false};
};
constexpr size_t kGuards = 256;
std::array<Guard, kGuards> guards;
uintptr_t pageSize = 4096;
struct sigaction previousAction;

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Guard& guard : guards) {
    const uintptr_t begin = guard.begin.load(std::memory_order_acquire);
    const uintptr_t end = guard.end.load(std::memory_order_acquire);
    if (begin == 0 || at < begin || at >= end) continue;
    // The file ends before this page now: zero pages from here to the end of
    // the mapping, and the read that faulted is tried again on them.
    const uintptr_t page = at / pageSize * pageSize;
    if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
               0) != MAP_FAILED) {
      guard.cut.store(true, std::memory_order_release);
      return;
    }
  }
  // Not a guarded mapping: as without the guard.
  if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
    previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_IGN && previousAction.sa_handler != SIG_DFL &&
             previousAction.sa_handler != nullptr) {
    previousAction.sa_handler(signal);
  } else {
    ::signal(SIGBUS, SIG_DFL);  // the read faults again and ends the process, as it would have
  }
}

// A slot for the mapping [data, data + size), or -1 when none is free.
int Guarded(const uint8_t* data, size_t size) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousAction);
  });
  const auto begin = reinterpret_cast<uintptr_t>(data);
  for (size_t i = 0; i < guards.size(); ++i) {
    uintptr_t free = 0;
    if (!guards[i].begin.compare_exchange_strong(free, ~uintptr_t{0})) continue;
    guards[i].cut.store(false);
    guards[i].end.store((begin + size + pageSize - 1) / pageSize * pageSize, std::memory_order_release);
    guards[i].begin.store(begin, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

// Reads up to `count` bytes at `offset` into `into`, again after a signal;
// returns how many the file gave.
size_t ReadAt(int fd, uint8_t* into, size_t count, int64_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, into + done, count - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void RequireRoom(std::span<const uint8_t> part, std::span<uint8_t> buffer) {
  if (part.size() > buffer.size()) {
    throw Error(ErrorKind::OverCapacity, std::to_string(part.size()) + " bytes do not fit in " +
                                             std::to_string(buffer.size()) + " bytes");
  }
}

}  // namespace

std::span<const uint8_t> InputHooks::Fetch(std::span<const uint8_t> part, std::span<uint8_t> buffer) const {
  RequireRoom(part, buffer);
  return part;
}

MappedFile::MappedFile(const std::string& path, uint64_t maxBytes, bool followLinks) {
  maxBytes = std::min(maxBytes, kMaxBytes);
  struct stat st;
  // Looked at before opening: opening a FIFO waits for a writer, and some
  // devices act when opened.
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
    Fail(ErrorKind::Io, path, std::strerror(errno));
  }
  Check(path, st, maxBytes);
  // O_NONBLOCK: should the name have become a FIFO meanwhile, open does not wait.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    const int err = errno;
    if (err == ELOOP && !followLinks) Fail(ErrorKind::Unsupported, path, "not a regular file");
    Fail(ErrorKind::Io, path, std::strerror(err));
  }
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    Fail(ErrorKind::Io, path, std::strerror(err));
  }
  try {
    Check(path, st, maxBytes);
  } catch (...) {
    ::close(fd);
    throw;
  }
  size_ = static_cast<size_t>(st.st_size);
  if (size_ > 0 && size_ <= kReadWhole) {
    read_ = std::make_unique<uint8_t[]>(size_);  // zeros where the file gives less
    readShort_ = ReadAt(fd, read_.get(), size_, 0) < size_;
    data_ = read_.get();
  } else if (size_ > 0) {
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      Fail(ErrorKind::Io, path, std::strerror(err));
    }
    data_ = static_cast<const uint8_t*>(p);
    guard_ = Guarded(data_, size_);
  }
  fd_ = fd;
}

MappedFile::~MappedFile() {
  if (guard_ >= 0) {
    Guard& guard = guards[static_cast<size_t>(guard_)];
    guard.end.store(0, std::memory_order_release);
    guard.begin.store(0, std::memory_order_release);
  }
  if (data_ != nullptr && read_ == nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
  ::close(fd_);
}

bool MappedFile::CutWhileRead() const {
  return readShort_ || (guard_ >= 0 && guards[static_cast<size_t>(guard_)].cut.load(std::memory_order_acquire));
}

int64_t MappedFile::OffsetOf(std::span<const uint8_t> part) const {
  const auto begin = reinterpret_cast<uintptr_t>(data_);
  const auto from = reinterpret_cast<uintptr_t>(part.data());
  if (data_ == nullptr || from < begin || part.size() > size_ || from - begin > size_ - part.size()) return -1;
  return static_cast<int64_t>(from - begin);
}

std::span<const uint8_t> MappedFile::Fetch(std::span<const uint8_t> part, std::span<uint8_t> buffer) const {
  if (read_ != nullptr) return InputHooks::Fetch(part, buffer);
  RequireRoom(part, buffer);
  const int64_t offset = OffsetOf(part);
  const size_t done = offset >= 0 ? ReadAt(fd_, buffer.data(), part.size(), offset) : 0;
  // What the file did not give is copied from the mapping.
  if (done < part.size()) std::memcpy(buffer.data() + done, part.data() + done, part.size() - done);
  return buffer.first(part.size());
}

void MappedFile::Release(std::span<const uint8_t> part) const {
  if (part.empty() || read_ != nullptr || OffsetOf(part) < 0) return;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto from = reinterpret_cast<uintptr_t>(part.data());
  // The page holding the part's end may be shared with the next part.
  const uintptr_t first = from / page * page;
  const uintptr_t end = (from + part.size()) / page * page;
  if (pendingEnd_ == 0) {
    pendingBegin_ = first;
    pendingEnd_ = end;
  } else if (first < pendingBegin_) {
    // Out of file order: what was pending goes now, this part starts afresh.
    Drop(pendingBegin_, pendingEnd_);
    pendingBegin_ = first;
    pendingEnd_ = end;
  } else {
    // In file order everything from the pending start on is done with, gaps
    // included: their pages were at most mapped ahead, never needed.
    pendingEnd_ = std::max(pendingEnd_, end);
  }
  // Dropped in batches: a call per small texture would cost more than it saves.
  if (pendingEnd_ - pendingBegin_ >= kReleaseBatch) {
    Drop(pendingBegin_, pendingEnd_);
    pendingBegin_ = pendingEnd_;
  }
}

void MappedFile::Drop(uintptr_t first, uintptr_t end) {
  // The mapping is read-only and private: a dropped page holds nothing of
  // ours, and touching it again reads the file again.
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

}  // namespace quarrendel
