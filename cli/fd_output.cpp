#include "cli/fd_output.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace quarrendel::cli {

bool FdOutput::Drain() {
  const char* p = pbase();
  while (error_ == 0 && p < pptr()) {
    const ssize_t n = ::write(fd_, p, static_cast<size_t>(pptr() - p));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      break;
    }
    p += n;
  }
  // What could not be written is dropped: the stream has already failed.
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

FdOutput::int_type FdOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int FdOutput::sync() { return Drain() ? 0 : -1; }

std::string WriteFailure(const std::ostream& out) {
  const auto* fd = dynamic_cast<const FdOutput*>(out.rdbuf());
  return fd != nullptr && fd->Error() != 0 ? std::strerror(fd->Error()) : "write error";
}

}  // namespace quarrendel::cli
