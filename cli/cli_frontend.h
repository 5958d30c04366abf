// The front end of the command line: a RecordingFrontEnd (file choices come
// from the queue the command fills, list and memo are kept for the command to
// print) that also reports the system's messages on the error stream.
// Information boxes are the load errors and mark the run as failed; plain
// message boxes are notices. Progress is drawn on one line of the error
// stream, only when it is a terminal: "\r", the panel's caption followed by
// " (POSITION / MAXIMUM)" unless the caption already ends with that count,
// and "\33[K" to clear what a longer line left; the next message or the end
// of the command ends the line.
#pragma once

#include <ostream>
#include <string_view>

#include "core/frontend.h"

namespace quarrendel::cli {

class CliFrontEnd : public RecordingFrontEnd {
 public:
  CliFrontEnd(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}
  ~CliFrontEnd() override { EndProgressLine(); }
  CliFrontEnd(const CliFrontEnd&) = delete;
  CliFrontEnd& operator=(const CliFrontEnd&) = delete;

  void ShowMessage(std::string_view text) override;
  void ShowInformation(std::string_view text) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override;

  // True once an information box was shown: the command ends with a non-zero status.
  bool Failed() const { return failed_; }

 private:
  void EndProgressLine();

  std::ostream& err_;
  bool showProgress_;
  bool failed_ = false;
  bool progressLineOpen_ = false;
};

// True when `err` is the process's standard error and that is a terminal.
bool IsTerminalStderr(const std::ostream& err);

}  // namespace quarrendel::cli
