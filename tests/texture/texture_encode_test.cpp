#include "texture/texture_encode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "tests/support/test_util.h"
#include "tests/texture/decode_test_util.h"
#include "texture/image_selection.h"
#include "texture/s3tc_encode.h"
#include "texture/xvr_decode.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;

constexpr int32_t kSide = 16;

uint32_t Channel(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

// Smooth colours with a few pure black pixels; opaque.
uint32_t Scene(int32_t x, int32_t y) {
  if ((x * 5 + y * 3) % 11 == 0) return 0xFF000000;
  const auto r = static_cast<uint32_t>(30 + 13 * x) & 0xFF, g = static_cast<uint32_t>(200 - 9 * y) & 0xFF,
             b = static_cast<uint32_t>(90 + 4 * (x + y)) & 0xFF;
  return r | (g << 8) | (b << 16) | 0xFF000000;
}

enum class Alpha { Opaque, OneBit, Graded };

uint32_t PixelOf(Alpha alpha, int32_t x, int32_t y) {
  const uint32_t p = Scene(x, y);
  if (alpha == Alpha::OneBit && (x + y) % 4 == 1) return p & 0x00FFFFFF;
  if (alpha == Alpha::Graded && x == 5 && y == 9) return (p & 0x00FFFFFF) | 0x80000000;
  return p;
}

class TextureEncodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<ImageStore> storage = std::make_unique<ImageStore>();
  ImageStore& store = *storage;
  std::unique_ptr<Canvas> source = std::make_unique<Canvas>();

  void Paint(Alpha alpha, bool blackTransparent, int32_t side = kSide) {
    for (int32_t x = 0; x < side; ++x) {
      for (int32_t y = 0; y < side; ++y) store.canvas(x, y) = PixelOf(alpha, x, y);
    }
    if (blackTransparent) MakeBlackTransparent(store.canvas, side);
    for (int32_t x = 0; x < side; ++x) {
      for (int32_t y = 0; y < side; ++y) (*source)(x, y) = store.canvas(x, y);
    }
  }
};

TEST_F(TextureEncodeTest, AlphaTestsAndBlackAsTransparent) {
  const struct {
    uint32_t alpha;
    bool graded, transparent;
  } kCases[] = {{255, false, false}, {240, false, true}, {239, true, true}, {128, true, true},
                {16, true, true},    {15, false, true},  {0, false, true}};
  for (const auto& c : kCases) {
    Paint(Alpha::Opaque, false);
    store.canvas(3, 7) = (store.canvas(3, 7) & 0xFFFFFF) | (c.alpha << 24);
    EXPECT_EQ(HasGradedAlpha(store.canvas, kSide), c.graded) << c.alpha;
    EXPECT_EQ(HasTransparency(store.canvas, kSide), c.transparent) << c.alpha;
    // Outside the square it does not count.
    EXPECT_FALSE(HasTransparency(store.canvas, 3)) << c.alpha;
  }

  Canvas& canvas = store.canvas;
  canvas(0, 0) = 0xFF000000;
  canvas(1, 0) = 0x80000000;
  canvas(2, 0) = 0xFF000001;
  canvas(3, 0) = 0x00010000;
  canvas(4, 0) = 0xFF000000;
  MakeBlackTransparent(canvas, 4);
  EXPECT_EQ(canvas(0, 0), 0u);
  EXPECT_EQ(canvas(1, 0), 0u);
  EXPECT_EQ(canvas(2, 0), 0xFF000001u);
  EXPECT_EQ(canvas(3, 0), 0x00010000u);
  EXPECT_EQ(canvas(4, 0), 0xFF000000u);
}

TEST_F(TextureEncodeTest, PackRgb5a3TilesOrderAndWords) {
  Canvas& canvas = store.canvas;
  canvas.Clear(8, 8);
  canvas(0, 0) = 0xF00880FF;  // alpha 240: opaque 5-5-5 -> 0xFE01
  canvas(3, 0) = 0xEF0880FF;  // alpha 239: 3-4-4-4 with alpha 111 -> 0x7F80
  canvas(0, 1) = 0x20302010;  // -> 0x1123
  canvas(4, 0) = 0xFFFFFFFF;  // first texel of tile (1, 0) -> 0xFFFF
  canvas(0, 4) = 0xFF000008;  // first texel of tile (0, 1) -> 0x8400
  canvas(7, 7) = 0xE0FF0FF0;  // last texel of tile (1, 1) -> 0x7F0F
  Bytes expected(128, 0);
  for (const auto& [word, value] : std::vector<std::pair<int, uint16_t>>{
           {0, 0xFE01}, {3, 0x7F80}, {4, 0x1123}, {16, 0xFFFF}, {32, 0x8400}, {63, 0x7F0F}}) {
    expected[static_cast<size_t>(2 * word)] = static_cast<uint8_t>(value >> 8);
    expected[static_cast<size_t>(2 * word + 1)] = static_cast<uint8_t>(value & 0xFF);
  }
  Bytes out(128, 0xAA);
  PackRgb5a3Tiles(canvas, 8, out);
  EXPECT_EQ(test::ToHex(out), test::ToHex(expected));

  Bytes none(8, 0xAA);
  PackRgb5a3Tiles(canvas, 3, none);
  EXPECT_EQ(none, Bytes(8, 0xAA));
  Bytes shortOut(127, 0xAA);
  EXPECT_THROW(PackRgb5a3Tiles(canvas, 8, shortOut), Error);
  EXPECT_EQ(shortOut, Bytes(127, 0xAA));
}

// Colour channels of the decoded pixel lie within [source - maxLoss, source].
::testing::AssertionResult Truncated(uint32_t source, uint32_t decoded, uint32_t maxLoss) {
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t s = Channel(source, shift), d = Channel(decoded, shift);
    if (d > s || s - d > maxLoss) {
      return ::testing::AssertionFailure() << std::hex << source << " became " << decoded;
    }
  }
  return ::testing::AssertionSuccess();
}

struct DecisionRow {
  const char* name;
  Alpha alpha;
  bool blackTransparent;
  TargetFamily family;
  uint32_t format;      // after encoding
  int32_t dataLength;
  uint32_t marked;      // after the Xbox marking
  TwiddledTexels texels = TwiddledTexels::Argb1555;
};

const DecisionRow kDecisions[] = {
    {"opaque DC", Alpha::Opaque, false, TargetFamily::DcPc, 0x100, 512, 0x100},
    {"opaque GC", Alpha::Opaque, false, TargetFamily::Gc, 0xE00, 128, 0xE00},
    {"opaque XBox", Alpha::Opaque, false, TargetFamily::XboxBb, 0x600, 128, 0x600},
    {"one-bit DC", Alpha::OneBit, false, TargetFamily::DcPc, 0x100, 512, 0x100},
    {"one-bit GC", Alpha::OneBit, false, TargetFamily::Gc, 0xE00, 128, 0xE00},
    {"one-bit XBox", Alpha::OneBit, false, TargetFamily::XboxBb, 0x600, 128, 0x602},
    {"graded DC", Alpha::Graded, false, TargetFamily::DcPc, 0x100, 512, 0x100},
    {"graded GC", Alpha::Graded, false, TargetFamily::Gc, 0x508, 512, 0x508},
    {"graded XBox", Alpha::Graded, false, TargetFamily::XboxBb, 0x700, 256, 0x702},
    {"black DC", Alpha::Opaque, true, TargetFamily::DcPc, 0x100, 512, 0x100},
    {"black GC", Alpha::Opaque, true, TargetFamily::Gc, 0xE00, 128, 0xE00},
    {"black XBox", Alpha::Opaque, true, TargetFamily::XboxBb, 0x600, 128, 0x602},
    {"graded DC ARGB4444", Alpha::Graded, false, TargetFamily::DcPc, 0x102, 512, 0x102, TwiddledTexels::Argb4444},
};

TEST_F(TextureEncodeTest, DecisionTableAndRoundTrips) {
  auto dxt1Plane = std::make_unique<test::TestPlane>();
  Plane* dxt1 = &dxt1Plane->plane;
  for (const DecisionRow& row : kDecisions) {
    SCOPED_TRACE(row.name);
    Paint(row.alpha, row.blackTransparent);
    TImage_Entry& entry = store.Entry(2);
    EncodeCanvasIntoEntry(store, 2, kSide, row.family, row.texels);
    EXPECT_EQ(entry.Format, row.format);
    EXPECT_EQ(entry.DataLength, row.dataLength);
    EXPECT_EQ(entry.Width, kSide);
    EXPECT_EQ(entry.Height, kSide);
    EXPECT_EQ(store.currentImage, 2);
    EXPECT_EQ(store.readCursor, row.family == TargetFamily::DcPc ? 512 : 0);

    // The plain DXT1 of the same picture, for the CMPR comparison below.
    Bytes plain(static_cast<size_t>(Dxt1Bytes(kSide)));
    EncodeDxt1(store.canvas, kSide, plain);
    DecodeDxt1(*dxt1, kSide, plain);

    SelectImage(store, 2);
    ApplyXboxMarking(store, 2);
    EXPECT_EQ(entry.Format, row.marked);

    const Canvas& decoded = store.canvas;
    double squares = 0;
    int count = 0;
    for (int32_t x = 0; x < kSide; ++x) {
      for (int32_t y = 0; y < kSide; ++y) {
        const uint32_t s = (*source)(x, y), d = decoded(x, y), a = s >> 24, da = d >> 24;
        if (row.format == 0x102) {
          ASSERT_LE(da, a);
          ASSERT_LE(a - da, 15u);
          ASSERT_TRUE(Truncated(s, d, 15)) << x << "," << y;
        } else if (row.format == 0x100) {
          ASSERT_EQ(da, a >= 0x80 ? 255u : 0u) << x << "," << y;
          ASSERT_TRUE(Truncated(s, d, 7)) << x << "," << y;
        } else if (row.format == 0x508) {
          ASSERT_LE(da, a);
          ASSERT_LE(a - da, a >= 240 ? 0u : 31u);
          ASSERT_TRUE(Truncated(s, d, a >= 240 ? 7 : 15)) << x << "," << y;
        } else if (row.format == 0x700) {
          ASSERT_EQ(da >> 4, a >> 4) << x << "," << y;
        } else {
          ASSERT_EQ(da, a >= 0x80 ? 255u : 0u) << x << "," << y;
          if (a < 0x80) {
            ASSERT_EQ(d, 0u) << x << "," << y;  // transparent black
          }
          if (row.format == 0xE00) {
            ASSERT_EQ(d, (*dxt1)(x, y)) << x << "," << y;  // CMPR shows what DXT1 shows
          }
        }
        if (a >= 0x80) {
          for (int shift = 0; shift < 24; shift += 8) {
            const double e = static_cast<double>(Channel(s, shift)) - static_cast<double>(Channel(d, shift));
            squares += e * e;
            ++count;
          }
        }
      }
    }
    // Block formats on this small, busy picture (black specks in every block,
    // three colours where a block has transparent pixels) stay above 22 dB;
    // blocks out of place would fall far below.
    EXPECT_GT(10 * std::log10(255.0 * 255.0 * count / squares), 22.0);
  }
}

TEST_F(TextureEncodeTest, SidesTakenAndRefused) {
  TImage_Entry& entry = store.Entry(1);
  Paint(Alpha::Opaque, false, 64);
  store.canvas(1, 1) = 0xFFFFFFFF;
  // Refusals (format 0) name the error; the entry, the current image and
  // the cursor are then as they were.
  const struct {
    int32_t side;
    TargetFamily family;
    uint32_t format;
    int32_t length;
    ErrorKind kind;
  } kSides[] = {
      {1, TargetFamily::DcPc, 0x100, 2, {}},     {2, TargetFamily::DcPc, 0x100, 8, {}},
      {4, TargetFamily::XboxBb, 0x600, 8, {}},   {8, TargetFamily::Gc, 0xE00, 32, {}},
      {12, TargetFamily::DcPc, 0, 0, ErrorKind::Unsupported},   {12, TargetFamily::Gc, 0, 0, ErrorKind::Unsupported},
      {12, TargetFamily::XboxBb, 0, 0, ErrorKind::Unsupported}, {0, TargetFamily::DcPc, 0, 0, ErrorKind::Unsupported},
      {-4, TargetFamily::XboxBb, 0, 0, ErrorKind::Unsupported}, {2, TargetFamily::Gc, 0, 0, ErrorKind::Unsupported},
      {2, TargetFamily::XboxBb, 0, 0, ErrorKind::Unsupported},  {1, TargetFamily::Gc, 0, 0, ErrorKind::Unsupported},
      {4, TargetFamily::Gc, 0, 0, ErrorKind::Unsupported},  // opaque: CMPR, whose tiles are 8 x 8
      {4096, TargetFamily::DcPc, 0, 0, ErrorKind::OverCapacity},
  };
  for (const auto& c : kSides) {
    store.FillEntryData(1, Bytes{1, 2, 3, 4, 5});
    entry.Width = entry.Height = 32;
    entry.Format = 0x1234;
    store.currentImage = 7;
    const uint8_t* block = entry.Data;
    if (c.format != 0) {
      EncodeCanvasIntoEntry(store, 1, c.side, c.family);
      EXPECT_EQ(entry.Format, c.format) << c.side;
      EXPECT_EQ(entry.DataLength, c.length) << c.side;
      continue;
    }
    try {
      EncodeCanvasIntoEntry(store, 1, c.side, c.family);
      ADD_FAILURE() << c.side << " was encoded";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), c.kind) << c.side << ": " << e.what();
    }
    EXPECT_TRUE(entry.Format == 0x1234 && entry.Width == 32 && entry.Height == 32 && entry.Data == block &&
                entry.DataLength == 5 && store.currentImage == 7)
        << c.side;
  }
  // With graded alpha a 4 x 4 GC picture is one RGB5A3 tile.
  store.canvas(1, 1) = 0x80FFFFFF;
  EncodeCanvasIntoEntry(store, 1, 4, TargetFamily::Gc);
  EXPECT_EQ(entry.Format, 0x508u);
  EXPECT_EQ(entry.DataLength, 32);
}

TEST_F(TextureEncodeTest, XboxMarkingCountsLevelsAndTransparency) {
  const struct {
    uint32_t format;
    int32_t dataLength;
    bool transparent;
    uint32_t marked;
  } kCases[] = {
      {0x600, 128, false, 0x600}, {0x600, 129, false, 0x601}, {0x600, 168, true, 0x603},
      {0x700, 256, false, 0x700}, {0x700, 257, true, 0x703},  {0x602, 128, false, 0x602},
      {0x100, 9999, true, 0x100}, {0xE00, 9999, true, 0xE00}, {0x508, 9999, true, 0x508},
  };
  TImage_Entry& entry = store.Entry(0);
  for (const auto& c : kCases) {
    Paint(Alpha::Opaque, false);
    if (c.transparent) store.canvas(15, 15) = 0xFE000000;
    store.canvas(16, 0) = 0;  // beyond the square: never counts
    store.FillEntryData(0, Bytes(static_cast<size_t>(c.dataLength)));
    entry.Width = kSide;
    entry.Height = kSide;
    entry.Format = c.format;
    ApplyXboxMarking(store, 0);
    EXPECT_EQ(entry.Format, c.marked) << std::hex << c.format << " " << std::dec << c.dataLength;
  }
}

}  // namespace
}  // namespace quarrendel::texture
