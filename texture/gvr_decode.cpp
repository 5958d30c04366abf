#include "texture/gvr_decode.h"

#include <array>
#include <cstring>

#include "texture/pvr_decode.h"
#include "texture/texel_read.h"
#include "texture/xvr_decode.h"

namespace quarrendel::texture {

using detail::Be16;
using detail::Fits;
using detail::Rgba;

namespace {

bool SideFits(int32_t side) { return side > 0 && side <= Canvas::kSide; }

std::array<uint32_t, 256> PalettePixels(const Palette& palette, size_t entries) {
  std::array<uint32_t, 256> pixels{};
  for (size_t i = 0; i < entries; ++i) pixels[i] = Rgb5a3ToPixel(palette[i]);
  return pixels;
}

// Tiles of tileW x tileH texels; `texel` (n) returns the pixel of running
// texel number n or false when the data does not hold it.
template <typename Texel>
void DecodeIndexTiles(Canvas& canvas, int32_t side, int32_t tileW, int32_t tileH, Texel texel) {
  if (!SideFits(side) || side > kMaxPaletteSide) return;
  const int32_t tilesX = side / tileW;
  const int32_t tilesY = side / tileH;
  const uint64_t tileTexels = static_cast<uint64_t>(tileW) * static_cast<uint64_t>(tileH);
  for (int32_t tx = 0; tx < tilesX; ++tx) {
    for (int32_t ty = 0; ty < tilesY; ++ty) {
      const uint64_t first = (static_cast<uint64_t>(ty) * static_cast<uint64_t>(tilesX) + tx) * tileTexels;
      for (int32_t c = 0; c < tileW; ++c) {
        uint32_t* column = canvas.Column(tileW * tx + c) + tileH * ty;
        for (int32_t r = 0; r < tileH; ++r) {
          texel(first + static_cast<uint64_t>(r) * tileW + c, column[r]);
        }
      }
    }
  }
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

void DecodeRgb5a3Tiled(Canvas& canvas, std::span<const uint8_t> data, int32_t side) {
  detail::DecodeTiles16(
      canvas, data, side, 4, 4, [data](uint64_t at) { return Be16(data, at); }, Rgb5a3ToPixel);
}

void DecodeCi4Tiled(Canvas& canvas, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  const std::array<uint32_t, 256> pixels = PalettePixels(palette, 16);
  DecodeIndexTiles(canvas, side, 8, 8, [&](uint64_t n, uint32_t& out) {
    if (n / 2 >= data.size()) return;
    const uint8_t b = data[n / 2];
    out = pixels[(n & 1) ? (b & 15) : (b >> 4)];
  });
}

void DecodeCi8Tiled(Canvas& canvas, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  const std::array<uint32_t, 256> pixels = PalettePixels(palette, 256);
  DecodeIndexTiles(canvas, side, 8, 4, [&](uint64_t n, uint32_t& out) {
    if (n >= data.size()) return;
    out = pixels[data[n]];
  });
}

void DecodeCmpr(Canvas& scratch, int32_t side, std::span<const uint8_t> data) {
  if (!SideFits(side)) return;
  const int32_t whole = side - side % 8;
  scratch.Clear(whole, whole);
  const int32_t blocks = whole / 4;
  const uint64_t count = static_cast<uint64_t>(blocks) * static_cast<uint64_t>(blocks);
  for (uint64_t b = 0; b < count; ++b) {
    const uint64_t at = b * 8;
    if (!Fits(data, at, 8)) break;
    const auto bx = static_cast<int32_t>(b % static_cast<uint64_t>(blocks));
    const auto by = static_cast<int32_t>(b / static_cast<uint64_t>(blocks));
    const std::array<uint32_t, 4> colour = BlockColours(Be16(data, at), Be16(data, at + 2), false);
    for (int32_t c = 0; c < 4; ++c) {
      uint32_t* column = scratch.Column(4 * bx + c) + 4 * by;
      for (int32_t r = 0; r < 4; ++r) {
        column[r] = colour[(data[at + 4 + static_cast<uint64_t>(r)] >> (6 - 2 * c)) & 3];
      }
    }
  }
}

void ReorderCmprTiles(Canvas& canvas, const Canvas& scratch, int32_t side) {
  if (!SideFits(side)) return;
  const int32_t whole = side - side % 8;
  const int32_t strips = whole / 8;  // strips per row: one per tile column
  for (int32_t i = 0; i < whole / 4; ++i) {
    for (int32_t c = 0; c < strips; ++c) {
      const int32_t d = 2 * c + (i & 1) + (i / 2) * (whole / 4);
      const int32_t f = d / strips;
      const int32_t g = d % strips;
      for (int32_t k = 0; k < 8; ++k) {
        std::memcpy(canvas.Column(8 * c + k) + 4 * i, scratch.Column(8 * g + k) + 4 * f, 4 * sizeof(uint32_t));
      }
    }
  }
}

}  // namespace quarrendel::texture
