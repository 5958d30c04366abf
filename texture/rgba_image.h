// Pictures handed to and made by the encoders' building blocks (quantisers,
// mipmap filter): row-major, pixel (x, y) at index y * width + x, each pixel
// red in bits 0-7, green 8-15, blue 16-23, alpha 24-31 (the canvas's pixel
// layout, not its column order).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quarrendel::texture {

// A picture someone else owns; pixels.size() is width * height.
struct RgbaView {
  std::span<const uint32_t> pixels;
  int32_t width = 0;
  int32_t height = 0;
};

struct RgbaImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;

  RgbaView View() const { return RgbaView{pixels, width, height}; }
};

}  // namespace quarrendel::texture
