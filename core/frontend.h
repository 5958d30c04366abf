// The one way the commands talk to the user: file choices, message boxes,
// the progress panel, the image list and its label, the description memo,
// the picture, and the import-options dialog. The Qt window, the CLI and the
// tests each implement it, so every command runs headless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrendel {

// The window's file dialogs; each keeps its own last name and filter index.
// PackDialog chooses a texture pack's index.txt.
enum class DialogId { OpenDialog1, SaveDialog1, SaveDialog2, OpenDialog2, PackDialog };
inline constexpr size_t kDialogCount = 5;

struct FileChoice {
  std::string path;
  int32_t filterIndex = 1;  // 1-based, in the order of the filter list
};

// Target family of an encoding, as the import-options dialog offers it.
enum class TargetFamily { DcPc, Gc, XboxBb };

// What the caller sets on the dialog's spin field before showing it.
struct ImportOptionsRequest {
  int32_t spinMinimum = 0;
  int32_t spinMaximum = 1;
  int32_t spinValue = 1;
};

// What the caller reads back after the dialog closes.
struct ImportOptions {
  TargetFamily family = TargetFamily::DcPc;
  bool blackTransparent = false;
  int32_t levels = 1;  // never below 1
};

// The spin field's rules: outside [minimum, maximum] clamps to the nearer
// bound unless the bounds are equal; a value of 0 becomes 1.
int32_t SpinFieldValue(int32_t minimum, int32_t maximum, int32_t value);

// The dialog answered in advance, as the command line's options and texture
// packs answer it: the family and the black option as given, and the level
// count typed into the spin field (its rules apply) or, without one, the
// value the caller set it to.
struct PresetImportOptions {
  TargetFamily family = TargetFamily::DcPc;
  bool blackTransparent = false;
  std::optional<int32_t> typedLevels;

  ImportOptions operator()(const ImportOptionsRequest& request) const {
    const int32_t value = typedLevels.value_or(request.spinValue);
    return {family, blackTransparent, SpinFieldValue(request.spinMinimum, request.spinMaximum, value)};
  }
};

// A painted picture as the window shows it, width x height: row-major (index
// y * width + x), each pixel red in bits 0-7, green 8-15, blue 16-23.
// `decoded` holds the same pixels before painting, with alpha in bits 24-31,
// for a view that paints them itself (zoomed, one channel); it is empty when
// only the painted picture is known.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  std::vector<uint32_t> decoded{};  // initialised, so Picture{w, h, pixels} needs no fourth field
};

// What a status line tells about the selected image: its own size, its format
// in words (the description's last line) and, for a palettised texture, where
// its palette came from. All empty when no image is shown.
struct ImageStatus {
  int32_t width = 0;
  int32_t height = 0;
  std::string format;
  std::string palette;          // "" when the format uses no palette file
  bool paletteMissing = false;  // the fallback palette stands in for (part of) the file
};

// The progress panel, as the long reads and writes drive it.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void SetProgressVisible(bool visible) = 0;
  // Caption, bar maximum and position; the panel is repainted at once.
  virtual void SetProgress(std::string_view caption, int32_t maximum, int32_t position) = 0;
};

// A panel nobody sees.
class NoProgress final : public Progress {
 public:
  void SetProgressVisible(bool) override {}
  void SetProgress(std::string_view, int32_t, int32_t) override {}
};

class FrontEnd : public Progress {
 public:

  // nullopt when the user cancels.
  virtual std::optional<FileChoice> AskOpenFile(DialogId dialog, std::string_view filter) = 0;
  virtual std::optional<FileChoice> AskSaveFile(DialogId dialog, std::string_view filter) = 0;
  // The file name `dialog` offers when it next opens (Export offers the image's name).
  virtual void SetDialogFileName(DialogId dialog, std::string_view name) = 0;

  virtual void ShowMessage(std::string_view text) = 0;      // plain box: text and OK
  virtual void ShowInformation(std::string_view text) = 0;  // information box with OK

  virtual void ListClear() = 0;
  virtual void ListAdd(std::string_view text) = 0;
  // Removes item `index` (nothing outside the list); a selection of a later
  // item moves up with it, a selection of the item itself is dropped.
  virtual void ListDelete(int32_t index) = 0;
  virtual int32_t ListCount() const = 0;
  virtual int32_t ListSelectedIndex() const = 0;  // -1 when nothing is selected
  virtual void ListSetSelectedIndex(int32_t index) = 0;
  virtual void SetLabel(std::string_view text) = 0;

  virtual void SetMemo(const std::vector<std::string>& lines) = 0;
  virtual void ShowPicture(const Picture& picture) = 0;
  // Front ends without a status line ignore it.
  virtual void ShowStatus(const ImageStatus&) {}

  virtual ImportOptions RunImportOptions(const ImportOptionsRequest& request) = 0;
};

// A front end that remembers everything it is told and answers from queues:
// the tests use it directly, the CLI builds on it.
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

// Shows the progress panel while it lives and hides it again however the
// command ends.
class ProgressShown {
 public:
  explicit ProgressShown(Progress& progress) : progress_(progress) { progress_.SetProgressVisible(true); }
  ~ProgressShown() { progress_.SetProgressVisible(false); }
  ProgressShown(const ProgressShown&) = delete;
  ProgressShown& operator=(const ProgressShown&) = delete;

 private:
  Progress& progress_;
};

}  // namespace quarrendel
