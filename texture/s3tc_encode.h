// DXT1 and DXT3 block encoder for Xbox textures and DDS files. Per 4 x 4
// block: the two pixels furthest apart along the principal axis of the
// block's colours become the end points, every pixel takes the nearest of the
// palette colours, one least-squares refit moves the end points, and a second
// pass picks the final indices. A DXT1 block that holds a pixel with alpha
// below 0x80 is written in three-colour mode (c0 <= c1) with index 3, the
// transparent one, on those pixels. DXT3 stores 4-bit alpha per pixel and
// always four colours.
//
// Blocks are written in raster order as the decoders read them; pixel k of a
// block is row k / 4, column k % 4. The arithmetic is fixed to the bit: the
// principal axis is found in single precision and every rounding to an
// integer is to nearest with ties to even, so the output does not depend on
// the compiler or the machine (the source is built without contraction of
// multiply-adds).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/image_store.h"
#include "texture/rgba_image.h"

namespace quarrendel::texture {

// One colour with 8-bit channels.
struct Colour {
  int32_t r = 0;
  int32_t g = 0;
  int32_t b = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};

// The 16 pixels of a block, k = 4 * row + column, in the canvas layout (red
// bits 0-7, green 8-15, blue 16-23, alpha 24-31).
using PixelBlock = std::array<uint32_t, 16>;

// (red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3).
uint16_t PackRgb565(int32_t r, int32_t g, int32_t b);
inline uint16_t PackRgb565(Colour c) { return PackRgb565(c.r, c.g, c.b); }

// Squared Euclidean distance over red, green and blue.
int32_t ColourDistance(Colour a, Colour b);

// Index 0..n-1 of the table colour nearest to `pixel`, the lower index on a
// tie; n is 3 or 4.
int32_t NearestColour(Colour pixel, const std::array<Colour, 4>& table, int32_t n);

// The block's pixels with the largest (high) and smallest (low) projection
// on the principal axis of its colours; ties keep the earlier pixel.
struct EndPoints {
  Colour high;
  Colour low;
};
EndPoints PrincipalEndpoints(const PixelBlock& block);

// Least-squares end points for the 2-bit indices in `mask` (pixel k in bits
// 2k+1..2k), as RGB565 words. When all 16 indices are equal the system has no
// solution and c0, c1 are left as they are.
void RefineEndpoints(const PixelBlock& block, uint32_t mask, uint16_t& c0, uint16_t& c1);

// One block: 8 bytes of DXT1, 16 bytes of DXT3.
void EncodeDxt1Block(const PixelBlock& block, std::span<uint8_t, 8> out);
void EncodeDxt3Block(const PixelBlock& block, std::span<uint8_t, 16> out);

// Bytes of the (side/4)^2 blocks of a side x side picture.
int64_t Dxt1Bytes(int32_t side);
int64_t Dxt3Bytes(int32_t side);

// Encode the side x side square at the canvas origin into `out`, block
// (bx, by) at (by * side/4 + bx) * 8 (DXT1) or * 16 (DXT3); whole blocks only,
// so sides 1 to 3 write nothing. Throws Error(Usage), writing nothing, for a
// side outside 0..2049 or an output shorter than Dxt1Bytes / Dxt3Bytes.
void EncodeDxt1(const Canvas& canvas, int32_t side, std::span<uint8_t> out);
void EncodeDxt3(const Canvas& canvas, int32_t side, std::span<uint8_t> out);
// The same for a row-major square picture (Error(Usage) when it is not square).
void EncodeDxt1(const RgbaView& square, std::span<uint8_t> out);
void EncodeDxt3(const RgbaView& square, std::span<uint8_t> out);

namespace detail {
// x rounded to the nearest integer, ties to even; |x| below 2^22.
int32_t RoundHalfEven(float x);
// The encoder's index pass over all 16 pixels at once: the nearest of table
// colours 0..3 per pixel (lower index on a tie); with `transparency` only
// colours 0..2, and index 3 for the pixels with alpha below 0x80. Pixel k
// lands in bits 2k+1..2k.
uint32_t IndexMask(const PixelBlock& block, const std::array<Colour, 4>& table, bool transparency);
}  // namespace detail

}  // namespace quarrendel::texture
