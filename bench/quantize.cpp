// The encoders' building blocks on generated natural-looking pictures: VQ
// codebooks (256 entries) at 256 x 256 and 1024 x 1024, 8-bit and 4-bit
// palettes at 256 x 256, and a mipmap chain from 1024 x 1024. psnr_db is
// over red, green and blue of the source against the texture the system's
// own decoders make of the result (DecodeVq or DecodeClut8Twiddled, then
// ConvertTexels); YUV422 codebooks, which the VQ decoder leaves raw, are
// widened by YuvToPixel, RGB5A3 palettes by Rgb5a3ToPixel. BM_Vq1024 runs
// on an explicit pool of 1 or 2 threads and reports real time. The pictures: a meadow under a sky, a stone wall,
// and a face-like study of soft shading under fine hair.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/image_store.h"
#include "core/worker_pool.h"
#include "tests/support/natural_pictures.h"
#include "texture/mipmap_generate.h"
#include "texture/palette.h"
#include "texture/palette_quantize.h"
#include "texture/pvr_decode.h"
#include "texture/texel_format.h"
#include "texture/vector_quantize.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

// Row-major, side x side.
std::vector<uint32_t> MakePicture(int32_t kind, int32_t side) { return test::NaturalPicture(kind, side, side); }

double PsnrOf(const std::vector<uint32_t>& picture, int32_t side, const Plane& decoded) {
  double sum = 0;
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      const uint32_t a = picture[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)];
      const uint32_t b = decoded(x, y);
      for (int32_t shift = 0; shift < 24; shift += 8) {
        const double d = static_cast<double>((a >> shift) & 0xFF) - static_cast<double>((b >> shift) & 0xFF);
        sum += d * d;
      }
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 * 3.0 * side * side / sum);
}

// The VQ texture (data format 3) the result makes, decoded by DecodeVq.
double VqPsnr(const std::vector<uint32_t>& picture, int32_t side, PixelFormat format, const VqResult& vq) {
  RgbaImage image{side, side, std::vector<uint32_t>(static_cast<size_t>(side) * static_cast<size_t>(side))};
  const Plane canvas(image);
  const auto& twiddle = TwiddleTable();
  const int32_t blocks = side / 2;
  if (format == PixelFormat::Yuv442) {
    for (int32_t by = 0; by < blocks; ++by) {
      for (int32_t bx = 0; bx < blocks; ++bx) {
        const uint16_t* e = &vq.codebook[4 * static_cast<size_t>(vq.indices[0][static_cast<size_t>(by * blocks + bx)])];
        const auto top = WidenYuvPair(YuvPair{e[0], e[2]}), bottom = WidenYuvPair(YuvPair{e[1], e[3]});
        canvas(2 * bx, 2 * by) = top[0];
        canvas(2 * bx + 1, 2 * by) = top[1];
        canvas(2 * bx, 2 * by + 1) = bottom[0];
        canvas(2 * bx + 1, 2 * by + 1) = bottom[1];
      }
    }
    return PsnrOf(picture, side, canvas);
  }
  std::vector<uint8_t> data(static_cast<size_t>(kVqCodebookBytes) + static_cast<size_t>(blocks) * blocks);
  for (size_t i = 0; i < vq.codebook.size(); ++i) {
    data[2 * i] = static_cast<uint8_t>(vq.codebook[i] & 0xFF);
    data[2 * i + 1] = static_cast<uint8_t>(vq.codebook[i] >> 8);
  }
  for (int32_t by = 0; by < blocks; ++by) {
    for (int32_t bx = 0; bx < blocks; ++bx) {
      data[static_cast<size_t>(kVqCodebookBytes) + (twiddle[static_cast<size_t>(by)] | (twiddle[static_cast<size_t>(bx)] << 1))] =
          vq.indices[0][static_cast<size_t>(by * blocks + bx)];
    }
  }
  int32_t cursor = 0;
  DecodeVq(canvas, data, cursor, side, 0);
  ConvertTexels(canvas, side, static_cast<uint8_t>(format));
  return PsnrOf(picture, side, canvas);
}

// The 8-bit twiddled CLUT texture the result makes.
double PalettePsnr(const std::vector<uint32_t>& picture, int32_t side, TexelFormat format, const PaletteResult& result) {
  RgbaImage image{side, side, std::vector<uint32_t>(static_cast<size_t>(side) * static_cast<size_t>(side))};
  const Plane canvas(image);
  const auto& twiddle = TwiddleTable();
  std::vector<uint8_t> data(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      data[twiddle[static_cast<size_t>(y)] | (twiddle[static_cast<size_t>(x)] << 1)] =
          result.indices[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)];
    }
  }
  if (format == TexelFormat::Rgb5a3) {
    // The GameCube CI8 layout tiles its indices; its palette words convert
    // as WidenTexel does (Rgb5a3ToPixel).
    for (int32_t y = 0; y < side; ++y) {
      for (int32_t x = 0; x < side; ++x) {
        canvas(x, y) = WidenTexel(result.palette[result.indices[static_cast<size_t>(y * side + x)]], format);
      }
    }
    return PsnrOf(picture, side, canvas);
  }
  Palette palette{};
  std::copy(result.palette.begin(), result.palette.end(), palette.begin());
  DecodeClut8Twiddled(canvas, data, side, palette);
  ConvertTexels(canvas, side, static_cast<uint8_t>(format));
  return PsnrOf(picture, side, canvas);
}

// Arguments: picture, pixel format code (0, 1, 2, 3).
void BM_Vq256(benchmark::State& state) {
  constexpr int32_t kSide = 256;
  const auto kind = static_cast<int32_t>(state.range(0));
  const auto format = static_cast<PixelFormat>(state.range(1));
  const std::vector<uint32_t> picture = MakePicture(kind, kSide);
  const RgbaView view{picture, kSide, kSide};
  VqResult vq;
  for (auto _ : state) {
    vq = QuantizeVectors(std::span<const RgbaView>(&view, 1), format, 256);
    benchmark::DoNotOptimize(vq.codebook.data());
  }
  state.counters["psnr_db"] = VqPsnr(picture, kSide, format, vq);
  state.counters["passes"] = vq.passes;
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

// Arguments: picture, worker threads (an explicit pool).
void BM_Vq1024(benchmark::State& state) {
  constexpr int32_t kSide = 1024;
  const std::vector<uint32_t> picture = MakePicture(static_cast<int32_t>(state.range(0)), kSide);
  const RgbaView view{picture, kSide, kSide};
  WorkerPool pool(static_cast<int32_t>(state.range(1)));
  VqResult vq;
  for (auto _ : state) {
    vq = QuantizeVectors(std::span<const RgbaView>(&view, 1), PixelFormat::Rgb565, 256, &pool);
    benchmark::DoNotOptimize(vq.codebook.data());
  }
  state.counters["psnr_db"] = VqPsnr(picture, kSide, PixelFormat::Rgb565, vq);
  state.counters["passes"] = vq.passes;
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

// Arguments: picture, texel format (0 ARGB1555, 1 RGB565, 2 ARGB4444, 3 RGB5A3), colours.
void BM_Palette256(benchmark::State& state) {
  constexpr int32_t kSide = 256;
  const std::vector<uint32_t> picture = MakePicture(static_cast<int32_t>(state.range(0)), kSide);
  const auto format = static_cast<TexelFormat>(state.range(1));
  const auto colours = static_cast<int32_t>(state.range(2));
  PaletteResult result;
  for (auto _ : state) {
    result = QuantizePalette(RgbaView{picture, kSide, kSide}, format, colours);
    benchmark::DoNotOptimize(result.palette.data());
  }
  state.counters["psnr_db"] = PalettePsnr(picture, kSide, format, result);
  std::vector<uint32_t> distinct = picture;
  std::sort(distinct.begin(), distinct.end());
  state.counters["colours"] = static_cast<double>(std::unique(distinct.begin(), distinct.end()) - distinct.begin());
  state.counters["passes"] = result.passes;
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void BM_Mipmaps1024(benchmark::State& state) {
  constexpr int32_t kSide = 1024;
  const std::vector<uint32_t> picture = MakePicture(0, kSide);
  const RgbaView view{picture, kSide, kSide};
  for (auto _ : state) {
    auto chain = GenerateMipmaps(view, MipLevelCount(kSide, kSide));
    benchmark::DoNotOptimize(chain.back().pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

BENCHMARK(BM_Vq256)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vq1024)->ArgsProduct({{0, 1, 2}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Palette256)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}, {16, 256}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mipmaps1024)->Unit(benchmark::kMillisecond);
