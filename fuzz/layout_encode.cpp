// Random small pictures through every layout encoder and back through image
// selection. Byte 0: the family (mod 3); byte 1: the layout, an index into
// EncodableLayouts (mod their count); byte 2: the width, byte 3: the height,
// each 1 << (value mod 7) (1 to 64: YUV422 pair fits are slow under the
// sanitizers), but for stride widths, 32 << (value mod 2), and stride
// heights, 1 + value mod 40; the rest are pixels (red, green, blue, alpha),
// repeated to fill the picture (all 0 without any).
// Checks:
// - a size the layout does not take is refused by RequireEncodableSize and
//   EncodeLayout alike, with Error(Unsupported) and a message;
// - the levels lie inside the data, one after another without overlap, and
//   have the sides of the generated chain;
// - lossless layouts (palettes when the reduced picture has no more colours
//   than the palette) decode to the reduced picture at every level;
// - the same bytes from a two-thread pool.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/image_store.h"
#include "core/worker_pool.h"
#include "tests/texture/layout_test_util.h"
#include "texture/layout_encode.h"
#include "texture/mipmap_generate.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

// Aborts naming the check's line, so a crash input tells which invariant broke.
#define Require(condition) RequireAt((condition), __LINE__)
void RequireAt(bool condition, int line) {
  if (!condition) {
    std::fprintf(stderr, "layout_encode: check at line %d failed\n", line);
    std::abort();
  }
}

// A folder for one input's palette file, removed with the object.
struct PaletteFolder {
  PaletteFolder() {
    char name[] = "/tmp/quarrendel-fuzz-layout-XXXXXX";
    Require(mkdtemp(name) != nullptr);
    path = name;
  }
  ~PaletteFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  PaletteFolder(const PaletteFolder&) = delete;
  PaletteFolder& operator=(const PaletteFolder&) = delete;
  std::string path;
};

bool ReducedColoursFit(const RgbaView& picture, TargetFamily family, uint32_t format, size_t entries) {
  std::set<uint32_t> colours;
  for (const uint32_t p : test::Reduced(picture, family, format).pixels) colours.insert(p);
  return colours.size() <= entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One store for the whole run, as the program keeps one.
  static const std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  static WorkerPool pool(2);
  if (size < 4) return 0;
  const auto family = static_cast<TargetFamily>(data[0] % 3);
  const std::vector<EncodableLayout>& layouts = EncodableLayouts(family);
  const EncodableLayout& layout = layouts[data[1] % layouts.size()];
  const bool stride = family == TargetFamily::DcPc && (layout.format >> 8) == 0x0B;
  const int32_t width = stride ? 32 << (data[2] % 2) : 1 << (data[2] % 7);
  const int32_t height = stride ? 1 + data[3] % 40 : 1 << (data[3] % 7);
  RgbaImage picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * static_cast<size_t>(height))};
  const size_t available = (size - 4) / 4;
  for (size_t i = 0; available > 0 && i < picture.pixels.size(); ++i) {
    const uint8_t* p = data + 4 + 4 * (i % available);
    picture.pixels[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }

  bool takes = true;
  try {
    RequireEncodableSize(family, layout.format, width, height);
  } catch (const Error& e) {
    Require(e.Kind() == ErrorKind::Unsupported && e.what()[0] != '\0');
    takes = false;
  }
  EncodedLayout encoded;
  try {
    encoded = EncodeLayout(picture.View(), family, layout.format);
    Require(takes);
  } catch (const Error& e) {
    Require(!takes && e.Kind() == ErrorKind::Unsupported);
    return 0;
  }
  Require(encoded.width == width && encoded.height == height && !encoded.levels.empty());

  const std::vector<RgbaImage> chain =
      layout.mipmapped ? GenerateMipmaps(picture.View(), MipLevelCount(width, height)) : std::vector<RgbaImage>{};
  Require(encoded.levels.size() == (layout.mipmapped ? chain.size() : 1));
  std::vector<std::pair<int64_t, int64_t>> spans;
  for (size_t k = 0; k < encoded.levels.size(); ++k) {
    const LevelPlace& level = encoded.levels[k];
    Require(level.offset >= 0 && level.bytes > 0 && level.offset + level.bytes <= static_cast<int64_t>(encoded.data.size()));
    if (layout.mipmapped) Require(level.width == chain[k].width && level.height == chain[k].height);
    spans.emplace_back(level.offset, level.offset + level.bytes);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t k = 1; k < spans.size(); ++k) Require(spans[k - 1].second <= spans[k].first);

  const PaletteFolder folder;
  test::LayoutDecoder decoder(*store, folder.path);
  const test::Pixels top = decoder.Top(family, encoded);
  Require(top.pixels.size() == picture.pixels.size());
  const bool palettised = !encoded.paletteExtension.empty();
  const size_t entries = encoded.paletteFile.size() == 16 + 32 ? 16 : 256;
  if (layout.lossless && (!palettised || ReducedColoursFit(picture.View(), family, layout.format, entries))) {
    Require(top.pixels == test::Reduced(picture.View(), family, layout.format).pixels);
    for (size_t k = 1; k < chain.size(); ++k) {
      Require(decoder.Level(family, encoded, k).pixels == test::Reduced(chain[k].View(), family, layout.format).pixels);
    }
  }
  Require(EncodeLayout(picture.View(), family, layout.format, &pool).data == encoded.data);
  return 0;
}
