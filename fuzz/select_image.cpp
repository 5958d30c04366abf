// Image selection on arbitrary texture data: bytes 0-1 are the format word
// (pixel byte, data format), 2-3 the height, 4-5 the width, 6 the flags
// (bit 0 PVR family, bit 1 package mode, bits 2-7 all set or all but bit 2 pick edge sides),
// the rest is the texture data. Sides are capped so that one input stays fast;
// one input in 64 takes its height, another its width, from the edge list
// (an edge height repaints the whole 2049 x 2049 canvas, which is slow).
// Besides running clean, the picture must have the texture's true size (each
// side clamped to the canvas), and "Unsupported format" must end the memo
// exactly when the format has no decoder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "core/image_store.h"
#include "texture/image_selection.h"

namespace {

constexpr uint16_t kEdgeSides[] = {0, 1, 3, 1024, 1025, 2048, 2049, 2050, 4096, 65535};

uint16_t PickSide(uint16_t raw, bool edge) {
  if (edge) return kEdgeSides[raw % (sizeof kEdgeSides / sizeof kEdgeSides[0])];
  return static_cast<uint16_t>(raw % 136);  // up to 135: past the small-VQ limit at 128
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One store for the whole run, as the program keeps one: earlier inputs
  // leave canvases and pool blocks behind, which selection must cope with.
  static const std::unique_ptr<quarrendel::ImageStore> store = [] {
    auto s = std::make_unique<quarrendel::ImageStore>();
    s->loadDirectory = "/nonexistent-quarrendel-fuzz/";
    return s;
  }();
  if (size < 7) return 0;
  const std::span<const uint8_t> bytes(data, size);
  const uint8_t flags = bytes[6];
  quarrendel::TImage_Entry& entry = store->Entry(0);
  entry.Format = static_cast<uint32_t>(bytes[0] | (bytes[1] << 8));
  entry.Height = PickSide(static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)), (flags >> 2) == 0x3F);
  entry.Width = PickSide(static_cast<uint16_t>(bytes[4] | (bytes[5] << 8)), (flags >> 2) == 0x3E);
  entry.Name = "fuzz";
  store->pvrFamily = flags & 1;
  store->packageMode = (flags >> 1) & 1;
  store->FillEntryData(0, bytes.subspan(7));
  store->imageCount = 1;
  const quarrendel::texture::Selection s = quarrendel::texture::SelectImage(*store, 0);
  const int32_t side = quarrendel::Canvas::kSide;
  const int32_t w = std::min<int32_t>(entry.Width, side);
  const int32_t h = std::min<int32_t>(entry.Height, side);
  if (s.picture.width != w || s.picture.height != h ||
      s.picture.pixels.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) {
    std::abort();
  }
  if ((s.memo.back() == "Unsupported format") == s.formatSupported) std::abort();
  return 0;
}
