// FitS3tc on arbitrary small pictures, decoded by the bit-repeating
// reference decoder. Byte 0: bits 0-1 pick the width (4, 8, 12 or 16), bits
// 2-3 the height, bit 4 makes every pixel opaque; the rest are the pixels, 4
// bytes each (red, green, blue, alpha), repeated to fill the picture.
// Checks, per 4 x 4 block:
// - DXT1: pixels with alpha below 128 come back transparent black and make
//   the block a three-colour one (c0 <= c1); the others come back opaque,
//   each as the nearest of its block's opaque colours, and their summed
//   error is at most sum (|p - m| + 4.34)^2, m their mean: no worse than
//   one colour that a block holds within 2.5 of m in each channel.
// - DXT3: alpha is the nearest nibble, colours as DXT1's opaque blocks.
// - CMPR: each 8 x 8 tile is Dxt1ToCmpr of the DXT1 encoding's four blocks.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tests/support/replicated_s3tc.h"
#include "texture/cmpr_order.h"
#include "texture/s3tc_fit.h"

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

// The colours of `block` that `used` marks decode as the nearest of the
// palette's opaque colours, within the mean-colour bound.
void CheckColours(const std::array<uint32_t, 16>& source, const std::array<uint32_t, 16>& decoded,
                  const std::array<uint32_t, 4>& palette, const std::array<bool, 16>& used) {
  double mean[3] = {};
  int n = 0;
  for (size_t k = 0; k < 16; ++k) {
    if (!used[k]) continue;
    ++n;
    for (int c = 0; c < 3; ++c) mean[c] += static_cast<double>((source[k] >> (8 * c)) & 0xFF);
  }
  if (n == 0) return;
  for (double& m : mean) m /= n;
  int64_t error = 0;
  double bound = 0;
  for (size_t k = 0; k < 16; ++k) {
    if (!used[k]) continue;
    int64_t nearest = INT64_MAX;
    for (uint32_t colour : palette) {
      if ((colour >> 24) == 255) nearest = std::min(nearest, Distance2(source[k], colour));
    }
    Require((decoded[k] >> 24) == 255);
    Require(Distance2(source[k], decoded[k]) == nearest);
    error += nearest;
    double d2 = 0;
    for (int c = 0; c < 3; ++c) {
      const double d = static_cast<double>((source[k] >> (8 * c)) & 0xFF) - mean[c];
      d2 += d * d;
    }
    bound += (std::sqrt(d2) + 4.34) * (std::sqrt(d2) + 4.34);
  }
  Require(static_cast<double>(error) <= bound);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int32_t width = 4 * (1 + (data[0] & 3)), height = 4 * (1 + ((data[0] >> 2) & 3));
  const bool opaque = (data[0] & 16) != 0;
  const size_t pixels = (size - 1) / 4;
  std::vector<uint32_t> picture(static_cast<size_t>(width * height));
  for (size_t i = 0; i < picture.size(); ++i) {
    const uint8_t* p = data + 1 + 4 * (i % pixels);
    picture[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (opaque) picture[i] |= 0x80000000u;
  }
  const std::vector<uint8_t> dxt1 = FitS3tc(FitLayout::Dxt1, picture, width, height);
  const std::vector<uint8_t> dxt3 = FitS3tc(FitLayout::Dxt3, picture, width, height);
  const int32_t blocksX = width / 4;
  for (int32_t by = 0; by < height / 4; ++by) {
    for (int32_t bx = 0; bx < blocksX; ++bx) {
      std::array<uint32_t, 16> source{};
      std::array<bool, 16> used{}, all{};
      bool anyTransparent = false;
      for (size_t k = 0; k < 16; ++k) {
        source[k] = picture[static_cast<size_t>((4 * by + static_cast<int32_t>(k / 4)) * width + 4 * bx) + k % 4];
        used[k] = (source[k] >> 24) >= 128;
        all[k] = true;
        anyTransparent |= !used[k];
      }
      const size_t at = static_cast<size_t>(by * blocksX + bx);
      const uint8_t* b1 = dxt1.data() + 8 * at;
      const auto c0 = static_cast<uint16_t>(b1[0] | (b1[1] << 8)), c1 = static_cast<uint16_t>(b1[2] | (b1[3] << 8));
      if (anyTransparent) Require(c0 <= c1);
      const std::array<uint32_t, 16> decoded = test::DecodeReplicatedDxt1Block(b1);
      for (size_t k = 0; k < 16; ++k) {
        if (!used[k]) Require(decoded[k] == 0);
      }
      CheckColours(source, decoded, test::ReplicatedColours(c0, c1, false), used);

      const uint8_t* b3 = dxt3.data() + 16 * at;
      std::array<uint32_t, 16> decoded3 = test::DecodeReplicatedDxt3Block(b3);
      for (size_t k = 0; k < 16; ++k) {
        Require((decoded3[k] >> 24) == ((source[k] >> 24) + 8) / 17 * 17);
        decoded3[k] |= 0xFF000000u;
      }
      const auto d0 = static_cast<uint16_t>(b3[8] | (b3[9] << 8)), d1 = static_cast<uint16_t>(b3[10] | (b3[11] << 8));
      CheckColours(source, decoded3, test::ReplicatedColours(d0, d1, true), all);
    }
  }

  if (width % 8 == 0 && height % 8 == 0) {
    const std::vector<uint8_t> cmpr = FitS3tc(FitLayout::Cmpr, picture, width, height);
    for (int32_t ty = 0; ty < height / 8; ++ty) {
      for (int32_t tx = 0; tx < width / 8; ++tx) {
        std::vector<uint8_t> tile;
        for (int32_t sub = 0; sub < 4; ++sub) {
          const auto at = static_cast<ptrdiff_t>(8 * ((2 * ty + sub / 2) * blocksX + 2 * tx + sub % 2));
          tile.insert(tile.end(), dxt1.begin() + at, dxt1.begin() + at + 8);
        }
        Dxt1ToCmpr(8, tile);
        Require(std::equal(tile.begin(), tile.end(), cmpr.begin() + 32 * (ty * (width / 8) + tx)));
      }
    }
  }
  return 0;
}
