// DXT1 encoding of generated 512 x 512 pictures, the system's two encoders
// against stb_dxt's default and high-quality modes in the same run: time per
// picture and PSNR over red, green and blue. psnr_db decodes the blocks with
// this system's DecodeDxt1 (channels widened with zero low bits), which is how
// the window shows them; psnr_replicated_db with the decoder GPUs and DDS
// viewers have, which repeats the top bits into the low ones (the one
// stb_dxt and FitS3tc choose their colours for). EncodeDxt1 is the encoder
// whose bytes the exports fix; FitS3tc the one fitted to the second decoder.
// The pictures: 0 fractal cloud colours, 1 hard-edged shapes over a gradient,
// 2 fine-grained detail with noise, 3 a landscape (sky gradient, clouds,
// mountains with a hard ridge, foliage), 4 a portrait (skin-tone shading,
// hair strands, fabric weave), 5 an icon (flat colours, anti-aliased edges,
// one gradient, a soft shadow).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/image_store.h"
#include "tests/support/generated_pictures.h"
#include "tests/support/replicated_s3tc.h"
#include "texture/s3tc_encode.h"
#include "texture/s3tc_fit.h"
#include "texture/xvr_decode.h"

// The yardstick, compiled here with the same flags as the encoder.
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

constexpr int32_t kSide = test::kGeneratedSide;

// Red, green and blue PSNR of the DXT1 blocks against the picture, decoded
// with zero low bits (DecodeDxt1) or by repeating the top bits.
double Psnr(const std::vector<uint32_t>& picture, const std::vector<uint8_t>& dxt1, bool replicated) {
  constexpr int32_t kBlocks = kSide / 4;
  std::vector<uint32_t> pixelsOut(static_cast<size_t>(kSide) * kSide);
  const Plane plane(pixelsOut, kSide, kSide);
  const Plane* decoded = &plane;
  if (replicated) {
    for (int32_t b = 0; b < kBlocks * kBlocks; ++b) {
      const std::array<uint32_t, 16> pixels = test::DecodeReplicatedDxt1Block(dxt1.data() + 8 * b);
      for (int k = 0; k < 16; ++k) (*decoded)(4 * (b % kBlocks) + k % 4, 4 * (b / kBlocks) + k / 4) = pixels[k];
    }
  } else {
    DecodeDxt1(*decoded, kSide, dxt1);
  }
  double sum = 0;
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const uint32_t a = picture[static_cast<size_t>(y) * kSide + x], b = (*decoded)(x, y);
      for (int shift = 0; shift < 24; shift += 8) {
        const double d = static_cast<double>((a >> shift) & 0xFF) - static_cast<double>((b >> shift) & 0xFF);
        sum += d * d;
      }
    }
  }
  const double mse = sum / (3.0 * kSide * kSide);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

void Report(benchmark::State& state, const std::vector<uint32_t>& picture, const std::vector<uint8_t>& out) {
  state.counters["psnr_db"] = Psnr(picture, out, false);
  state.counters["psnr_replicated_db"] = Psnr(picture, out, true);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

// Today's encoder, from the canvas as Export and Import use it.
void BM_EncodeDxt1(benchmark::State& state) {
  const std::vector<uint32_t> picture = test::GeneratedPicture(static_cast<int>(state.range(0)));
  auto canvas = std::make_unique<Canvas>();
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) (*canvas)(x, y) = picture[static_cast<size_t>(y) * kSide + x];
  }
  std::vector<uint8_t> out(static_cast<size_t>(Dxt1Bytes(kSide)));
  for (auto _ : state) {
    EncodeDxt1(*canvas, kSide, out);
    benchmark::ClobberMemory();
  }
  Report(state, picture, out);
}

// The fitted encoder, from the row-major picture.
void BM_FitDxt1(benchmark::State& state) {
  const std::vector<uint32_t> picture = test::GeneratedPicture(static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(static_cast<size_t>(FitBytes(FitLayout::Dxt1, kSide, kSide)));
  for (auto _ : state) {
    FitS3tc(FitLayout::Dxt1, picture, kSide, kSide, out);
    benchmark::ClobberMemory();
  }
  Report(state, picture, out);
}

void StbDxt1(benchmark::State& state, int mode) {
  const std::vector<uint32_t> picture = test::GeneratedPicture(static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(static_cast<size_t>(Dxt1Bytes(kSide)));
  constexpr int32_t kBlocks = kSide / 4;
  for (auto _ : state) {
    for (int32_t by = 0; by < kBlocks; ++by) {
      for (int32_t bx = 0; bx < kBlocks; ++bx) {
        uint32_t block[16];
        for (int r = 0; r < 4; ++r) {
          std::memcpy(block + 4 * r, picture.data() + static_cast<size_t>(4 * by + r) * kSide + 4 * bx, 16);
        }
        stb_compress_dxt_block(out.data() + (static_cast<size_t>(by) * kBlocks + bx) * 8,
                               reinterpret_cast<const unsigned char*>(block), 0, mode);
      }
    }
    benchmark::ClobberMemory();
  }
  Report(state, picture, out);
}

void BM_StbDxt1(benchmark::State& state) { StbDxt1(state, STB_DXT_NORMAL); }
void BM_StbDxt1HighQuality(benchmark::State& state) { StbDxt1(state, STB_DXT_HIGHQUAL); }

}  // namespace

// With --benchmark_repetitions, "min" is the least disturbed run: the
// machine is shared, and other work only ever adds time.
double Fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

BENCHMARK(BM_EncodeDxt1)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_FitDxt1)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_StbDxt1)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_StbDxt1HighQuality)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
