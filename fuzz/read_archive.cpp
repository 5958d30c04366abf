// Reads arbitrary bytes with one of the readers the Load command dispatches
// to, with no front end and no progress panel at all, then decodes what they
// read without touching the store. Byte 0 picks the reader (value % 6: AFS,
// BML, PVM, GVM, XVM, single texture file); the rest is the file. Checks that
// the result agrees with the store (image count, names in list order) and
// that every decoded texture has the canvas's shape: max(W, H) x H, each side
// at most the canvas side. Textures with a side above 256 are not decoded,
// so the fuzzer's time goes to the readers.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "archive/package_reader.h"
#include "archive/texture_archive.h"
#include "archive/texture_file_reader.h"
#include "core/capacity.h"
#include "core/error.h"
#include "texture/texture_decode.h"

using namespace quarrendel;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // One store for the whole run, as in the program; never freed, like the program's own.
  static ImageStore* const store = new ImageStore();
  store->packageMode = 0;
  NoProgress progress;
  const int reader = data[0] % 6;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  archive::ReadResult read;
  try {
    switch (reader) {
      case 0: read = archive::ReadAfs(*store, bytes, progress); break;
      case 1: read = archive::ReadBml(*store, bytes, progress); break;
      case 2: read = archive::ReadPvmFile(*store, bytes); break;
      case 3: read = archive::ReadGvmFile(*store, bytes); break;
      case 4: read = archive::ReadXvmFile(*store, bytes); break;
      default: read = archive::ReadTextureFile(*store, bytes, "fuzz"); break;
    }
  } catch (const Error& e) {
    // Only the archive file readers and the texture file reader refuse by
    // throwing, and never for full pools.
    Check(reader >= 2 && e.Kind() != ErrorKind::PoolFull);
    return 0;
  }
  Check(read.imageCount == store->imageCount);
  Check(read.imageCount >= 0 && read.imageCount <= kMaxImages);
  const auto listed = static_cast<int32_t>(read.names.size());
  if (reader == 0) {
    // An AFS lists its end member; a refused table leaves the count as it was.
    Check(listed <= read.imageCount + 1 || read.outcome.status == Status::Refused);
  } else if (read.outcome.status != Status::Refused && read.outcome.status != Status::Unsupported) {
    Check(listed == read.imageCount);
    for (int32_t i = 0; i < listed; ++i) Check(read.names[static_cast<size_t>(i)] == store->images[static_cast<size_t>(i)].Name);
  }
  // The archive readers fill at most what they declare, and all of it unless they stopped short.
  if (reader >= 2 && reader <= 4) {
    Check(read.expected >= read.imageCount);
    Check(read.poolFull || read.stopped != LoadShortfall::None || read.expected == read.imageCount);
  }

  for (int32_t i = 0; i < store->imageCount; ++i) {
    const TImage_Entry& e = store->images[static_cast<size_t>(i)];
    if (e.Width > 256 || e.Height > 256) continue;
    const texture::DecodedTexture decoded = texture::DecodeEntry(*store, i);
    Check(decoded.area.width == std::max(e.Width, e.Height) && decoded.area.height == e.Height);
    Check(decoded.area.pixels.size() == static_cast<size_t>(decoded.area.width) * decoded.area.height);
    Check(decoded.regionWidth == 0 || decoded.regionWidth == e.Width || decoded.regionWidth == e.Height);
    const texture::RgbaRect picture = decoded.TrueSize();
    Check(picture.width == e.Width && picture.height == e.Height);
  }
  return 0;
}
