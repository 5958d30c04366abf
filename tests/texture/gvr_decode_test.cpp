#include "texture/gvr_decode.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;

class GvrDecodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<test::TestPlane> canvas = std::make_unique<test::TestPlane>();
  Plane& c = canvas->plane;
};

TEST(Rgb5a3Test, Words) {
  const struct { uint16_t word; uint32_t pixel; } rows[] = {
      {0xFFFF, 0xFFF8F8F8},  // opaque white 248
      {0x7FFF, 0xE0F0F0F0},  // 240 grey, alpha 224
      {0x0000, 0x00000000},
      {0x8001, 0xFF080000},  // blue 1 -> 8
      {0x1F00, 0x200000F0},  // alpha 1 -> 32, red 15 -> 240
      {0x01F0, 0x0000F010},  // the ".gvp" fallback entry 1
  };
  for (const auto& r : rows) EXPECT_EQ(Rgb5a3ToPixel(r.word), r.pixel) << std::hex << r.word;
}

TEST_F(GvrDecodeTest, Rgb5a3TilesAreBigEndian) {
  // 8 x 8: four tiles of 16 words. Tile 0 starts FF FF, 7F FF, 00 00; tile 1 starts 80 1F.
  Bytes data(128, 0);
  const Bytes head = FromHex("FF FF 7F FF 00 00");
  std::copy(head.begin(), head.end(), data.begin());
  data[32] = 0x80;
  data[33] = 0x1F;
  data[2 * 16 * 2 + 2 * 5] = 0xFC;  // tile 2, texel column 1 row 1
  DecodeRgb5a3Tiled(c, data, 8);
  EXPECT_EQ(c(0, 0), 0xFFF8F8F8u);
  EXPECT_EQ(c(1, 0), 0xE0F0F0F0u);
  EXPECT_EQ(c(2, 0), 0u);
  EXPECT_EQ(c(4, 0), 0xFFF80000u);
  EXPECT_EQ(c(1, 5), 0xFF0000F8u);
}

TEST_F(GvrDecodeTest, Rgb5a3FourByFourShowsItsTileAndPartialTilesAreSkipped) {
  const Bytes data(2 * 16, 0xFF);
  DecodeRgb5a3Tiled(c, data, 4);
  EXPECT_EQ(c(3, 3), 0xFFF8F8F8u);
  c.Fill(8, 8, 0);
  DecodeRgb5a3Tiled(c, Bytes(2 * 49, 0xFF), 7);
  EXPECT_EQ(c(3, 3), 0xFFF8F8F8u);
  EXPECT_EQ(c(4, 0), 0u);
  EXPECT_EQ(c(6, 6), 0u);
}

Palette CountingGvp() {
  Palette p{};
  for (uint16_t i = 0; i < 256; ++i) p[i] = static_cast<uint16_t>(0x8000 | i);  // opaque, blue i & 31
  return p;
}

TEST_F(GvrDecodeTest, Ci4NibblesAndTiles) {
  // 16 x 16: tiles of 32 bytes. Byte 0 = 0x12, byte 4 = first texel of row 1,
  // byte 32 = first two texels of tile 1 (top right).
  Bytes data(128, 0);
  data[0] = 0x12;
  data[4] = 0x30;
  data[32] = 0x45;
  data[3 * 32 + 31] = 0x06;
  DecodeCi4Tiled(c, data, 16, CountingGvp());
  EXPECT_EQ(c(0, 0), 0xFF080000u);  // high nibble 1 -> blue 8
  EXPECT_EQ(c(1, 0), 0xFF100000u);  // low nibble 2
  EXPECT_EQ(c(0, 1), 0xFF180000u);  // row 1 starts on a high nibble
  EXPECT_EQ(c(8, 0), 0xFF200000u);
  EXPECT_EQ(c(9, 0), 0xFF280000u);
  EXPECT_EQ(c(15, 15), 0xFF300000u);
  EXPECT_EQ(c(2, 0), 0xFF000000u);  // index 0 is opaque black here
}

TEST_F(GvrDecodeTest, Ci4FallbackPaletteIsTransparent) {
  const Bytes data = FromHex("12") ;
  DecodeCi4Tiled(c, data, 8, FallbackPalette(PaletteKind::Gvp));
  EXPECT_EQ(c(0, 0), 0x0000F010u);
  EXPECT_EQ(c(1, 0), 0x0000F020u);
  EXPECT_EQ(c(2, 0), 0u);  // the data ends after byte 0
}

TEST_F(GvrDecodeTest, Ci8TilesAreEightWideFourTall) {
  Bytes data(256, 0);
  data[0] = 1;
  data[9] = 2;   // tile 0, row 1, column 1
  data[32] = 3;  // tile 1: top right in 16 x 16
  data[64] = 4;  // tile 2: second tile row
  DecodeCi8Tiled(c, data, 16, CountingGvp());
  EXPECT_EQ(c(0, 0), 0xFF080000u);
  EXPECT_EQ(c(1, 1), 0xFF100000u);
  EXPECT_EQ(c(8, 0), 0xFF180000u);
  EXPECT_EQ(c(0, 4), 0xFF200000u);
}

TEST_F(GvrDecodeTest, PaletteTilesNeedWholeTiles) {
  const Bytes data(64, 0x11);
  DecodeCi4Tiled(c, data, 4, CountingGvp());
  DecodeCi8Tiled(c, data, 4, CountingGvp());
  EXPECT_EQ(c(0, 0), 0u);
  EXPECT_EQ(c(3, 3), 0u);
}

// A CMPR block in the stream: c0, c1 big-endian, four index bytes.
void PutCmprBlock(Bytes& data, size_t block, uint16_t c0, uint16_t c1, uint8_t indexByte) {
  uint8_t* p = data.data() + block * 8;
  p[0] = static_cast<uint8_t>(c0 >> 8);
  p[1] = static_cast<uint8_t>(c0);
  p[2] = static_cast<uint8_t>(c1 >> 8);
  p[3] = static_cast<uint8_t>(c1);
  for (int r = 0; r < 4; ++r) p[4 + r] = indexByte;
}

TEST_F(GvrDecodeTest, CmprStreamBlocksLandInTiles) {
  // 16 x 16: each block b is a three-colour block with c0 = c1 = b + 1
  // (blue 8 (b + 1)) and index 0 everywhere.
  Bytes data(16 * 8);
  for (uint16_t b = 0; b < 16; ++b) PutCmprBlock(data, b, b + 1, b + 1, 0);
  DecodeCmpr(c, 16, data);
  const struct { int x, y; uint32_t pixel; } rows[] = {
      {0, 0, 0xFF080000},  {4, 0, 0xFF100000},  {0, 4, 0xFF180000},   {4, 4, 0xFF200000},
      {8, 0, 0xFF280000},  {12, 0, 0xFF300000}, {8, 4, 0xFF380000},   {15, 7, 0xFF400000},
      {0, 8, 0xFF480000},  {7, 15, 0xFF600000}, {15, 15, 0xFF800000},
  };
  for (const auto& r : rows) EXPECT_EQ(c(r.x, r.y), r.pixel) << r.x << "," << r.y;
}

TEST_F(GvrDecodeTest, CmprIndexBitsAndColours) {
  // 8 x 8, block 0: red and blue, four-colour block; index byte 0x1B = 0, 1, 2, 3.
  Bytes data(4 * 8, 0);
  PutCmprBlock(data, 0, 0xF800, 0x001F, 0x1B);
  PutCmprBlock(data, 1, 0x001F, 0xF800, 0x1B);  // three colours and transparent black
  DecodeCmpr(c, 8, data);
  EXPECT_EQ(c(0, 0), 0xFF0000F8u);
  EXPECT_EQ(c(1, 0), 0xFFF80000u);
  EXPECT_EQ(c(2, 0), 0xFF5300A5u);
  EXPECT_EQ(c(3, 3), 0xFFA50053u);
  EXPECT_EQ(c(6, 2), 0xFF7C007Cu);
  EXPECT_EQ(c(7, 2), 0u);
}

TEST_F(GvrDecodeTest, CmprSmallSidesAndShortData) {
  Bytes data(4 * 8);
  for (uint16_t b = 0; b < 4; ++b) PutCmprBlock(data, b, 0xFFFF, 0xFFFF, 0);
  DecodeCmpr(c, 4, data);
  EXPECT_EQ(c(0, 0), 0u);  // a 4 x 4 texture is less than a tile
  // 12 x 12: the one whole tile is the first four blocks.
  DecodeCmpr(c, 12, data);
  EXPECT_EQ(c(7, 7), 0xFFF8FCF8u);
  EXPECT_EQ(c(8, 0), 0u);
  // 16 x 16 with the data ending after tile 0: the rest stays clear.
  c.Fill(16, 16, 0);
  DecodeCmpr(c, 16, data);
  EXPECT_EQ(c(4, 4), 0xFFF8FCF8u);
  EXPECT_EQ(c(8, 0), 0u);
  EXPECT_EQ(c(0, 8), 0u);
}

}  // namespace
}  // namespace quarrendel::texture
