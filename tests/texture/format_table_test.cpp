#include "texture/format_table.h"

#include <gtest/gtest.h>

namespace quarrendel::texture {
namespace {

struct Row {
  uint32_t format;
  int32_t height;
  int32_t length;
  bool pvrFamily;
  DecoderKind decoder;
  const char* text;
  bool converted;
};

TEST(FormatTable, DispatchAndDescriptionTexts) {
  const int32_t h = 16, hh = 256;
  const Row rows[] = {
      {0x0100, h, 2 * hh, false, DecoderKind::Twiddled, "SQUARE TWIDDLED ARGB1555", true},
      {0x0101, h, 2 * hh, false, DecoderKind::Twiddled, "SQUARE TWIDDLED RGB565 No transparency", true},
      {0x0202, h, 2 * hh, false, DecoderKind::Tiled565, "4x4 Title BB ", false},
      {0x0202, h, 2 * hh + 1, false, DecoderKind::TwiddledMipmap, "SQUARE TWIDDLED & MIPMAP ARGB4444", true},
      {0x0300, h, 2 * hh, false, DecoderKind::Tiled1555, "4x4 Title BB ", false},
      {0x0303, h, 2048 + hh / 4, false, DecoderKind::Vq, "TWIDDLED VQ YUV442", true},
      {0x0404, h, 100, false, DecoderKind::VqMipmap, "TWIDDLED VQ & MIPMAP Bump", true},
      {0x0500, h, hh - 1, false, DecoderKind::Clut4Twiddled, "4-BIT CLUT TWIDDLED ARGB1555", true},
      {0x0500, h, hh, false, DecoderKind::Clut8Swizzled, "8-BIT CLUT TWIDDLED Xbox ARGB1555", true},
      {0x0500, h, 2 * hh - 1, false, DecoderKind::Clut8Swizzled, "8-BIT CLUT TWIDDLED Xbox ARGB1555", true},
      {0x0508, h, 2 * hh, false, DecoderKind::Rgb5a3Tiled, "4x4 Titles RGB5A3 GameCube", false},
      {0x0508, h, 4 * hh, false, DecoderKind::Rgb5a3Tiled, "4x4 Titles RGB5A3 GameCube", false},
      {0x0600, h, 128, false, DecoderKind::Dxt1, "DXT1 RGBA565", false},
      {0x0601, h, 128, false, DecoderKind::Dxt1, "DXT1 RGBA565 & MIPMAP", false},
      {0x0700, h, 256, false, DecoderKind::Dxt3, "DXT3 RGBA5654", false},
      {0x0703, h, 256, false, DecoderKind::Dxt3, "DXT3 RGBA5654 & MIPMAP", false},
      {0x0700, h, 256, true, DecoderKind::Clut8Twiddled, "8-BIT CLUT TWIDDLED ARGB1555", true},
      {0x080A, h, 128, false, DecoderKind::Ci4Tiled, "CI4 8x8 Titles GC RGB5A3", false},
      {0x0800, h, 128, false, DecoderKind::None, "ARGB1555", false},
      {0x090A, h, 256, false, DecoderKind::Ci8Tiled, "CI8 8x4 Titles GC RGB5A3", false},
      {0x0901, h, 512, false, DecoderKind::Rectangle, "RECTANGLE RGB565 No transparency", true},
      {0x0902, h, 512, false, DecoderKind::Rectangle, "RECTANGLE ARGB4444", true},
      {0x0E00, h, 128, false, DecoderKind::Cmpr, "S3TC RGBA565 GC", false},
      {0x1001, h, 100, false, DecoderKind::SmallVq, "SMALL VQ RGB565 No transparency", true},
      {0x1100, h, 100, false, DecoderKind::SmallVqMipmap, "SMALL VQ & MIPMAP ARGB1555", true},
      {0x0005, h, 100, false, DecoderKind::None, "", false},
      {0x0A02, h, 100, false, DecoderKind::None, "ARGB4444", false},
      {0x0F01, h, 100, false, DecoderKind::None, "RGB565 No transparency", false},
      {0x1300, h, 100, false, DecoderKind::None, "ARGB1555", false},
      {0x0C00, h, 100, false, DecoderKind::None, "ARGB1555", false},
      {0x0B00, h, 2 * hh, false, DecoderKind::Stride, "STRIDE ARGB1555", true},
      {0x0B04, h, 2 * hh, true, DecoderKind::Stride, "STRIDE Bump", true},
      {0x0B03, h, 2 * hh, false, DecoderKind::StrideYuv422, "STRIDE YUV442", false},
      {0x0D01, h, 2 * hh, false, DecoderKind::TwiddledRectangle, "TWIDDLED RECTANGLE RGB565 No transparency", true},
      {0x0D03, h, 2 * hh, false, DecoderKind::TwiddledRectangle, "TWIDDLED RECTANGLE YUV442", true},
      {0x1202, h, 2 * hh + 8, true, DecoderKind::TwiddledMipmapAlias, "TWIDDLED & MIPMAP (ALIAS) ARGB4444", true},
  };
  for (const Row& r : rows) {
    const DecoderChoice c = ChooseDecoder(r.format, r.height, r.length, r.pvrFamily);
    EXPECT_EQ(c.decoder, r.decoder) << std::hex << r.format << " L=" << std::dec << r.length;
    EXPECT_EQ(c.text, r.text) << std::hex << r.format;
    EXPECT_EQ(c.converted, r.converted) << std::hex << r.format;
  }
}

TEST(FormatTable, OnlyTheRectangleLayoutsDecodeTheTrueSize) {
  int trueSize = 0;
  for (uint32_t code = 0; code < 0x20; ++code) {
    const DecoderKind kind = ChooseDecoder(code << 8, 16, 512, true).decoder;
    if (DecodesTrueSize(kind)) {
      ++trueSize;
      EXPECT_TRUE(code == 0x0B || code == 0x0D || code == 0x12) << code;
    }
  }
  EXPECT_EQ(trueSize, 3);
  EXPECT_TRUE(DecodesTrueSize(ChooseDecoder(0x0B03, 16, 512, true).decoder));
}

TEST(FormatTable, MipCountKindsForS3tcOnly) {
  EXPECT_EQ(ChooseDecoder(0x0601, 256, 43704, false).mipCount, MipCountKind::FourBit);
  EXPECT_EQ(ChooseDecoder(0x0700, 256, 65536, false).mipCount, MipCountKind::EightBit);
  EXPECT_EQ(ChooseDecoder(0x0700, 256, 65536, true).mipCount, MipCountKind::None);
  EXPECT_EQ(ChooseDecoder(0x0100, 256, 65536, false).mipCount, MipCountKind::None);
}

TEST(FormatTable, PixelFormatNamesUseTheLowThreeBits) {
  EXPECT_STREQ(PixelFormatName(0x08), "ARGB1555");  // GameCube pixel byte 8 is code 0
  EXPECT_STREQ(PixelFormatName(0x0A), "ARGB4444");
  EXPECT_STREQ(PixelFormatName(0x0C), "Bump");
  EXPECT_STREQ(PixelFormatName(0x06), "");
  EXPECT_STREQ(PixelFormatName(0x07), "");
}

TEST(FormatTable, LengthTestsDoNotOverflowForLargeSides) {
  // 2 * 65535 * 65535 does not fit 32 bits; the length test must still be right.
  EXPECT_EQ(ChooseDecoder(0x0500, 65535, 1000, false).decoder, DecoderKind::Clut4Twiddled);
  EXPECT_EQ(ChooseDecoder(0x0200, 65535, 1000, false).decoder, DecoderKind::TwiddledMipmap);
}

}  // namespace
}  // namespace quarrendel::texture
