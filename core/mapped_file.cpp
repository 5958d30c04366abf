#include "core/mapped_file.h"

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

// Refuses what a load cannot take, from the file's status.
void Check(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) Fail(ErrorKind::Unsupported, path, std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) Fail(ErrorKind::Unsupported, path, "not a regular file");
  if (static_cast<uint64_t>(st.st_size) > MappedFile::kMaxBytes) {
    Fail(ErrorKind::OverCapacity, path,
         std::to_string(st.st_size) + " bytes is more than the 4 GiB an archive can hold");
  }
}

}  // namespace

MappedFile::MappedFile(const std::string& path) {
  struct stat st;
  // Looked at before opening: opening a FIFO waits for a writer, and some
  // devices act when opened.
  if (::stat(path.c_str(), &st) != 0) Fail(ErrorKind::Io, path, std::strerror(errno));
  Check(path, st);
  // O_NONBLOCK: should the name have become a FIFO meanwhile, open does not wait.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) Fail(ErrorKind::Io, path, std::strerror(errno));
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    Fail(ErrorKind::Io, path, std::strerror(err));
  }
  try {
    Check(path, st);
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
  // The mapping keeps the file open.
  ::close(fd);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
}

void MappedFile::Release(std::span<const uint8_t> part) const {
  if (data_ == nullptr || part.empty()) return;
  const auto begin = reinterpret_cast<uintptr_t>(data_);
  const auto from = reinterpret_cast<uintptr_t>(part.data());
  if (from < begin || part.size() > size_ || from - begin > size_ - part.size()) return;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  // Whole pages only: a page shared with a neighbouring part stays.
  const uintptr_t first = (from + page - 1) / page * page;
  const uintptr_t end = (from + part.size()) / page * page;
  // The mapping is read-only and private: a dropped page holds nothing of
  // ours, and touching it again reads the file again.
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

}  // namespace quarrendel
