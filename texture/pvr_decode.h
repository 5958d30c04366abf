// PVR texture layouts (Dreamcast and PC ports). Most layouts decode in two
// passes: a layout decoder places raw 16-bit texels (zero-extended) in the
// plane, then ConvertTexels turns them into pixels by the pixel format code.
// The tiled "4x4 Title BB" forms write final pixels directly.
//
// Twiddled order: texel (x, y) of a power-of-two square sits at position
// interleave(y, x), y taking the even bits and x the odd ones. Xbox swizzled
// order is the same with x and y exchanged. A VQ texture stores one index
// byte per 2 x 2 block in twiddled order, and each codebook entry holds the
// block's texels (0,0), (0,1), (1,0), (1,1).
//
// Every routine writes the row-major plane it is given (texture/rgba_image.h),
// treats the texture as an H x H square at its origin, writes only pixels with
// x < H and y < H, reads nothing outside `data`, and leaves pixels whose
// texture data is missing as they were (the caller clears them first). A
// square that does not fit the plane decodes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/image_store.h"
#include "texture/palette.h"
#include "texture/rgba_image.h"

namespace quarrendel::texture {

// Twiddle table: entry i is i with bit k moved to bit 2k (i < 2048).
inline constexpr int32_t kTwiddleTableSize = 2048;
const std::array<uint32_t, kTwiddleTableSize>& TwiddleTable();

// Palette decoders index by the table with texel coordinates: sides above
// this are not decoded.
inline constexpr int32_t kMaxPaletteSide = 1024;
// Codebook buffer of the VQ decoders: 256 entries of four words.
inline constexpr int64_t kVqCodebookBytes = 2048;

// One raw texel word as a pixel: red bits 0-7, green 8-15, blue 16-23, alpha
// 24-31. Codes 0 (ARGB1555), 1 (RGB565), 2 (ARGB4444) and 4 (bump: high byte
// as grey) convert with the low bits zero-filled; codes 3 and 5-7 return the
// word unchanged (alpha 0).
uint32_t ConvertTexel(uint16_t texel, uint8_t pixelFormatCode);
// A pixel packed as ARGB1555 for code 0, ARGB4444 for every other code.
uint16_t PackTexel(uint32_t pixel, uint8_t pixelFormatCode);

// Decode direction: walks the side x side square at (x, y) in twiddled order,
// setting each pixel to the next little-endian word at
// data[cursor]; the cursor advances 2 bytes per texel walked. A side that is
// not a power of two is walked as the recursive walk does it, halving with
// truncation (covering part of the square); side 0 transfers nothing.
void TransferTwiddled16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t x, int32_t y,
                        int32_t side);
// Encode direction: the same walk, storing each canvas pixel packed by
// PackTexel at data[cursor] (low byte first). Words beyond the end of `data`
// are not written; the cursor still advances.
void TransferTwiddled16(const Canvas& canvas, std::span<uint8_t> data, int32_t& cursor, int32_t x, int32_t y,
                        int32_t side, uint8_t pixelFormatCode);

// Marks a pixel that no texel was written to. The caller of a
// two-pass decode fills the square with it first (FillNoTexel), so that
// texels the data does not hold end up cleared rather than converted from 0
// (which is opaque black in RGB565).
inline constexpr uint32_t kNoTexel = 0xFFFF0000u;
inline void FillNoTexel(const Plane& plane, int32_t width, int32_t height) { plane.Fill(width, height, kNoTexel); }

// Converts the raw texels of the side x side square (or the width x height
// rectangle) in place; kNoTexel (any element above 0xFFFF) becomes 0. Codes 3
// and 5-7 leave raw texels as they are.
void ConvertTexels(const Plane& plane, int32_t width, int32_t height, uint8_t pixelFormatCode);
inline void ConvertTexels(const Plane& plane, int32_t side, uint8_t pixelFormatCode) {
  ConvertTexels(plane, side, side, pixelFormatCode);
}

// side x side little-endian words in raster order from data[cursor].
void DecodeRectangle16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t side);
// width x height words in raster order (rows of `width` texels) from data[cursor].
void DecodeRaster16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t width, int32_t height);

// 256-entry codebook (2048 bytes) at data[cursor], the cursor advanced past
// it; the index bytes start indexSkip bytes after the codebook (the indices
// of the smaller mipmap levels).
void DecodeVq(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t side, int64_t indexSkip);

// Codebook bytes of a small-VQ texture: (H/2)^2 raised to 128 without
// mipmaps; 2 (H/2)^2 raised to 128 with them (16 entries for every side up to
// 16, 64 entries at 32, 256 at 64).
int64_t SmallVqCodebookBytes(int32_t side, bool mipmapped);
// Codebook at the start of `data`, indices after it and indexSkip bytes on;
// indexSkip != 0 marks a mipmapped texture. Codebooks over 2048 bytes (sides
// of 128 and more) are not decoded.
void DecodeSmallVq(const Plane& plane, std::span<const uint8_t> data, int32_t side, int64_t indexSkip);

// Palette decoders; the palette holds raw texel words (converted afterwards).
// 4-bit: texel at twiddled position t is the low nibble of byte t/2 when t is
// even, the high nibble when odd.
void DecodeClut4Twiddled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette);
void DecodeClut8Twiddled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette);
void DecodeClut8Swizzled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette);

// H/4 x H/4 tiles of 4 x 4 little-endian words, tiles and texels in raster
// order; final pixels as RGB565 / ARGB1555.
void DecodeTiled565(const Plane& plane, std::span<const uint8_t> data, int32_t side);
void DecodeTiled1555(const Plane& plane, std::span<const uint8_t> data, int32_t side);

namespace detail {
// Tiles of tileW x tileH texels, tiles and the texels inside them in raster
// order; `texel` (n, pixel) sets the pixel of running texel number n when
// the data holds it. Whole tiles only.
template <typename Texel>
void DecodeTiles(const Plane& plane, int32_t side, int32_t tileW, int32_t tileH, Texel texel) {
  if (!plane.Holds(side, side)) return;
  const int32_t tilesX = side / tileW;
  const uint64_t tileTexels = static_cast<uint64_t>(tileW) * static_cast<uint64_t>(tileH);
  for (int32_t ty = 0; ty < side / tileH; ++ty) {
    for (int32_t tx = 0; tx < tilesX; ++tx) {
      const uint64_t first = (static_cast<uint64_t>(ty) * static_cast<uint64_t>(tilesX) + tx) * tileTexels;
      for (int32_t r = 0; r < tileH; ++r) {
        uint32_t* row = plane.Row(tileH * ty + r) + tileW * tx;
        for (int32_t c = 0; c < tileW; ++c) texel(first + static_cast<uint64_t>(r) * tileW + c, row[c]);
      }
    }
  }
}

// 16-bit texels: texel n is the word at byte 2n, read by `word` and stored as `convert` (word).
template <typename Word, typename Convert>
void DecodeTiles16(const Plane& plane, std::span<const uint8_t> data, int32_t side, int32_t tileW, int32_t tileH,
                   Word word, Convert convert) {
  DecodeTiles(plane, side, tileW, tileH, [&](uint64_t n, uint32_t& out) {
    if (2 * n + 2 <= data.size()) out = convert(word(2 * n));
  });
}
}  // namespace detail

}  // namespace quarrendel::texture
