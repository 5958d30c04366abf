#include "core/mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

}  // namespace

namespace {

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
  if (size_ > 0) {
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      Fail(ErrorKind::Io, path, std::strerror(err));
    }
    data_ = static_cast<const uint8_t*>(p);
  }
  fd_ = fd;
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
  ::close(fd_);
}

int64_t MappedFile::OffsetOf(std::span<const uint8_t> part) const {
  const auto begin = reinterpret_cast<uintptr_t>(data_);
  const auto from = reinterpret_cast<uintptr_t>(part.data());
  if (data_ == nullptr || from < begin || part.size() > size_ || from - begin > size_ - part.size()) return -1;
  return static_cast<int64_t>(from - begin);
}

std::span<const uint8_t> MappedFile::Fetch(std::span<const uint8_t> part, std::span<uint8_t> buffer) const {
  RequireRoom(part, buffer);
  const int64_t offset = OffsetOf(part);
  size_t done = 0;
  while (offset >= 0 && done < part.size()) {
    const ssize_t n = ::pread(fd_, buffer.data() + done, part.size() - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // What the file did not give is copied from the mapping.
  if (done < part.size()) std::memcpy(buffer.data() + done, part.data() + done, part.size() - done);
  return buffer.first(part.size());
}

void MappedFile::Release(std::span<const uint8_t> part) const {
  if (part.empty() || OffsetOf(part) < 0) return;
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
