// The front end of the command line. Messages, plain or information, go to
// the error stream; exit statuses come from the commands' outcomes, never from
// what was shown. Of the image list only its length and selection are kept,
// for the commands that read them, and the label for `list`; memo, picture
// and status line are nobody's to see. No dialog is ever shown: the commands are given
// their file names and options. Progress is drawn on one line of the error
// stream, only when it is a terminal: "\r", the panel's caption followed by
// " (POSITION / MAXIMUM)" unless the caption already ends with that count,
// and "\33[K" to clear what a longer line left; the next message or the end
// of the command ends the line.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/frontend.h"

namespace quarrendel::cli {

class CliFrontEnd final : public FrontEnd {
 public:
  CliFrontEnd(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}
  ~CliFrontEnd() override { EndProgressLine(); }
  CliFrontEnd(const CliFrontEnd&) = delete;
  CliFrontEnd& operator=(const CliFrontEnd&) = delete;

  std::optional<FileChoice> AskOpenFile(DialogId, std::string_view) override { return std::nullopt; }
  std::optional<FileChoice> AskSaveFile(DialogId, std::string_view) override { return std::nullopt; }
  void SetDialogFileName(DialogId, std::string_view) override {}
  void ShowMessage(std::string_view text) override;
  void ShowInformation(std::string_view text) override { ShowMessage(text); }
  void SetProgressVisible(bool visible) override;
  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override;
  void ListClear() override { count_ = 0, selected_ = -1; }
  void ListAdd(std::string_view) override { ++count_; }
  void ListDelete(int32_t index) override;
  int32_t ListCount() const override { return count_; }
  int32_t ListSelectedIndex() const override { return selected_; }
  void ListSetSelectedIndex(int32_t index) override { selected_ = index >= 0 && index < ListCount() ? index : -1; }
  void SetLabel(std::string_view text) override { label_ = text; }
  void SetMemo(const std::vector<std::string>&) override {}
  void ShowPicture(const Picture&) override {}
  PictureParts ShownPictureParts() const override { return PictureParts::None; }
  // The commands give the dialog's answers themselves.
  ImportOptions RunImportOptions(const ImportOptionsRequest&) override { return {}; }

  // The list's label, as the Load command left it ("N Images").
  const std::string& Label() const { return label_; }

 private:
  void EndProgressLine();

  std::ostream& err_;
  bool showProgress_;
  bool progressLineOpen_ = false;
  int32_t count_ = 0;
  int32_t selected_ = -1;
  std::string label_ = "0 Images";
};

// True when `err` is the process's standard error and that is a terminal.
bool IsTerminalStderr(const std::ostream& err);

}  // namespace quarrendel::cli
