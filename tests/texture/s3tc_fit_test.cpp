#include "texture/s3tc_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/image_store.h"
#include "tests/support/replicated_s3tc.h"
#include "texture/cmpr_order.h"
#include "texture/s3tc_encode.h"

namespace quarrendel::texture {
namespace {

using test::DecodeReplicatedDxt1Block;
using test::DecodeReplicatedDxt3Block;

int64_t Distance2(uint32_t a, uint32_t b) {
  int64_t sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int64_t d = static_cast<int64_t>((a >> shift) & 0xFF) - static_cast<int64_t>((b >> shift) & 0xFF);
    sum += d * d;
  }
  return sum;
}

std::array<uint32_t, 16> Dxt1RoundTrip(const PixelBlock& block) {
  std::array<uint8_t, 8> out{};
  FitDxt1Block(block, out);
  return DecodeReplicatedDxt1Block(out.data());
}

std::array<uint32_t, 16> Dxt3RoundTrip(const PixelBlock& block) {
  std::array<uint8_t, 16> out{};
  FitDxt3Block(block, out);
  return DecodeReplicatedDxt3Block(out.data());
}

// The 8-bit values a channel of `bits` can decode to, found by trying every
// pair of codes: end points and (four colours) the 1/3 and 2/3 points, or
// (three colours) the midpoint. Per value, the least squared distance to one.
struct Reach {
  std::array<bool, 256> fourHolds{}, threeHolds{};
  std::array<int64_t, 256> four{}, three{};
};

Reach ReachOf(int bits) {
  const auto widen = [bits](int c) { return bits == 5 ? c * 33 / 4 : c * 65 / 16; };
  Reach reach;
  for (int a = 0; a < (1 << bits); ++a) {
    for (int b = 0; b < (1 << bits); ++b) {
      const int ea = widen(a), eb = widen(b);
      reach.fourHolds[static_cast<size_t>(ea)] = reach.threeHolds[static_cast<size_t>(ea)] = true;
      reach.fourHolds[static_cast<size_t>((2 * ea + eb) / 3)] = true;
      reach.threeHolds[static_cast<size_t>((ea + eb) / 2)] = true;
    }
  }
  for (size_t v = 0; v < 256; ++v) {
    reach.four[v] = reach.three[v] = INT64_MAX;
    for (size_t d = 0; d < 256; ++d) {
      const int64_t diff = static_cast<int64_t>(v) - static_cast<int64_t>(d), e = diff * diff;
      if (reach.fourHolds[d]) reach.four[v] = std::min(reach.four[v], e);
      if (reach.threeHolds[d]) reach.three[v] = std::min(reach.three[v], e);
    }
  }
  return reach;
}

PixelBlock Filled(uint32_t pixel) {
  PixelBlock b;
  b.fill(pixel);
  return b;
}

const Reach& Five() {
  static const Reach reach = ReachOf(5);
  return reach;
}
const Reach& Six() {
  static const Reach reach = ReachOf(6);
  return reach;
}

TEST(S3tcFitTest, OneColourDecodesToTheNearestColourABlockCanHold) {
  const Reach &five = Five(), &six = Six();
  std::vector<uint32_t> colours;
  for (uint32_t v = 0; v < 256; ++v) colours.push_back(v * 0x010101u);  // every grey
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) colours.push_back(rng() & 0xFFFFFF);
  for (uint32_t rgb : colours) {
    const size_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    const int64_t four = five.four[r] + six.four[g] + five.four[b];
    const int64_t three = five.three[r] + six.three[g] + five.three[b];
    const std::array<uint32_t, 16> dxt1 = Dxt1RoundTrip(Filled(rgb | 0xFF000000u));
    const std::array<uint32_t, 16> dxt3 = Dxt3RoundTrip(Filled(rgb | 0x80000000u));
    for (int k = 0; k < 16; ++k) {
      EXPECT_EQ(dxt1[static_cast<size_t>(k)] >> 24, 255u) << std::hex << rgb;
      EXPECT_EQ(Distance2(dxt1[static_cast<size_t>(k)], rgb), std::min(four, three)) << std::hex << rgb;
      EXPECT_EQ(Distance2(dxt3[static_cast<size_t>(k)], rgb), four) << std::hex << rgb;
    }
  }
}

// Colours a block can hold exactly: 5-6-5 codes widened by repeating bits.
uint32_t Representable(uint32_t code565) {
  const uint32_t r = code565 >> 11, g = (code565 >> 5) & 63, b = code565 & 31;
  return ((r << 3) | (r >> 2)) | (((g << 2) | (g >> 4)) << 8) | (((b << 3) | (b >> 2)) << 16) | 0xFF000000u;
}

// Blocks made of colours one block can hold come back exactly: two
// representable colours, or all four colours of a four-colour block.
TEST(S3tcFitTest, BlocksOfColoursOneBlockHoldsComeBackExactly) {
  std::mt19937 rng(11);
  for (int i = 0; i < 4000; ++i) {
    const auto ca = static_cast<uint16_t>(rng()), cb = static_cast<uint16_t>(rng());
    std::array<uint32_t, 4> colours{};
    if (i % 2 == 0) {
      colours = {Representable(ca), Representable(cb), Representable(ca), Representable(cb)};
    } else {
      colours = test::ReplicatedColours(std::max(ca, cb), std::min(ca, cb), true);
    }
    PixelBlock block;
    for (int k = 0; k < 16; ++k) block[static_cast<size_t>(k)] = colours[k < 4 ? k : rng() % 4] | 0xFF000000u;
    const std::array<uint32_t, 16> dxt1 = Dxt1RoundTrip(block), dxt3 = Dxt3RoundTrip(block);
    for (int k = 0; k < 16; ++k) {
      EXPECT_EQ(dxt1[static_cast<size_t>(k)], block[static_cast<size_t>(k)]) << i << " pixel " << k;
      EXPECT_EQ(dxt3[static_cast<size_t>(k)] | 0xFF000000u, block[static_cast<size_t>(k)]) << i << " pixel " << k;
    }
  }
}

// The error of the pixels marked in `used` had they all decoded to the one
// colour nearest their rounded mean that a block of four (or three) colours
// holds; where two such colours tie, the worse of them. The fit never does
// worse than that: it tries the mean as one colour when nothing beats it.
int64_t FlatBound(const PixelBlock& block, const std::array<bool, 16>& used, bool four) {
  int64_t n = 0, sum[3] = {};
  for (int k = 0; k < 16; ++k) {
    if (!used[static_cast<size_t>(k)]) continue;
    ++n;
    for (int c = 0; c < 3; ++c) sum[c] += (block[static_cast<size_t>(k)] >> (8 * c)) & 0xFF;
  }
  int64_t bound = 0;
  for (int c = 0; c < 3; ++c) {
    const Reach& reach = c == 1 ? Six() : Five();
    const std::array<bool, 256>& holds = four ? reach.fourHolds : reach.threeHolds;
    const int64_t mean = (sum[c] + n / 2) / n;
    int64_t worst = 0;
    for (int64_t step = 0; worst == 0 && step < 256; ++step) {
      bool found = false;
      for (const int64_t d : {mean - step, mean + step}) {
        if (d < 0 || d > 255 || !holds[static_cast<size_t>(d)]) continue;
        found = true;
        int64_t e = 0;
        for (int k = 0; k < 16; ++k) {
          const int64_t x = (block[static_cast<size_t>(k)] >> (8 * c)) & 0xFF;
          if (used[static_cast<size_t>(k)]) e += (x - d) * (x - d);
        }
        worst = std::max(worst, e + 1);  // + 1: found, even at error 0
      }
      if (found) break;
    }
    bound += worst - 1;
  }
  return bound;
}

// Noise, a gradient between two colours with noise, two tones with noise,
// and a nearly flat block; alpha opaque, mixed or transparent.
PixelBlock RandomBlock(std::mt19937& rng, int shape, int alpha) {
  const auto channel = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
  const uint32_t a = rng(), b = rng();
  const int amount = 1 + static_cast<int>(rng() % 16);
  PixelBlock block;
  for (int k = 0; k < 16; ++k) {
    uint32_t pixel = 0;
    for (int c = 0; c < 3; ++c) {
      const int ca = static_cast<int>((a >> (8 * c)) & 0xFF), cb = static_cast<int>((b >> (8 * c)) & 0xFF);
      const int noise = static_cast<int>(rng() % (2 * static_cast<uint32_t>(amount) + 1)) - amount;
      int v = 0;
      switch (shape) {
        case 0: v = static_cast<int>(rng() & 0xFF); break;
        case 1: v = ca + (cb - ca) * (k % 4 + k / 4) / 6 + noise; break;
        case 2: v = ((a >> (k + 8)) & 1 ? ca : cb) + noise / 4; break;
        default: v = ca + noise / 4; break;
      }
      pixel |= channel(v) << (8 * c);
    }
    const uint32_t opacity = alpha == 0 ? 128 + rng() % 128 : alpha == 1 ? rng() % 256 : rng() % 128;
    block[static_cast<size_t>(k)] = pixel | (opacity << 24);
  }
  return block;
}

TEST(S3tcFitTest, OneBitAlphaDxt3NibblesAndNoWorseThanTheMeanColour) {
  std::mt19937 rng(13);
  for (int i = 0; i < 6000; ++i) {
    const PixelBlock block = RandomBlock(rng, i % 4, (i / 4) % 3);
    std::array<uint8_t, 8> dxt1{};
    FitDxt1Block(block, dxt1);
    const std::array<uint32_t, 16> decoded = DecodeReplicatedDxt1Block(dxt1.data());
    std::array<bool, 16> opaque{}, all{};
    bool anyTransparent = false;
    int64_t error = 0;
    for (int k = 0; k < 16; ++k) {
      const uint32_t source = block[static_cast<size_t>(k)], out = decoded[static_cast<size_t>(k)];
      opaque[static_cast<size_t>(k)] = (source >> 24) >= 128;
      all[static_cast<size_t>(k)] = true;
      anyTransparent |= !opaque[static_cast<size_t>(k)];
      if (opaque[static_cast<size_t>(k)]) {
        EXPECT_EQ(out >> 24, 255u) << i << " pixel " << k;
        error += Distance2(source, out);
      } else {
        EXPECT_EQ(out, 0u) << i << " pixel " << k;  // index 3 of a three-colour block
      }
    }
    const int c0 = dxt1[0] | (dxt1[1] << 8), c1 = dxt1[2] | (dxt1[3] << 8);
    if (anyTransparent) {
      EXPECT_LE(c0, c1) << i;
    }
    if (std::count(opaque.begin(), opaque.end(), true) > 0) {
      EXPECT_LE(error, FlatBound(block, opaque, !anyTransparent)) << i;
    }

    std::array<uint8_t, 16> dxt3{};
    FitDxt3Block(block, dxt3);
    const std::array<uint32_t, 16> decoded3 = DecodeReplicatedDxt3Block(dxt3.data());
    error = 0;
    for (int k = 0; k < 16; ++k) {
      const uint32_t source = block[static_cast<size_t>(k)];
      const auto nibble = static_cast<uint32_t>(std::lround((source >> 24) / 17.0));
      EXPECT_EQ((dxt3[static_cast<size_t>(k / 2)] >> (4 * (k % 2))) & 15, nibble) << i << " pixel " << k;
      error += Distance2(source, decoded3[static_cast<size_t>(k)]);
    }
    EXPECT_LE(error, FlatBound(block, all, true)) << i;
  }
}

std::vector<uint32_t> RandomPicture(std::mt19937& rng, int32_t width, int32_t height) {
  std::vector<uint32_t> picture(static_cast<size_t>(width) * height);
  for (auto& p : picture) p = rng();
  return picture;
}

// The blocks of a picture come out in raster order (DXT1, DXT3) or in
// 8 x 8 tiles with each block turned as Dxt1ToCmpr turns it (CMPR).
TEST(S3tcFitTest, BlockOrderOfEachLayout) {
  std::mt19937 rng(17);
  for (const auto& [width, height] : {std::pair{16, 16}, {24, 8}, {8, 32}, {40, 16}}) {
    const std::vector<uint32_t> picture = RandomPicture(rng, width, height);
    const std::vector<uint8_t> dxt1 = FitS3tc(FitLayout::Dxt1, picture, width, height);
    const std::vector<uint8_t> dxt3 = FitS3tc(FitLayout::Dxt3, picture, width, height);
    const std::vector<uint8_t> cmpr = FitS3tc(FitLayout::Cmpr, picture, width, height);
    ASSERT_EQ(dxt1.size(), static_cast<size_t>(width * height / 2));
    ASSERT_EQ(dxt3.size(), static_cast<size_t>(width * height));
    ASSERT_EQ(cmpr.size(), dxt1.size());
    const int32_t blocksX = width / 4;
    for (int32_t by = 0; by < height / 4; ++by) {
      for (int32_t bx = 0; bx < blocksX; ++bx) {
        PixelBlock block;
        for (int k = 0; k < 16; ++k) {
          block[static_cast<size_t>(k)] = picture[static_cast<size_t>((4 * by + k / 4) * width + 4 * bx + k % 4)];
        }
        std::array<uint8_t, 8> one{};
        std::array<uint8_t, 16> three{};
        FitDxt1Block(block, one);
        FitDxt3Block(block, three);
        const size_t at = static_cast<size_t>(by * blocksX + bx);
        EXPECT_TRUE(std::equal(one.begin(), one.end(), dxt1.begin() + static_cast<long>(8 * at))) << bx << "," << by;
        EXPECT_TRUE(std::equal(three.begin(), three.end(), dxt3.begin() + static_cast<long>(16 * at)))
            << bx << "," << by;
      }
    }
    // Each 8 x 8 tile: its four DXT1 blocks as a texture of side 8, turned.
    for (int32_t ty = 0; ty < height / 8; ++ty) {
      for (int32_t tx = 0; tx < width / 8; ++tx) {
        std::vector<uint8_t> tile;
        for (int32_t sub = 0; sub < 4; ++sub) {
          const size_t at = static_cast<size_t>((2 * ty + sub / 2) * blocksX + 2 * tx + sub % 2);
          tile.insert(tile.end(), dxt1.begin() + static_cast<long>(8 * at),
                      dxt1.begin() + static_cast<long>(8 * at + 8));
        }
        Dxt1ToCmpr(8, tile);
        const size_t at = static_cast<size_t>(32 * (ty * (width / 8) + tx));
        EXPECT_TRUE(std::equal(tile.begin(), tile.end(), cmpr.begin() + static_cast<long>(at))) << tx << "," << ty;
      }
    }
    if (width == height) {
      std::vector<uint8_t> turned = dxt1;
      Dxt1ToCmpr(width, turned);
      EXPECT_EQ(turned, cmpr);
    }
  }
}

// A 64 x 64 picture: a gradient, a disc with a hard edge, and grain.
TEST(S3tcFitTest, PsnrFloorOnAGeneratedPicture) {
  constexpr int32_t kSide = 64;
  std::mt19937 rng(19);
  std::vector<uint32_t> picture(kSide * kSide);
  auto canvas = std::make_unique<Canvas>();
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      int r = 40 + 3 * x, g = 60 + 2 * y, b = 200 - x - y;
      if ((x - 40) * (x - 40) + (y - 24) * (y - 24) < 200) r = 250, g = 200, b = 40;
      const int grain = static_cast<int>(rng() % 9) - 4;
      const auto c = [grain](int v) { return static_cast<uint32_t>(std::clamp(v + grain, 0, 255)); };
      const uint32_t pixel = c(r) | (c(g) << 8) | (c(b) << 16) | 0xFF000000u;
      picture[static_cast<size_t>(y * kSide + x)] = pixel;
      (*canvas)(x, y) = pixel;
    }
  }
  const auto psnr = [&](const std::vector<uint8_t>& dxt1) {
    double sum = 0;
    for (size_t blockIndex = 0; blockIndex < dxt1.size() / 8; ++blockIndex) {
      const std::array<uint32_t, 16> pixels = DecodeReplicatedDxt1Block(dxt1.data() + 8 * blockIndex);
      const size_t bx = blockIndex % (kSide / 4), by = blockIndex / (kSide / 4);
      for (size_t k = 0; k < 16; ++k) {
        sum += static_cast<double>(Distance2(pixels[k], picture[(4 * by + k / 4) * kSide + 4 * bx + k % 4]));
      }
    }
    return 10.0 * std::log10(255.0 * 255.0 * 3.0 * kSide * kSide / sum);
  };
  std::vector<uint8_t> old(static_cast<size_t>(Dxt1Bytes(kSide)));
  EncodeDxt1(*canvas, kSide, old);
  const double fitted = psnr(FitS3tc(FitLayout::Dxt1, picture, kSide, kSide));
  // Measured: 39.65 dB fitted, 35.47 dB from EncodeDxt1 (made for the
  // zero-filling decoders) under this decoder.
  EXPECT_GE(fitted, 39.5);
  EXPECT_GE(fitted, psnr(old) + 3.0);
}

TEST(S3tcFitTest, RefusesSizesTheLayoutCannotTake) {
  const struct {
    FitLayout layout;
    int32_t width, height;
    size_t pixels, outBytes;
    ErrorKind kind;
    const char* names;  // the message names the layout and its granule
  } kCases[] = {
      {FitLayout::Dxt1, 6, 4, 24, 64, ErrorKind::Unsupported, "DXT1 takes widths and heights that are multiples of 4"},
      {FitLayout::Dxt3, 4, 2, 8, 64, ErrorKind::Unsupported, "DXT3 takes widths and heights that are multiples of 4"},
      {FitLayout::Cmpr, 4, 4, 16, 64, ErrorKind::Unsupported, "CMPR takes widths and heights that are multiples of 8"},
      {FitLayout::Cmpr, 16, 12, 192, 256, ErrorKind::Unsupported, "16 x 12"},
      {FitLayout::Dxt1, -4, 4, 0, 64, ErrorKind::Usage, ""},
      {FitLayout::Dxt1, 8, 8, 63, 64, ErrorKind::Usage, ""},  // picture short
      {FitLayout::Dxt1, 8, 8, 64, 31, ErrorKind::Usage, ""},  // output short
      {FitLayout::Dxt3, 8, 8, 64, 63, ErrorKind::Usage, ""},
  };
  for (const auto& c : kCases) {
    const std::vector<uint32_t> picture(c.pixels, 0xFF808080u);
    std::vector<uint8_t> out(c.outBytes, 0xAB);
    try {
      FitS3tc(c.layout, picture, c.width, c.height, out);
      ADD_FAILURE() << c.width << " x " << c.height << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), c.kind) << c.width << " x " << c.height;
      EXPECT_NE(std::string(e.what()).find(c.names), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::count(out.begin(), out.end(), 0xAB), static_cast<long>(out.size()));
  }
  EXPECT_TRUE(FitS3tc(FitLayout::Cmpr, {}, 0, 0).empty());
}

}  // namespace
}  // namespace quarrendel::texture
