// Mipmap chains for the mipmapped layouts. Each level halves both sides of
// the one above (a side of 1 stays 1, so a 256 x 128 chain ends 2 x 1,
// 1 x 1) with a 2 x 2 box filter (2 x 1 or 1 x 2 once a side is 1):
// - colours are averaged in linear light: sRGB to linear and back by table,
//   16-bit linear values;
// - each texel's colour counts by its alpha, so transparent texels do not
//   darken the edges of cut-outs; where every texel of the box has alpha 0
//   the colours count equally;
// - alpha is the plain mean.
// Every average is rounded to nearest, in integers; the tables are built
// once, so the same picture always gives the same levels.
#pragma once

#include <cstdint>
#include <vector>

#include "texture/rgba_image.h"

namespace quarrendel::texture {

// Levels of a full chain for power-of-two sides: 1 + log2 of the larger
// side (256 x 256: 9; 32 x 512: 10); 0 when a side is not a power of two.
int32_t MipLevelCount(int32_t width, int32_t height);

// `levels` levels (1 to MipLevelCount) from `top` down: level 0 is a copy of
// `top`, level k is (max(width >> k, 1)) x (max(height >> k, 1)). Throws
// Error(Usage) for sides that are not powers of two, a pixel count that is
// not width x height, or a level count out of range.
std::vector<RgbaImage> GenerateMipmaps(const RgbaView& top, int32_t levels);

// sRGB channel value to 16-bit linear light (0 -> 0, 255 -> 65535), and a
// 16-bit linear value to sRGB, rounded to the nearest channel value.
uint16_t SrgbToLinear(uint8_t value);
uint8_t LinearToSrgb(uint16_t linear);

}  // namespace quarrendel::texture
