#include "texture/pvr_decode.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"
#include "texture/texture_decode.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;
using test::Le16Words;
using test::PutLe16;

class PvrDecodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<test::TestPlane> canvas = std::make_unique<test::TestPlane>();
  Plane& c = canvas->plane;
  std::unique_ptr<Canvas> encodeCanvas = std::make_unique<Canvas>();  // what the encode direction reads
  Canvas& e = *encodeCanvas;
};

TEST_F(PvrDecodeTest, FourByFourTwiddledPositions) {
  Bytes data(32);
  for (uint16_t t = 0; t < 16; ++t) PutLe16(data, t, static_cast<uint16_t>(0x100 + t));
  int32_t cursor = 0;
  TransferTwiddled16(c, data, cursor, 0, 0, 4);
  // (x, y) -> twiddled position, worked out by hand (y on even bits, x on odd).
  const struct { int x, y; uint32_t t; } rows[] = {
      {0, 0, 0}, {0, 1, 1}, {1, 0, 2}, {0, 2, 4}, {2, 0, 8}, {1, 3, 7}, {3, 1, 11}, {2, 2, 12}, {3, 3, 15}};
  for (const auto& r : rows) EXPECT_EQ(c(r.x, r.y), 0x100u + r.t) << r.x << "," << r.y;
}

TEST_F(PvrDecodeTest, TwiddledAtOffsetAndCursorStart) {
  // Two padding words before the texels; the 2 x 2 square, in the order
  // (0, 0), (0, 1), (1, 0), (1, 1), is placed at (5, 7).
  const Bytes data = Le16Words({0x1111, 0x2222, 0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD});
  int32_t cursor = 4;
  TransferTwiddled16(c, data, cursor, 5, 7, 2);
  EXPECT_EQ(c(5, 7), 0xAAAAu);
  EXPECT_EQ(c(5, 8), 0xBBBBu);
  EXPECT_EQ(c(6, 7), 0xCCCCu);
  EXPECT_EQ(c(6, 8), 0xDDDDu);
  EXPECT_EQ(c(0, 0), 0u);
  EXPECT_EQ(cursor, 12);
}

TEST_F(PvrDecodeTest, TwiddleWalkOfOddSidesHalvesWithTruncation) {
  Bytes data(64);
  for (uint16_t t = 0; t < 32; ++t) PutLe16(data, t, static_cast<uint16_t>(0x100 + t));
  // Side 3: the walk goes to halves of 1 and covers the 2 x 2 corner only.
  int32_t cursor = 0;
  TransferTwiddled16(c, data, cursor, 0, 0, 3);
  EXPECT_EQ(cursor, 8);
  EXPECT_EQ(c(1, 1), 0x103u);
  EXPECT_EQ(c(2, 0), 0u);
  EXPECT_EQ(c(2, 2), 0u);
  // Side 6: halves of 3, then 1: rows and columns 0, 1, 3, 4.
  c.Fill(8, 8, 0);
  cursor = 0;
  TransferTwiddled16(c, data, cursor, 0, 0, 6);
  EXPECT_EQ(cursor, 32);
  EXPECT_EQ(c(0, 1), 0x101u);
  EXPECT_EQ(c(0, 3), 0x104u);
  EXPECT_EQ(c(3, 0), 0x108u);
  EXPECT_EQ(c(4, 4), 0x10Fu);
  EXPECT_EQ(c(2, 2), 0u);
  EXPECT_EQ(c(5, 5), 0u);
}

TEST_F(PvrDecodeTest, TwiddledSideZeroAndShortData) {
  const Bytes data = Le16Words({0xAAAA, 0xBBBB, 0xCCCC});  // the fourth word is missing
  int32_t cursor = 0;
  TransferTwiddled16(c, data, cursor, 0, 0, 0);
  EXPECT_EQ(cursor, 0);
  EXPECT_EQ(c(0, 0), 0u);
  TransferTwiddled16(c, data, cursor, 0, 0, 2);
  EXPECT_EQ(c(1, 0), 0xCCCCu);
  EXPECT_EQ(c(1, 1), 0u);
  // A cursor beyond the data reads nothing.
  c.Fill(2, 2, 0);
  cursor = 100;
  TransferTwiddled16(c, data, cursor, 0, 0, 2);
  EXPECT_EQ(c(0, 0), 0u);
  // A square that would leave the canvas is not walked.
  cursor = 0;
  TransferTwiddled16(c, data, cursor, Canvas::kSide - 1, 0, 2);
  EXPECT_EQ(cursor, 0);
}

TEST_F(PvrDecodeTest, TwiddledEncodePacksByPixelFormat) {
  e(0, 0) = 0xFF0800FF;  // red 255, green 0, blue 8, alpha 255
  e(0, 1) = 0x7F000000;  // alpha below 0x80: no alpha bit
  e(1, 0) = 0x80F8F8F8;
  e(1, 1) = 0x00000000;
  Bytes out(8);
  int32_t cursor = 0;
  TransferTwiddled16(e, std::span<uint8_t>(out), cursor, 0, 0, 2, 0);
  EXPECT_EQ(test::ToHex(out), "01 FC 00 00 FF FF 00 00");
  EXPECT_EQ(cursor, 8);

  e(0, 0) = 0x802010F0;  // alpha 0x80, blue 0x20, green 0x10, red 0xF0
  cursor = 0;
  TransferTwiddled16(e, std::span<uint8_t>(out), cursor, 0, 0, 2, 2);
  EXPECT_EQ(test::ToHex(Bytes(out.begin(), out.begin() + 2)), "12 8F");
}

TEST_F(PvrDecodeTest, EncodeThenDecodeGivesTheWordsBack) {
  const Bytes words = Le16Words({0x8001, 0x7FFF, 0xFC00, 0x83E0, 0x001F, 0x8421, 0x0000, 0xFFFF,
                                 0x1234 | 0x8000, 0x4321, 0x5555, 0xAAAA, 0x0F0F, 0xF0F0, 0x8888, 0x7777});
  int32_t cursor = 0;
  TransferTwiddled16(c, words, cursor, 0, 0, 4);
  ConvertTexels(c, 4, 0);
  CopyIntoCanvas(RgbaRect{c.Row(0), 4, 4, c.Width()}, e);
  Bytes out(32);
  cursor = 0;
  TransferTwiddled16(e, std::span<uint8_t>(out), cursor, 0, 0, 4, 0);
  EXPECT_EQ(out, words);
}

TEST_F(PvrDecodeTest, EncodeStopsAtTheEndOfTheData) {
  Bytes out(3, 0xEE);
  int32_t cursor = 0;
  TransferTwiddled16(e, std::span<uint8_t>(out), cursor, 0, 0, 2, 0);
  EXPECT_EQ(test::ToHex(out), "00 00 EE");
  EXPECT_EQ(cursor, 8);
}

TEST(ConvertTexelTest, ExpandsWithZeroLowBits) {
  const struct { uint8_t code; uint16_t word; uint32_t pixel; } rows[] = {
      {0, 0xFFFF, 0xFFF8F8F8},  // white, alpha 255
      {0, 0x7FFF, 0x00F8F8F8},  // same colour, alpha 0
      {0, 0x8400, 0xFF000008},  // red 1 -> 8
      {0, 0x8020, 0xFF000800},  // green 1 -> 8
      {1, 0xFFFF, 0xFFF8FCF8},  // green has six bits: 63 -> 252
      {1, 0xF800, 0xFF0000F8},
      {1, 0x0020, 0xFF000400},
      {2, 0xF00F, 0xF0F00000},  // alpha 240, blue 240
      {2, 0x0F00, 0x000000F0},
      {4, 0x80AB, 0xFF808080},  // bump: high byte is grey
      {4, 0x8001, 0xFF808080},
      {3, 0x1234, 0x00001234},  // YUV stays raw
      {5, 0xFFFF, 0x0000FFFF},
      {7, 0x8000, 0x00008000},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(ConvertTexel(r.word, r.code), r.pixel) << int(r.code) << " " << r.word;
  }
}

TEST_F(PvrDecodeTest, ConvertTexelsWorksOnTheSquareOnly) {
  c(0, 0) = 0xFFFF;
  c(1, 1) = 0x7FFF;
  c(2, 0) = 0xFFFF;  // outside the 2 x 2 square
  ConvertTexels(c, 2, 0);
  EXPECT_EQ(c(0, 0), 0xFFF8F8F8u);
  EXPECT_EQ(c(1, 1), 0x00F8F8F8u);
  EXPECT_EQ(c(0, 1), 0u);  // word 0 is transparent black
  EXPECT_EQ(c(2, 0), 0xFFFFu);
}

TEST_F(PvrDecodeTest, ConvertTexelsClearsElementsWithoutTexel) {
  FillNoTexel(c, 2, 2);
  c(0, 0) = 0x0000;
  ConvertTexels(c, 2, 1);
  EXPECT_EQ(c(0, 0), 0xFF000000u);  // word 0 in RGB565 is opaque black
  EXPECT_EQ(c(1, 1), 0u);           // no texel: cleared
  EXPECT_EQ(c(2, 0), 0u);           // outside the square: untouched
  FillNoTexel(c, 2, 2);
  c(1, 0) = 0x1234;
  ConvertTexels(c, 2, 3);
  EXPECT_EQ(c(1, 0), 0x1234u);
  EXPECT_EQ(c(0, 0), 0u);
}

TEST_F(PvrDecodeTest, RectangleIsRasterOrder) {
  const Bytes data = Le16Words({0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD});
  int32_t cursor = 0;
  DecodeRectangle16(c, data, cursor, 2);
  EXPECT_EQ(c(0, 0), 0xAAAAu);
  EXPECT_EQ(c(1, 0), 0xBBBBu);
  EXPECT_EQ(c(0, 1), 0xCCCCu);
  EXPECT_EQ(c(1, 1), 0xDDDDu);
  EXPECT_EQ(cursor, 8);
}

TEST_F(PvrDecodeTest, RectangleWiderThanOneBandAndShort) {
  // 20 x 20 words numbered in raster order, the last row cut short.
  Bytes data(2 * 20 * 20 - 2 * 15);
  for (uint16_t i = 0; i < data.size() / 2; ++i) PutLe16(data, i, i);
  int32_t cursor = 0;
  DecodeRectangle16(c, data, cursor, 20);
  EXPECT_EQ(c(17, 3), 77u);
  EXPECT_EQ(c(3, 17), 343u);
  EXPECT_EQ(c(4, 19), 384u);
  EXPECT_EQ(c(5, 19), 0u);  // word 385 is missing
  EXPECT_EQ(c(19, 19), 0u);
}

// Codebook entries 0..3 of a VQ test texture; entry e holds four distinct words.
Bytes VqCodebook(size_t bytes) {
  Bytes book(bytes);
  for (uint16_t e = 0; e < 4; ++e) {
    for (uint16_t k = 0; k < 4; ++k) PutLe16(book, e * 4u + k, static_cast<uint16_t>(0x1000 * (e + 1) + k));
  }
  return book;
}

TEST_F(PvrDecodeTest, VqIndexPositions) {
  Bytes data = VqCodebook(2048);
  // Index bytes of the 2 x 2 blocks in twiddled order: (0,0), (0,1), (1,0), (1,1).
  for (uint8_t i : {1, 2, 0, 3}) data.push_back(i);
  int32_t cursor = 0;
  DecodeVq(c, data, cursor, 4, 0);
  EXPECT_EQ(cursor, 2048);
  // Block (0, 0) = entry 1: texels (0,0), (0,1), (1,0), (1,1).
  EXPECT_EQ(c(0, 0), 0x2000u);
  EXPECT_EQ(c(0, 1), 0x2001u);
  EXPECT_EQ(c(1, 0), 0x2002u);
  EXPECT_EQ(c(1, 1), 0x2003u);
  // Index byte 1 is block bx 0, by 1 = entry 2.
  EXPECT_EQ(c(0, 2), 0x3000u);
  EXPECT_EQ(c(1, 3), 0x3003u);
  // Index byte 2 is block bx 1, by 0 = entry 0.
  EXPECT_EQ(c(2, 0), 0x1000u);
  EXPECT_EQ(c(3, 1), 0x1003u);
  EXPECT_EQ(c(3, 3), 0x4003u);
}

TEST_F(PvrDecodeTest, VqMipmapSkipsTheSmallerLevelsIndices) {
  Bytes data = VqCodebook(2048);
  // H = 4: one index byte for the 2 x 2 level plus one for 1 x 1.
  for (uint8_t i : {3, 3, 1, 1, 1, 2}) data.push_back(i);
  int32_t cursor = 0;
  DecodeVq(c, data, cursor, 4, 2);
  EXPECT_EQ(c(0, 0), 0x2000u);
  EXPECT_EQ(c(2, 2), 0x3000u);
}

TEST_F(PvrDecodeTest, VqWithoutIndicesOrWithShortCodebook) {
  Bytes data = VqCodebook(2048);
  data.push_back(1);  // only block (0, 0) has an index
  int32_t cursor = 0;
  DecodeVq(c, data, cursor, 4, 0);
  EXPECT_EQ(c(0, 0), 0x2000u);
  EXPECT_EQ(c(2, 0), 0u);
  // A codebook cut at 10 bytes: entry 1 has its first word only.
  c.Fill(4, 4, 0);
  Bytes shortBook(data.begin(), data.begin() + 10);
  cursor = 0;
  DecodeVq(c, shortBook, cursor, 4, 0);
  EXPECT_EQ(c(0, 0), 0u);
}

TEST(SmallVqTest, CodebookBytes) {
  const struct { int32_t side; bool mip; int64_t bytes; } rows[] = {
      {8, false, 128},  {16, false, 128}, {32, false, 256},  {64, false, 1024}, {128, false, 4096},
      {4, true, 128},   {8, true, 128},   {16, true, 128},   {32, true, 512},   {64, true, 2048},
      {1, false, 128},  {1, true, 128},
  };
  for (const auto& r : rows) EXPECT_EQ(SmallVqCodebookBytes(r.side, r.mip), r.bytes) << r.side << " " << r.mip;
}

TEST_F(PvrDecodeTest, SmallVqMipmappedSixteenHasSixteenEntryCodebook) {
  // 16 x 16 with mipmaps: 128-byte codebook, 22 index bytes of the smaller
  // levels (1 + 1 + 4 + 16), then 64 index bytes: 214 bytes in all.
  Bytes data = VqCodebook(128);
  for (uint16_t k = 0; k < 4; ++k) PutLe16(data, 15u * 4 + k, static_cast<uint16_t>(0xF000 + k));
  data.insert(data.end(), 22, 2);   // smaller levels -> entry 2
  data.insert(data.end(), 64, 15);  // full level -> entry 15
  ASSERT_EQ(data.size(), 214u);
  DecodeSmallVq(c, data, 16, 22);
  EXPECT_EQ(c(0, 0), 0xF000u);
  EXPECT_EQ(c(15, 15), 0xF003u);
  EXPECT_EQ(c(8, 9), 0xF001u);
}

TEST_F(PvrDecodeTest, SmallVqThirtyTwoUsesThirtyTwoEntries) {
  Bytes data = VqCodebook(256);
  for (uint16_t k = 0; k < 4; ++k) PutLe16(data, 31u * 4 + k, static_cast<uint16_t>(0xE000 + k));
  Bytes indices(256, 0);
  indices[0] = 31;
  indices[1] = 3;  // block bx 0, by 1
  data.insert(data.end(), indices.begin(), indices.end());
  DecodeSmallVq(c, data, 32, 0);
  EXPECT_EQ(c(1, 1), 0xE003u);
  EXPECT_EQ(c(0, 2), 0x4000u);
  EXPECT_EQ(c(31, 31), 0x1003u);
}

TEST_F(PvrDecodeTest, SmallVqOverTheCodebookBufferIsNotDecoded) {
  Bytes data = VqCodebook(4096 + 64 * 64);
  DecodeSmallVq(c, data, 128, 0);
  EXPECT_EQ(c(0, 0), 0u);
  EXPECT_EQ(c(127, 127), 0u);
}

TEST_F(PvrDecodeTest, Clut4TwiddledNibbleOrder) {
  Palette palette{};
  for (uint16_t i = 0; i < 16; ++i) palette[i] = static_cast<uint16_t>(0x100 + i);
  const Bytes data = FromHex("21 43");
  DecodeClut4Twiddled(c, data, 2, palette);
  EXPECT_EQ(c(0, 0), 0x101u);  // position 0: low nibble of byte 0
  EXPECT_EQ(c(0, 1), 0x102u);  // position 1: high nibble
  EXPECT_EQ(c(1, 0), 0x103u);
  EXPECT_EQ(c(1, 1), 0x104u);
}

TEST_F(PvrDecodeTest, Clut8TwiddledAndSwizzledOrders) {
  Palette palette{};
  for (uint16_t i = 0; i < 256; ++i) palette[i] = static_cast<uint16_t>(0x4000 + i);
  const Bytes data = FromHex("0A 14 1E 28");
  DecodeClut8Twiddled(c, data, 2, palette);
  EXPECT_EQ(c(0, 0), 0x400Au);
  EXPECT_EQ(c(0, 1), 0x4014u);
  EXPECT_EQ(c(1, 0), 0x401Eu);
  EXPECT_EQ(c(1, 1), 0x4028u);
  DecodeClut8Swizzled(c, data, 2, palette);
  EXPECT_EQ(c(0, 0), 0x400Au);
  EXPECT_EQ(c(1, 0), 0x4014u);
  EXPECT_EQ(c(0, 1), 0x401Eu);
  EXPECT_EQ(c(1, 1), 0x4028u);
}

TEST_F(PvrDecodeTest, PaletteDecodersStopAtTheDataAndAboveSide1024) {
  Palette palette{};
  palette.fill(0x7777);
  const Bytes one = FromHex("00");
  DecodeClut8Twiddled(c, one, 2, palette);
  EXPECT_EQ(c(0, 0), 0x7777u);
  EXPECT_EQ(c(0, 1), 0u);
  DecodeClut4Twiddled(c, one, 4, palette);
  EXPECT_EQ(c(0, 1), 0x7777u);
  EXPECT_EQ(c(1, 0), 0u);

  c.Fill(4, 4, 0);
  const Bytes big(1026 * 1026, 0);
  DecodeClut8Twiddled(c, big, 1026, palette);
  DecodeClut8Swizzled(c, big, 1026, palette);
  DecodeClut4Twiddled(c, big, 1026, palette);
  EXPECT_EQ(c(0, 0), 0u);
  DecodeClut8Twiddled(c, big, 1024, palette);
  EXPECT_EQ(c(1023, 1023), 0x7777u);
}

TEST_F(PvrDecodeTest, TiledRgb565AndArgb1555) {
  // 8 x 8 = 2 x 2 tiles of 16 words; all green except two marked words.
  Bytes data(128);
  for (size_t i = 0; i < 64; ++i) PutLe16(data, i, 0x07E0);
  PutLe16(data, 16, 0x001F);  // tile 1 (top right), texel (0, 0)
  PutLe16(data, 57, 0xF800);  // tile 3, texel column 1 row 2
  DecodeTiled565(c, data, 8);
  EXPECT_EQ(c(0, 0), 0xFF00FC00u);
  EXPECT_EQ(c(4, 0), 0xFFF80000u);
  EXPECT_EQ(c(5, 6), 0xFF0000F8u);
  EXPECT_EQ(c(7, 7), 0xFF00FC00u);

  const Bytes small = Le16Words({0x7C00, 0x8000 | 0x7C00});
  c.Fill(8, 8, 0);
  DecodeTiled1555(c, small, 4);
  EXPECT_EQ(c(0, 0), 0x000000F8u);
  EXPECT_EQ(c(1, 0), 0xFF0000F8u);
  EXPECT_EQ(c(0, 1), 0u);  // past the data
}

TEST_F(PvrDecodeTest, TiledDecodesWholeTilesOnly) {
  Bytes data(2 * 36, 0xFF);
  DecodeTiled1555(c, data, 6);  // one 4 x 4 tile fits
  EXPECT_EQ(c(3, 3), 0xFFF8F8F8u);
  EXPECT_EQ(c(4, 0), 0u);
  EXPECT_EQ(c(0, 4), 0u);
}

}  // namespace
}  // namespace quarrendel::texture
