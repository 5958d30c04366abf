// GameCube texture layouts. Words are big-endian and texels sit in tiles:
// tiles in raster order, texels inside a tile row by row. Mipmap chains store
// the full-size level first, so every decoder reads from the start of the
// data. All of them write final pixels; partial tiles at the right and bottom
// edges (sides that are not a multiple of the tile size) are not decoded.
//
// RGB5A3 word: bit 15 set = opaque RGB555; clear = 3-bit alpha and RGB444.
// CMPR: DXT1-style blocks with big-endian colours and index bytes whose top
// two bits are column 0; 8 x 8 tiles of four blocks (top-left, top-right,
// bottom-left, bottom-right), tiles in raster order.
#pragma once

#include <cstdint>
#include <span>

#include "texture/palette.h"
#include "texture/rgba_image.h"

namespace quarrendel::texture {

uint32_t Rgb5a3ToPixel(uint16_t word);

// H/4 x H/4 tiles of 4 x 4 RGB5A3 words.
void DecodeRgb5a3Tiled(const Plane& plane, std::span<const uint8_t> data, int32_t side);
// H/8 x H/8 tiles of 8 x 8 four-bit indices (texel 0 is the high nibble of
// byte 0); the palette holds RGB5A3 words.
void DecodeCi4Tiled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette);
// H/4 tile rows x H/8 tile columns of 8-wide, 4-tall eight-bit indices.
void DecodeCi8Tiled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette);

// Places each block of the stream in its tile: stream block b is block b mod 4
// of tile b div 4. Whole 8 x 8 tiles only: a side that is not a multiple of 8
// is handled as the next lower multiple; blocks the data does not hold are
// left as they were.
void DecodeCmpr(const Plane& plane, int32_t side, std::span<const uint8_t> data);

}  // namespace quarrendel::texture
