#include "cli/cli_frontend.h"

#include <iostream>
#include <unistd.h>

namespace quarrendel::cli {

void CliFrontEnd::ShowMessage(std::string_view text) {
  EndProgressLine();
  err_ << text << "\n";
}

void CliFrontEnd::SetProgressVisible(bool visible) {
  if (!visible) EndProgressLine();
}

void CliFrontEnd::SetProgress(std::string_view caption, int32_t maximum, int32_t position) {
  if (!showProgress_) return;
  // The load's captions carry the count already ("Decompressing PVM #3 / 12").
  const std::string count = std::to_string(position) + " / " + std::to_string(maximum);
  err_ << "\r" << caption;
  if (!caption.ends_with(count)) err_ << " (" << count << ")";
  err_ << "\33[K" << std::flush;
  progressLineOpen_ = true;
}

void CliFrontEnd::ListDelete(int32_t index) {
  if (index < 0 || index >= count_) return;
  --count_;
  selected_ = selected_ == index ? -1 : selected_ > index ? selected_ - 1 : selected_;
}

void CliFrontEnd::EndProgressLine() {
  if (!progressLineOpen_) return;
  err_ << "\n";
  progressLineOpen_ = false;
}

bool IsTerminalStderr(const std::ostream& err) { return &err == &std::cerr && ::isatty(STDERR_FILENO) == 1; }

}  // namespace quarrendel::cli
