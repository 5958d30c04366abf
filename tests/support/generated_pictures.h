// Generated 512 x 512 pictures for the encoders' benchmarks and tests,
// row-major (index y * kGeneratedSide + x), opaque: 0 fractal cloud colours,
// 1 hard-edged shapes over a gradient, 2 fine-grained detail with noise (bark
// with grain), 3 a landscape (sky gradient, clouds, mountains with a hard
// ridge, foliage), 4 a portrait (skin-tone shading, hair strands, fabric
// weave), 5 an icon (flat colours, anti-aliased edges, one gradient, a soft
// shadow). The same kind always gives the same pixels.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quarrendel::test {

inline constexpr int32_t kGeneratedSide = 512;
inline constexpr int kGeneratedKinds = 6;

namespace generated_detail {

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

inline uint32_t Pixel(float r, float g, float b) {
  auto channel = [](float v) { return static_cast<uint32_t>(std::clamp(v, 0.0f, 255.0f)); };
  return channel(r) | (channel(g) << 8) | (channel(b) << 16) | 0xFF000000u;
}

inline std::vector<uint32_t> MakeGenerated(int kind) {
  std::vector<uint32_t> picture(static_cast<size_t>(kGeneratedSide) * kGeneratedSide);
  const ValueNoise n1(11 + kind), n2(23 + kind), n3(37 + kind);
  uint32_t grain = 0x9E3779B9u;
  for (int32_t y = 0; y < kGeneratedSide; ++y) {
    for (int32_t x = 0; x < kGeneratedSide; ++x) {
      float r = 0, g = 0, b = 0;
      if (kind == 0) {  // clouds over sky, hills below
        const float t = n1.Fractal(x, y, 128, 6);
        const float sky = static_cast<float>(y) / kGeneratedSide;
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
      picture[static_cast<size_t>(y) * kGeneratedSide + x] = Pixel(r, g, b);
    }
  }
  return picture;
}

inline float Smoothstep(float e0, float e1, float x) {
  const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

inline float Mix(float a, float b, float t) { return a + (b - a) * t; }

struct Rgb {
  float r, g, b;
};

inline Rgb Mix(Rgb a, Rgb b, float t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }

// A photo-like landscape: sky from deep blue to a pale horizon with soft
// clouds, mountains whose ridge is a hard edge, a lake with ripples, and
// foliage of fine noise in the foreground.
inline std::vector<uint32_t> MakeLandscape() {
  std::vector<uint32_t> picture(static_cast<size_t>(kGeneratedSide) * kGeneratedSide);
  const ValueNoise clouds(101), ridge(103), rock(107), leaves(109), water(113);
  uint32_t grain = 12345u;
  for (int32_t y = 0; y < kGeneratedSide; ++y) {
    for (int32_t x = 0; x < kGeneratedSide; ++x) {
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
      picture[static_cast<size_t>(y) * kGeneratedSide + x] = Pixel(c.r + 6 * noise, c.g + 6 * noise, c.b + 6 * noise);
    }
  }
  return picture;
}

// A portrait-like picture: a blurred background, a face shaded from one
// side with fine skin texture and flushed cheeks, eyes and lips with soft
// edges, hair of fine strands, a shirt of woven fabric.
inline std::vector<uint32_t> MakePortrait() {
  std::vector<uint32_t> picture(static_cast<size_t>(kGeneratedSide) * kGeneratedSide);
  const ValueNoise blur(201), skin(203), strands(207), weave(211);
  for (int32_t y = 0; y < kGeneratedSide; ++y) {
    for (int32_t x = 0; x < kGeneratedSide; ++x) {
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
      picture[static_cast<size_t>(y) * kGeneratedSide + x] = Pixel(c.r, c.g, c.b);
    }
  }
  return picture;
}

// An icon: flat colours with anti-aliased edges (4 x 4 samples per pixel), a
// soft shadow and one gradient-filled shape.
inline std::vector<uint32_t> MakeIcon() {
  std::vector<uint32_t> picture(static_cast<size_t>(kGeneratedSide) * kGeneratedSide);
  const auto roundedSquare = [](float x, float y) {
    const float qx = std::max(std::fabs(x - 256) - 150.0f, 0.0f), qy = std::max(std::fabs(y - 256) - 150.0f, 0.0f);
    return qx * qx + qy * qy < 60.0f * 60.0f;
  };
  const auto circle = [](float x, float y, float cx, float cy, float radius) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius;
  };
  for (int32_t y = 0; y < kGeneratedSide; ++y) {
    for (int32_t x = 0; x < kGeneratedSide; ++x) {
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
      picture[static_cast<size_t>(y) * kGeneratedSide + x] = Pixel(sum.r / 16 + 0.5f, sum.g / 16 + 0.5f, sum.b / 16 + 0.5f);
    }
  }
  return picture;
}

}  // namespace generated_detail

inline std::vector<uint32_t> GeneratedPicture(int kind) {
  using namespace generated_detail;
  switch (kind) {
    case 3: return MakeLandscape();
    case 4: return MakePortrait();
    case 5: return MakeIcon();
    default: return MakeGenerated(kind);
  }
}

// The icon (kind 5) inside a disc of alpha with a graded rim, the colour
// kept where it is transparent, as decoded textures keep it.
inline std::vector<uint32_t> IconInAlphaDisc() {
  std::vector<uint32_t> pixels = GeneratedPicture(5);
  for (int32_t y = 0; y < kGeneratedSide; ++y) {
    for (int32_t x = 0; x < kGeneratedSide; ++x) {
      const double d = std::hypot(x - 256.0, y - 256.0);
      const auto alpha = static_cast<uint32_t>(std::clamp((236.0 - d) * 16.0, 0.0, 255.0));
      uint32_t& p = pixels[static_cast<size_t>(y) * kGeneratedSide + static_cast<size_t>(x)];
      p = (p & 0xFFFFFF) | alpha << 24;
    }
  }
  return pixels;
}

}  // namespace quarrendel::test
