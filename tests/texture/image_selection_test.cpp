#include "tests/support/recording_frontend.h"
#include "texture/image_selection.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/error.h"
#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;
using test::Le16Words;
using test::PutLe16;
using Lines = std::vector<std::string>;

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0xAFAFAF;

uint32_t At(const Picture& p, int x, int y) { return p.pixels.at(static_cast<size_t>(y * p.width + x)); }
std::string SizeOf(const Picture& p) {
  EXPECT_EQ(p.pixels.size(), static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
  return std::to_string(p.width) + "x" + std::to_string(p.height);
}

class ImageSelectionTest : public ::testing::Test {
 protected:
  std::unique_ptr<ImageStore> storage = std::make_unique<ImageStore>();
  ImageStore& store = *storage;

  void SetEntry(int32_t index, uint16_t w, uint16_t h, uint32_t format, const Bytes& data,
                uint32_t globalIndex = 0) {
    TImage_Entry& e = store.Entry(index);
    e.Width = w;
    e.Height = h;
    e.Format = format;
    e.GlobalIndex = globalIndex;
    e.Name = "tex" + std::to_string(index);
    store.FillEntryData(index, data);
    store.imageCount = std::max(store.imageCount, index + 1);
  }

  void ExpectCleared(std::initializer_list<std::pair<int32_t, int32_t>> points) {
    for (const auto& [x, y] : points) EXPECT_EQ(store.canvas(x, y), 0u) << x << "," << y;
  }
};

TEST_F(ImageSelectionTest, MemoOfAMipmappedDxt1) {
  SetEntry(0, 256, 256, 0x0601, Bytes(43704), 0x1234ABCD);
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo, (Lines{"Description :", "Size : 256x256", "Format : 00000601", "Data Length : 43704",
                           "PSO ID : 1234ABCD", "Mipmaps count: 9", "DXT1 RGBA565 & MIPMAP"}));
  EXPECT_EQ(SizeOf(s.picture), "256x256");
}

TEST_F(ImageSelectionTest, TwiddledInPackageModeLeavesTheCanvas) {
  store.packageMode = 1;
  SetEntry(2, 2, 2, 0x0100, Le16Words({0xFFFF, 0x7FFF, 0xFC00, 0x0000}), 0xABCDEF01);
  store.Entry(2).PackageIndex = 3;
  store.currentImage = 0;
  const Selection s = SelectImage(store, 2);
  EXPECT_EQ(s.memo, (Lines{"Description :", "Size : 2x2", "Format : 00000100", "Data Length : 8",
                           "PSO ID : ABCDEF01", "In package : 3", "SQUARE TWIDDLED ARGB1555"}));
  EXPECT_EQ(store.currentImage, 2);
  EXPECT_EQ(store.readCursor, 8);
  EXPECT_EQ(store.canvas(0, 0), 0xFFF8F8F8u);
  EXPECT_EQ(store.canvas(0, 1), 0x00F8F8F8u);
  EXPECT_EQ(store.canvas(1, 0), 0xFF0000F8u);
  ASSERT_EQ(SizeOf(s.picture), "2x2");
  EXPECT_EQ(s.picture.pixels, (std::vector<uint32_t>{0xF8F8F8, 0x0000F8, kWhite, kWhite}));
}

TEST_F(ImageSelectionTest, DescriptionsOfSeveralFormats) {
  const struct {
    uint32_t format;
    uint16_t side;
    int32_t length;
    uint8_t pvrFamily;
    Lines tail;  // lines after "PSO ID : "
  } rows[] = {
      {0x0700, 4, 16, 0, {"Mipmaps count: 1", "DXT3 RGBA5654"}},
      {0x0701, 8, 80, 0, {"Mipmaps count: 2", "DXT3 RGBA5654 & MIPMAP"}},
      {0x0700, 4, 16, 1, {"8-BIT CLUT TWIDDLED ARGB1555"}},
      {0x0800, 4, 16, 1, {"ARGB1555", "Unsupported format"}},
      {0x0D02, 4, 16, 1, {"TWIDDLED RECTANGLE ARGB4444"}},
      {0x0006, 4, 16, 1, {"", "Unsupported format"}},
      {0x0C00, 4, 16, 1, {"ARGB1555", "Unsupported format"}},
      {0x1202, 4, 40, 1, {"TWIDDLED & MIPMAP (ALIAS) ARGB4444"}},
      {0x0B01, 4, 32, 1, {"STRIDE RGB565 No transparency"}},
      {0x0B03, 4, 32, 1, {"STRIDE YUV442"}},
      {0x080A, 8, 32, 1, {"CI4 8x8 Titles GC RGB5A3"}},
      {0x090A, 8, 64, 1, {"CI8 8x4 Titles GC RGB5A3"}},
      {0x0901, 4, 32, 1, {"RECTANGLE RGB565 No transparency"}},
      {0x0500, 4, 15, 1, {"4-BIT CLUT TWIDDLED ARGB1555"}},
      {0x0500, 4, 16, 1, {"8-BIT CLUT TWIDDLED Xbox ARGB1555"}},
      {0x0500, 4, 31, 1, {"8-BIT CLUT TWIDDLED Xbox ARGB1555"}},
      {0x0508, 4, 32, 1, {"4x4 Titles RGB5A3 GameCube"}},
      {0x0201, 4, 32, 1, {"4x4 Title BB "}},
      {0x0201, 4, 33, 1, {"SQUARE TWIDDLED & MIPMAP RGB565 No transparency"}},
      {0x0300, 4, 32, 1, {"4x4 Title BB "}},
      {0x0304, 4, 2052, 1, {"TWIDDLED VQ Bump"}},
      {0x0403, 4, 2054, 1, {"TWIDDLED VQ & MIPMAP YUV442"}},
      {0x0E00, 8, 32, 0, {"S3TC RGBA565 GC"}},
      {0x1001, 8, 144, 1, {"SMALL VQ RGB565 No transparency"}},
  };
  for (const auto& r : rows) {
    store.pvrFamily = r.pvrFamily;
    SetEntry(0, r.side, r.side, r.format, Bytes(static_cast<size_t>(r.length)));
    const Selection s = SelectImage(store, 0);
    ASSERT_GE(s.memo.size(), 5u);
    EXPECT_EQ(Lines(s.memo.begin() + 5, s.memo.end()), r.tail) << std::hex << r.format;
  }
}

TEST_F(ImageSelectionTest, MipmappedTwiddledStartsAtByte43692) {
  Bytes data(43692 + 2 * 256 * 256, 0);
  PutLe16(data, 43692 / 2, 0xF800);  // RGB565 red at (0, 0)
  PutLe16(data, 43692 / 2 - 1, 0x07E0);
  SetEntry(0, 256, 256, 0x0201, data);
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "SQUARE TWIDDLED & MIPMAP RGB565 No transparency");
  EXPECT_EQ(store.canvas(0, 0), 0xFF0000F8u);
  EXPECT_EQ(store.canvas(0, 1), 0xFF000000u);
  EXPECT_EQ(At(s.picture, 0, 0), 0x0000F8u);
}

TEST_F(ImageSelectionTest, SmallVqMipmappedSixteen) {
  Bytes data(128, 0);
  for (size_t k = 0; k < 4; ++k) PutLe16(data, 15 * 4 + k, 0xFFFF);
  data.insert(data.end(), 22, 1);
  data.insert(data.end(), 64, 15);
  SetEntry(0, 16, 16, 0x1100, data);
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "SMALL VQ & MIPMAP ARGB1555");
  EXPECT_EQ(store.canvas(0, 0), 0xFFF8F8F8u);
  EXPECT_EQ(store.canvas(15, 15), 0xFFF8F8F8u);
}

TEST_F(ImageSelectionTest, ClutWithPaletteFiles) {
  test::TempDir dir;
  store.loadDirectory = dir.Path().string() + "/";
  Bytes pvp(16, 0);
  for (uint8_t b : FromHex("00 00 1F 80 E0 83")) pvp.push_back(b);  // black(alpha 0), blue, green
  test::WriteFileBytes(dir / "tex0.pvp", pvp);
  SetEntry(0, 2, 2, 0x0700, FromHex("01 02 00 07"));
  store.pvrFamily = 1;
  SelectImage(store, 0);
  EXPECT_EQ(store.canvas(0, 0), 0xFFF80000u);
  EXPECT_EQ(store.canvas(0, 1), 0xFF00F800u);
  EXPECT_EQ(store.canvas(1, 0), 0x00000000u);
  EXPECT_EQ(store.canvas(1, 1), 0xFF3800E0u);  // entry 7 beyond the short file: 0xF007

  Bytes gvp(16, 0);
  for (uint8_t b : FromHex("FF FF 7F FF")) gvp.push_back(b);
  test::WriteFileBytes(dir / "tex1.gvp", gvp);
  Bytes indices(32, 0x11);
  indices[0] = 0x01;
  SetEntry(1, 8, 8, 0x080A, indices);
  SelectImage(store, 1);
  EXPECT_EQ(store.canvas(0, 0), 0xFFF8F8F8u);
  EXPECT_EQ(store.canvas(1, 0), 0xE0F0F0F0u);
  EXPECT_EQ(store.canvas(2, 0), 0xE0F0F0F0u);
}

TEST_F(ImageSelectionTest, GameCubeRgb5a3WithMipmapsIsNotConvertedAgain) {
  Bytes data(40, 0);
  data[0] = 0x7F;
  data[1] = 0xFF;
  SetEntry(0, 4, 4, 0x0508, data);
  SelectImage(store, 0);
  EXPECT_EQ(store.canvas(0, 0), 0xE0F0F0F0u);
}

TEST_F(ImageSelectionTest, CmprBlocksLandInTheirTiles) {
  Bytes data(32, 0);
  data[8] = 0xF8;  // block 1: red, top right of the tile
  SetEntry(0, 8, 8, 0x0E00, data);
  SelectImage(store, 0);
  EXPECT_EQ(store.canvas(4, 0), 0xFF0000F8u);
  EXPECT_EQ(store.canvas(0, 0), 0xFF000000u);
}

TEST_F(ImageSelectionTest, BareCheckerboard) {
  EXPECT_EQ(CheckerboardColour(0, 0), kWhite);
  EXPECT_EQ(CheckerboardColour(15, 15), kWhite);
  EXPECT_EQ(CheckerboardColour(16, 0), kGrey);
  EXPECT_EQ(CheckerboardColour(31, 15), kGrey);
  EXPECT_EQ(CheckerboardColour(0, 16), kGrey);
  EXPECT_EQ(CheckerboardColour(16, 16), kWhite);
  EXPECT_EQ(CheckerboardColour(32, 5), kWhite);

  // YUV words are left raw: alpha 0 everywhere.
  SetEntry(0, 32, 32, 0x0103, Bytes(2 * 32 * 32, 0x5A));
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "SQUARE TWIDDLED YUV442");
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool grey = (x < 16) != (y < 16);
      ASSERT_EQ(At(s.picture, x, y), grey ? kGrey : kWhite) << x << "," << y;
    }
  }
}

TEST_F(ImageSelectionTest, AlphaBlend) {
  RgbaImage image{32, 32, std::vector<uint32_t>(32 * 32)};
  const Plane c(image);
  c(0, 0) = 0x800000FF;   // red, alpha 128, over white
  c(16, 0) = 0x800000FF;  // over grey
  c(1, 0) = 0xFF123456;   // opaque: colour as it is
  c(2, 0) = 0x00123456;   // transparent: background
  c(3, 0) = 0x01000000;   // black at alpha 1 over white: 255 * 254 / 256 = 253
  c(17, 0) = 0x7F00FF00;  // green at alpha 127 over grey
  const Picture p = PaintOverCheckerboard(RgbaRect{image.pixels.data(), 32, 32, 32});
  EXPECT_EQ(At(p, 0, 0), 0x7E7EFFu);
  EXPECT_EQ(At(p, 16, 0), 0x5656D8u);
  EXPECT_EQ(At(p, 1, 0), 0x123456u);
  EXPECT_EQ(At(p, 2, 0), kWhite);
  EXPECT_EQ(At(p, 3, 0), 0xFDFDFDu);
  EXPECT_EQ(At(p, 17, 0), 0x57D757u);
}

TEST_F(ImageSelectionTest, WidthAndHeightDiffer) {
  // The square layouts still decode H x H; the picture has the true size.
  // W 2 < H 4: the twiddled square's columns 2 and 3 are decoded but not shown.
  SetEntry(0, 2, 4, 0x0100, Bytes(32, 0xFF));
  Selection s = SelectImage(store, 0);
  ASSERT_EQ(SizeOf(s.picture), "2x4");
  EXPECT_EQ(At(s.picture, 1, 3), 0xF8F8F8u);
  EXPECT_EQ(store.canvas(3, 3), 0xFFF8F8F8u);
  // The square form keeps columns 2 and 3 as checkerboard.
  Picture square = PaintOverCheckerboard(DecodeEntry(store, 0).Square(), false, 2);
  ASSERT_EQ(SizeOf(square), "4x4");
  EXPECT_EQ(At(square, 1, 3), 0xF8F8F8u);
  EXPECT_EQ(At(square, 2, 0), kWhite);
  EXPECT_EQ(At(square, 3, 3), kWhite);
  // W 8 > H 4: the 4 x 4 square is decoded, columns 4..7 stay cleared.
  SetEntry(0, 8, 4, 0x0100, Bytes(32, 0xFF));
  s = SelectImage(store, 0);
  ASSERT_EQ(SizeOf(s.picture), "8x4");
  EXPECT_EQ(At(s.picture, 3, 3), 0xF8F8F8u);
  EXPECT_EQ(At(s.picture, 4, 0), kWhite);
  EXPECT_EQ(s.memo[1], "Size : 8x4");
  square = PaintOverCheckerboard(DecodeEntry(store, 0).Square(), false, 8);
  ASSERT_EQ(SizeOf(square), "4x4");
  EXPECT_EQ(At(square, 3, 3), 0xF8F8F8u);
}

TEST_F(ImageSelectionTest, AliasMipChainShowsTheLastEightByEight) {
  // An 8 x 8 chain: 24 words of smaller levels and padding (0x7C00), then the
  // top level with word 0x100 + t at twiddled position t. YUV texels stay raw,
  // so the canvas shows the words where they landed. Positions by hand:
  // x adds 0, 2, 8, 10, 32, 34, 40, 42 and y adds 0, 1, 4, 5, 16, 17, 20, 21.
  Bytes data(2 * (24 + 64));
  for (size_t i = 0; i < 24; ++i) PutLe16(data, i, 0x7C00);
  for (uint16_t t = 0; t < 64; ++t) PutLe16(data, 24 + t, static_cast<uint16_t>(0x100 + t));
  SetEntry(0, 8, 8, 0x1203, data);
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "TWIDDLED & MIPMAP (ALIAS) YUV442");
  const uint32_t expected[8][8] = {
      {0, 2, 8, 10, 32, 34, 40, 42},     {1, 3, 9, 11, 33, 35, 41, 43},
      {4, 6, 12, 14, 36, 38, 44, 46},    {5, 7, 13, 15, 37, 39, 45, 47},
      {16, 18, 24, 26, 48, 50, 56, 58},  {17, 19, 25, 27, 49, 51, 57, 59},
      {20, 22, 28, 30, 52, 54, 60, 62},  {21, 23, 29, 31, 53, 55, 61, 63},
  };
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(store.canvas(x, y), 0x100 + expected[y][x]) << x << "," << y;
  EXPECT_EQ(store.readCursor, 48 + 128);
}

TEST_F(ImageSelectionTest, TwiddledRectangleIsShownAtItsTrueSize) {
  // 16 x 4 RGB565: black except the first texel of the last square (red) and
  // the last texel of the first square (green).
  Bytes data(128, 0);
  PutLe16(data, 48, 0xF800);
  PutLe16(data, 15, 0x07E0);
  SetEntry(0, 16, 4, 0x0D01, data);
  Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo, (Lines{"Description :", "Size : 16x4", "Format : 00000D01", "Data Length : 128",
                           "PSO ID : 00000000", "TWIDDLED RECTANGLE RGB565 No transparency"}));
  EXPECT_TRUE(s.formatSupported);
  ASSERT_EQ(SizeOf(s.picture), "16x4");
  EXPECT_EQ(At(s.picture, 12, 0), 0x0000F8u);
  EXPECT_EQ(At(s.picture, 3, 3), 0x00FC00u);
  EXPECT_EQ(At(s.picture, 15, 3), 0u);

  // 4 x 16 with only its first square: the rest stays checkerboard.
  SetEntry(0, 4, 16, 0x0D01, Bytes(32, 0));
  s = SelectImage(store, 0);
  ASSERT_EQ(SizeOf(s.picture), "4x16");
  EXPECT_EQ(At(s.picture, 0, 3), 0u);
  EXPECT_EQ(At(s.picture, 0, 4), kWhite);
  EXPECT_EQ(At(s.picture, 3, 15), kWhite);
}

TEST_F(ImageSelectionTest, PlainRectangleIsShownInRowsOfItsWidth) {
  // RGB565 rectangles (0x0901) of 64 texels, black (opaque) but for three
  // words: blue at word 13, red and green at the words of the two points
  // below. Texel (x, y) of the picture is word y * W + x; the canvas keeps
  // the H x H square with rows H texels wide, where word 13 lands at
  // (13 mod H, 13 div H).
  constexpr uint32_t kRed = 0xFF0000F8, kGreen = 0xFF00FC00, kBlue = 0xFFF80000, kBlack = 0xFF000000;
  struct Case {
    uint16_t w, h;
    size_t bytes;  // of the 128 the texels need
    int32_t redX, redY, greenX, greenY;
    int32_t blueX, blueY;  // word 13 in the canvas
  };
  const Case cases[] = {
      {16, 4, 128, 13, 2, 15, 3, 1, 3},  // red word 45, green word 63; canvas rows of 4
      {4, 16, 128, 3, 12, 1, 15, 13, 0},  // red word 51, green word 61; canvas rows of 16
      {16, 4, 126, 13, 2, 15, 3, 1, 3},  // the last word (green) missing: cleared
  };
  for (const Case& c : cases) {
    Bytes data(128, 0);
    PutLe16(data, 13, 0x001F);
    PutLe16(data, static_cast<size_t>(c.redY * c.w + c.redX), 0xF800);
    PutLe16(data, static_cast<size_t>(c.greenY * c.w + c.greenX), 0x07E0);
    data.resize(c.bytes);
    SetEntry(0, c.w, c.h, 0x0901, data);
    const Selection s = SelectImage(store, 0);
    const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " of " + std::to_string(c.bytes);
    ASSERT_EQ(SizeOf(s.picture), std::to_string(c.w) + "x" + std::to_string(c.h)) << what;
    ASSERT_EQ(s.picture.decoded.size(), 64u) << what;
    const auto decoded = [&](int32_t x, int32_t y) { return s.picture.decoded[static_cast<size_t>(y * c.w + x)]; };
    EXPECT_EQ(decoded(c.redX, c.redY), kRed) << what;
    EXPECT_EQ(decoded(13 % c.w, 13 / c.w), kBlue) << what;
    EXPECT_EQ(decoded(0, 0), kBlack) << what;
    EXPECT_EQ(decoded(c.w - 1, 0), kBlack) << what;
    const bool whole = c.bytes == 128;
    EXPECT_EQ(decoded(c.greenX, c.greenY), whole ? kGreen : 0u) << what;
    EXPECT_EQ(At(s.picture, c.redX, c.redY), 0x0000F8u) << what;
    EXPECT_EQ(At(s.picture, c.greenX, c.greenY), whole ? 0x00FC00u : kWhite) << what;
    EXPECT_EQ(store.canvas(c.blueX, c.blueY), kBlue) << what;
    EXPECT_EQ(s.memo.back(), "RECTANGLE RGB565 No transparency");
  }
  // A square rectangle and the CI8 form (pixel byte 0x0A) take the canvas.
  SetEntry(0, 4, 4, 0x0901, Bytes(32, 0));
  EXPECT_TRUE(DecodeEntry(store, 0).rectangleRows.empty());
  SetEntry(0, 16, 8, 0x090A, Bytes(128, 0));
  EXPECT_TRUE(DecodeEntry(store, 0).rectangleRows.empty());
}

TEST_F(ImageSelectionTest, UnsupportedFormatSaysSoAfterTheUsualLines) {
  SetEntry(0, 4, 4, 0x0C01, Bytes(32, 0xFF), 0x42);
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo, (Lines{"Description :", "Size : 4x4", "Format : 00000C01", "Data Length : 32",
                           "PSO ID : 00000042", "RGB565 No transparency", "Unsupported format"}));
  EXPECT_FALSE(s.formatSupported);
  EXPECT_EQ(At(s.picture, 0, 0), kWhite);
  EXPECT_EQ(store.canvas(3, 3), 0u);
}

TEST_F(ImageSelectionTest, NothingStaleAcrossWideAndTallImages) {
  SetEntry(0, 16, 4, 0x0D00, Bytes(128, 0xFF));  // wide, all opaque white
  SetEntry(1, 4, 16, 0x0D00, Bytes(32, 0xFF));   // tall, data for the first square only
  SetEntry(2, 16, 4, 0x0D00, Bytes(32, 0xFF));   // wide, first square only
  SelectImage(store, 0);
  SelectImage(store, 1);
  // The H x H square of the tall one (16 x 16) holds nothing of the wide one.
  EXPECT_EQ(store.canvas(3, 3), 0xFFF8F8F8u);
  ExpectCleared({{12, 0}, {0, 8}});
  SelectImage(store, 0);
  EXPECT_EQ(At(SelectImage(store, 2).picture, 15, 3), kWhite);
  ExpectCleared({{4, 0}, {15, 3}});
}

TEST_F(ImageSelectionTest, EarlierImageDoesNotShowThrough) {
  SetEntry(0, 4, 4, 0x0100, Bytes(32, 0xFF));
  SetEntry(1, 4, 4, 0x0100, Bytes(8, 0xFF));  // truncated: only the top-left 2 x 2
  SetEntry(2, 2, 4, 0x0800, Bytes(8, 0xFF));  // no decoder, narrow
  SelectImage(store, 0);
  SelectImage(store, 1);
  EXPECT_EQ(store.canvas(1, 1), 0xFFF8F8F8u);
  ExpectCleared({{2, 2}});
  SelectImage(store, 0);
  EXPECT_EQ(At(SelectImage(store, 2).picture, 0, 0), kWhite);
  ExpectCleared({{0, 0}, {3, 3}});
}

TEST_F(ImageSelectionTest, MissingTexelsStayClearedAfterConversion) {
  // RGB565 twiddled 2 x 2 with three of four words: word 0 is opaque black,
  // the missing fourth texel shows the checkerboard.
  SetEntry(0, 2, 2, 0x0101, Le16Words({0x0000, 0xF800, 0xF800}));
  Selection s = SelectImage(store, 0);
  EXPECT_EQ(store.canvas(0, 0), 0xFF000000u);
  EXPECT_EQ(store.canvas(1, 0), 0xFF0000F8u);
  EXPECT_EQ(store.canvas(1, 1), 0u);
  EXPECT_EQ(At(s.picture, 1, 1), kWhite);
  // Small VQ at side 128 needs a 4096-byte codebook: not decoded, nothing shown.
  SetEntry(0, 128, 128, 0x1001, Bytes(4096 + 64 * 64, 0));
  s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "SMALL VQ RGB565 No transparency");
  EXPECT_EQ(store.canvas(0, 0), 0u);
  EXPECT_EQ(store.canvas(127, 127), 0u);
  // An 8-bit CLUT above side 1024 is not decoded either.
  store.pvrFamily = 1;
  SetEntry(0, 1032, 1032, 0x0701, Bytes(1032 * 1032, 0));
  s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "8-BIT CLUT TWIDDLED RGB565 No transparency");
  EXPECT_EQ(store.canvas(0, 0), 0u);
  EXPECT_EQ(store.canvas(1031, 1031), 0u);
}

// A front end that takes each picture's memory and hands back memory of its
// own full of a colour no decoder makes, as the window's view hands back the
// last picture's: a selection that decoded into it without clearing would
// show that colour.
class SwappingFrontEnd : public RecordingFrontEnd {
 public:
  void HandOverPicture(Picture& p) override {
    picture = p;
    p.decoded.assign(size_t{96} * 96, 0xDEADBEEFu);
  }
};

TEST_F(ImageSelectionTest, ASmallImageAfterALargeOneShowsWhatAFreshSelectionShows) {
  // Each small image is selected right after a 64 x 64 opaque white one on a
  // store whose memory and canvas every earlier selection used, and on a
  // store that never selected anything: everything must come out the same.
  const struct {
    uint16_t w, h;
    uint32_t format;
    uint8_t pvrFamily;
    Bytes data;
  } rows[] = {
      {4, 4, 0x0100, 1, Bytes(8, 0x55)},      // twiddled ARGB1555, data for the first 4 texels only
      {8, 8, 0x0600, 0, Bytes(8, 0x9C)},      // DXT1, one block of four
      {4, 16, 0x0D01, 1, Bytes(40, 0x3C)},    // tall twiddled rectangle, data cut short
      {16, 4, 0x0D01, 1, Bytes(128, 0x3C)},   // wide twiddled rectangle
      {8, 4, 0x0901, 1, Bytes(64, 0xA5)},     // plain rectangle, rows of 8
      {2, 8, 0x0901, 1, Bytes(32, 0xA5)},     // plain rectangle, narrower than tall
      {8, 8, 0x0901, 1, Bytes(128, 0xA5)},    // plain square, every texel in the data
      {8, 8, 0x0901, 1, Bytes(100, 0xA5)},    // plain square, data cut short
      {8, 8, 0x0C01, 1, Bytes(128, 0xFF)},    // no decoder
      {32, 32, 0x0E00, 0, Bytes(512, 0x71)},  // CMPR, the top half of its blocks
  };
  SwappingFrontEnd reused;
  reused.list = {"large", "small"};
  for (const auto& r : rows) {
    const std::string what = "format " + Hex8(r.format) + " " + std::to_string(r.w) + "x" + std::to_string(r.h);
    store.pvrFamily = 1;
    SetEntry(0, 64, 64, 0x0100, Bytes(2 * 64 * 64, 0xFF));
    reused.selected = 0;
    SelectListedImage(store, reused);
    ASSERT_EQ(store.canvas(63, 63), 0xFFF8F8F8u) << what;
    store.pvrFamily = r.pvrFamily;
    SetEntry(1, r.w, r.h, r.format, r.data);
    reused.selected = 1;
    SelectListedImage(store, reused);

    auto fresh = std::make_unique<ImageStore>();
    fresh->pvrFamily = r.pvrFamily;
    TImage_Entry& e = fresh->Entry(1);
    e.Width = r.w;
    e.Height = r.h;
    e.Format = r.format;
    e.Name = "tex1";
    fresh->FillEntryData(1, r.data);
    fresh->imageCount = 2;
    RecordingFrontEnd first;
    first.list = reused.list;
    first.selected = 1;
    SelectListedImage(*fresh, first);

    EXPECT_EQ(reused.memo, first.memo) << what;
    EXPECT_EQ(reused.status.format, first.status.format) << what;
    EXPECT_EQ(SizeOf(reused.picture), SizeOf(first.picture)) << what;
    EXPECT_EQ(reused.picture.pixels, first.picture.pixels) << what;
    EXPECT_EQ(reused.picture.decoded, first.picture.decoded) << what;
    int32_t differing = 0;
    for (int32_t x = 0; x < 64; ++x) {
      for (int32_t y = 0; y < 64; ++y) differing += store.canvas(x, y) != fresh->canvas(x, y);
    }
    EXPECT_EQ(differing, 0) << what;
    // The selection's parts the front ends leave out are not built, and change nothing else.
    for (const PictureParts parts : {PictureParts::None, PictureParts::Decoded}) {
      const Selection s = SelectImage(store, 1, parts);
      EXPECT_EQ(s.memo, first.memo) << what;
      EXPECT_TRUE(s.picture.pixels.empty()) << what;
      if (parts == PictureParts::None) {
        EXPECT_EQ(s.picture.width, 0) << what;
        EXPECT_TRUE(s.picture.decoded.empty()) << what;
      } else {
        EXPECT_EQ(s.picture.width, first.picture.width) << what;
        EXPECT_EQ(s.picture.decoded, first.picture.decoded) << what;
      }
      EXPECT_EQ(store.canvas(r.w - 1, r.h - 1), fresh->canvas(r.w - 1, r.h - 1)) << what;
      EXPECT_EQ(store.canvas(63, 63), 0u) << what;
    }
  }
}

TEST_F(ImageSelectionTest, TallerThanTheCanvasIsNotDecoded) {
  SetEntry(0, 4, 3000, 0x0600, Bytes(64, 0xFF));
  const Selection s = SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "DXT1 RGBA565");
  EXPECT_EQ(SizeOf(s.picture), "4x2049");
  EXPECT_EQ(store.canvas(0, 0), 0u);
  EXPECT_EQ(At(s.picture, 0, 0), kWhite);
}

TEST_F(ImageSelectionTest, StatusTellsSizeFormatInWordsAndPaletteSource) {
  test::TempDir dir;
  store.loadDirectory = dir.Path().string() + "/";
  RecordingFrontEnd frontEnd;
  frontEnd.list = {"tex0"};
  frontEnd.selected = 0;

  // A 4-bit CLUT texture without its palette file: fallback colours 0xF000 + n
  // (alpha 255, red 224, green 0, blue 8n).
  SetEntry(0, 2, 2, 0x0500, FromHex("21 43"));
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.status.width, 2);
  EXPECT_EQ(frontEnd.status.height, 2);
  EXPECT_EQ(frontEnd.status.format, "4-BIT CLUT TWIDDLED ARGB1555");
  EXPECT_EQ(frontEnd.status.palette, "Palette file not found: " + store.loadDirectory + "tex0.pvp: fallback palette");
  EXPECT_TRUE(frontEnd.status.paletteMissing);
  // The decoded pixels travel with the painted ones, row by row: (0, 1) is index 2.
  ASSERT_EQ(frontEnd.picture.decoded.size(), 4u);
  EXPECT_EQ(frontEnd.picture.decoded[0], 0xFF0800E0u);
  EXPECT_EQ(frontEnd.picture.decoded[2], 0xFF1000E0u);
  EXPECT_EQ(frontEnd.picture.decoded[3], 0xFF2000E0u);

  Bytes pvp(16, 0);
  for (int i = 0; i < 32; ++i) pvp.push_back(0xFF);
  test::WriteFileBytes(dir / "tex0.pvp", pvp);
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.status.palette, "Palette file " + store.loadDirectory + "tex0.pvp");
  EXPECT_FALSE(frontEnd.status.paletteMissing);

  // A name that cannot name a file next to the archive.
  store.images[0].Name = "../tex0";
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.status.palette,
            "No palette file for an image name that is not a file name: fallback palette");

  // No palette involved; a format without a decoder says so.
  SetEntry(0, 4, 2, 0x0900, Bytes(16, 0));
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.status.width, 4);
  EXPECT_EQ(frontEnd.status.format, "RECTANGLE ARGB1555");
  EXPECT_EQ(frontEnd.status.palette, "");
  SetEntry(0, 4, 2, 0x0C00, Bytes(16, 0));
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.status.format, "ARGB1555 - Unsupported format");
}

TEST_F(ImageSelectionTest, ListedImageAndBadIndex) {
  RecordingFrontEnd frontEnd;
  SetEntry(0, 2, 2, 0x0100, Bytes(8, 0xFF));
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.memo, Lines{"Description :"});
  EXPECT_EQ(SizeOf(frontEnd.picture), "0x0");
  frontEnd.list = {"tex0"};
  frontEnd.selected = 0;
  SelectListedImage(store, frontEnd);
  EXPECT_EQ(frontEnd.memo.back(), "SQUARE TWIDDLED ARGB1555");
  EXPECT_EQ(SizeOf(frontEnd.picture), "2x2");
  EXPECT_EQ(At(frontEnd.picture, 1, 1), 0xF8F8F8u);

  try {
    SelectImage(store, kMaxImages);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Usage);
  }
}

}  // namespace
}  // namespace quarrendel::texture
