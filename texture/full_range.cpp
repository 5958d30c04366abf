#include "texture/full_range.h"

#include <algorithm>
#include <array>

namespace quarrendel::texture {

namespace {

constexpr TexelDepths Depths(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return {r, g, b, a, false}; }

constexpr TexelDepths kFinal = Depths(8, 8, 8, 8);
constexpr TexelDepths kArgb1555 = Depths(5, 5, 5, 8);  // alpha already 0 or 255
constexpr TexelDepths kRgb565 = Depths(5, 6, 5, 8);    // alpha 255
constexpr TexelDepths kArgb4444 = Depths(4, 4, 4, 4);
constexpr TexelDepths kRgb5a3Opaque = Depths(5, 5, 5, 8);
constexpr TexelDepths kRgb5a3Translucent = Depths(4, 4, 4, 3);

// A value q << (8 - bits) plus itself shifted right by bits, 2 bits, ...
// lays copies of q side by side down to bit 0.
constexpr uint8_t Stretched(uint32_t value, uint32_t bits) {
  if (bits == 0 || bits >= 8) return static_cast<uint8_t>(value);
  uint32_t out = 0;
  for (uint32_t shift = 0; shift < 8; shift += bits) out += value >> shift;
  return static_cast<uint8_t>(std::min<uint32_t>(out, 255));
}

// Every channel value stretched, one row per depth 0 .. 8: a PNG stretches
// each channel of every pixel.
constexpr std::array<std::array<uint8_t, 256>, 9> kStretched = [] {
  std::array<std::array<uint8_t, 256>, 9> table{};
  for (uint32_t bits = 0; bits < 9; ++bits) {
    for (uint32_t v = 0; v < 256; ++v) table[bits][v] = Stretched(v, bits);
  }
  return table;
}();

}  // namespace

TexelDepths DecodedTexelDepths(const DecoderChoice& choice, uint32_t format) {
  if (choice.converted) {
    switch (PixelFormatCode(format)) {
      case 0: return kArgb1555;
      case 1: return kRgb565;
      case 2: return kArgb4444;
      default: return kFinal;  // YUV, bump and unnamed codes
    }
  }
  switch (choice.decoder) {
    case DecoderKind::Tiled565:
    case DecoderKind::Dxt1:
    case DecoderKind::Cmpr:
      return kRgb565;
    case DecoderKind::Tiled1555:
      return kArgb1555;
    case DecoderKind::Dxt3:
      return Depths(5, 6, 5, 4);
    case DecoderKind::Rgb5a3Tiled:
    case DecoderKind::Ci4Tiled:
    case DecoderKind::Ci8Tiled: {
      TexelDepths depths = kRgb5a3Opaque;
      depths.rgb5a3 = true;
      return depths;
    }
    default:
      return kFinal;
  }
}

uint8_t StretchChannel(uint32_t value, uint32_t bits) {
  if (bits >= 8 || value > 255) return bits == 0 || bits >= 8 ? static_cast<uint8_t>(value) : Stretched(value, bits);
  return kStretched[bits][value];
}

uint32_t StretchPixel(uint32_t pixel, const TexelDepths& depths) {
  const uint32_t alpha = pixel >> 24;
  const TexelDepths& d = !depths.rgb5a3 ? depths : alpha == 255 ? kRgb5a3Opaque : kRgb5a3Translucent;
  return StretchChannel(pixel & 0xFF, d.red) | (StretchChannel((pixel >> 8) & 0xFF, d.green) << 8) |
         (StretchChannel((pixel >> 16) & 0xFF, d.blue) << 16) |
         (static_cast<uint32_t>(StretchChannel(alpha, d.alpha)) << 24);
}

PixelStretch::PixelStretch(const TexelDepths& depths) : rgb5a3_(depths.rgb5a3) {
  const auto fill = [](Tables& tables, const TexelDepths& d) {
    const uint8_t bits[4] = {d.red, d.green, d.blue, d.alpha};
    for (size_t c = 0; c < 4; ++c) {
      for (uint32_t v = 0; v < 256; ++v) tables[c][v] = StretchChannel(v, bits[c]);
    }
  };
  fill(opaque_, depths.rgb5a3 ? kRgb5a3Opaque : depths);
  fill(translucent_, kRgb5a3Translucent);
}

}  // namespace quarrendel::texture
