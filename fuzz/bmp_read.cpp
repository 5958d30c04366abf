// The bitmap reader on arbitrary bytes: no crash, and a file whose header
// passes the checks loads without an error and writes nothing to the right
// of its width.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "core/error.h"
#include "core/image_store.h"
#include "imagefile/bmp_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  static const std::unique_ptr<Canvas> canvas = std::make_unique<Canvas>();
  const std::span<const uint8_t> bytes(data, size);
  try {
    imagefile::ReadBitmapSize(bytes);
  } catch (const Error&) {
  }
  imagefile::BitmapHeader header;
  try {
    header = imagefile::ReadBitmapHeader(bytes);
  } catch (const Error&) {
    return 0;
  }
  constexpr uint32_t kSentinel = 0xDEADBEEF;
  (*canvas)(header.width, 0) = kSentinel;
  try {
    imagefile::LoadBitmapIntoCanvas(bytes, *canvas);
  } catch (const Error&) {
    std::abort();  // the header was accepted, so the pixels must load
  }
  if ((*canvas)(header.width, 0) != kSentinel) std::abort();
  return 0;
}
