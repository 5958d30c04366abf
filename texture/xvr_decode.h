// S3TC blocks of Xbox textures (and of DDS files). Blocks of 4 x 4 pixels in
// raster order. DXT1 block, 8 bytes: c0 and c1 (RGB565, little-endian), then
// one index byte per pixel row, column c in bits 2c+1..2c. DXT3 block, 16
// bytes: two alpha bytes per row (column 0 the low nibble of the first byte,
// column 3 the high nibble of the second), then a DXT1-style colour block.
// Mipmapped data stores the full-size level first.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/image_store.h"

namespace quarrendel::texture {

// The four colours of a block from c0 and c1, expanded with zero low bits.
// c1 < c0 (or fourColour) gives four opaque colours, the middle two at 1/3
// and 2/3 rounded; otherwise three opaque colours (the third the truncated
// mean) and transparent black. fourColour=true also drops the alpha (DXT3).
std::array<uint32_t, 4> BlockColours(uint16_t c0, uint16_t c1, bool fourColour);

// Write final pixels for x, y < H in whole blocks (sides below 4 decode
// nothing); blocks the data does not hold are left as they were.
void DecodeDxt1(Canvas& canvas, int32_t side, std::span<const uint8_t> data);
void DecodeDxt3(Canvas& canvas, int32_t side, std::span<const uint8_t> data);

}  // namespace quarrendel::texture
