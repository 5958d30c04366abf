#include "texture/pvr_rectangle_decode.h"

#include <algorithm>
#include <array>

#include "texture/pvr_decode.h"
#include "texture/texel_read.h"

namespace quarrendel::texture {

using detail::Fits;
using detail::Le16;
using detail::Rgba;

namespace {

// Y plus a chroma term lies in -227..480; entry c + kClampBias is c clamped to 0..255.
constexpr int32_t kClampBias = 256;
constexpr std::array<uint8_t, 768> MakeClampTable() {
  std::array<uint8_t, 768> table{};
  for (int32_t i = 0; i < 768; ++i) {
    table[static_cast<size_t>(i)] = static_cast<uint8_t>(std::clamp(i - kClampBias, 0, 255));
  }
  return table;
}
constexpr std::array<uint8_t, 768> kClamp = MakeClampTable();

// The chroma terms of one YUV pair, added to each texel's Y.
struct Chroma {
  Chroma(int32_t u, int32_t v)
      : r((359 * (v - 128)) >> 8), g(-((88 * (u - 128) + 183 * (v - 128)) >> 8)), b((454 * (u - 128)) >> 8) {}
  uint32_t Pixel(int32_t y) const {
    const int32_t at = y + kClampBias;
    return Rgba(kClamp[static_cast<size_t>(at + r)], kClamp[static_cast<size_t>(at + g)],
                kClamp[static_cast<size_t>(at + b)], 255);
  }
  int32_t r, g, b;
};

}  // namespace

void DecodeTwiddledRectangle16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t width,
                               int32_t height) {
  if (!plane.Holds(width, height)) return;
  const int32_t side = std::min(width, height);
  const int32_t squares = std::max(width, height) / side;
  for (int32_t k = 0; k < squares; ++k) {
    const int32_t x = width > height ? k * side : 0;
    const int32_t y = width > height ? 0 : k * side;
    TransferTwiddled16(plane, data, cursor, x, y, side);
  }
}

int64_t AliasTopLevelOffset(int32_t width, int32_t height, int64_t dataLength) {
  const int64_t top = 2 * static_cast<int64_t>(std::max(width, 0)) * std::max(height, 0);
  return dataLength > top ? dataLength - top : 0;
}

uint32_t YuvToPixel(int32_t y, int32_t u, int32_t v) { return Chroma(u, v).Pixel(y); }

void DecodeStrideYuv422(const Plane& plane, std::span<const uint8_t> data, int32_t width, int32_t height) {
  if (!plane.Holds(width, height)) return;
  constexpr int32_t kNeutral = 128;
  const uint64_t rowBytes = static_cast<uint64_t>(width) * 2;
  const bool whole = Fits(data, 0, rowBytes * static_cast<uint64_t>(height));
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* out = plane.Row(y);
    const uint64_t row = static_cast<uint64_t>(y) * rowBytes;
    for (int32_t x = 0; x < width; x += 2) {
      const uint64_t at = row + static_cast<uint64_t>(x) * 2;
      const bool paired = x + 1 < width;
      if (whole && paired) {
        const uint16_t w0 = Le16(data, at);
        const uint16_t w1 = Le16(data, at + 2);
        const Chroma chroma(w0 & 0xFF, w1 & 0xFF);
        out[x] = chroma.Pixel(w0 >> 8);
        out[x + 1] = chroma.Pixel(w1 >> 8);
        continue;
      }
      const bool first = Fits(data, at, 2);
      const bool second = paired && Fits(data, at + 2, 2);
      const uint16_t w0 = first ? Le16(data, at) : 0;
      const uint16_t w1 = second ? Le16(data, at + 2) : 0;
      const int32_t u = first ? (w0 & 0xFF) : kNeutral;
      const int32_t v = second ? (w1 & 0xFF) : kNeutral;
      out[x] = first ? YuvToPixel(w0 >> 8, u, v) : 0;
      if (paired) out[x + 1] = second ? YuvToPixel(w1 >> 8, u, v) : 0;
    }
  }
}

}  // namespace quarrendel::texture
