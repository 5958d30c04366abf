// The PNG reader on arbitrary bytes: no crash, no sanitizer report, no
// allocation beyond the size cap. A file it accepts has the size its header
// gives (1..2048 each way), and writing its pixels and reading them back
// gives the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/error.h"
#include "imagefile/png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  const std::span<const uint8_t> bytes(data, size);
  imagefile::PngSize header;
  try {
    header = imagefile::ReadPngSize(bytes);
  } catch (const Error&) {
  }
  imagefile::RgbaImage image;
  try {
    image = imagefile::ReadPng(bytes);
  } catch (const Error&) {
    return 0;
  }
  if (image.width != header.width || image.height != header.height) std::abort();
  if (image.width < 1 || image.height < 1 || image.width > imagefile::kMaxPngSide ||
      image.height > imagefile::kMaxPngSide) {
    std::abort();
  }
  if (image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4) std::abort();
  if (imagefile::ReadPng(imagefile::WritePng(image)).pixels != image.pixels) std::abort();
  return 0;
}
