#include "texture/xvr_decode.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "core/error.h"
#include "texture/texel_read.h"

namespace quarrendel::texture {

using detail::Fits;
using detail::Le16;
using detail::Rgba;

std::array<uint32_t, 4> BlockColours(uint16_t c0, uint16_t c1, bool fourColour) {
  const uint32_t r0 = (c0 >> 11) << 3, g0 = ((c0 >> 5) & 63) << 2, b0 = (c0 & 31) << 3;
  const uint32_t r1 = (c1 >> 11) << 3, g1 = ((c1 >> 5) & 63) << 2, b1 = (c1 & 31) << 3;
  std::array<uint32_t, 4> colour{};
  if (fourColour || c1 < c0) {
    const uint32_t a = fourColour ? 0 : 255;
    colour[0] = Rgba(r0, g0, b0, a);
    colour[1] = Rgba(r1, g1, b1, a);
    colour[2] = Rgba((2 * r0 + r1 + 1) / 3, (2 * g0 + g1 + 1) / 3, (2 * b0 + b1 + 1) / 3, a);
    colour[3] = Rgba((r0 + 2 * r1 + 1) / 3, (g0 + 2 * g1 + 1) / 3, (b0 + 2 * b1 + 1) / 3, a);
  } else {
    colour[0] = Rgba(r0, g0, b0, 255);
    colour[1] = Rgba(r1, g1, b1, 255);
    colour[2] = Rgba((r0 + r1) >> 1, (g0 + g1) >> 1, (b0 + b1) >> 1, 255);
    colour[3] = 0;
  }
  return colour;
}

namespace {

// The eight alphas of a DXT5 block's end points, the steps between them
// rounded to the nearest integer.
std::array<uint8_t, 8> Dxt5AlphaTable(uint8_t a0, uint8_t a1) {
  std::array<uint8_t, 8> alpha{a0, a1, 0, 0, 0, 0, 0, 255};
  // n / 7 and n / 5 never fall half-way between two integers, so adding 3
  // (or 2) before the division rounds to the nearest one.
  if (a0 > a1) {
    for (uint32_t i = 1; i < 7; ++i) alpha[i + 1] = static_cast<uint8_t>(((7 - i) * a0 + i * a1 + 3) / 7);
  } else {
    for (uint32_t i = 1; i < 5; ++i) alpha[i + 1] = static_cast<uint8_t>(((5 - i) * a0 + i * a1 + 2) / 5);
  }
  return alpha;
}

// The 16 alphas of the DXT5 alpha half at `at`, pixel k = 4 * row + column.
std::array<uint8_t, 16> Dxt5Alphas(std::span<const uint8_t> data, uint64_t at) {
  const std::array<uint8_t, 8> table = Dxt5AlphaTable(data[at], data[at + 1]);
  uint64_t bits = 0;
  for (uint64_t i = 0; i < 6; ++i) bits |= uint64_t{data[at + 2 + i]} << (8 * i);
  std::array<uint8_t, 16> alpha{};
  for (uint32_t k = 0; k < 16; ++k) alpha[k] = table[(bits >> (3 * k)) & 7];
  return alpha;
}

// Walks the blocks in raster order; `decode` fills one block from its bytes
// at `at` into the four rows that start at its top-left pixel.
template <typename Block>
void DecodeBlocks(const Plane& plane, int32_t side, std::span<const uint8_t> data, uint64_t blockBytes, Block decode) {
  if (!plane.Holds(side, side)) return;
  const int32_t blocks = side / 4;
  for (int32_t by = 0; by < blocks; ++by) {
    uint32_t* rows[4] = {plane.Row(4 * by), plane.Row(4 * by + 1), plane.Row(4 * by + 2), plane.Row(4 * by + 3)};
    for (int32_t bx = 0; bx < blocks; ++bx) {
      const uint64_t at = (static_cast<uint64_t>(by) * static_cast<uint64_t>(blocks) + bx) * blockBytes;
      if (!Fits(data, at, blockBytes)) continue;
      uint32_t* block[4] = {rows[0] + 4 * bx, rows[1] + 4 * bx, rows[2] + 4 * bx, rows[3] + 4 * bx};
      decode(at, block);
    }
  }
}

}  // namespace

void DecodeDxt1(const Plane& plane, int32_t side, std::span<const uint8_t> data) {
  DecodeBlocks(plane, side, data, 8, [data](uint64_t at, uint32_t* const* rows) {
    const std::array<uint32_t, 4> colour = BlockColours(Le16(data, at), Le16(data, at + 2), false);
    for (int32_t r = 0; r < 4; ++r) {
      const uint8_t bits = data[at + 4 + static_cast<uint64_t>(r)];
      for (int32_t c = 0; c < 4; ++c) rows[r][c] = colour[(bits >> (2 * c)) & 3];
    }
  });
}

void DecodeDxt3(const Plane& plane, int32_t side, std::span<const uint8_t> data) {
  DecodeBlocks(plane, side, data, 16, [data](uint64_t at, uint32_t* const* rows) {
    const std::array<uint32_t, 4> colour = BlockColours(Le16(data, at + 8), Le16(data, at + 10), true);
    for (int32_t r = 0; r < 4; ++r) {
      const uint32_t alphas = Le16(data, at + 2 * static_cast<uint64_t>(r));
      const uint8_t bits = data[at + 12 + static_cast<uint64_t>(r)];
      for (int32_t c = 0; c < 4; ++c) {
        const uint32_t alpha = ((alphas >> (4 * c)) & 15) << 4;
        rows[r][c] = colour[(bits >> (2 * c)) & 3] | (alpha << 24);
      }
    }
  });
}

void DecodeDxt5(const Plane& plane, int32_t side, std::span<const uint8_t> data) {
  DecodeBlocks(plane, side, data, 16, [data](uint64_t at, uint32_t* const* rows) {
    const std::array<uint32_t, 4> colour = BlockColours(Le16(data, at + 8), Le16(data, at + 10), true);
    const std::array<uint8_t, 16> alpha = Dxt5Alphas(data, at);
    for (int32_t r = 0; r < 4; ++r) {
      const uint8_t bits = data[at + 12 + static_cast<uint64_t>(r)];
      for (int32_t c = 0; c < 4; ++c) {
        rows[r][c] = colour[(bits >> (2 * c)) & 3] | (uint32_t{alpha[static_cast<size_t>(4 * r + c)]} << 24);
      }
    }
  });
}

void Dxt5ToDxt3(std::span<const uint8_t> dxt5, std::span<uint8_t> out) {
  constexpr size_t kBlock = 16;
  const size_t bytes = dxt5.size() / kBlock * kBlock;
  if (out.size() < bytes) {
    throw Error(ErrorKind::Usage, "DXT3 output of " + std::to_string(out.size()) + " bytes is shorter than the " +
                                      std::to_string(bytes) + " of the DXT5 blocks");
  }
  for (size_t at = 0; at < bytes; at += kBlock) {
    const std::array<uint8_t, 16> alpha = Dxt5Alphas(dxt5, at);
    for (size_t k = 0; k < 16; k += 2) {
      out[at + k / 2] = static_cast<uint8_t>((alpha[k] >> 4) | (alpha[k + 1] & 0xF0));
    }
    std::copy(dxt5.begin() + static_cast<std::ptrdiff_t>(at + 8), dxt5.begin() + static_cast<std::ptrdiff_t>(at + kBlock),
              out.begin() + static_cast<std::ptrdiff_t>(at + 8));
  }
}

}  // namespace quarrendel::texture
