// Decoder throughput at 1024 x 1024 (the rectangle layouts at 1024 x 256 and
// 256 x 1024) into a row-major plane, against a plain fill of the same plane
// in the same run, and the time of a whole image selection.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/image_store.h"
#include "texture/gvr_decode.h"
#include "texture/image_selection.h"
#include "texture/palette.h"
#include "texture/pvr_decode.h"
#include "texture/pvr_rectangle_decode.h"
#include "texture/xvr_decode.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

constexpr int32_t kSide = 1024;
constexpr int64_t kPixels = int64_t{kSide} * kSide;

std::vector<uint8_t> NoiseBytes(size_t count) {
  std::vector<uint8_t> bytes(count);
  uint32_t state = 0x12345678;
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

template <typename F>
void Run(benchmark::State& state, size_t dataBytes, F decode, int64_t pixels = kPixels) {
  std::vector<uint32_t> pixelsOut(static_cast<size_t>(kPixels));
  const Plane plane(pixelsOut, kSide, kSide);
  const std::vector<uint8_t> data = NoiseBytes(dataBytes);
  for (auto _ : state) {
    decode(plane, std::span<const uint8_t>(data));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}

void BM_PlainFill(benchmark::State& state) {
  Run(state, 0, [](const Plane& c, std::span<const uint8_t>) { c.Fill(kSide, kSide, 0xFF00FF00u); });
}

void BM_TransferTwiddled16(benchmark::State& state) {
  Run(state, 2 * kPixels, [](const Plane& c, std::span<const uint8_t> d) {
    int32_t cursor = 0;
    TransferTwiddled16(c, d, cursor, 0, 0, kSide);
  });
}

void BM_TransferTwiddled16Encode(benchmark::State& state) {
  auto canvas = std::make_unique<Canvas>();
  std::vector<uint8_t> out(2 * kPixels);
  for (auto _ : state) {
    int32_t cursor = 0;
    TransferTwiddled16(*canvas, std::span<uint8_t>(out), cursor, 0, 0, kSide, 0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_ConvertTexels(benchmark::State& state) {
  Run(state, 0, [](const Plane& c, std::span<const uint8_t>) { ConvertTexels(c, kSide, 0); });
}

void BM_DecodeRectangle16(benchmark::State& state) {
  Run(state, 2 * kPixels, [](const Plane& c, std::span<const uint8_t> d) {
    int32_t cursor = 0;
    DecodeRectangle16(c, d, cursor, kSide);
  });
}

void BM_DecodeVq(benchmark::State& state) {
  Run(state, 2048 + kPixels / 4, [](const Plane& c, std::span<const uint8_t> d) {
    int32_t cursor = 0;
    DecodeVq(c, d, cursor, kSide, 0);
  });
}

// Small VQ is decodable up to side 64 (a 2048-byte codebook).
void BM_DecodeSmallVq64(benchmark::State& state) {
  Run(state, 2048 + 64 * 64 / 4, [](const Plane& c, std::span<const uint8_t> d) { DecodeSmallVq(c, d, 64, 0); },
      64 * 64);
}

void BM_DecodeClut4Twiddled(benchmark::State& state) {
  const Palette palette = FallbackPalette(PaletteKind::Pvp);
  Run(state, kPixels / 2,
      [&](const Plane& c, std::span<const uint8_t> d) { DecodeClut4Twiddled(c, d, kSide, palette); });
}

void BM_DecodeClut8Twiddled(benchmark::State& state) {
  const Palette palette = FallbackPalette(PaletteKind::Pvp);
  Run(state, kPixels, [&](const Plane& c, std::span<const uint8_t> d) { DecodeClut8Twiddled(c, d, kSide, palette); });
}

void BM_DecodeClut8Swizzled(benchmark::State& state) {
  const Palette palette = FallbackPalette(PaletteKind::Pvp);
  Run(state, kPixels, [&](const Plane& c, std::span<const uint8_t> d) { DecodeClut8Swizzled(c, d, kSide, palette); });
}

void BM_DecodeTiled565(benchmark::State& state) {
  Run(state, 2 * kPixels, [](const Plane& c, std::span<const uint8_t> d) { DecodeTiled565(c, d, kSide); });
}

void BM_DecodeTiled1555(benchmark::State& state) {
  Run(state, 2 * kPixels, [](const Plane& c, std::span<const uint8_t> d) { DecodeTiled1555(c, d, kSide); });
}

void BM_DecodeRgb5a3Tiled(benchmark::State& state) {
  Run(state, 2 * kPixels, [](const Plane& c, std::span<const uint8_t> d) { DecodeRgb5a3Tiled(c, d, kSide); });
}

void BM_DecodeCi4Tiled(benchmark::State& state) {
  const Palette palette = FallbackPalette(PaletteKind::Gvp);
  Run(state, kPixels / 2, [&](const Plane& c, std::span<const uint8_t> d) { DecodeCi4Tiled(c, d, kSide, palette); });
}

void BM_DecodeCi8Tiled(benchmark::State& state) {
  const Palette palette = FallbackPalette(PaletteKind::Gvp);
  Run(state, kPixels, [&](const Plane& c, std::span<const uint8_t> d) { DecodeCi8Tiled(c, d, kSide, palette); });
}

void BM_DecodeCmpr(benchmark::State& state) {
  Run(state, kPixels / 2, [&](const Plane& c, std::span<const uint8_t> d) { DecodeCmpr(c, kSide, d); });
}

void BM_DecodeDxt1(benchmark::State& state) {
  Run(state, kPixels / 2, [](const Plane& c, std::span<const uint8_t> d) { DecodeDxt1(c, kSide, d); });
}

void BM_DecodeDxt3(benchmark::State& state) {
  Run(state, kPixels, [](const Plane& c, std::span<const uint8_t> d) { DecodeDxt3(c, kSide, d); });
}

// The rectangle layouts at state.range(0) x state.range(1) texels of data;
// with `smallerLevels` a third more in front of them, as in a mipmap chain.
template <typename F>
void RunRect(benchmark::State& state, F decode, bool smallerLevels = false) {
  const auto w = static_cast<int32_t>(state.range(0));
  const auto h = static_cast<int32_t>(state.range(1));
  const int64_t pixels = int64_t{w} * h;
  const int64_t bytes = 2 * pixels + (smallerLevels ? 2 * pixels / 3 : 0);
  Run(state, static_cast<size_t>(bytes), [&](const Plane& c, std::span<const uint8_t> d) { decode(c, d, w, h); },
      pixels);
}

void BM_DecodeTwiddledRectangle16(benchmark::State& state) {
  RunRect(state, [](const Plane& c, std::span<const uint8_t> d, int32_t w, int32_t h) {
    int32_t cursor = 0;
    DecodeTwiddledRectangle16(c, d, cursor, w, h);
  });
}

void BM_DecodeTwiddledMipmapAlias(benchmark::State& state) {
  RunRect(state, [](const Plane& c, std::span<const uint8_t> d, int32_t w, int32_t h) {
    auto cursor = static_cast<int32_t>(AliasTopLevelOffset(w, h, static_cast<int64_t>(d.size())));
    DecodeTwiddledRectangle16(c, d, cursor, w, h);
  }, true);
}

void BM_DecodeStride16(benchmark::State& state) {
  RunRect(state, [](const Plane& c, std::span<const uint8_t> d, int32_t w, int32_t h) {
    int32_t cursor = 0;
    DecodeRaster16(c, d, cursor, w, h);
  });
}

void BM_DecodeStrideYuv422(benchmark::State& state) {
  RunRect(state, [](const Plane& c, std::span<const uint8_t> d, int32_t w, int32_t h) { DecodeStrideYuv422(c, d, w, h); });
}

void BM_PaintOverCheckerboard(benchmark::State& state) {
  const std::vector<uint8_t> noise = NoiseBytes(4 * kPixels);
  std::vector<uint32_t> pixels(static_cast<size_t>(kPixels));
  for (size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = noise[4 * i] | (noise[4 * i + 1] << 8) | (noise[4 * i + 2] << 16) | (uint32_t{noise[4 * i + 3]} << 24);
  }
  for (auto _ : state) {
    Picture p = PaintOverCheckerboard(RgbaRect{pixels.data(), kSide, kSide, kSide});
    benchmark::DoNotOptimize(p.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

// A whole selection: memo, clear, decode, convert, paint.
void SelectBench(benchmark::State& state, uint32_t format, size_t dataBytes) {
  auto store = std::make_unique<ImageStore>();
  TImage_Entry& entry = store->Entry(0);
  entry.Width = kSide;
  entry.Height = kSide;
  entry.Format = format;
  store->FillEntryData(0, NoiseBytes(dataBytes));
  store->imageCount = 1;
  for (auto _ : state) {
    Selection s = SelectImage(*store, 0);
    benchmark::DoNotOptimize(s.picture.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_SelectImageTwiddled1555(benchmark::State& state) { SelectBench(state, 0x0100, 2 * kPixels); }
void BM_SelectRectangleForWindow(benchmark::State& state) {
  auto store = std::make_unique<ImageStore>();
  TImage_Entry& entry = store->Entry(0);
  entry.Width = kSide;
  entry.Height = kSide;
  entry.Format = 0x0901;
  store->FillEntryData(0, NoiseBytes(2 * kPixels));
  store->imageCount = 1;
  std::vector<uint32_t> shown;
  for (auto _ : state) {
    Selection s = SelectImage(*store, 0, PictureParts::Decoded);
    shown.swap(s.picture.decoded);
    store->selectionPixels = std::move(s.picture.decoded);
    benchmark::DoNotOptimize(shown.data());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}
void BM_SelectImageDxt1(benchmark::State& state) { SelectBench(state, 0x0600, kPixels / 2); }
void BM_SelectImageCmpr(benchmark::State& state) { SelectBench(state, 0x0E00, kPixels / 2); }

}  // namespace

BENCHMARK(BM_PlainFill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransferTwiddled16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransferTwiddled16Encode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertTexels)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectRectangleForWindow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeRectangle16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeVq)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeSmallVq64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeClut4Twiddled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeClut8Twiddled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeClut8Swizzled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTiled565)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTiled1555)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeRgb5a3Tiled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeCi4Tiled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeCi8Tiled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeCmpr)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeDxt1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeDxt3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTwiddledRectangle16)->Args({1024, 256})->Args({256, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTwiddledMipmapAlias)->Args({1024, 256})->Args({256, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeStride16)->Args({1024, 256})->Args({256, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeStrideYuv422)->Args({1024, 256})->Args({256, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintOverCheckerboard)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectImageTwiddled1555)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectImageDxt1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectImageCmpr)->Unit(benchmark::kMillisecond);
