// The PNG writer on small pictures made from arbitrary bytes: the first two
// bytes give the width and height (1..64 each), the rest fill the pixels
// over and over, so that the bytes repeat at every distance the deflate
// encoder looks at. The file must read back with libspng to the same pixels,
// and a second write must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imagefile/png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  if (size < 3) return 0;
  imagefile::RgbaImage image;
  image.width = 1 + data[0] % 64;
  image.height = 1 + data[1] % 64;
  image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4);
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = data[2 + i % (size - 2)];
  const std::vector<uint8_t> png = imagefile::WritePng(image);
  if (imagefile::ReadPng(png).pixels != image.pixels) std::abort();
  if (imagefile::WritePng(image) != png) std::abort();
  return 0;
}
