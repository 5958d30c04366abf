#include "texture/mipmap_generate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/error.h"

namespace quarrendel::texture {
namespace {

uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | (g << 8) | (b << 16) | (a << 24); }

std::vector<RgbaImage> Chain(int32_t width, int32_t height, uint32_t fill) {
  const std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
  return GenerateMipmaps(RgbaView{pixels, width, height}, MipLevelCount(width, height));
}

// 2 x 2 (or 1 x 2) -> 1 x 1, worked out with the sRGB curve: 50 % linear is
// sRGB 187.5 -> 188, 75 % is 224.6, 25 % is 137.0; 100 and 200 are linear
// 0.1274 and 0.5776, whose mean 0.3525 is sRGB 160.2.
struct BoxCase {
  const char* name;
  int32_t width;
  int32_t height;
  std::vector<uint32_t> pixels;
  uint32_t expected;
};

TEST(MipmapGenerateTest, BoxFilterInLinearLightWeightedByAlpha) {
  const uint32_t white = Rgba(255, 255, 255, 255), black = Rgba(0, 0, 0, 255);
  const BoxCase cases[] = {
      {"white and black", 2, 2, {white, black, black, white}, Rgba(188, 188, 188, 255)},
      {"greys 100 and 200", 2, 2, {Rgba(100, 100, 100, 255), Rgba(200, 200, 200, 255), Rgba(100, 100, 100, 255),
                                   Rgba(200, 200, 200, 255)}, Rgba(160, 160, 160, 255)},
      {"one red texel among transparent black", 2, 2, {Rgba(255, 0, 0, 255), 0, 0, 0}, Rgba(255, 0, 0, 64)},
      {"all transparent: colours count equally", 2, 2, {Rgba(255, 255, 255, 0), 0, Rgba(255, 255, 255, 0), 0},
       Rgba(188, 188, 188, 0)},
      {"white 255 and black 85 over transparent blue", 2, 2,
       {white, Rgba(0, 0, 0, 85), Rgba(0, 0, 255, 0), Rgba(0, 0, 255, 0)}, Rgba(225, 225, 225, 85)},
      {"three red, one green", 2, 2, {Rgba(255, 0, 0, 255), Rgba(255, 0, 0, 255), Rgba(0, 255, 0, 255),
                                      Rgba(255, 0, 0, 255)}, Rgba(225, 137, 0, 255)},
      {"a column of two", 1, 2, {white, black}, Rgba(188, 188, 188, 255)},
      {"a row of two", 2, 1, {Rgba(255, 0, 0, 255), 0}, Rgba(255, 0, 0, 128)},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto chain = GenerateMipmaps(RgbaView{c.pixels, c.width, c.height}, 2);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].pixels, c.pixels);
    ASSERT_EQ(chain[1].pixels.size(), 1u);
    EXPECT_EQ(chain[1].pixels[0], c.expected);
  }
}

TEST(MipmapGenerateTest, LevelSizesHalveEachSideDownToOne) {
  struct SizeCase {
    int32_t width, height;
    std::vector<std::pair<int32_t, int32_t>> levels;
  };
  const SizeCase cases[] = {
      {8, 8, {{8, 8}, {4, 4}, {2, 2}, {1, 1}}},
      {256, 128, {{256, 128}, {128, 64}, {64, 32}, {32, 16}, {16, 8}, {8, 4}, {4, 2}, {2, 1}, {1, 1}}},
      {32, 512, {{32, 512}, {16, 256}, {8, 128}, {4, 64}, {2, 32}, {1, 16}, {1, 8}, {1, 4}, {1, 2}, {1, 1}}},
      {1, 4, {{1, 4}, {1, 2}, {1, 1}}},
      {1, 1, {{1, 1}}},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    EXPECT_EQ(MipLevelCount(c.width, c.height), static_cast<int32_t>(c.levels.size()));
    const auto chain = Chain(c.width, c.height, Rgba(1, 2, 3, 4));
    ASSERT_EQ(chain.size(), c.levels.size());
    for (size_t k = 0; k < chain.size(); ++k) {
      EXPECT_EQ(chain[k].width, c.levels[k].first);
      EXPECT_EQ(chain[k].height, c.levels[k].second);
      EXPECT_EQ(chain[k].pixels.size(), static_cast<size_t>(chain[k].width) * static_cast<size_t>(chain[k].height));
    }
  }
  // A shorter chain stops early.
  const std::vector<uint32_t> pixels(64 * 16, 0);
  EXPECT_EQ(GenerateMipmaps(RgbaView{pixels, 64, 16}, 3).back().width, 16);
}

TEST(MipmapGenerateTest, AConstantPictureGivesConstantLevels) {
  // Every grey value survives the trip to linear light and back; colours
  // with any alpha keep their value too.
  std::vector<uint32_t> colours;
  for (uint32_t v = 0; v < 256; ++v) colours.push_back(Rgba(v, v, v, 255));
  colours.push_back(Rgba(12, 200, 77, 0));
  colours.push_back(Rgba(250, 3, 130, 77));
  for (const uint32_t colour : colours) {
    SCOPED_TRACE(colour);
    for (const RgbaImage& level : Chain(16, 4, colour)) {
      for (const uint32_t pixel : level.pixels) ASSERT_EQ(pixel, colour);
    }
  }
}

TEST(MipmapGenerateTest, ATransparentBlackBorderLeavesNoDarkRim) {
  // 32 x 32 orange, opaque, inside a 3-texel border of transparent black:
  // every level's texel that shows anything is the orange itself.
  constexpr int32_t kSide = 32;
  const uint32_t orange = Rgba(230, 120, 40, 255);
  std::vector<uint32_t> pixels(kSide * kSide, 0);
  for (int32_t y = 3; y < kSide - 3; ++y) {
    for (int32_t x = 3; x < kSide - 3; ++x) pixels[static_cast<size_t>(y * kSide + x)] = orange;
  }
  const auto chain = GenerateMipmaps(RgbaView{pixels, kSide, kSide}, MipLevelCount(kSide, kSide));
  int32_t edges = 0;
  for (const RgbaImage& level : chain) {
    for (const uint32_t pixel : level.pixels) {
      if ((pixel >> 24) == 0) continue;
      ASSERT_EQ(pixel & 0xFFFFFF, orange & 0xFFFFFF) << level.width;
      edges += (pixel >> 24) < 255;
    }
  }
  EXPECT_GT(edges, 0);  // the border did blend into alpha
  EXPECT_EQ(chain.back().pixels[0] & 0xFFFFFF, orange & 0xFFFFFF);
}

TEST(MipmapGenerateTest, SrgbTables) {
  // sRGB 1 is 19.9 / 65535 in linear light (the straight segment), 128 is
  // 0.21586 (14146.4), 188 is 0.50288 (32956.7).
  EXPECT_EQ(SrgbToLinear(0), 0);
  EXPECT_EQ(SrgbToLinear(1), 20);
  EXPECT_EQ(SrgbToLinear(128), 14146);
  EXPECT_EQ(SrgbToLinear(188), 32957);
  EXPECT_EQ(SrgbToLinear(255), 65535);
  // 50 % linear light is sRGB 187.52 (187 is 32566.5, 188 is 32956.7).
  EXPECT_EQ(LinearToSrgb(32768), 188);
  EXPECT_EQ(LinearToSrgb(0), 0);
  EXPECT_EQ(LinearToSrgb(65535), 255);
}

TEST(MipmapGenerateTest, RefusesSidesAndCountsItCannotChain) {
  const std::vector<uint32_t> twelve(12, 0), sixteen(16, 0);
  const struct {
    RgbaView view;
    int32_t levels;
  } refused[] = {
      {{twelve, 3, 4}, 1},    // not a power of two
      {{sixteen, 4, 4}, 0},   // no level
      {{sixteen, 4, 4}, 4},   // one more than 4, 2, 1
      {{twelve, 4, 4}, 1},    // pixels missing
      {{{}, 0, 0}, 1},
  };
  for (const auto& r : refused) {
    EXPECT_THROW(GenerateMipmaps(r.view, r.levels), Error) << r.view.width << " x " << r.view.height;
  }
  EXPECT_EQ(MipLevelCount(3, 4), 0);
}

}  // namespace
}  // namespace quarrendel::texture
