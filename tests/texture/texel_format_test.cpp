#include "texture/texel_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace quarrendel::texture {
namespace {

uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | (g << 8) | (b << 16) | (a << 24); }

struct NearestCase {
  const char* name;
  TexelFormat format;
  uint32_t pixel;
  uint16_t expected;
};

// Each channel to its nearest level: 5 bits in steps of 8 (4 -> 8, 3 -> 0,
// 12 -> 16), 6 bits in steps of 4, 4 bits in steps of 16 (249 -> 15, the
// top), RGB5A3 alpha in steps of 32 up to 224.
const NearestCase kNearest[] = {
    {"1555 rounds up from half a step", TexelFormat::Argb1555, Rgba(4, 3, 12, 128), 0x8402},
    {"1555 alpha 127 is clear", TexelFormat::Argb1555, Rgba(4, 3, 12, 127), 0x0402},
    {"1555 white", TexelFormat::Argb1555, 0xFFFFFFFF, 0xFFFF},
    {"565 ignores alpha", TexelFormat::Rgb565, Rgba(250, 2, 5, 0), 0xF821},
    {"4444", TexelFormat::Argb4444, Rgba(0x17, 0x08, 0xF9, 0x88), 0x911F},
    // Opaque 104, 152, 200 with alpha 255 is 45 away; the 3-4-4-4 form
    // (alpha 224) is over 676.
    {"5A3 alpha 250 is opaque", TexelFormat::Rgb5a3, Rgba(100, 150, 200, 250), 0xB679},
    // 3-4-4-4: alpha 192, 96, 144, 208 is 180 away; opaque over 3025.
    {"5A3 alpha 200", TexelFormat::Rgb5a3, Rgba(100, 150, 200, 200), 0x669D},
    // White: opaque 248s cost 147 + alpha (255 - a)^2, 3-4-4-4 240s cost 675 + (a - 224)^2.
    {"5A3 white alpha 232 stays opaque", TexelFormat::Rgb5a3, Rgba(255, 255, 255, 232), 0xFFFF},
    {"5A3 white alpha 230 turns translucent", TexelFormat::Rgb5a3, Rgba(255, 255, 255, 230), 0x7FFF},
};

TEST(TexelFormatTest, NearestTexelTakesTheNearestLevelPerChannel) {
  for (const NearestCase& c : kNearest) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NearestTexel(c.pixel, c.format), c.expected);
  }
}

TEST(TexelFormatTest, NearestTexelOfAMean) {
  // Red 0 and 9 (mean 4.5 -> level 1), alpha 255 twice.
  EXPECT_EQ(NearestTexel(ChannelSums{9, 0, 0, 510}, 2, TexelFormat::Argb1555), 0x8400);
  // Green 1 and 3: mean 2, half-way between 6-bit levels 0 and 1, goes up.
  EXPECT_EQ(NearestTexel(ChannelSums{0, 4, 0, 0}, 2, TexelFormat::Rgb565), 0x0020);
  // Alpha 0 and 255: mean 127.5, the middle, counts as set.
  EXPECT_EQ(NearestTexel(ChannelSums{0, 0, 0, 255}, 2, TexelFormat::Argb1555), 0x8000);
  EXPECT_EQ(NearestTexel(ChannelSums{1, 2, 3, 4}, 0, TexelFormat::Argb4444), 0);
}

TEST(TexelFormatTest, EveryStoredWordIsItsOwnNearest) {
  // Every format widens distinct words to distinct pixels, so a widened word
  // is reduced to itself.
  for (const TexelFormat format :
       {TexelFormat::Argb1555, TexelFormat::Rgb565, TexelFormat::Argb4444, TexelFormat::Rgb5a3}) {
    int32_t mismatches = 0;
    for (uint32_t word = 0; word < 0x10000; ++word) {
      const uint32_t pixel = WidenTexel(static_cast<uint16_t>(word), format);
      mismatches += NearestTexel(pixel, format) != word;
      mismatches += ReduceTexel(pixel, format) != pixel;
    }
    EXPECT_EQ(mismatches, 0) << static_cast<int>(format);
  }
}

TEST(TexelFormatTest, YuvPairsShareTheirChroma) {
  // Grey has neutral chroma; black beside white differs only in Y.
  EXPECT_EQ(NearestYuvPair(Rgba(128, 128, 128, 0), Rgba(128, 128, 128, 0)), (YuvPair{0x8080, 0x8080}));
  EXPECT_EQ(NearestYuvPair(Rgba(0, 0, 0, 255), Rgba(255, 255, 255, 255)), (YuvPair{0x0080, 0xFF80}));
  EXPECT_EQ(WidenYuvPair(YuvPair{0x0080, 0xFF80}), (std::array<uint32_t, 2>{Rgba(0, 0, 0, 255), 0xFFFFFFFF}));
  EXPECT_EQ(NearestYuvPair(PairSums{}, 0), (YuvPair{0x0080, 0x0080}));

  // A pair the decoder makes is fitted back without error, the words
  // possibly differing, unless the decoder clamped a channel to 0 or 255:
  // the clamp flattens the error around the pair, and the search may stop
  // a level or two off (in 100000 random pairs, 14 % were clamped and none
  // was fitted worse than 9).
  std::mt19937 random(20);
  int32_t clamped = 0;
  for (int32_t i = 0; i < 3000; ++i) {
    const YuvPair pair{static_cast<uint16_t>(random()), static_cast<uint16_t>(random())};
    const auto pixels = WidenYuvPair(pair);
    const auto fitted = WidenYuvPair(NearestYuvPair(pixels[0], pixels[1]));
    bool saturated = false;
    int32_t error = 0;
    for (size_t k = 0; k < 2; ++k) {
      for (int32_t shift = 0; shift < 24; shift += 8) {
        const int32_t v = static_cast<int32_t>((pixels[k] >> shift) & 0xFF);
        const int32_t d = v - static_cast<int32_t>((fitted[k] >> shift) & 0xFF);
        saturated |= v == 0 || v == 255;
        error += d * d;
      }
    }
    clamped += saturated;
    ASSERT_LE(error, saturated ? 9 : 0) << std::hex << pair.left << " " << pair.right;
  }
  EXPECT_GT(clamped, 100);
}

}  // namespace
}  // namespace quarrendel::texture
