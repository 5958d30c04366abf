// Runs one of the six texture archive readers on arbitrary bytes, then checks
// what it left in the store. Input: byte 0 picks the reader (value % 6: PVM,
// GVM, XVM file; PVM, GVM, XVM in memory) and, in bit 0 of value / 6, the
// package caller (AFS or BML); byte 1 times 20 is the running index of the
// in-memory readers (0..5100, so the capacity check is reached); byte 2 is the
// package index; the rest is the archive. The images loaded are then selected:
// decoded into the canvas and painted, as a click on its list item does. The
// first one is selected whatever its size; the others when their side is at
// most 256, since painting thousands of 2049 x 2049 pictures per input would
// leave the fuzzer no time for the readers.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "archive/texture_archive.h"
#include "core/error.h"
#include "texture/image_selection.h"

using namespace quarrendel;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // One store for the whole run: entries left by earlier inputs are refilled,
  // as in the program. Never freed, like the program's own store.
  static ImageStore* const store = new ImageStore();
  archive::ReadResult read;
  const int reader = data[0] % 6;
  const auto caller = (data[0] / 6) % 2 == 0 ? archive::PackageCaller::Afs : archive::PackageCaller::Bml;
  const int32_t running = data[1] * 20;
  const int32_t package = data[2];
  const std::span<const uint8_t> bytes(data + 3, size - 3);

  const int32_t countBefore = store->imageCount;
  int32_t first = 0;
  int32_t next = 0;
  try {
    switch (reader) {
      case 0: read = archive::ReadPvmFile(*store, bytes); break;
      case 1: read = archive::ReadGvmFile(*store, bytes); break;
      case 2: read = archive::ReadXvmFile(*store, bytes); break;
      default: {
        // The package readers hand over the start of the output buffer.
        std::copy(bytes.begin(), bytes.end(), store->output.Data());
        const auto archiveBytes = store->output.First(bytes.size());
        first = running;
        if (reader == 3) next = archive::ReadPvmInMemory(*store, read, archiveBytes, package, running, caller);
        if (reader == 4) next = archive::ReadGvmInMemory(*store, read, archiveBytes, package, running, caller);
        if (reader == 5) next = archive::ReadXvmInMemory(*store, read, archiveBytes, package, running, caller);
        break;
      }
    }
  } catch (const Error&) {
    // Rejections happen before anything changes.
    Check(store->imageCount == countBefore);
    Check(read.names.empty());
    return 0;
  }
  if (reader < 3) next = read.imageCount;

  // Overlapping XVM data can fill the pools: the entries filled so far stay counted.
  Check(next >= first && next <= kMaxImages);
  Check(store->imageCount == next);
  Check(static_cast<int32_t>(read.names.size()) == next - first);
  Check(read.poolFull || read.stopped != LoadShortfall::None || next - first == read.expected);
  for (int32_t i = first; i < next; ++i) {
    const TImage_Entry& e = store->images[static_cast<size_t>(i)];
    Check(read.names[static_cast<size_t>(i - first)] == e.Name);
    Check(e.DataLength >= 0 && e.Data != nullptr);
    if (reader >= 3) Check(e.PackageIndex == package);
  }
  for (int32_t i = first; i < next; ++i) {
    if (i > first && store->images[static_cast<size_t>(i)].Height > 256) continue;
    const texture::Selection selection = texture::SelectImage(*store, i);
    Check(store->currentImage == i);
    Check(!selection.memo.empty() && selection.memo.front() == "Description :");
  }
  return 0;
}
