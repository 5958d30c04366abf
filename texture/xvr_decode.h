// S3TC blocks of Xbox textures (and of DDS files). Blocks of 4 x 4 pixels in
// raster order. DXT1 block, 8 bytes: c0 and c1 (RGB565, little-endian), then
// one index byte per pixel row, column c in bits 2c+1..2c. DXT3 block, 16
// bytes: two alpha bytes per row (column 0 the low nibble of the first byte,
// column 3 the high nibble of the second), then a DXT1-style colour block.
// DXT5 block (DDS files only), 16 bytes: alpha end points a0 and a1 (one byte
// each), 48 bits of 3-bit alpha indices (little-endian, pixel k = 4 * row +
// column at bits 3k..3k+2), then a colour block as in DXT3. a0 > a1 gives
// eight alphas a0, a1 and six between them at 1/7 steps; otherwise a0, a1,
// four between them at 1/5 steps, 0 and 255. Colours of DXT3 and DXT5 blocks
// are always the four-colour set.
// Mipmapped data stores the full-size level first.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "texture/rgba_image.h"

namespace quarrendel::texture {

// The four colours of a block from c0 and c1, expanded with zero low bits.
// c1 < c0 (or fourColour) gives four opaque colours, the middle two at 1/3
// and 2/3 rounded; otherwise three opaque colours (the third the truncated
// mean) and transparent black. fourColour=true also drops the alpha (DXT3).
std::array<uint32_t, 4> BlockColours(uint16_t c0, uint16_t c1, bool fourColour);

// Write final pixels for x, y < H in whole blocks (sides below 4 decode
// nothing); blocks the data does not hold are left as they were.
void DecodeDxt1(const Plane& plane, int32_t side, std::span<const uint8_t> data);
void DecodeDxt3(const Plane& plane, int32_t side, std::span<const uint8_t> data);
void DecodeDxt5(const Plane& plane, int32_t side, std::span<const uint8_t> data);

// DXT5 blocks as DXT3 blocks, one for one: the colour half is kept as it is
// and each pixel's decoded alpha becomes its 4-bit DXT3 alpha (alpha >> 4, as
// the DXT3 encoder stores it), so the DXT3 data decodes to the DXT5 picture
// with its alpha cut to four bits. Converts the whole blocks of `dxt5` into
// the start of `out`, which must hold as many bytes (else Error(Usage)).
void Dxt5ToDxt3(std::span<const uint8_t> dxt5, std::span<uint8_t> out);

}  // namespace quarrendel::texture
