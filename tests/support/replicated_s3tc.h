// A reference S3TC decoder of the kind GPUs and DDS viewers have, for the
// tests, fuzz targets and benchmarks of the fitted encoder: 5- and 6-bit
// fields stretched by repeating their top bits (5-bit 31 -> 255, 6-bit 32 ->
// 130), the middle colours from the stretched values with truncating
// division. DXT1 blocks with c0 <= c1 have three colours and transparent
// black; DXT3 colour blocks always four, alpha n -> n * 17. Pixels are
// red bits 0-7 ... alpha 24-31, pixel k of a block at row k / 4, column k % 4.
#pragma once

#include <array>
#include <cstdint>

namespace quarrendel::test {

inline std::array<uint32_t, 4> ReplicatedColours(uint16_t c0, uint16_t c1, bool fourColour) {
  // 5-bit v * 33 / 4 and 6-bit v * 65 / 16 are the bit repetitions.
  const auto rgb = [](uint32_t c, uint32_t out[3]) {
    out[0] = ((c >> 11) * 33) >> 2;
    out[1] = (((c >> 5) & 63) * 65) >> 4;
    out[2] = ((c & 31) * 33) >> 2;
  };
  uint32_t a[3], b[3];
  rgb(c0, a);
  rgb(c1, b);
  std::array<uint32_t, 4> colours{};
  for (int ch = 0; ch < 3; ++ch) {
    const uint32_t shift = 8 * static_cast<uint32_t>(ch);
    uint32_t mid1 = 0, mid2 = 0;
    if (fourColour || c0 > c1) {
      mid1 = (a[ch] + a[ch] + b[ch]) / 3;
      mid2 = (a[ch] + b[ch] + b[ch]) / 3;
    } else {
      mid1 = (a[ch] + b[ch]) / 2;
    }
    colours[0] |= a[ch] << shift;
    colours[1] |= b[ch] << shift;
    colours[2] |= mid1 << shift;
    colours[3] |= mid2 << shift;
  }
  const bool transparentLast = !fourColour && c0 <= c1;
  for (int i = 0; i < 4; ++i) {
    if (i < 3 || !transparentLast) colours[static_cast<size_t>(i)] |= 0xFF000000u;
  }
  return colours;
}

// 8 bytes of DXT1 (or the colour half of DXT3 with fourColour) to 16 pixels.
inline std::array<uint32_t, 16> DecodeReplicatedColourBlock(const uint8_t* block, bool fourColour) {
  const auto c0 = static_cast<uint16_t>(block[0] | (block[1] << 8));
  const auto c1 = static_cast<uint16_t>(block[2] | (block[3] << 8));
  const std::array<uint32_t, 4> colours = ReplicatedColours(c0, c1, fourColour);
  std::array<uint32_t, 16> pixels{};
  for (int k = 0; k < 16; ++k) {
    pixels[static_cast<size_t>(k)] = colours[(block[4 + k / 4] >> (2 * (k % 4))) & 3];
  }
  return pixels;
}

inline std::array<uint32_t, 16> DecodeReplicatedDxt1Block(const uint8_t* block) {
  return DecodeReplicatedColourBlock(block, false);
}

inline std::array<uint32_t, 16> DecodeReplicatedDxt3Block(const uint8_t* block) {
  std::array<uint32_t, 16> pixels = DecodeReplicatedColourBlock(block + 8, true);
  for (int k = 0; k < 16; ++k) {
    const uint32_t nibble = (block[k / 2] >> (4 * (k % 2))) & 15;
    pixels[static_cast<size_t>(k)] = (pixels[static_cast<size_t>(k)] & 0xFFFFFF) | ((nibble * 17) << 24);
  }
  return pixels;
}

}  // namespace quarrendel::test
