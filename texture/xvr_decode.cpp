#include "texture/xvr_decode.h"

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

// Walks the blocks column by column so that pixels are written down canvas
// columns; `decode` fills one block from its bytes at `at`.
template <typename Block>
void DecodeBlocks(Canvas& canvas, int32_t side, std::span<const uint8_t> data, uint64_t blockBytes, Block decode) {
  if (side <= 0 || side > Canvas::kSide) return;
  const int32_t blocks = side / 4;
  for (int32_t bx = 0; bx < blocks; ++bx) {
    uint32_t* columns[4] = {canvas.Column(4 * bx), canvas.Column(4 * bx + 1), canvas.Column(4 * bx + 2),
                            canvas.Column(4 * bx + 3)};
    for (int32_t by = 0; by < blocks; ++by) {
      const uint64_t at = (static_cast<uint64_t>(by) * static_cast<uint64_t>(blocks) + bx) * blockBytes;
      if (!Fits(data, at, blockBytes)) continue;
      decode(at, columns, 4 * by);
    }
  }
}

}  // namespace

void DecodeDxt1(Canvas& canvas, int32_t side, std::span<const uint8_t> data) {
  DecodeBlocks(canvas, side, data, 8, [data](uint64_t at, uint32_t* const* columns, int32_t y) {
    const std::array<uint32_t, 4> colour = BlockColours(Le16(data, at), Le16(data, at + 2), false);
    for (int32_t r = 0; r < 4; ++r) {
      const uint8_t bits = data[at + 4 + static_cast<uint64_t>(r)];
      for (int32_t c = 0; c < 4; ++c) columns[c][y + r] = colour[(bits >> (2 * c)) & 3];
    }
  });
}

void DecodeDxt3(Canvas& canvas, int32_t side, std::span<const uint8_t> data) {
  DecodeBlocks(canvas, side, data, 16, [data](uint64_t at, uint32_t* const* columns, int32_t y) {
    const std::array<uint32_t, 4> colour = BlockColours(Le16(data, at + 8), Le16(data, at + 10), true);
    for (int32_t r = 0; r < 4; ++r) {
      const uint32_t alphas = Le16(data, at + 2 * static_cast<uint64_t>(r));
      const uint8_t bits = data[at + 12 + static_cast<uint64_t>(r)];
      for (int32_t c = 0; c < 4; ++c) {
        const uint32_t alpha = ((alphas >> (4 * c)) & 15) << 4;
        columns[c][y + r] = colour[(bits >> (2 * c)) & 3] | (alpha << 24);
      }
    }
  });
}

}  // namespace quarrendel::texture
