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
#include "texture/mipmap_generate.h"
#include "texture/palette.h"
#include "texture/palette_quantize.h"
#include "texture/pvr_decode.h"
#include "texture/texel_format.h"
#include "texture/vector_quantize.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

// A hash of a lattice point, 0..1.
float Hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  h ^= h >> 15;
  return static_cast<float>(h & 0xFFFFFF) / 16777215.0f;
}

// Bilinear value noise with a cosine ease, summed over octaves.
float Noise(float x, float y, uint32_t seed) {
  const float fx = std::floor(x), fy = std::floor(y);
  const auto ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  const float tx = 0.5f - 0.5f * std::cos((x - fx) * 3.14159265f), ty = 0.5f - 0.5f * std::cos((y - fy) * 3.14159265f);
  const float top = Hash(ix, iy, seed) * (1 - tx) + Hash(ix + 1, iy, seed) * tx;
  const float bottom = Hash(ix, iy + 1, seed) * (1 - tx) + Hash(ix + 1, iy + 1, seed) * tx;
  return top * (1 - ty) + bottom * ty;
}

float Octaves(float x, float y, uint32_t seed, int32_t count) {
  float sum = 0, amplitude = 1, norm = 0;
  for (int32_t o = 0; o < count; ++o) {
    sum += amplitude * Noise(x, y, seed + static_cast<uint32_t>(o));
    norm += amplitude;
    amplitude *= 0.55f;
    x *= 2.03f;
    y *= 2.03f;
  }
  return sum / norm;
}

uint32_t Rgb(float r, float g, float b) {
  const auto c = [](float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 255.0f))); };
  return c(r) | (c(g) << 8) | (c(b) << 16) | 0xFF000000u;
}

// Row-major, side x side; features scale with the side.
std::vector<uint32_t> MakePicture(int32_t kind, int32_t side) {
  std::vector<uint32_t> out(static_cast<size_t>(side) * static_cast<size_t>(side));
  const float s = static_cast<float>(side);
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      const float u = static_cast<float>(x) / s, v = static_cast<float>(y) / s;
      float r, g, b;
      if (kind == 0) {  // meadow: sky with clouds, a sun, hills of grass
        const float horizon = 0.45f + 0.08f * std::sin(u * 7.0f) + 0.05f * Octaves(u * 4, 0.5f, 5, 3);
        if (v < horizon) {
          const float cloud = std::clamp(Octaves(u * 6, v * 12, 11, 5) * 1.8f - 0.8f, 0.0f, 1.0f);
          const float sun = std::exp(-((u - 0.7f) * (u - 0.7f) + (v - 0.15f) * (v - 0.15f)) * 180.0f);
          r = 70 + 90 * v + 170 * cloud + 180 * sun;
          g = 120 + 80 * v + 130 * cloud + 160 * sun;
          b = 215 - 20 * v + 40 * cloud + 60 * sun;
        } else {
          const float depth = (v - horizon) / (1 - horizon);
          const float grass = Octaves(u * 60 * (0.3f + depth), v * 30, 17, 4);
          const float patch = Octaves(u * 5, v * 5, 23, 3);
          r = 40 + 60 * patch + 50 * grass * depth;
          g = 90 + 70 * grass + 40 * patch - 30 * depth;
          b = 30 + 30 * grass * (1 - depth);
          // Flowers of changing hue, denser towards the front.
          const float bloom = Octaves(u * 80, v * 80, 29, 2);
          if (bloom > 0.78f - 0.1f * depth) {
            const float hue = Octaves(u * 4, v * 4, 59, 2) * 6.28f;
            r = 150 + 100 * std::sin(hue);
            g = 120 + 90 * std::sin(hue + 2.1f);
            b = 140 + 110 * std::sin(hue + 4.2f);
          }
        }
      } else if (kind == 1) {  // stone wall: bricks, mortar, weathering
        const float rows = 14, cols = 7;
        const float by = v * rows, bx = u * cols + (static_cast<int32_t>(by) % 2 ? 0.5f : 0.0f);
        const float gx = bx - std::floor(bx), gy = by - std::floor(by);
        const float mortar = std::min(std::min(gx, 1 - gx) * 6.0f, std::min(gy, 1 - gy) * 3.0f);
        const float tint = Hash(static_cast<int32_t>(bx), static_cast<int32_t>(by), 31);
        const float grain = Octaves(u * 90, v * 90, 37, 3);
        const float stain = Octaves(u * 3, v * 3, 41, 4);
        if (mortar < 0.25f) {
          r = g = b = 150 + 40 * grain;
        } else {
          r = 120 + 70 * tint + 50 * grain - 50 * stain;
          g = 70 + 40 * tint + 40 * grain - 40 * stain;
          b = 50 + 25 * tint + 30 * grain - 20 * stain;
        }
      } else {  // a face-like oval with soft light under fine hair
        const float dx = (u - 0.5f) / 0.3f, dy = (v - 0.55f) / 0.38f;
        const float d = dx * dx + dy * dy;
        const float light = std::clamp(0.75f - 0.45f * dx + 0.2f * dy, 0.2f, 1.2f);
        if (v < 0.3f + 0.1f * dx * dx || d > 1.0f) {
          const float strand = 0.5f + 0.5f * std::sin(u * 260.0f + 14.0f * Octaves(u * 3, v * 9, 43, 4));
          r = 60 + 50 * strand + 30 * Octaves(u * 20, v * 40, 47, 3);
          g = 38 + 30 * strand;
          b = 22 + 18 * strand;
        } else {
          const float blush = std::exp(-((std::fabs(dx) - 0.5f) * (std::fabs(dx) - 0.5f) + (dy - 0.2f) * (dy - 0.2f)) * 20.0f);
          const float pores = Octaves(u * 150, v * 150, 53, 2);
          r = (200 + 30 * blush + 10 * pores) * light;
          g = (150 - 10 * blush + 8 * pores) * light;
          b = (125 - 5 * blush + 6 * pores) * light;
        }
      }
      // Sensor noise, independent per channel (about 3 levels).
      r += 10 * (Hash(x, y, 61) - 0.5f);
      g += 10 * (Hash(x, y, 67) - 0.5f);
      b += 10 * (Hash(x, y, 71) - 0.5f);
      out[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)] = Rgb(r, g, b);
    }
  }
  return out;
}

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
