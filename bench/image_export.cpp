// Export's file writers on one 1024 x 1024 picture: the 32-bit bitmap built
// from the column-ordered canvas, and the PNG of the same picture; pixels per
// second of the bytes made (no file is written).
#include <benchmark/benchmark.h>

#include <memory>

#include "core/image_store.h"
#include "imagefile/export.h"
#include "imagefile/png_file.h"

namespace {

using namespace quarrendel;

constexpr int32_t kSide = 1024;

// Gradients with a little grain and a soft-edged alpha, as a decoded texture.
void Paint(Canvas& canvas) {
  uint32_t grain = 0x9E3779B9u;
  for (int32_t x = 0; x < kSide; ++x) {
    for (int32_t y = 0; y < kSide; ++y) {
      grain = grain * 1664525u + 1013904223u;
      const uint32_t r = static_cast<uint32_t>(x / 4), g = static_cast<uint32_t>(y / 4);
      const uint32_t b = (static_cast<uint32_t>(x + y) / 8 + (grain >> 30)) & 255;
      const uint32_t a = x < 64 ? static_cast<uint32_t>(x * 4) : 255;
      canvas(x, y) = (r & 0xF8) | (g & 0xF8) << 8 | (b & 0xF8) << 16 | a << 24;
    }
  }
}

void BM_BitmapBytes(benchmark::State& state) {
  const auto canvas = std::make_unique<Canvas>();
  Paint(*canvas);
  for (auto _ : state) benchmark::DoNotOptimize(imagefile::BitmapFileBytes(*canvas, kSide, kSide).data());
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_BitmapBytes)->Unit(benchmark::kMillisecond);

void BM_PngBytes(benchmark::State& state) {
  const auto canvas = std::make_unique<Canvas>();
  Paint(*canvas);
  imagefile::RgbaImage picture{kSide, kSide, std::vector<uint8_t>(static_cast<size_t>(kSide) * kSide * 4)};
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const uint32_t v = (*canvas)(x, y);
      for (int32_t k = 0; k < 4; ++k) picture.pixels[(static_cast<size_t>(y) * kSide + x) * 4 + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  size_t bytes = 0;
  for (auto _ : state) bytes = imagefile::WritePng(picture).size();
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  state.counters["png_KB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_PngBytes)->Unit(benchmark::kMillisecond);

}  // namespace
