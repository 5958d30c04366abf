// PVR layouts that decode to the texture's true width x height rather than
// to an H x H square:
//  0x0D twiddled rectangle: squares of side min(W, H), each twiddled, stored
//    one after another along the long side (left to right when W > H, top to
//    bottom when H > W).
//  0x12 twiddled mipmaps, alias layout: levels smallest first like 0x02, but
//    the small levels are padded differently; the top level is the last
//    W x H texels of the data and is laid out like 0x0D.
//  0x0B stride: rows of W 16-bit texels, not twiddled, no mipmaps (decoded by
//    DecodeRaster16).
//  0x09 plain rectangle: raw texels row by row like stride. The canvas takes
//    it as an H x H square with rows H texels wide (DecodeRectangle16), which
//    the description and Export use; only its W x H picture, when W != H, is
//    decoded in rows of W texels (DecodeRaster16). YUV422 stride data pairs horizontally adjacent texels:
//    the even texel holds Y0 in its high byte and U in its low byte, the odd
//    one Y1 and V.
// Like the square decoders, these write only pixels of the plane inside
// W x H, read nothing outside `data`, and leave pixels whose data is missing
// as the caller set them. Sides of 0, or a rectangle the plane does not hold,
// decode nothing.
#pragma once

#include <cstdint>
#include <span>

#include "texture/rgba_image.h"

namespace quarrendel::texture {

// 0x0D: raw texels of the squares from data[cursor]; the cursor advances past
// each square walked. Texels beyond the last whole square along the long
// side (a long side that is not a multiple of the short one) are not written.
void DecodeTwiddledRectangle16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t width,
                               int32_t height);

// 0x12: the byte offset of the top level in data of `dataLength` bytes, the
// last width x height texels; 0 when the data is shorter than that level.
int64_t AliasTopLevelOffset(int32_t width, int32_t height, int64_t dataLength);

// One YUV422 texel as a pixel (alpha 255), full-range BT.601 in 8.8 fixed
// point: R = Y + 1.402 (V - 128), G = Y - 0.344 (U - 128) - 0.714 (V - 128),
// B = Y + 1.772 (U - 128), each clamped to 0..255.
uint32_t YuvToPixel(int32_t y, int32_t u, int32_t v);

// 0x0B with YUV422 texels: final pixels of the width x height rectangle.
// Texels the data does not hold become 0 (cleared); a texel whose partner in
// its pair is missing (the data ends, or the row has an odd width) takes the
// neutral chroma 128 for the missing half.
void DecodeStrideYuv422(const Plane& plane, std::span<const uint8_t> data, int32_t width, int32_t height);

}  // namespace quarrendel::texture
