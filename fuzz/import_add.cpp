// Import and Add on arbitrary files (DDS, PVR/GVR/XVR, the RGB565 "4" file,
// bitmaps, PNG pictures, with or without a GBIX chunk). The input is the whole file; its
// size picks the rest: size % 6 the command (Import or Add) and the target
// family, (size / 6) % 4 the level count typed into the dialog, (size / 24) % 2
// black as transparent, (size / 48) % 2 the "Texture format" list's choice (the
// family rule, or the replaced image's own RGB565 rectangle, which takes any
// power-of-two size). Besides running clean: a command that succeeds leaves
// an entry whose data is DataLength bytes and shows it; one that is refused
// (false, or an Error) leaves the entry, the image count and the list as
// they were.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/error.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "imagefile/import.h"
#include "tests/support/recording_frontend.h"

namespace {

using quarrendel::FormatChoice;
using quarrendel::ImageStore;
using quarrendel::RecordingFrontEnd;
using quarrendel::TargetFamily;
using quarrendel::TImage_Entry;

struct Snapshot {
  uint16_t width;
  uint16_t height;
  uint32_t format;
  std::vector<uint8_t> data;

  explicit Snapshot(const TImage_Entry& e)
      : width(e.Width), height(e.Height), format(e.Format), data(e.Bytes().begin(), e.Bytes().end()) {}
  bool Same(const TImage_Entry& e) const {
    const auto bytes = e.Bytes();
    return e.Width == width && e.Height == height && e.Format == format &&
           std::vector<uint8_t>(bytes.begin(), bytes.end()) == data;
  }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One store for the run; every input starts from one image in the table.
  static const std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  const std::span<const uint8_t> file(data, size);
  RecordingFrontEnd frontEnd;
  store->imageCount = 1;
  store->bmlFlag = 0;
  const uint8_t original[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE0, 0x07, 0xFF, 0xFF};
  store->FillEntryData(0, original);
  TImage_Entry& first = store->Entry(0);
  first.Width = 2;
  first.Height = 2;
  first.Format = 0x0901;
  frontEnd.ListAdd("first");
  frontEnd.ListSetSelectedIndex(0);

  const bool adding = size % 2 == 1;
  frontEnd.family = static_cast<TargetFamily>(size / 2 % 3);
  const std::optional<int32_t> typed[] = {std::nullopt, 0, 1, 3};
  frontEnd.typedLevels = typed[size / 6 % 4];
  frontEnd.blackTransparent = size / 24 % 2 == 1;
  frontEnd.formatChoice = size / 48 % 2 == 1 ? FormatChoice::SameAsReplaced : FormatChoice::FamilyRule;

  const int32_t target = adding ? 1 : 0;
  const Snapshot before(store->Entry(target));
  bool done = false;
  try {
    done = (adding ? quarrendel::imagefile::AddFile(*store, frontEnd, file, "fuzz")
                   : quarrendel::imagefile::ImportFile(*store, frontEnd, 0, file))
               .Ok();
  } catch (const quarrendel::Error&) {
    done = false;
  }
  const TImage_Entry& entry = store->Entry(target);
  if (done) {
    Check(entry.DataLength >= 0 && entry.Bytes().size() == static_cast<size_t>(entry.DataLength));
    Check(store->imageCount == target + 1 && frontEnd.ListCount() == target + 1);
    Check(frontEnd.selected == target && !frontEnd.memo.empty());
  } else {
    Check(store->imageCount == 1 && frontEnd.ListCount() == 1);
    // An added image's slot lies beyond the count: only an import must keep its entry.
    Check(adding || before.Same(entry));
  }
  return 0;
}
