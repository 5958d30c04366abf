// 16-bit texel words as palettes and VQ codebooks store them, chosen by the
// pixel the decoders make of them. Decoders widen a channel with zero low
// bits (5-bit 31 -> 248, 4-bit 15 -> 240, 3-bit 7 -> 224), so a channel's
// levels are multiples of 8, 4, 16 or 32 and the top level sits below 255.
// The quantisers pick for each channel the nearest level (red 4 -> level 1,
// widened 8; 255 -> 248), where the twiddled packer of the DC/PC family
// truncates; ARGB1555 alpha is 255 from 128 up, as there.
//
//   ARGB1555  bit 15 alpha (0 or 255), red 14-10, green 9-5, blue 4-0
//   RGB565    red 15-11, green 10-5, blue 4-0; opaque, alpha does not count
//   ARGB4444  alpha 15-12, red 11-8, green 7-4, blue 3-0
//   RGB5A3    GameCube, stored big-endian: bit 15 set = opaque RGB555,
//             clear = 3-bit alpha (0..224) and RGB444; the word nearer to
//             the pixel of the two forms is taken
//
// YUV422 texels come in horizontal pairs that share their chroma: the left
// word is Y0 << 8 | U, the right one Y1 << 8 | V, both widened by YuvToPixel
// (full-range BT.601, opaque). A pair is fitted to its two colours by least
// squares in red, green and blue, then by a search over the neighbouring
// integer U, V and Y.
//
// Means: `sums` are a group's channel sums over `weight` pixels (red, green,
// blue, alpha), and the word chosen is the one nearest to their mean, which
// also minimises the group's total squared error. Every function is exact
// and deterministic; the floating point runs without contraction.
#pragma once

#include <array>
#include <cstdint>

namespace quarrendel::texture {

enum class TexelFormat : uint8_t { Argb1555, Rgb565, Argb4444, Rgb5a3 };

// RGB565 texels are opaque: alpha is neither stored nor compared.
constexpr bool TexelHasAlpha(TexelFormat format) { return format != TexelFormat::Rgb565; }

// The pixel the decoders make of `word` (RGB5A3: of the word's value, the
// file holding it high byte first).
uint32_t WidenTexel(uint16_t word, TexelFormat format);

using ChannelSums = std::array<uint64_t, 4>;

// The word whose widened pixel is nearest (squared error over the channels
// the format has) to the mean of `weight` pixels with channel sums `sums`;
// weight 0 gives word 0. Ties go to the higher level.
uint16_t NearestTexel(const ChannelSums& sums, uint64_t weight, TexelFormat format);
uint16_t NearestTexel(uint32_t pixel, TexelFormat format);

// `pixel` as the format keeps it: WidenTexel(NearestTexel(pixel)).
inline uint32_t ReduceTexel(uint32_t pixel, TexelFormat format) {
  return WidenTexel(NearestTexel(pixel, format), format);
}

struct YuvPair {
  uint16_t left = 0;   // Y0 << 8 | U
  uint16_t right = 0;  // Y1 << 8 | V
  friend bool operator==(const YuvPair&, const YuvPair&) = default;
};

// The two pixels the decoders make of a pair.
std::array<uint32_t, 2> WidenYuvPair(YuvPair pair);

// Sums of red, green, blue of the left texels, then of the right ones.
using PairSums = std::array<uint64_t, 6>;

// A pair close to the mean colours of `weight` left and right texels (a
// local optimum of the squared error over red, green and blue); weight 0
// gives grey 0 with neutral chroma. Alpha is ignored.
YuvPair NearestYuvPair(const PairSums& sums, uint64_t weight);
YuvPair NearestYuvPair(uint32_t left, uint32_t right);

}  // namespace quarrendel::texture
