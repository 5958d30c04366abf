// Pictures as the decoders make them and the encoders' building blocks
// (quantisers, mipmap filter) take them: row-major, pixel (x, y) at index
// y * width + x, each pixel red in bits 0-7, green 8-15, blue 16-23, alpha
// 24-31 (the canvas's pixel layout, not its column order).
#pragma once

#include <algorithm>
#include <cstddef>
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

// A width x height part of a row-major picture whose rows lie `stride`
// pixels apart, pixel (0, 0) at `first`.
struct RgbaRect {
  const uint32_t* first = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;

  uint32_t operator()(int32_t x, int32_t y) const { return Row(y)[x]; }
  const uint32_t* Row(int32_t y) const { return first + static_cast<ptrdiff_t>(y) * stride; }
};

struct RgbaImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;

  RgbaView View() const { return RgbaView{pixels, width, height}; }
  RgbaRect Rect() const { return RgbaRect{pixels.data(), width, height, width}; }
};

// The row-major pixels a decoder writes: a view of width x height pixels
// someone else owns. Decoders write only inside it.
class Plane {
 public:
  Plane(std::span<uint32_t> pixels, int32_t width, int32_t height) : pixels_(pixels), width_(width), height_(height) {}
  explicit Plane(RgbaImage& image) : Plane(image.pixels, image.width, image.height) {}

  uint32_t& operator()(int32_t x, int32_t y) const { return Row(y)[x]; }
  uint32_t* Row(int32_t y) const { return pixels_.data() + static_cast<ptrdiff_t>(y) * width_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // The width x height rectangle at the origin has pixels and lies inside.
  bool Holds(int32_t width, int32_t height) const {
    return width > 0 && height > 0 && width <= width_ && height <= height_;
  }
  // Sets the width x height rectangle at the origin (cut to the plane) to `value`.
  void Fill(int32_t width, int32_t height, uint32_t value) const {
    width = std::clamp(width, 0, width_);
    for (int32_t y = 0; y < std::clamp(height, 0, height_); ++y) std::fill_n(Row(y), width, value);
  }

 private:
  std::span<uint32_t> pixels_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace quarrendel::texture
