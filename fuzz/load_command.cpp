// Runs the whole Load command on arbitrary bytes, as a plain file or as a
// ".prs" file (first byte chooses), then selects every image it loaded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "archive/load_command.h"
#include "core/error.h"
#include "tests/support/recording_frontend.h"
#include "texture/image_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static auto* store = new quarrendel::ImageStore();
  quarrendel::RecordingFrontEnd fe;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  // The Load command reports every failure through the front end.
  quarrendel::archive::LoadContents(*store, fe, (data[0] & 1) ? "/fuzz/in.prs" : "/fuzz/in.bin", bytes);
  for (int32_t i = 0; i < store->imageCount && i < quarrendel::kMaxImages; ++i) {
    quarrendel::texture::SelectImage(*store, i);
  }
  return 0;
}
