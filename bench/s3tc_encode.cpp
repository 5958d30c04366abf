// DXT1 encoding of generated 512 x 512 pictures against stb_dxt's default
// mode in the same run: time per picture and PSNR over red, green and blue.
// psnr_db decodes both outputs with this system's DecodeDxt1 (channels
// widened with zero low bits), which is how the program shows them;
// psnr_replicated_db with the usual decoder that repeats the top bits into
// the low ones, for which stb_dxt chooses its colours. The pictures: fractal
// cloud colours, hard-edged shapes over a gradient, and fine-grained detail
// with noise.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/image_store.h"
#include "texture/s3tc_encode.h"
#include "texture/xvr_decode.h"

// The yardstick, compiled here with the same flags as the encoder.
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

constexpr int32_t kSide = 512;

// Smooth value noise: random values on a lattice of `cell` pixels,
// interpolated with a smoothstep.
class ValueNoise {
 public:
  explicit ValueNoise(uint32_t seed) {
    for (auto& v : lattice_) {
      seed = seed * 1664525u + 1013904223u;
      v = static_cast<float>(seed >> 8) / 16777216.0f;
    }
  }
  float At(float x, float y) const {
    const auto xi = static_cast<int32_t>(std::floor(x)), yi = static_cast<int32_t>(std::floor(y));
    const float fx = Smooth(x - static_cast<float>(xi)), fy = Smooth(y - static_cast<float>(yi));
    const float a = Lattice(xi, yi), b = Lattice(xi + 1, yi), c = Lattice(xi, yi + 1), d = Lattice(xi + 1, yi + 1);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
  }
  // Octaves of noise from `cell` pixels down, each half as strong.
  float Fractal(int32_t x, int32_t y, float cell, int octaves) const {
    float sum = 0, weight = 0.5f, total = 0;
    for (int o = 0; o < octaves; ++o) {
      sum += weight * At(static_cast<float>(x) / cell + 17.0f * o, static_cast<float>(y) / cell + 31.0f * o);
      total += weight;
      weight *= 0.5f;
      cell *= 0.5f;
    }
    return sum / total;
  }

 private:
  static float Smooth(float t) { return t * t * (3 - 2 * t); }
  float Lattice(int32_t x, int32_t y) const { return lattice_[static_cast<size_t>((x & 63) + 64 * (y & 63))]; }
  std::array<float, 64 * 64> lattice_{};
};

uint32_t Pixel(float r, float g, float b) {
  auto channel = [](float v) { return static_cast<uint32_t>(std::clamp(v, 0.0f, 255.0f)); };
  return channel(r) | (channel(g) << 8) | (channel(b) << 16) | 0xFF000000u;
}

// Row-major pictures (index y * kSide + x).
std::vector<uint32_t> MakePicture(int kind) {
  std::vector<uint32_t> picture(static_cast<size_t>(kSide) * kSide);
  const ValueNoise n1(11 + kind), n2(23 + kind), n3(37 + kind);
  uint32_t grain = 0x9E3779B9u;
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      float r = 0, g = 0, b = 0;
      if (kind == 0) {  // clouds over sky, hills below
        const float t = n1.Fractal(x, y, 128, 6);
        const float sky = static_cast<float>(y) / kSide;
        r = 60 + 180 * t * (1 - sky) + 40 * n2.Fractal(x, y, 64, 4);
        g = 90 + 150 * t + 30 * sky;
        b = 200 - 80 * sky + 40 * n3.Fractal(x, y, 32, 3);
      } else if (kind == 1) {  // shapes with hard edges over a gradient
        r = 40 + 0.3f * static_cast<float>(x);
        g = 80 + 0.25f * static_cast<float>(y);
        b = 120;
        for (int s = 0; s < 12; ++s) {
          const float cx = 40.0f + 37.0f * static_cast<float>((s * 7) % 12), cy = 40.0f + 41.0f * static_cast<float>((s * 5) % 11);
          const float radius = 20.0f + 3.0f * static_cast<float>(s);
          const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
          if (s % 2 == 0 ? dx * dx + dy * dy < radius * radius : std::fabs(dx) < radius && std::fabs(dy) < radius / 2) {
            r = 255.0f * static_cast<float>(s % 3) / 2.0f;
            g = 30.0f * static_cast<float>(s);
            b = 255.0f - 20.0f * static_cast<float>(s);
          }
        }
        const float shade = n1.Fractal(x, y, 32, 3);
        r *= 0.8f + 0.4f * shade;
        g *= 0.8f + 0.4f * shade;
        b *= 0.8f + 0.4f * shade;
      } else {  // bark-like detail: stretched noise plus grain
        const float t = n1.Fractal(x * 4, y, 64, 5);
        const float u = n2.Fractal(x, y, 16, 3);
        grain = grain * 1664525u + 1013904223u;
        const float noise = static_cast<float>(grain >> 24) / 255.0f - 0.5f;
        r = 110 + 100 * t + 40 * u + 16 * noise;
        g = 70 + 80 * t + 30 * u + 16 * noise;
        b = 40 + 50 * t + 20 * u + 16 * noise;
      }
      picture[static_cast<size_t>(y) * kSide + x] = Pixel(r, g, b);
    }
  }
  return picture;
}

// Four-colour DXT1 blocks decoded with 5- and 6-bit channels widened by
// repeating their top bits (the pictures here are opaque).
void DecodeReplicated(const Plane& canvas, const std::vector<uint8_t>& dxt1) {
  constexpr int32_t kBlocks = kSide / 4;
  for (int32_t b = 0; b < kBlocks * kBlocks; ++b) {
    const uint8_t* block = dxt1.data() + 8 * b;
    uint32_t colour[4][3];
    for (int e = 0; e < 2; ++e) {
      const uint32_t c = block[2 * e] | (block[2 * e + 1] << 8);
      const uint32_t r = c >> 11, g = (c >> 5) & 63, bl = c & 31;
      colour[e][0] = (r << 3) | (r >> 2);
      colour[e][1] = (g << 2) | (g >> 4);
      colour[e][2] = (bl << 3) | (bl >> 2);
    }
    for (int ch = 0; ch < 3; ++ch) {
      colour[2][ch] = (2 * colour[0][ch] + colour[1][ch]) / 3;
      colour[3][ch] = (colour[0][ch] + 2 * colour[1][ch]) / 3;
    }
    for (int k = 0; k < 16; ++k) {
      const uint32_t* c = colour[(block[4 + k / 4] >> (2 * (k % 4))) & 3];
      canvas(4 * (b % kBlocks) + k % 4, 4 * (b / kBlocks) + k / 4) = c[0] | (c[1] << 8) | (c[2] << 16);
    }
  }
}

double Psnr(const std::vector<uint32_t>& picture, const std::vector<uint8_t>& dxt1, bool replicated) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kSide) * kSide);
  const Plane plane(pixels, kSide, kSide);
  const Plane* decoded = &plane;
  if (replicated) {
    DecodeReplicated(*decoded, dxt1);
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

void BM_EncodeDxt1(benchmark::State& state) {
  const std::vector<uint32_t> picture = MakePicture(static_cast<int>(state.range(0)));
  auto canvas = std::make_unique<Canvas>();
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) (*canvas)(x, y) = picture[static_cast<size_t>(y) * kSide + x];
  }
  std::vector<uint8_t> out(static_cast<size_t>(Dxt1Bytes(kSide)));
  for (auto _ : state) {
    EncodeDxt1(*canvas, kSide, out);
    benchmark::ClobberMemory();
  }
  state.counters["psnr_db"] = Psnr(picture, out, false);
  state.counters["psnr_replicated_db"] = Psnr(picture, out, true);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void BM_StbDxt1(benchmark::State& state) {
  const std::vector<uint32_t> picture = MakePicture(static_cast<int>(state.range(0)));
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
                               reinterpret_cast<const unsigned char*>(block), 0, STB_DXT_NORMAL);
      }
    }
    benchmark::ClobberMemory();
  }
  state.counters["psnr_db"] = Psnr(picture, out, false);
  state.counters["psnr_replicated_db"] = Psnr(picture, out, true);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

// With --benchmark_repetitions, "min" is the least disturbed run: the
// machine is shared, and other work only ever adds time.
double Fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

BENCHMARK(BM_EncodeDxt1)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_StbDxt1)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest);
