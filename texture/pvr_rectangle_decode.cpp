#include "texture/pvr_rectangle_decode.h"

#include <algorithm>

#include "texture/pvr_decode.h"
#include "texture/texel_read.h"

namespace quarrendel::texture {

using detail::Fits;
using detail::Le16;
using detail::Rgba;

namespace {

bool RectFits(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width <= Canvas::kSide && height <= Canvas::kSide;
}

}  // namespace

void DecodeTwiddledRectangle16(Canvas& canvas, std::span<const uint8_t> data, int32_t& cursor, int32_t width,
                               int32_t height) {
  if (!RectFits(width, height)) return;
  const int32_t side = std::min(width, height);
  const int32_t squares = std::max(width, height) / side;
  for (int32_t k = 0; k < squares; ++k) {
    const int32_t x = width > height ? k * side : 0;
    const int32_t y = width > height ? 0 : k * side;
    TransferTwiddled16(canvas, data, cursor, x, y, side);
  }
}

int64_t AliasTopLevelOffset(int32_t width, int32_t height, int64_t dataLength) {
  const int64_t top = 2 * static_cast<int64_t>(std::max(width, 0)) * std::max(height, 0);
  return dataLength > top ? dataLength - top : 0;
}

uint32_t YuvToPixel(int32_t y, int32_t u, int32_t v) {
  const int32_t cu = u - 128;
  const int32_t cv = v - 128;
  auto clamp = [](int32_t c) { return static_cast<uint32_t>(std::clamp(c, 0, 255)); };
  return Rgba(clamp(y + ((359 * cv) >> 8)), clamp(y - ((88 * cu + 183 * cv) >> 8)), clamp(y + ((454 * cu) >> 8)),
              255);
}

void DecodeStrideYuv422(Canvas& canvas, std::span<const uint8_t> data, int32_t width, int32_t height) {
  if (!RectFits(width, height)) return;
  // Raw words first (missing ones marked), then each pair of columns converted
  // together, column by column as the canvas lies in memory.
  FillNoTexel(canvas, width, height);
  int32_t cursor = 0;
  DecodeRaster16(canvas, data, cursor, width, height);
  constexpr uint32_t kNeutral = 128;
  for (int32_t x = 0; x < width; x += 2) {
    uint32_t* even = canvas.Column(x);
    uint32_t* odd = x + 1 < width ? canvas.Column(x + 1) : nullptr;
    for (int32_t y = 0; y < height; ++y) {
      const uint32_t w0 = even[y];
      const uint32_t w1 = odd != nullptr ? odd[y] : kNoTexel;
      const bool first = w0 <= 0xFFFF;
      const bool second = w1 <= 0xFFFF;
      const auto u = static_cast<int32_t>(first ? (w0 & 0xFF) : kNeutral);
      const auto v = static_cast<int32_t>(second ? (w1 & 0xFF) : kNeutral);
      even[y] = first ? YuvToPixel(static_cast<int32_t>(w0 >> 8), u, v) : 0;
      if (odd != nullptr) odd[y] = second ? YuvToPixel(static_cast<int32_t>(w1 >> 8), u, v) : 0;
    }
  }
}

}  // namespace quarrendel::texture
