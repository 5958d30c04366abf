#include "texture/gvr_decode.h"

#include <array>

#include "texture/pvr_decode.h"
#include "texture/texel_read.h"
#include "texture/xvr_decode.h"

namespace quarrendel::texture {

using detail::Be16;
using detail::Fits;
using detail::Rgba;

namespace {

std::array<uint32_t, 256> PalettePixels(const Palette& palette, size_t entries) {
  std::array<uint32_t, 256> pixels{};
  for (size_t i = 0; i < entries; ++i) pixels[i] = Rgb5a3ToPixel(palette[i]);
  return pixels;
}

}  // namespace

uint32_t Rgb5a3ToPixel(uint16_t word) {
  const uint32_t v = word;
  const uint32_t opaque = Rgba(((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3, 255);
  const uint32_t translucent = Rgba(((v >> 8) & 15) << 4, ((v >> 4) & 15) << 4, (v & 15) << 4, ((v >> 12) & 7) << 5);
  // Both forms are computed and one is kept: bit 15 is noise to a branch predictor.
  const uint32_t keepOpaque = 0u - (v >> 15);
  return (opaque & keepOpaque) | (translucent & ~keepOpaque);
}

void DecodeRgb5a3Tiled(const Plane& plane, std::span<const uint8_t> data, int32_t side) {
  detail::DecodeTiles16(
      plane, data, side, 4, 4, [data](uint64_t at) { return Be16(data, at); }, Rgb5a3ToPixel);
}

void DecodeCi4Tiled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  if (side > kMaxPaletteSide) return;
  const std::array<uint32_t, 256> pixels = PalettePixels(palette, 16);
  detail::DecodeTiles(plane, side, 8, 8, [&](uint64_t n, uint32_t& out) {
    if (n / 2 >= data.size()) return;
    const uint8_t b = data[n / 2];
    out = pixels[(n & 1) ? (b & 15) : (b >> 4)];
  });
}

void DecodeCi8Tiled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  if (side > kMaxPaletteSide) return;
  const std::array<uint32_t, 256> pixels = PalettePixels(palette, 256);
  detail::DecodeTiles(plane, side, 8, 4, [&](uint64_t n, uint32_t& out) {
    if (n >= data.size()) return;
    out = pixels[data[n]];
  });
}

void DecodeCmpr(const Plane& plane, int32_t side, std::span<const uint8_t> data) {
  if (!plane.Holds(side, side)) return;
  const int32_t tilesX = side / 8;
  const uint64_t count = static_cast<uint64_t>(tilesX) * static_cast<uint64_t>(tilesX) * 4;
  for (uint64_t b = 0; b < count && Fits(data, b * 8, 8); ++b) {
    const uint64_t at = b * 8;
    const auto tile = static_cast<int32_t>(b / 4);
    const auto block = static_cast<int32_t>(b % 4);
    const int32_t x = 8 * (tile % tilesX) + 4 * (block % 2);
    const int32_t y = 8 * (tile / tilesX) + 4 * (block / 2);
    const std::array<uint32_t, 4> colour = BlockColours(Be16(data, at), Be16(data, at + 2), false);
    for (int32_t r = 0; r < 4; ++r) {
      uint32_t* row = plane.Row(y + r) + x;
      const uint8_t bits = data[at + 4 + static_cast<uint64_t>(r)];
      for (int32_t c = 0; c < 4; ++c) row[c] = colour[(bits >> (6 - 2 * c)) & 3];
    }
  }
}

}  // namespace quarrendel::texture
