#include "texture/s3tc_encode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/error.h"
#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"
#include "texture/xvr_decode.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

constexpr uint32_t kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;

// Rows 0-1 white, rows 2-3 black, all opaque.
PixelBlock Halves() {
  PixelBlock b;
  for (int k = 0; k < 16; ++k) b[static_cast<size_t>(k)] = k < 8 ? kWhite : kBlack;
  return b;
}

PixelBlock With(PixelBlock b, int k, uint32_t pixel) {
  b[static_cast<size_t>(k)] = pixel;
  return b;
}

std::string Dxt1Hex(const PixelBlock& b) {
  Bytes out(8);
  EncodeDxt1Block(b, std::span<uint8_t, 8>(out.data(), 8));
  return ToHex(out);
}

std::string Dxt3Hex(const PixelBlock& b) {
  Bytes out(16);
  EncodeDxt3Block(b, std::span<uint8_t, 16>(out.data(), 16));
  return ToHex(out);
}

struct GoldenBlock {
  const char* name;
  PixelBlock pixels;
  bool dxt3;
  const char* expected;
};

// Worked by hand (the notes give the deciding steps), apart from the last
// three rows, whose bytes come from a separate model of the algorithm that
// rounds every float operation to single precision one at a time.
const GoldenBlock kGolden[] = {
    // Equal pixels: c0 = c1 = RGB565 of the colour, no refit, mask 0.
    {"equal", PixelBlock{0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412,
                         0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412, 0xFF563412,
                         0xFF563412, 0xFF563412},
     false, "AA 11 AA 11 00 00 00 00"},
    // White rows over black: axis weights 512 each; the refit gives c1's
    // fields 0 * frb + 0.5, a tie that rounds to the even 0.
    {"halves", Halves(), false, "FF FF 00 00 00 00 55 55"},
    // The same halves side by side: columns 0-1 index 0, 2-3 index 1.
    {"columns", PixelBlock{kWhite, kWhite, kBlack, kBlack, kWhite, kWhite, kBlack, kBlack, kWhite, kWhite, kBlack,
                           kBlack, kWhite, kWhite, kBlack, kBlack},
     false, "FF FF 00 00 50 50 50 50"},
    // Alpha 0x7F on pixel 5: three colours, black is slot 0 and white slot 1,
    // pixel 5 index 3. The refit (xx 73, yy 67, xy 2) lands on 0x0821 and
    // 0xFFFF, written as c0 < c1.
    {"alpha 7F", With(Halves(), 5, 0x7FFFFFFF), false, "21 08 FF FF 55 5D 00 00"},
    // Alpha 0x80 is opaque enough: four colours as for the plain halves.
    {"alpha 80", With(Halves(), 5, 0x80FFFFFF), false, "FF FF 00 00 00 00 55 55"},
    // Every pixel transparent, red and blue alternating: all indices 3, so
    // the refit is singular and keeps red and blue (tiny axis: fixed weights
    // make blue the high colour).
    {"singular", PixelBlock{0x000000FF, 0x00FF0000, 0x000000FF, 0x00FF0000, 0x000000FF, 0x00FF0000, 0x000000FF,
                            0x00FF0000, 0x000000FF, 0x00FF0000, 0x000000FF, 0x00FF0000, 0x000000FF, 0x00FF0000,
                            0x000000FF, 0x00FF0000},
     false, "1F 00 00 F8 FF FF FF FF"},
    // DXT3 alpha words, row by row: 00 10 20 30 -> 0x3210; 0x0F -> nibble 0;
    // 0xFF -> 15; 80 7F F0 0F -> 8 7 F 0. Black colour part.
    {"dxt3 alpha", PixelBlock{0x00000000, 0x10000000, 0x20000000, 0x30000000, 0x0F000000, 0x0F000000, 0x0F000000,
                              0x0F000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0x80000000, 0x7F000000,
                              0xF0000000, 0x0F000000},
     true, "10 32 00 00 FF FF 78 0F 00 00 00 00 00 00 00 00"},
    // DXT3 never uses the transparent index: alpha 0 on pixel 5 only shows in
    // the alpha word, the colours are those of the opaque halves.
    {"dxt3 four colours", With(Halves(), 5, 0x00FFFFFF), true, "FF FF 0F FF FF FF FF FF FF FF 00 00 00 00 55 55"},
    // From the model: a noisy block whose refit meets a tie at x.5.
    {"noisy", PixelBlock{0xFFFC10DD, 0xFFFF14E3, 0xFFFF1AEB, 0xFFFF13E0, 0xFFFC08DA, 0xFFFB12D6, 0xFFF71CE4,
                         0xFFFF09DF, 0xFFF60ADB, 0xFFFF04DA, 0xFFFF0EE9, 0xFFFC28E6, 0xFFFC00DA, 0xFFF50FD4,
                         0xFFF400E9, 0xFFF601D4},
     false, "3F E9 1F D8 AB EF 27 7D"},
    // From the model: a gradient (axis weights 512, 48, 175), opaque and with
    // four pixels of alpha 0x20.
    {"gradient", PixelBlock{0xFFC85A28, 0xFFBD5A4D, 0xFFB25A72, 0xFFA75A97, 0xFFBD7128, 0xFFB2714D, 0xFFA77172,
                            0xFF9C7197, 0xFFB28828, 0xFFA7884D, 0xFF9C8872, 0xFF918897, 0xFFA79F28, 0xFF9C9F4D,
                            0xFF919F72, 0xFF869F97},
     false, "54 9B 96 2C 2D 2D 2D 2D"},
    {"gradient holes", PixelBlock{0x20C85A28, 0xFFBD5A4D, 0xFFB25A72, 0xFFA75A97, 0xFFBD7128, 0x20B2714D, 0xFFA77172,
                                  0xFF9C7197, 0xFFB28828, 0xFFA7884D, 0x209C8872, 0xFF918897, 0xFFA79F28, 0xFF9C9F4D,
                                  0xFF919F72, 0x20869F97},
     false, "75 3C 74 8B 5B 6C 70 E0"},
};

TEST(S3tcEncodeTest, GoldenBlocks) {
  for (const GoldenBlock& g : kGolden) {
    EXPECT_EQ(g.dxt3 ? Dxt3Hex(g.pixels) : Dxt1Hex(g.pixels), g.expected) << g.name;
  }
}

TEST(S3tcEncodeTest, StepsOfTheBlockEncoder) {
  EXPECT_EQ(PackRgb565(8, 4, 8), 0x0821);
  EXPECT_EQ(PackRgb565(7, 3, 7), 0x0000);
  EXPECT_EQ(ColourDistance({1, 2, 3}, {4, 6, 3}), 25);

  // Ties go to the lower index; the fourth colour counts only when n is 4.
  const std::array<Colour, 4> table{Colour{0, 0, 0}, Colour{10, 0, 0}, Colour{20, 0, 0}, Colour{14, 0, 0}};
  EXPECT_EQ(NearestColour({5, 0, 0}, table, 4), 0);
  EXPECT_EQ(NearestColour({15, 0, 0}, table, 3), 1);
  EXPECT_EQ(NearestColour({15, 0, 0}, table, 4), 3);
  EXPECT_EQ(NearestColour({12, 0, 0}, table, 4), 1);

  const EndPoints halves = PrincipalEndpoints(Halves());
  EXPECT_EQ(halves.high, (Colour{255, 255, 255}));
  EXPECT_EQ(halves.low, (Colour{0, 0, 0}));
  // Equal projections keep the earliest pixel.
  const EndPoints flat = PrincipalEndpoints(PixelBlock{0xFF000001, 0xFF000002, 0xFF000001, 0xFF000002, 0xFF000001,
                                                       0xFF000002, 0xFF000001, 0xFF000002, 0xFF000001, 0xFF000002,
                                                       0xFF000001, 0xFF000002, 0xFF000001, 0xFF000002, 0xFF000001,
                                                       0xFF000002});
  EXPECT_EQ(flat.high, (Colour{2, 0, 0}));
  EXPECT_EQ(flat.low, (Colour{1, 0, 0}));

  // The refit of the alpha 0x7F golden block, worked by hand.
  uint16_t c0 = 0xFFFF, c1 = 0x0000;
  RefineEndpoints(With(Halves(), 5, 0x7FFFFFFF), 0x00005D55, c0, c1);
  EXPECT_EQ(c0, 0x0821);
  EXPECT_EQ(c1, 0xFFFF);
  // All indices equal: no solution, the end points stay.
  for (uint32_t mask : {0x00000000u, 0x55555555u, 0xAAAAAAAAu, 0xFFFFFFFFu}) {
    c0 = 0x1234;
    c1 = 0x4321;
    RefineEndpoints(Halves(), mask, c0, c1);
    EXPECT_EQ(c0, 0x1234) << mask;
    EXPECT_EQ(c1, 0x4321) << mask;
  }

  struct {
    float x;
    int32_t rounded;
  } const kRounding[] = {{0.5f, 0},   {1.5f, 2},    {2.5f, 2},     {-0.5f, 0},
                         {-2.5f, -2}, {31.49f, 31}, {-31.6f, -32}, {1000000.5f, 1000000}};
  for (const auto& r : kRounding) EXPECT_EQ(detail::RoundHalfEven(r.x), r.rounded) << r.x;
}

// The encoder's vector index pass against NearestColour pixel by pixel.
TEST(S3tcEncodeTest, IndexPassMatchesNearestColour) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 3000; ++trial) {
    PixelBlock block;
    const bool narrow = trial % 2 == 0;  // small spreads make many ties
    for (auto& p : block) p = rng() & (narrow ? 0xFF070707u : 0xFFFFFFFFu);
    std::array<Colour, 4> table;
    for (auto& c : table) {
      c = {static_cast<int32_t>(rng() % (narrow ? 8 : 256)), static_cast<int32_t>(rng() % (narrow ? 8 : 256)),
           static_cast<int32_t>(rng() % (narrow ? 8 : 256))};
    }
    for (bool transparency : {false, true}) {
      uint32_t expected = 0;
      for (int k = 0; k < 16; ++k) {
        const uint32_t p = block[static_cast<size_t>(k)];
        const Colour pixel{static_cast<int32_t>(p & 0xFF), static_cast<int32_t>((p >> 8) & 0xFF),
                           static_cast<int32_t>((p >> 16) & 0xFF)};
        const int32_t index = transparency && (p >> 24) < 0x80 ? 3 : NearestColour(pixel, table, transparency ? 3 : 4);
        expected |= static_cast<uint32_t>(index) << (2 * k);
      }
      ASSERT_EQ(detail::IndexMask(block, table, transparency), expected) << trial << " " << transparency;
    }
  }
}

TEST(S3tcEncodeTest, BlockOrderSizesAndRefusals) {
  auto canvas = std::make_unique<Canvas>();
  // Side 8: four solid blocks, written (0,0), (1,0), (0,1), (1,1).
  const uint32_t colours[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) (*canvas)(x, y) = colours[(y / 4) * 2 + x / 4];
  }
  Bytes out(32, 0xAA);
  EncodeDxt1(*canvas, 8, out);
  EXPECT_EQ(ToHex(out),
            "00 F8 00 F8 00 00 00 00 E0 07 E0 07 00 00 00 00 1F 00 1F 00 00 00 00 00 FF FF FF FF 00 00 00 00");
  Bytes out3(64, 0xAA);
  EncodeDxt3(*canvas, 8, out3);
  EXPECT_EQ(ToHex(Bytes(out3.begin() + 48, out3.end())), "FF FF FF FF FF FF FF FF FF FF FF FF 00 00 00 00");
  EXPECT_EQ(ToHex(Bytes(out3.begin() + 24, out3.begin() + 28)), "E0 07 E0 07");

  // Sides 0 to 3 write nothing; sizes count whole blocks.
  for (int side = 0; side < 4; ++side) {
    Bytes none(16, 0xAA);
    EncodeDxt1(*canvas, side, none);
    EncodeDxt3(*canvas, side, none);
    EXPECT_EQ(none, Bytes(16, 0xAA)) << side;
  }
  EXPECT_EQ(Dxt1Bytes(3), 0);
  EXPECT_EQ(Dxt1Bytes(10), 32);
  EXPECT_EQ(Dxt3Bytes(2048), 2048 * 2048);

  // A short output or an impossible side is refused before anything is written.
  Bytes shortOut(31, 0xAA);
  EXPECT_THROW(EncodeDxt1(*canvas, 8, shortOut), Error);
  EXPECT_EQ(shortOut, Bytes(31, 0xAA));
  Bytes big(64);
  EXPECT_THROW(EncodeDxt3(*canvas, 8, std::span<uint8_t>(big).first(63)), Error);
  EXPECT_THROW(EncodeDxt1(*canvas, -4, big), Error);
  EXPECT_THROW(EncodeDxt1(*canvas, 2050, big), Error);
}

// A 64 x 64 picture of gradients, a disc and noise, with alpha ramping
// along x, encoded and decoded again.
TEST(S3tcEncodeTest, RoundTripsStayClose) {
  constexpr int32_t kSide = 64;
  auto canvas = std::make_unique<Canvas>();
  auto decodedPlane = std::make_unique<test::TestPlane>();
  Plane* decoded = &decodedPlane->plane;
  std::mt19937 rng(9);
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const bool disc = (x - 32) * (x - 32) + (y - 21) * (y - 21) < 256;
      const auto r = static_cast<uint32_t>(40 + 3 * x + static_cast<int32_t>(rng() % 9));
      const auto g = disc ? 220u : static_cast<uint32_t>(60 + x * y / 32);
      const auto b = static_cast<uint32_t>(127 + 120 * std::sin(y / 10.0));
      (*canvas)(x, y) = r | (g << 8) | (b << 16) | (static_cast<uint32_t>(x * 4 + y % 4) << 24);
    }
  }
  auto psnr = [&] {
    double squares = 0;
    for (int32_t y = 0; y < kSide; ++y) {
      for (int32_t x = 0; x < kSide; ++x) {
        for (int shift = 0; shift < 24; shift += 8) {
          const double d = static_cast<double>(((*canvas)(x, y) >> shift) & 0xFF) -
                           static_cast<double>(((*decoded)(x, y) >> shift) & 0xFF);
          squares += d * d;
        }
      }
    }
    return 10 * std::log10(255.0 * 255.0 * 3 * kSide * kSide / squares);
  };
  Bytes dxt3(static_cast<size_t>(Dxt3Bytes(kSide)));
  EncodeDxt3(*canvas, kSide, dxt3);
  DecodeDxt3(*decoded, kSide, dxt3);
  EXPECT_GT(psnr(), 35.0);
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) ASSERT_EQ((*decoded)(x, y) >> 28, (*canvas)(x, y) >> 28) << x << "," << y;
  }
  // Opaque for DXT1: the same colours, four per block.
  for (int32_t x = 0; x < kSide; ++x) {
    for (int32_t y = 0; y < kSide; ++y) (*canvas)(x, y) |= 0xFF000000u;
  }
  Bytes dxt1(static_cast<size_t>(Dxt1Bytes(kSide)));
  EncodeDxt1(*canvas, kSide, dxt1);
  DecodeDxt1(*decoded, kSide, dxt1);
  EXPECT_GT(psnr(), 35.0);
}

}  // namespace
}  // namespace quarrendel::texture
