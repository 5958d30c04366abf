// Feeds arbitrary bytes to the AFS and BML readers (first byte chooses which),
// then selects every image they loaded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "archive/package_reader.h"
#include "core/error.h"
#include "texture/image_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static auto* store = new quarrendel::ImageStore();
  quarrendel::NoProgress progress;
  store->pvrFamily = 0;
  store->bmlFlag = 0;
  store->packageMode = 0;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  // Nothing escapes the package readers: damage ends the walk, full pools are in the result.
  const quarrendel::archive::ReadResult read = (data[0] & 1) ? quarrendel::archive::ReadBml(*store, bytes, progress)
                                                              : quarrendel::archive::ReadAfs(*store, bytes, progress);
  if (read.imageCount != store->imageCount) std::abort();
  for (int32_t i = 0; i < store->imageCount && i < quarrendel::kMaxImages; ++i) {
    quarrendel::texture::SelectImage(*store, i);
  }
  return 0;
}
