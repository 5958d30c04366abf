// Every layout encoder on a generated natural-looking picture (the meadow of
// tests/support/natural_pictures.h): speed in million pixels of the top
// level per second (mpx_per_s, mipmap levels included in the time) and
// psnr_db over red, green and blue of the top level against what the
// system's image selection decodes of the result (YUV422 texels, which most
// decoders leave raw, widened pair by pair). Arguments: family (0 DC/PC,
// 1 GC, 2 XBox/BB), format word, width, height, worker threads (an explicit
// pool; 0 for none). The rows with a pool report real time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/image_store.h"
#include "core/worker_pool.h"
#include "tests/support/natural_pictures.h"
#include "tests/texture/layout_test_util.h"
#include "texture/layout_encode.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

double PsnrOfDecode(const std::vector<uint32_t>& picture, TargetFamily family, const EncodedLayout& encoded) {
  char folder[] = "/tmp/quarrendel-bench-layout-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 0;
  auto store = std::make_unique<ImageStore>();
  test::LayoutDecoder decoder(*store, folder);
  test::Pixels decoded = decoder.Top(family, encoded);
  const bool rawYuv = family == TargetFamily::DcPc && (encoded.format & 0xFF) == 3 && (encoded.format >> 8) != 0x0B;
  if (rawYuv) decoded = test::WidenYuvRows(decoded);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return test::PsnrRgb(picture, decoded.pixels);
}

void BM_EncodeLayout(benchmark::State& state) {
  const auto family = static_cast<TargetFamily>(state.range(0));
  const auto format = static_cast<uint32_t>(state.range(1));
  const auto width = static_cast<int32_t>(state.range(2));
  const auto height = static_cast<int32_t>(state.range(3));
  const auto threads = static_cast<int32_t>(state.range(4));
  const std::vector<uint32_t> picture = test::NaturalPicture(0, width, height);
  const RgbaView view{picture, width, height};
  std::unique_ptr<WorkerPool> pool = threads > 0 ? std::make_unique<WorkerPool>(threads) : nullptr;
  EncodedLayout encoded;
  for (auto _ : state) {
    encoded = EncodeLayout(view, family, format, pool.get());
    benchmark::DoNotOptimize(encoded.data.data());
  }
  state.SetLabel(LayoutListName([&] {
    for (const EncodableLayout& layout : EncodableLayouts(family)) {
      if (layout.format == format) return layout;
    }
    return EncodableLayout{};
  }()));
  state.counters["mpx_per_s"] =
      benchmark::Counter(static_cast<double>(width) * height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["psnr_db"] = PsnrOfDecode(picture, family, encoded);
}

constexpr int64_t kDcPc = 0, kGc = 1, kXbox = 2;

void Layouts(benchmark::internal::Benchmark* b) {
  b->ArgNames({"family", "format", "w", "h", "threads"});
  for (const int64_t format : {0x0100, 0x0101, 0x0102, 0x0103, 0x0200, 0x1200, 0x0300, 0x0301, 0x0303, 0x0400,
                               0x0500, 0x0700, 0x0701}) {
    b->Args({kDcPc, format, 256, 256, 0});
  }
  for (const int64_t format : {0x1001, 0x1101}) b->Args({kDcPc, format, 64, 64, 0});
  for (const int64_t format : {0x0901, 0x0B01, 0x0D01, 0x0B03}) b->Args({kDcPc, format, 256, 128, 0});
  for (const int64_t format : {0x0508, 0x0509, 0x0E00, 0x0E01, 0x080A, 0x090A}) b->Args({kGc, format, 256, 256, 0});
  for (const int64_t format : {0x0600, 0x0601, 0x0700, 0x0701, 0x0500}) b->Args({kXbox, format, 256, 256, 0});
}

void Large(benchmark::internal::Benchmark* b) {
  b->ArgNames({"family", "format", "w", "h", "threads"});
  for (const int64_t threads : {1, 2}) {
    b->Args({kDcPc, 0x0301, 1024, 1024, threads});
    b->Args({kDcPc, 0x0401, 1024, 1024, threads});
    b->Args({kXbox, 0x0601, 1024, 1024, threads});
    b->Args({kGc, 0x0E01, 1024, 1024, threads});
  }
}

}  // namespace

BENCHMARK(BM_EncodeLayout)->Apply(Layouts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLayout)->Name("BM_EncodeLayout1024")->Apply(Large)->Unit(benchmark::kMillisecond)->UseRealTime();
