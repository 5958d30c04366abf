// The test double of the front end, for the tests, the fuzz targets and the
// benchmarks that run whole commands.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/frontend.h"

namespace quarrendel {

// A front end that remembers everything it is told and answers from queues.
class RecordingFrontEnd : public FrontEnd {
 public:
  enum class MessageKind { Plain, Information };
  struct Message {
    MessageKind kind;
    std::string text;
  };
  struct ProgressStep {
    std::string caption;
    int32_t maximum;
    int32_t position;
  };

  std::optional<FileChoice> AskOpenFile(DialogId dialog, std::string_view filter) override;
  std::optional<FileChoice> AskSaveFile(DialogId dialog, std::string_view filter) override;
  void SetDialogFileName(DialogId dialog, std::string_view name) override;
  void ShowMessage(std::string_view text) override;
  void ShowInformation(std::string_view text) override;
  void SetProgressVisible(bool visible) override { progressVisible = visible; }
  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override;
  void ListClear() override;
  void ListAdd(std::string_view text) override { list.emplace_back(text); }
  void ListDelete(int32_t index) override;
  int32_t ListCount() const override { return static_cast<int32_t>(list.size()); }
  int32_t ListSelectedIndex() const override { return selected; }
  void ListSetSelectedIndex(int32_t index) override;
  void SetLabel(std::string_view text) override { label = text; }
  void SetMemo(const std::vector<std::string>& lines) override { memo = lines; }
  void ShowPicture(const Picture& p) override { picture = p; }
  void ShowStatus(const ImageStatus& s) override { status = s; }
  ImportOptions RunImportOptions(const ImportOptionsRequest& request) override;

  // Answers for the file dialogs, taken in order; an empty queue answers "cancel".
  std::deque<std::optional<FileChoice>> fileChoices;
  // The dialog's radio choices; they persist between calls like the window's dialog.
  TargetFamily family = TargetFamily::DcPc;
  bool blackTransparent = false;
  // Level count the "user" types; nullopt keeps the value the caller set.
  std::optional<int32_t> typedLevels;
  // The "Texture format" list's choice.
  FormatChoice formatChoice = FormatChoice::FamilyRule;
  uint32_t format = 0;

  std::vector<std::string> list;
  int32_t selected = -1;
  std::string label = "0 Images";
  std::vector<std::string> memo{"Description :"};
  Picture picture;
  ImageStatus status;
  std::vector<Message> messages;
  std::vector<ProgressStep> progress;
  bool progressVisible = false;
  std::vector<ImportOptionsRequest> importRequests;
  std::vector<DialogId> dialogsAsked;
  // The names offered by SetDialogFileName, in order.
  std::vector<std::pair<DialogId, std::string>> dialogFileNames;
};

}  // namespace quarrendel
