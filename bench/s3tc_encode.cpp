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
std::vector<uint32_t> MakeGenerated(int kind) {
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

float Smoothstep(float e0, float e1, float x) {
  const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

float Mix(float a, float b, float t) { return a + (b - a) * t; }

struct Rgb {
  float r, g, b;
};

Rgb Mix(Rgb a, Rgb b, float t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }

// A photo-like landscape: sky from deep blue to a pale horizon with soft
// clouds, mountains whose ridge is a hard edge, a lake with ripples, and
// foliage of fine noise in the foreground.
std::vector<uint32_t> MakeLandscape() {
  std::vector<uint32_t> picture(static_cast<size_t>(kSide) * kSide);
  const ValueNoise clouds(101), ridge(103), rock(107), leaves(109), water(113);
  uint32_t grain = 12345u;
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const float fx = static_cast<float>(x), fy = static_cast<float>(y);
      const float ridgeY = 190.0f + 70.0f * ridge.Fractal(x, 0, 96, 5) - 40.0f * std::sin(fx / 90.0f);
      const float shoreY = 330.0f + 6.0f * std::sin(fx / 23.0f);
      const float treeY = 400.0f + 30.0f * leaves.Fractal(x, 0, 24, 3);
      grain = grain * 1664525u + 1013904223u;
      const float noise = static_cast<float>(grain >> 24) / 255.0f - 0.5f;
      Rgb c;
      if (fy < ridgeY) {
        const float t = fy / 260.0f;
        c = Mix(Rgb{40, 90, 190}, Rgb{200, 220, 240}, t);
        const float cloud = Smoothstep(0.45f, 0.7f, clouds.Fractal(x * 2, y * 3, 128, 5));
        c = Mix(c, Rgb{250, 250, 252}, cloud * 0.9f);
      } else if (fy < shoreY) {
        const float shade = rock.Fractal(x, y, 16, 4);
        const float snow = Smoothstep(0.0f, 8.0f, ridgeY + 30.0f - fy) * Smoothstep(0.5f, 0.6f, shade);
        c = Mix(Rgb{70 + 60 * shade, 80 + 55 * shade, 100 + 50 * shade}, Rgb{235, 238, 245}, snow);
        c = Mix(c, Rgb{60, 110, 60}, Smoothstep(shoreY - 50.0f, shoreY, fy) * 0.7f);
      } else if (fy < treeY) {
        const float ripple = 0.5f + 0.5f * std::sin(fy * 0.9f + 3.0f * water.Fractal(x, y, 32, 3));
        c = Mix(Rgb{30, 70, 120}, Rgb{120, 160, 200}, 0.3f + 0.4f * ripple);
      } else {
        const float leaf = leaves.Fractal(x, y, 8, 4);
        const float light = leaves.Fractal(x + 500, y, 48, 2);
        c = Rgb{20 + 90 * leaf * light, 50 + 150 * leaf, 15 + 40 * leaf};
        if (std::fmod(fx + 7.0f * light, 61.0f) < 4.0f) c = Rgb{60, 40, 25};  // trunks
      }
      picture[static_cast<size_t>(y) * kSide + x] = Pixel(c.r + 6 * noise, c.g + 6 * noise, c.b + 6 * noise);
    }
  }
  return picture;
}

// A portrait-like picture: a blurred background, a face shaded from one
// side with fine skin texture and flushed cheeks, eyes and lips with soft
// edges, hair of fine strands, a shirt of woven fabric.
std::vector<uint32_t> MakePortrait() {
  std::vector<uint32_t> picture(static_cast<size_t>(kSide) * kSide);
  const ValueNoise blur(201), skin(203), strands(207), weave(211);
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const float fx = static_cast<float>(x), fy = static_cast<float>(y);
      Rgb c = Mix(Rgb{90, 100, 95}, Rgb{170, 150, 120}, blur.Fractal(x, y, 160, 3));
      // Shirt below the neck.
      const float shirt = Smoothstep(430.0f, 434.0f, fy + 0.002f * (fx - 256) * (fx - 256));
      const float thread = 0.5f + 0.25f * std::sin(fx * 1.7f) + 0.25f * std::sin(fy * 1.7f);
      c = Mix(c, Rgb{40 + 30 * thread, 60 + 30 * thread, 120 + 40 * thread + 20 * weave.At(fx / 3, fy / 3)}, shirt);
      // Face: an ellipse lit from the upper left.
      const float dx = (fx - 256) / 130.0f, dy = (fy - 250) / 170.0f;
      const float r2 = dx * dx + dy * dy;
      const float face = Smoothstep(1.0f, 0.97f, r2);
      const float relief = 0.2f * std::sqrt(std::max(0.0f, 1 - r2));
      const float light = std::clamp(0.75f - 0.35f * dx - 0.25f * dy + relief, 0.0f, 1.0f);
      const float pores = skin.Fractal(x, y, 3, 2) - 0.5f;
      Rgb tone{170 + 75 * light + 10 * pores, 110 + 70 * light + 8 * pores, 85 + 60 * light + 8 * pores};
      for (float side : {-1.0f, 1.0f}) {
        const float cx = (fx - 256 - 70 * side) / 40.0f, cy = (fy - 300) / 30.0f;
        tone = Mix(tone, Rgb{230, 120, 110}, 0.35f * std::exp(-(cx * cx + cy * cy)));
        const float ex = (fx - 256 - 55 * side) / 26.0f, ey = (fy - 220) / 12.0f;
        const float eye = Smoothstep(1.0f, 0.85f, ex * ex + ey * ey);
        const float ix = (fx - 256 - 55 * side) / 10.0f, iy = (fy - 220) / 10.0f;
        const float iris = Smoothstep(1.0f, 0.8f, ix * ix + iy * iy);
        tone = Mix(tone, Mix(Rgb{240, 235, 230}, Rgb{60, 80, 50}, iris), eye);
      }
      const float lx = (fx - 256) / 45.0f, ly = (fy - 355) / 14.0f;
      tone = Mix(tone, Rgb{180, 60, 70}, Smoothstep(1.0f, 0.8f, lx * lx + ly * ly));
      c = Mix(c, tone, face);
      // Hair: a larger ellipse above the face, made of wavy strands.
      const float hx = (fx - 256) / 160.0f, hy = (fy - 215) / 185.0f;
      const float hair =
          Smoothstep(1.0f, 0.97f, hx * hx + hy * hy) * Smoothstep(0.0f, 6.0f, 150.0f - fy + 40.0f * std::fabs(hx));
      const float strand = 0.5f + 0.5f * std::sin(fx * 0.8f + 12.0f * strands.Fractal(x, y, 64, 3));
      c = Mix(c, Rgb{50 + 60 * strand, 30 + 40 * strand, 20 + 20 * strand}, hair);
      picture[static_cast<size_t>(y) * kSide + x] = Pixel(c.r, c.g, c.b);
    }
  }
  return picture;
}

// An icon: flat colours with anti-aliased edges (4 x 4 samples per pixel), a
// soft shadow and one gradient-filled shape.
std::vector<uint32_t> MakeIcon() {
  std::vector<uint32_t> picture(static_cast<size_t>(kSide) * kSide);
  const auto roundedSquare = [](float x, float y) {
    const float qx = std::max(std::fabs(x - 256) - 150.0f, 0.0f), qy = std::max(std::fabs(y - 256) - 150.0f, 0.0f);
    return qx * qx + qy * qy < 60.0f * 60.0f;
  };
  const auto circle = [](float x, float y, float cx, float cy, float radius) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius;
  };
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      Rgb sum{0, 0, 0};
      for (int s = 0; s < 16; ++s) {
        const float px = static_cast<float>(x) + (static_cast<float>(s % 4) + 0.5f) / 4;
        const float py = static_cast<float>(y) + (static_cast<float>(s / 4) + 0.5f) / 4;
        Rgb c{242, 242, 245};
        // Shadow: the rounded square moved down, blurred by distance.
        const float shadowQx = std::max(std::fabs(px - 262) - 150.0f, 0.0f);
        const float shadowQy = std::max(std::fabs(py - 270) - 150.0f, 0.0f);
        const float shadow = Smoothstep(80.0f, 50.0f, std::sqrt(shadowQx * shadowQx + shadowQy * shadowQy));
        c = Mix(c, Rgb{120, 120, 130}, 0.5f * shadow);
        if (roundedSquare(px, py)) c = Mix(Rgb{30, 110, 240}, Rgb{90, 40, 200}, (px + py - 100) / 330.0f);
        if (circle(px, py, 256, 230, 110)) c = Rgb{255, 255, 255};
        if (circle(px, py, 256, 230, 70) && !circle(px, py, 256, 230, 45)) c = Rgb{250, 150, 30};
        if (std::fabs(px - 256) < 18 && py > 310 && py < 400) c = Rgb{255, 255, 255};
        if (circle(px, py, 360, 360, 40)) c = Rgb{220, 40, 60};
        if (circle(px, py, 360, 360, 12)) c = Rgb{255, 255, 255};
        sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
      }
      picture[static_cast<size_t>(y) * kSide + x] = Pixel(sum.r / 16 + 0.5f, sum.g / 16 + 0.5f, sum.b / 16 + 0.5f);
    }
  }
  return picture;
}

std::vector<uint32_t> MakePicture(int kind) {
  switch (kind) {
    case 3: return MakeLandscape();
    case 4: return MakePortrait();
    case 5: return MakeIcon();
    default: return MakeGenerated(kind);
  }
}

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
  Report(state, picture, out);
}

// The fitted encoder, from the row-major picture.
void BM_FitDxt1(benchmark::State& state) {
  const std::vector<uint32_t> picture = MakePicture(static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(static_cast<size_t>(FitBytes(FitLayout::Dxt1, kSide, kSide)));
  for (auto _ : state) {
    FitS3tc(FitLayout::Dxt1, picture, kSide, kSide, out);
    benchmark::ClobberMemory();
  }
  Report(state, picture, out);
}

void StbDxt1(benchmark::State& state, int mode) {
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
