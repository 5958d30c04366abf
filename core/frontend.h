// The one way the commands talk to the user: file choices, message boxes,
// the progress panel, the image list and its label, the description memo,
// the picture and the status line, and the import-options dialog: what only
// a person can answer or see. The Qt window and the CLI implement it, the
// tests record it, so every command runs headless. Readers, writers and
// codecs never see it; long ones drive a Progress panel at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// What the caller sets on the dialog's spin field before showing it, and
// whether the picture replaces an image: then the "Texture format" list
// offers "Same format as the replaced image" first and chooses it.
struct ImportOptionsRequest {
  int32_t spinMinimum = 0;
  int32_t spinMaximum = 1;
  int32_t spinValue = 1;
  bool replacing = false;
};

// The "Texture format" list's answer: the replaced image's own format word,
// the format the family rule gives the picture (the format buttons' family),
// or one layout of that family by its format word.
enum class FormatChoice { FamilyRule, SameAsReplaced, Word };

// What the caller reads back after the dialog closes.
struct ImportOptions {
  TargetFamily family = TargetFamily::DcPc;
  bool blackTransparent = false;
  int32_t levels = 1;  // never below 1
  FormatChoice formatChoice = FormatChoice::FamilyRule;
  uint32_t format = 0;  // the layout chosen (FormatChoice::Word)
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
  FormatChoice formatChoice = FormatChoice::FamilyRule;
  uint32_t format = 0;

  ImportOptions operator()(const ImportOptionsRequest& request) const {
    const int32_t value = typedLevels.value_or(request.spinValue);
    return {family, blackTransparent, SpinFieldValue(request.spinMinimum, request.spinMaximum, value), formatChoice,
            format};
  }
};

// What of a selected image's picture a front end shows: nothing (no picture
// is built), the decoded pixels alone (it paints them itself), or those and
// the picture painted over the checkerboard.
enum class PictureParts { None, Decoded, DecodedAndPainted };

// A painted picture as the window shows it, width x height: row-major (index
// y * width + x), each pixel red in bits 0-7, green 8-15, blue 16-23.
// `decoded` holds the same pixels before painting, with alpha in bits 24-31,
// for a view that paints them itself (zoomed, one channel); it is empty when
// only the painted picture is known, and `pixels` is empty when only the
// decoded ones are (PictureParts::Decoded).
// `bits` tells how many bits each channel of `decoded` was stored with (the
// decoders widen them with zero low bits, 4-bit 15 -> 240), so a view can
// stretch them to the full range as PNG files get them; rgb5a3: per texel,
// 5-5-5 when its alpha is 255, else 4-4-4 with 3-bit alpha.
struct ChannelBits {
  uint8_t red = 8;
  uint8_t green = 8;
  uint8_t blue = 8;
  uint8_t alpha = 8;
  bool rgb5a3 = false;
};

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  std::vector<uint32_t> decoded{};  // initialised, so Picture{w, h, pixels} needs no fourth field
  ChannelBits bits{};
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
  // The entry's own fields, for a property panel.
  std::string name;
  uint32_t globalIndex = 0;
  uint32_t formatWord = 0;
  int32_t levels = 0;  // mipmap levels the data holds (1 without a mip chain)
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
  // ShowPicture for a picture the caller is done with: a front end that keeps
  // the decoded pixels may take their memory, leaving memory of its own (of
  // any size and content) in picture.decoded for the caller to reuse.
  virtual void HandOverPicture(Picture& picture) { ShowPicture(picture); }
  // The parts of the picture ShowPicture uses; the others stay empty.
  virtual PictureParts ShownPictureParts() const { return PictureParts::DecodedAndPainted; }
  // Front ends without a status line ignore it.
  virtual void ShowStatus(const ImageStatus&) {}

  virtual ImportOptions RunImportOptions(const ImportOptionsRequest& request) = 0;
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
