// Standard output for the command line: a stream buffer over a file
// descriptor that keeps the reason of the first failed write, so the command
// can say why its output was lost ("cannot write standard output: No space
// left on device") instead of ending as if all was well.
#pragma once

#include <array>
#include <ostream>
#include <streambuf>
#include <string>

namespace quarrendel::cli {

class FdOutput : public std::streambuf {
 public:
  explicit FdOutput(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  ~FdOutput() override { sync(); }
  FdOutput(const FdOutput&) = delete;
  FdOutput& operator=(const FdOutput&) = delete;

  int Error() const { return error_; }  // errno of the first failed write, or 0

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();

  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> buffer_{};
};

// Why writes to `out` failed: the system's reason when its buffer is an
// FdOutput that knows it.
std::string WriteFailure(const std::ostream& out);

}  // namespace quarrendel::cli
