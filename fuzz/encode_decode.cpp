// Encode -> decode of arbitrary pixels. Byte 0: bit 0 picks an 8 x 8
// picture (else 4 x 4), bit 1 makes every pixel opaque; the rest are the
// pixels, 4 bytes each (red, green, blue, alpha), repeated to fill the
// picture. Checks, per 4 x 4 block:
// - DXT1: pixels with alpha below 0x80 come back transparent black, the
//   others opaque, each as the nearest of its block's opaque colours; in an
//   opaque block no pixel is further than 7 R + 16 from its source, R being
//   the block's largest channel range (the least-squares end points cannot
//   do worse than the block's mean, and 5-6-5 rounding adds at most 16).
// - DXT3: alpha keeps its top four bits, colours as DXT1 without
//   transparency.
// - CMPR order there and back gives the DXT1 bytes again.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "core/image_store.h"
#include "texture/cmpr_order.h"
#include "texture/s3tc_encode.h"
#include "texture/xvr_decode.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

void Require(bool condition) {
  if (!condition) std::abort();
}

int64_t Distance2(uint32_t a, uint32_t b) {
  int64_t sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int64_t d = static_cast<int64_t>((a >> shift) & 0xFF) - static_cast<int64_t>((b >> shift) & 0xFF);
    sum += d * d;
  }
  return sum;
}

int32_t LargestRange(const Canvas& c, int32_t x0, int32_t y0) {
  int32_t range = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int32_t lo = 255, hi = 0;
    for (int k = 0; k < 16; ++k) {
      const auto v = static_cast<int32_t>((c(x0 + k % 4, y0 + k / 4) >> shift) & 0xFF);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    range = std::max(range, hi - lo);
  }
  return range;
}

// Every source pixel of block (bx, by) decoded as the nearest of `colours`
// (only those with alpha 255 count), within 7 R + 16 when `bounded`.
void CheckBlock(const Canvas& source, const texture::Plane& decoded, int32_t bx, int32_t by,
                const std::array<uint32_t, 4>& colours, bool transparentMode, bool bounded) {
  const int32_t x0 = 4 * bx, y0 = 4 * by;
  const double limit = 7.0 * LargestRange(source, x0, y0) + 16.0;
  for (int k = 0; k < 16; ++k) {
    const uint32_t s = source(x0 + k % 4, y0 + k / 4), d = decoded(x0 + k % 4, y0 + k / 4);
    if (transparentMode && (s >> 24) < 0x80) {
      Require(d == 0);
      continue;
    }
    Require((d >> 24) == 255);
    int64_t nearest = INT64_MAX;
    for (uint32_t c : colours) {
      if (!transparentMode || (c >> 24) == 255) nearest = std::min(nearest, Distance2(s, c));
    }
    Require(Distance2(s, d) == nearest);
    if (bounded) Require(std::sqrt(static_cast<double>(nearest)) <= limit);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::unique_ptr<Canvas> source = std::make_unique<Canvas>();
  static std::vector<uint32_t> decodedPixels(64);
  static const texture::Plane decodedPlane(decodedPixels, 8, 8);
  const texture::Plane* decoded = &decodedPlane;
  if (size < 5) return 0;
  const int32_t side = (data[0] & 1) ? 8 : 4;
  const bool opaque = (data[0] & 2) != 0;
  const size_t pixels = (size - 1) / 4;
  for (int32_t i = 0; i < side * side; ++i) {
    const uint8_t* p = data + 1 + 4 * (static_cast<size_t>(i) % pixels);
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (opaque) v |= 0x80000000u;
    (*source)(i % side, i / side) = v;
  }
  const int32_t blocks = side / 4;

  std::vector<uint8_t> dxt1(static_cast<size_t>(Dxt1Bytes(side)));
  EncodeDxt1(*source, side, dxt1);
  DecodeDxt1(*decoded, side, dxt1);
  for (int32_t by = 0; by < blocks; ++by) {
    for (int32_t bx = 0; bx < blocks; ++bx) {
      const uint8_t* b = dxt1.data() + 8 * (by * blocks + bx);
      const uint16_t c0 = static_cast<uint16_t>(b[0] | (b[1] << 8)), c1 = static_cast<uint16_t>(b[2] | (b[3] << 8));
      bool anyTransparent = false;
      for (int k = 0; k < 16; ++k) anyTransparent |= ((*source)(4 * bx + k % 4, 4 * by + k / 4) >> 24) < 0x80;
      // A transparent pixel needs three colours; an opaque block never gets index 3 of them.
      if (anyTransparent) Require(c0 <= c1);
      CheckBlock(*source, *decoded, bx, by, BlockColours(c0, c1, false), true, !anyTransparent);
    }
  }

  std::vector<uint8_t> dxt3(static_cast<size_t>(Dxt3Bytes(side)));
  EncodeDxt3(*source, side, dxt3);
  DecodeDxt3(*decoded, side, dxt3);
  for (int32_t by = 0; by < blocks; ++by) {
    for (int32_t bx = 0; bx < blocks; ++bx) {
      const uint8_t* b = dxt3.data() + 16 * (by * blocks + bx) + 8;
      std::array<uint32_t, 4> colours = BlockColours(static_cast<uint16_t>(b[0] | (b[1] << 8)),
                                                     static_cast<uint16_t>(b[2] | (b[3] << 8)), true);
      for (uint32_t& c : colours) c |= 0xFF000000u;
      for (int k = 0; k < 16; ++k) {
        const int32_t x = 4 * bx + k % 4, y = 4 * by + k / 4;
        Require(((*decoded)(x, y) >> 28) == ((*source)(x, y) >> 28));
        (*decoded)(x, y) |= 0xFF000000u;
      }
      CheckBlock(*source, *decoded, bx, by, colours, false, true);
    }
  }

  if (side == 8) {
    std::vector<uint8_t> cmpr = dxt1;
    Dxt1ToCmpr(side, cmpr);
    CmprToDxt1(side, cmpr);
    Require(cmpr == dxt1);
  }
  return 0;
}
