#include "texture/mipmap_generate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <string>

#include "core/error.h"

namespace quarrendel::texture {

namespace {

// The sRGB transfer curve, only ever evaluated to build the tables.
double Decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double Encode(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055; }

// t[i] := curve(i / (N - 1)) * scale, rounded to nearest.
template <typename T, size_t N>
std::array<T, N> CurveTable(double (*curve)(double), double scale) {
  std::array<T, N> t{};
  for (size_t i = 0; i < N; ++i) t[i] = static_cast<T>(std::lround(curve(static_cast<double>(i) / (N - 1)) * scale));
  return t;
}

const std::array<uint16_t, 256>& ToLinear() {
  static const auto table = CurveTable<uint16_t, 256>(Decode, 65535.0);
  return table;
}

const std::array<uint8_t, 65536>& ToSrgb() {
  static const auto table = CurveTable<uint8_t, 65536>(Encode, 255.0);
  return table;
}

bool PowerOfTwo(int32_t side) { return side > 0 && std::has_single_bit(static_cast<uint32_t>(side)); }

// The level below `above` (sides w, h): the box of texels 2x, 2x + 1 (just
// 0 when w is 1) by 2y, 2y + 1.
RgbaImage Halve(const RgbaImage& above) {
  const auto& linear = ToLinear();
  const auto& srgb = ToSrgb();
  RgbaImage level;
  level.width = std::max(above.width / 2, 1);
  level.height = std::max(above.height / 2, 1);
  level.pixels.resize(static_cast<size_t>(level.width) * static_cast<size_t>(level.height));
  const int32_t spanX = above.width > 1 ? 2 : 1, spanY = above.height > 1 ? 2 : 1;
  const uint32_t count = static_cast<uint32_t>(spanX * spanY);
  for (int32_t y = 0; y < level.height; ++y) {
    for (int32_t x = 0; x < level.width; ++x) {
      uint32_t alphaSum = 0;
      std::array<uint32_t, 3> weighted{}, plain{};
      for (int32_t dy = 0; dy < spanY; ++dy) {
        for (int32_t dx = 0; dx < spanX; ++dx) {
          const uint32_t pixel = above.pixels[static_cast<size_t>(spanY * y + dy) * static_cast<size_t>(above.width) +
                                              static_cast<size_t>(spanX * x + dx)];
          const uint32_t alpha = pixel >> 24;
          alphaSum += alpha;
          for (size_t c = 0; c < 3; ++c) {
            const uint32_t l = linear[(pixel >> (8 * c)) & 0xFF];
            weighted[c] += alpha * l;
            plain[c] += l;
          }
        }
      }
      uint32_t out = ((alphaSum + count / 2) / count) << 24;
      for (size_t c = 0; c < 3; ++c) {
        const uint32_t l = alphaSum > 0 ? (weighted[c] + alphaSum / 2) / alphaSum : (plain[c] + count / 2) / count;
        out |= static_cast<uint32_t>(srgb[l]) << (8 * c);
      }
      level.pixels[static_cast<size_t>(y) * static_cast<size_t>(level.width) + static_cast<size_t>(x)] = out;
    }
  }
  return level;
}

}  // namespace

int32_t MipLevelCount(int32_t width, int32_t height) {
  if (!PowerOfTwo(width) || !PowerOfTwo(height)) return 0;
  return std::bit_width(static_cast<uint32_t>(std::max(width, height)));
}

std::vector<RgbaImage> GenerateMipmaps(const RgbaView& top, int32_t levels) {
  const int32_t full = MipLevelCount(top.width, top.height);
  if (full == 0 || levels < 1 || levels > full ||
      top.pixels.size() != static_cast<size_t>(top.width) * static_cast<size_t>(top.height)) {
    throw Error(ErrorKind::Usage, "mipmaps: " + std::to_string(levels) + " levels of a " + std::to_string(top.width) +
                                      " x " + std::to_string(top.height) + " picture of " +
                                      std::to_string(top.pixels.size()) + " pixels");
  }
  std::vector<RgbaImage> chain;
  chain.reserve(static_cast<size_t>(levels));
  chain.push_back(RgbaImage{top.width, top.height, std::vector<uint32_t>(top.pixels.begin(), top.pixels.end())});
  for (int32_t k = 1; k < levels; ++k) chain.push_back(Halve(chain.back()));
  return chain;
}

uint16_t SrgbToLinear(uint8_t value) { return ToLinear()[value]; }
uint8_t LinearToSrgb(uint16_t linear) { return ToSrgb()[linear]; }

}  // namespace quarrendel::texture
