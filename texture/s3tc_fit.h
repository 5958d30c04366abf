// S3TC blocks fitted for the decoder that GPUs, DDS viewers and full-range
// PNG output use: 5- and 6-bit end points widened by repeating their top
// bits (5-bit c -> c << 3 | c >> 2, 6-bit c -> c << 2 | c >> 4), the middle
// colours taken from the widened values with truncating division: four-colour
// blocks (c0 > c1) colour 2 = (2 c0 + c1) / 3 and colour 3 = (c0 + 2 c1) / 3,
// three-colour blocks (c0 <= c1) colour 2 = (c0 + c1) / 2 and colour 3
// transparent black. The measure is a block's summed squared RGB error under
// that decoding. Per block: end points at the extremes of the colours'
// principal axis, each pixel the nearest decoded colour; then, unless the
// fit is already close, up to two rounds of least squares from the indices,
// for each channel the best pair of codes around the solution with the
// indices kept, and new indices. A block of one colour takes the codes whose
// decoded colour is nearest to it (tables over every pair of codes); a block
// of little variation takes its mean colour so, and any block does when that
// is better than the fit.
//
// DXT1: a block with a pixel whose alpha is below 128 is a three-colour block
// with index 3 on those pixels; an opaque block that four colours fit with a
// mean squared error above 16 per pixel is a three-colour block when that
// fits it better. DXT3: alpha rounded to the nearest
// 4-bit value (decoded n * 17), colours in four-colour blocks. CMPR (GameCube)
// takes the DXT1 blocks (its index 3 of a three-colour block is transparent
// too) in 8 x 8 tiles with big-endian colours.
//
// EncodeDxt1 / EncodeDxt3 (s3tc_encode.h) keep the bytes that Export, Import
// and Add are fixed to; this encoder is for output no such rule fixes. Its
// output is the same on every machine: errors are computed exactly (integers
// in single precision), and the arithmetic that rounds (the axis, the least
// squares) is IEEE single precision in a fixed order without contracted
// multiply-adds.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "texture/s3tc_encode.h"

namespace quarrendel::texture {

enum class FitLayout {
  Dxt1,  // 8-byte blocks in raster order; width and height multiples of 4
  Dxt3,  // 16-byte blocks in raster order; width and height multiples of 4
  Cmpr,  // 8-byte blocks in 8 x 8 tiles; width and height multiples of 8
};

// Bytes of a width x height picture's blocks in `layout` (whole blocks, so a
// size the layout refuses is counted down to its whole blocks; 0 for negative
// sizes).
int64_t FitBytes(FitLayout layout, int32_t width, int32_t height);

// Encode a row-major picture (pixel (x, y) at y * width + x, red in bits 0-7,
// green 8-15, blue 16-23, alpha 24-31) into `out`. DXT1 and DXT3: block
// (bx, by) at (by * width / 4 + bx) * 8 or * 16. CMPR: tile (tx, ty) at
// (ty * width / 8 + tx) * 32, its blocks top-left, top-right, bottom-left,
// bottom-right, each with c0 and c1 big-endian and the leftmost pixel of a
// row in bits 7-6. Throws, writing nothing: Error(Unsupported) for a width or
// height that is not a multiple of the layout's 4 or 8; Error(Usage) for a
// negative size, a picture that is not width * height pixels, or an output
// shorter than FitBytes.
void FitS3tc(FitLayout layout, std::span<const uint32_t> picture, int32_t width, int32_t height,
             std::span<uint8_t> out);
std::vector<uint8_t> FitS3tc(FitLayout layout, std::span<const uint32_t> picture, int32_t width, int32_t height);

// One block (pixel k = row k / 4, column k % 4), laid out as in DXT1 / DXT3.
void FitDxt1Block(const PixelBlock& block, std::span<uint8_t, 8> out);
void FitDxt3Block(const PixelBlock& block, std::span<uint8_t, 16> out);

}  // namespace quarrendel::texture
