// The decoders widen each channel with zero low bits (5-bit 31 -> 248, 4-bit
// 15 -> 240), which the description, the preview and the texture, bitmap and
// DDS exports keep. PNG files get the full range instead: a channel of d bits
// is stretched by repeating its bits (5-bit 31 -> 255, 6-bit 63 -> 255, 4-bit
// 15 -> 255, 3-bit 5 -> 182), so opaque stays opaque and white stays white.
//
// How many bits a decoded channel came from follows from the decoder and the
// pixel format:
//   16-bit texels converted by the pixel format (twiddled, VQ, rectangle,
//   stride, the PVR and Xbox palettes): ARGB1555 5-5-5 (alpha 0 or 255),
//   RGB565 5-6-5 opaque, ARGB4444 4-4-4-4, YUV and bump already 8 bits.
//   4 x 4 tiled RGB565 and ARGB1555: as above.
//   DXT1 and CMPR: colours 5-6-5, alpha 0 or 255; DXT3: colours 5-6-5,
//   alpha 4 bits. The two interpolated colours of a block lie between its
//   end points, off the 5- or 6-bit grid; the same stretch (value + value >> d)
//   keeps them between the end points' stretched values.
//   RGB5A3 (tiles, and the CI4/CI8 palettes): each texel chooses its own
//   form, and the decoded alpha tells which: 255 for 5-5-5 opaque texels,
//   3-bit alpha with 4-4-4 colours otherwise.
#pragma once

#include <array>
#include <cstdint>

#include "texture/format_table.h"

namespace quarrendel::texture {

// Bits each decoded channel was stored with; 8 means the value is final.
struct TexelDepths {
  uint8_t red = 8;
  uint8_t green = 8;
  uint8_t blue = 8;
  uint8_t alpha = 8;
  bool rgb5a3 = false;  // per texel: 5-5-5 when alpha is 255, else 4-4-4 with 3-bit alpha
};

// The depths of the canvas that `choice` decodes for a texture of `format`.
TexelDepths DecodedTexelDepths(const DecoderChoice& choice, uint32_t format);

// `value`, a channel of `bits` bits widened with zero low bits, stretched to
// the full range by repeating its bits (clamped to 255 for values off the grid).
uint8_t StretchChannel(uint32_t value, uint32_t bits);

// A canvas pixel (red in bits 0-7 ... alpha 24-31) with every channel stretched.
uint32_t StretchPixel(uint32_t pixel, const TexelDepths& depths);

// StretchPixel for many pixels of one set of depths, a table per channel
// (the picture view stretches every pixel it paints).
class PixelStretch {
 public:
  explicit PixelStretch(const TexelDepths& depths = {});
  uint32_t operator()(uint32_t pixel) const {
    const Tables& t = rgb5a3_ && (pixel >> 24) != 255 ? translucent_ : opaque_;
    return t[0][pixel & 0xFF] | static_cast<uint32_t>(t[1][(pixel >> 8) & 0xFF]) << 8 |
           static_cast<uint32_t>(t[2][(pixel >> 16) & 0xFF]) << 16 | static_cast<uint32_t>(t[3][pixel >> 24]) << 24;
  }

 private:
  using Tables = std::array<std::array<uint8_t, 256>, 4>;
  bool rgb5a3_ = false;
  Tables opaque_{};
  Tables translucent_{};
};

}  // namespace quarrendel::texture
