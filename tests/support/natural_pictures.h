// Generated natural-looking pictures for the encoders' benchmarks and
// tests: 0 a meadow under a sky, 1 a stone wall, 2 a face-like study of soft
// shading under fine hair; all opaque, with sensor noise of about three
// levels per channel. The same sides always give the same pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quarrendel::test {

namespace natural_detail {

// A hash of a lattice point, 0..1.
inline float Hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  h ^= h >> 15;
  return static_cast<float>(h & 0xFFFFFF) / 16777215.0f;
}

// Bilinear value noise with a cosine ease, summed over octaves.
inline float Noise(float x, float y, uint32_t seed) {
  const float fx = std::floor(x), fy = std::floor(y);
  const auto ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  const float tx = 0.5f - 0.5f * std::cos((x - fx) * 3.14159265f), ty = 0.5f - 0.5f * std::cos((y - fy) * 3.14159265f);
  const float top = Hash(ix, iy, seed) * (1 - tx) + Hash(ix + 1, iy, seed) * tx;
  const float bottom = Hash(ix, iy + 1, seed) * (1 - tx) + Hash(ix + 1, iy + 1, seed) * tx;
  return top * (1 - ty) + bottom * ty;
}

inline float Octaves(float x, float y, uint32_t seed, int32_t count) {
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

inline uint32_t Rgb(float r, float g, float b) {
  const auto c = [](float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 255.0f))); };
  return c(r) | (c(g) << 8) | (c(b) << 16) | 0xFF000000u;
}

}  // namespace natural_detail

// Row-major, width x height; features scale with the sides.
inline std::vector<uint32_t> NaturalPicture(int32_t kind, int32_t width, int32_t height) {
  using namespace natural_detail;
  std::vector<uint32_t> out(static_cast<size_t>(width) * static_cast<size_t>(height));
  const float sx = static_cast<float>(width), sy = static_cast<float>(height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const float u = static_cast<float>(x) / sx, v = static_cast<float>(y) / sy;
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
      out[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = Rgb(r, g, b);
    }
  }
  return out;
}


}  // namespace quarrendel::test
