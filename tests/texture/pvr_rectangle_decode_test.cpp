#include "texture/pvr_rectangle_decode.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "texture/pvr_decode.h"
#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::Le16Words;
using test::PutLe16;
using Rows = std::vector<std::vector<uint32_t>>;

class PvrRectangleDecodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<test::TestPlane> canvas = std::make_unique<test::TestPlane>();
  Plane& c = canvas->plane;

  // Marks the area so that untouched elements can be told apart.
  void Mark(int32_t w, int32_t h) { FillNoTexel(c, w, h); }

  Rows Read(int32_t w, int32_t h) const {
    Rows rows(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) rows[static_cast<size_t>(y)].push_back(c(x, y));
    return rows;
  }
};

// Words 0, 1, 2, ... : each texel shows the position it was stored at.
Bytes Counting(size_t words) {
  Bytes data(2 * words);
  for (size_t i = 0; i < words; ++i) PutLe16(data, i, static_cast<uint16_t>(i));
  return data;
}

// The twiddled rectangle layouts, worked out by hand. Inside a 4 x 4 square
// the texel (x, y) sits at position y0 | x0 << 1 | y1 << 2 | x1 << 3:
//   y0: 0 2 8 10   y1: 1 3 9 11   y2: 4 6 12 14   y3: 5 7 13 15
// and square k follows the others at position 16 k.
TEST_F(PvrRectangleDecodeTest, SixteenByFourIsFourSquaresLeftToRight) {
  const Bytes data = Counting(64);
  int32_t cursor = 0;
  DecodeTwiddledRectangle16(c, data, cursor, 16, 4);
  EXPECT_EQ(Read(16, 4), (Rows{{0, 2, 8, 10, 16, 18, 24, 26, 32, 34, 40, 42, 48, 50, 56, 58},
                              {1, 3, 9, 11, 17, 19, 25, 27, 33, 35, 41, 43, 49, 51, 57, 59},
                              {4, 6, 12, 14, 20, 22, 28, 30, 36, 38, 44, 46, 52, 54, 60, 62},
                              {5, 7, 13, 15, 21, 23, 29, 31, 37, 39, 45, 47, 53, 55, 61, 63}}));
  EXPECT_EQ(cursor, 128);
}

TEST_F(PvrRectangleDecodeTest, TallShapesCutDataOddSidesAndSidesOfOne) {
  constexpr uint32_t N = kNoTexel;
  struct Row {
    int32_t w, h;
    size_t words;
    Rows expected;  // N: not written
  };
  const Row rows[] = {
      // 4 x 16: the four squares top to bottom.
      {4, 16, 64, {{0, 2, 8, 10},    {1, 3, 9, 11},    {4, 6, 12, 14},   {5, 7, 13, 15},
                   {16, 18, 24, 26}, {17, 19, 25, 27}, {20, 22, 28, 30}, {21, 23, 29, 31},
                   {32, 34, 40, 42}, {33, 35, 41, 43}, {36, 38, 44, 46}, {37, 39, 45, 47},
                   {48, 50, 56, 58}, {49, 51, 57, 59}, {52, 54, 60, 62}, {53, 55, 61, 63}}},
      // 40 words: squares 0 and 1 whole, square 2 only its first 8 positions
      // (the left two columns), square 3 nothing.
      {16, 4, 40, {{0, 2, 8, 10, 16, 18, 24, 26, 32, 34, N, N, N, N, N, N},
                   {1, 3, 9, 11, 17, 19, 25, 27, 33, 35, N, N, N, N, N, N},
                   {4, 6, 12, 14, 20, 22, 28, 30, 36, 38, N, N, N, N, N, N},
                   {5, 7, 13, 15, 21, 23, 29, 31, 37, 39, N, N, N, N, N, N}}},
      // A long side that is no multiple of the short one: the columns after
      // the last whole square are not written.
      {5, 2, 12, {{0, 2, 4, 6, N}, {1, 3, 5, 7, N}}},
      {8, 1, 8, {{0, 1, 2, 3, 4, 5, 6, 7}}},
      {1, 3, 3, {{0}, {1}, {2}}},
      {1, 1, 0, {{N}}},
      {3, 3, 9, {{0, 2, N}, {1, 3, N}, {N, N, N}}},  // side 3 walks as side 2
  };
  for (const Row& r : rows) {
    Mark(r.w, r.h);
    const Bytes data = Counting(r.words);
    int32_t cursor = 0;
    DecodeTwiddledRectangle16(c, data, cursor, r.w, r.h);
    EXPECT_EQ(Read(r.w, r.h), r.expected) << r.w << "x" << r.h << " from " << r.words << " words";
  }
  // Sides of 0 and beyond the canvas decode nothing.
  Mark(4, 4);
  const Bytes data = Counting(4096);
  int32_t cursor = 0;
  DecodeTwiddledRectangle16(c, data, cursor, 0, 4);
  DecodeTwiddledRectangle16(c, data, cursor, 4, 0);
  DecodeTwiddledRectangle16(c, data, cursor, 4096, 4);
  EXPECT_EQ(c(0, 0), kNoTexel);
  EXPECT_EQ(cursor, 0);
}

TEST_F(PvrRectangleDecodeTest, AliasTopLevelIsTheLastTexels) {
  struct Row {
    int32_t w, h;
    int64_t length, offset;
  } rows[] = {
      {8, 8, 128, 0},     // the top level alone
      {8, 8, 176, 48},    // 24 words of smaller levels and padding before it
      {8, 8, 100, 0},     // shorter than the top level: from the start
      {16, 4, 200, 72},
      {1024, 1024, 2 * 1398102, 2 * 349526},
      {0, 8, 10, 10},
  };
  for (const Row& r : rows) EXPECT_EQ(AliasTopLevelOffset(r.w, r.h, r.length), r.offset) << r.w << "x" << r.h;
}

TEST_F(PvrRectangleDecodeTest, StrideRowsAreWTexelsLong) {
  // 32 x 3 with 70 words: row 2 holds only its first 6 texels.
  Mark(32, 3);
  Bytes data(140);
  for (size_t i = 0; i < 70; ++i) PutLe16(data, i, static_cast<uint16_t>(0x1000 + i));
  int32_t cursor = 0;
  DecodeRaster16(c, data, cursor, 32, 3);
  EXPECT_EQ(c(0, 0), 0x1000u);
  EXPECT_EQ(c(31, 0), 0x101Fu);
  EXPECT_EQ(c(0, 1), 0x1020u);
  EXPECT_EQ(c(5, 2), 0x1045u);
  EXPECT_EQ(c(6, 2), kNoTexel);
  EXPECT_EQ(c(31, 2), kNoTexel);
  EXPECT_EQ(cursor, 192);
}

// YUV422 pairs: the even texel is Y0 << 8 | U, the odd one Y1 << 8 | V.
// Expected colours worked out by hand from R = Y + 359 cv / 256,
// G = Y - (88 cu + 183 cv) / 256, B = Y + 454 cu / 256 (quotients rounded
// down), clamped.
TEST_F(PvrRectangleDecodeTest, StrideYuv422Pairs) {
  // Row 0: neutral chroma (grey 128, grey 64); U = 228, V = 128 with Y 64 and 32:
  //   G = 64 - 8800/256 = 64 - 34 = 30, B = 64 + 45400/256 = 64 + 177 = 241;
  //   Y 32: G = -2 -> 0, B = 209.
  // Row 1: U = 128, V = 28, Y = 200: R = 200 - 141 = 59 (-35900/256 rounds
  //   down to -141), G = 200 + 72 -> 255, B = 200.
  const Bytes data = Le16Words({0x8080, 0x4080, 0x40E4, 0x2080, 0xC880, 0xC81C, 0xC880, 0xC81C});
  DecodeStrideYuv422(c, data, 4, 2);
  EXPECT_EQ(Read(4, 2), (Rows{{0xFF808080, 0xFF404040, 0xFFF11E40, 0xFFD10020},
                              {0xFFC8FF3B, 0xFFC8FF3B, 0xFFC8FF3B, 0xFFC8FF3B}}));

  // An odd width, and data that ends inside a pair: the lone texel takes
  // V = 128; the missing texel is cleared.
  DecodeStrideYuv422(c, Le16Words({0x8080, 0x8080, 0x40E4}), 3, 1);
  EXPECT_EQ(Read(3, 1), (Rows{{0xFF808080, 0xFF808080, 0xFFF11E40}}));
  DecodeStrideYuv422(c, Le16Words({0x8080, 0x8080, 0x40E4}), 4, 1);
  EXPECT_EQ(Read(4, 1), (Rows{{0xFF808080, 0xFF808080, 0xFFF11E40, 0u}}));
}

}  // namespace
}  // namespace quarrendel::texture
