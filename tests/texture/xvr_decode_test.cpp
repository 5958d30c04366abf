#include "texture/xvr_decode.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/error.h"
#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;

class XvrDecodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<test::TestPlane> canvas = std::make_unique<test::TestPlane>();
  Plane& c = canvas->plane;

  void ExpectBlock(int x0, int y0, const uint32_t (&rows)[4][4]) {
    for (int r = 0; r < 4; ++r) {
      for (int col = 0; col < 4; ++col) EXPECT_EQ(c(x0 + col, y0 + r), rows[r][col]) << col << "," << r;
    }
  }
};

TEST_F(XvrDecodeTest, Dxt1FourColourBlock) {
  // c0 = 0xF800 (red), c1 = 0x001F (blue), all indices 2.
  DecodeDxt1(c, 4, FromHex("00 F8 1F 00 AA AA AA AA"));
  const uint32_t v = 0xFF5300A5;  // red 165, blue 83
  ExpectBlock(0, 0, {{v, v, v, v}, {v, v, v, v}, {v, v, v, v}, {v, v, v, v}});
}

TEST_F(XvrDecodeTest, Dxt1ThreeColourBlockAndIndexOrder) {
  // c0 = 0x001F, c1 = 0xF800: three colours; rows: indices 2, 3, 0xE4 (0 1 2 3), 0x1B (3 2 1 0).
  DecodeDxt1(c, 4, FromHex("1F 00 00 F8 AA FF E4 1B"));
  const uint32_t m = 0xFF7C007C, b = 0xFFF80000, r = 0xFF0000F8;
  ExpectBlock(0, 0, {{m, m, m, m}, {0, 0, 0, 0}, {b, r, m, 0}, {0, m, r, b}});
}

TEST_F(XvrDecodeTest, Dxt1EqualColoursIsThreeColourBlock) {
  DecodeDxt1(c, 4, FromHex("E0 07 E0 07 AA FF 00 55"));
  const uint32_t g = 0xFF00FC00;
  ExpectBlock(0, 0, {{g, g, g, g}, {0, 0, 0, 0}, {g, g, g, g}, {g, g, g, g}});
}

TEST_F(XvrDecodeTest, Dxt3AlwaysFourColoursWithNibbleAlpha) {
  // Alpha rows: 21 43 -> 16 32 48 64; FF FF -> 240; 00 00; 0F F0 -> 240 0 0 240.
  // Colours c0 = 0x001F <= c1 = 0xF800, still four of them; indices 0xE4 on every row.
  DecodeDxt3(c, 4, FromHex("21 43 FF FF 00 00 0F F0 1F 00 00 F8 E4 E4 E4 E4"));
  const uint32_t b = 0xF80000, r = 0x0000F8, m1 = 0xA50053, m2 = 0x5300A5;
  ExpectBlock(0, 0, {{0x10000000 | b, 0x20000000 | r, 0x30000000 | m1, 0x40000000 | m2},
                     {0xF0000000 | b, 0xF0000000 | r, 0xF0000000 | m1, 0xF0000000 | m2},
                     {b, r, m1, m2},
                     {0xF0000000 | b, r, m1, 0xF0000000 | m2}});
}

TEST_F(XvrDecodeTest, Dxt5AlphaEndPointsStepsAndIndexBits) {
  // Block 0 at x 0..3: a0 = 255 > a1 = 0, eight alphas 255, 0 and the 1/7
  // steps 218.57 -> 219, 182.14 -> 182, 145.71 -> 146, 109.29 -> 109,
  // 72.86 -> 73, 36.43 -> 36. Pixel k takes index k % 8: bits 3k..3k+2 of
  // the first 24 bits are 000 001 010 011 100 101 110 111 (k = 0 lowest),
  // 0xFAC688, bytes 88 C6 FA; the second 24 bits the same.
  // Block 1 at x 4..7: a0 = 1 <= a1 = 254, six alphas 1, 254 and the 1/5
  // steps 51.6 -> 52, 102.2 -> 102, 152.8 -> 153, 203.4 -> 203, then 0 and
  // 255. Pixel k takes index 7 - k % 8: 111 110 ... 000 from k = 0, 0x053977,
  // bytes 77 39 05.
  // Colours of both: c0 = 0x001F (blue) <= c1 = 0xF800 (red), still four of
  // them; index byte 0xE4 gives columns 0, 1, 2, 3 the colours 0, 1, 2, 3.
  DecodeDxt5(c, 8, FromHex("FF 00 88 C6 FA 88 C6 FA 1F 00 00 F8 E4 E4 E4 E4"
                           "01 FE 77 39 05 77 39 05 1F 00 00 F8 E4 E4 E4 E4"));
  const uint32_t b = 0xF80000, r = 0x0000F8, m1 = 0xA50053, m2 = 0x5300A5;
  const auto A = [](uint32_t alpha) { return alpha << 24; };
  ExpectBlock(0, 0, {{A(255) | b, A(0) | r, A(219) | m1, A(182) | m2},
                     {A(146) | b, A(109) | r, A(73) | m1, A(36) | m2},
                     {A(255) | b, A(0) | r, A(219) | m1, A(182) | m2},
                     {A(146) | b, A(109) | r, A(73) | m1, A(36) | m2}});
  ExpectBlock(4, 0, {{A(255) | b, A(0) | r, A(203) | m1, A(153) | m2},
                     {A(102) | b, A(52) | r, A(254) | m1, A(1) | m2},
                     {A(255) | b, A(0) | r, A(203) | m1, A(153) | m2},
                     {A(102) | b, A(52) | r, A(254) | m1, A(1) | m2}});
  EXPECT_EQ(c(0, 4), 0u);  // the second block row is not in the data

  // The same blocks as DXT3: colour halves unchanged, alpha nibbles = alpha >> 4
  // (row 0 of block 0: 15, 0, 13, 11 -> bytes 0F BD; row 1: 9, 6, 4, 2 -> 69 24).
  Bytes dxt3(32, 0xEE);
  Dxt5ToDxt3(FromHex("FF 00 88 C6 FA 88 C6 FA 1F 00 00 F8 E4 E4 E4 E4"
                     "01 FE 77 39 05 77 39 05 1F 00 00 F8 E4 E4 E4 E4"),
             dxt3);
  EXPECT_EQ(test::ToHex(dxt3), test::ToHex(FromHex("0F BD 69 24 0F BD 69 24 1F 00 00 F8 E4 E4 E4 E4"
                                                   "0F 9C 36 0F 0F 9C 36 0F 1F 00 00 F8 E4 E4 E4 E4")));
  Bytes shortOut(16);
  EXPECT_THROW(Dxt5ToDxt3(Bytes(32, 0), shortOut), Error);
}

TEST_F(XvrDecodeTest, BlocksInRasterOrderAndShortData) {
  // 8 x 8 DXT1: blocks 0..2 present (white, red, blue), block 3 missing.
  const Bytes data = FromHex(
      "FF FF FF FF 00 00 00 00"
      "00 F8 00 F8 00 00 00 00"
      "1F 00 1F 00 00 00 00 00");
  DecodeDxt1(c, 8, data);
  EXPECT_EQ(c(3, 3), 0xFFF8FCF8u);
  EXPECT_EQ(c(4, 0), 0xFF0000F8u);
  EXPECT_EQ(c(0, 4), 0xFFF80000u);
  EXPECT_EQ(c(4, 4), 0u);
  EXPECT_EQ(c(7, 7), 0u);
}

TEST_F(XvrDecodeTest, SidesBelowFourAndPartialBlocks) {
  const Bytes data(64, 0xFF);
  DecodeDxt1(c, 3, data);
  DecodeDxt3(c, 2, data);
  EXPECT_EQ(c(0, 0), 0u);
  DecodeDxt1(c, 6, data);  // one whole block
  EXPECT_EQ(c(3, 3), 0u);  // index 3 of a c0 = c1 block is transparent black
  EXPECT_EQ(c(4, 0), 0u);
  DecodeDxt3(c, 6, data);
  EXPECT_EQ(c(3, 3), 0xF0F8FCF8u);  // alpha 15 -> 240 and colour 3 = c0 = c1
}

}  // namespace
}  // namespace quarrendel::texture
