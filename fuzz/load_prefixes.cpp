// Loads every prefix of an input file, as a file cut short anywhere would be,
// and checks the store each load leaves: the image count equals the entries
// filled and the items listed, a load that stops short says so, and a full
// block pool is the only error that leaves the Load command. Byte 0: bit 0
// names the file ".prs", bit 1 runs with block pools of 16 blocks each so that
// they run out part-way; the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "archive/load_command.h"
#include "core/error.h"
#include "tests/support/recording_frontend.h"

using namespace quarrendel;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void LoadAndCheck(ImageStore& store, const std::string& path, std::span<const uint8_t> bytes) {
  RecordingFrontEnd ui;
  store.imageCount = 0;
  bool poolFull = false;
  try {
    archive::LoadContents(store, ui, path, bytes);
  } catch (const Error& e) {
    Check(e.Kind() == ErrorKind::PoolFull);
    Check(store.loadIncomplete);
    poolFull = true;
  }
  const int32_t count = store.imageCount;
  Check(count >= 0 && count <= kMaxImages);
  // An AFS "end" member keeps its list item after the images it ends.
  const auto listed = static_cast<int32_t>(ui.list.size());
  Check(listed == count || (listed == count + 1 && ui.list.back() == "Image " + std::to_string(count)));
  for (int32_t i = 0; i < count; ++i) {
    const TImage_Entry& e = store.images[static_cast<size_t>(i)];
    Check(e.Data != nullptr && e.DataLength >= 0);
  }
  bool told = false;
  for (const auto& m : ui.messages) told = told || m.kind == RecordingFrontEnd::MessageKind::Information;
  if (!poolFull && !told && !store.loadIncomplete) Check(count == store.imagesDeclared);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Every prefix is a whole load, and a load of a package starts a worker
  // thread: thousands of thread starts per input would be most of the run.
  // The loads on several threads are replayed by load_command.
  static const int oneThread = setenv("QUARRENDEL_THREADS", "1", 1);
  (void)oneThread;
  static ImageStore* const store = new ImageStore();
  static ImageStore* const tiny = new ImageStore(16);
  ImageStore& s = (data[0] & 2) != 0 ? *tiny : *store;
  const std::string path = (data[0] & 1) != 0 ? "/fuzz/in.prs" : "/fuzz/in.bin";
  const std::span<const uint8_t> file(data + 1, size - 1);
  for (size_t n = 0; n <= file.size(); ++n) LoadAndCheck(s, path, file.first(n));
  return 0;
}
