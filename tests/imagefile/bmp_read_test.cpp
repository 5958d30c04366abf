#include "imagefile/bmp_read.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/byte_io.h"
#include "core/error.h"
#include "tests/support/test_util.h"

namespace quarrendel::imagefile {
namespace {

using test::Bytes;
using test::FromHex;

// A bitmap as a writer lays it out: 14-byte file header, 40-byte
// information header (or `headerSize`), `extra` (masks, colour table), then
// the pixel bytes exactly as given (bottom row first, rows padded).
struct BmpSpec {
  uint16_t bits = 24;
  int32_t width = 2;
  int32_t height = 2;
  std::string pixels;  // hex
  std::string extra;   // hex
  uint32_t compression = 0;
  uint32_t headerSize = 40;
  const char* magic = "BM";
};

BmpSpec Spec(uint16_t bits, int32_t width, int32_t height, std::string pixels, std::string extra = "",
             uint32_t compression = 0, uint32_t headerSize = 40) {
  BmpSpec s;
  s.bits = bits;
  s.width = width;
  s.height = height;
  s.pixels = std::move(pixels);
  s.extra = std::move(extra);
  s.compression = compression;
  s.headerSize = headerSize;
  return s;
}

Bytes MakeBmp(const BmpSpec& s) {
  const Bytes extra = FromHex(s.extra), pixels = FromHex(s.pixels);
  Bytes out;
  ByteWriter w(out);
  w.Magic(s.magic);
  w.U32Le(static_cast<uint32_t>(54 + extra.size() + pixels.size()));
  w.U32Le(0);
  w.U32Le(static_cast<uint32_t>(54 + extra.size()));
  w.U32Le(s.headerSize);
  w.U32Le(static_cast<uint32_t>(s.width));
  w.U32Le(static_cast<uint32_t>(s.height));
  w.U16Le(1);
  w.U16Le(s.bits);
  w.U32Le(s.compression);
  w.U32Le(static_cast<uint32_t>(pixels.size()));
  w.U32Le(2835);
  w.U32Le(2835);
  w.U32Le(0);
  w.U32Le(0);
  w.Bytes(extra);
  w.Bytes(pixels);
  return out;
}

// The 256-entry colour table with entries 0..3 set (blue, green, red, 0).
std::string ColourTable() {
  std::string table = "00 00 00 00  FF 00 00 00  00 FF 00 00  10 20 30 00";
  for (int i = 4; i < 256; ++i) table += " 99 99 99 00";
  return table;
}

// `count` zero bytes in hex: the rest of a longer information header.
std::string ZeroBytes(int count) {
  std::string hex;
  for (int i = 0; i < count; ++i) hex += "00 ";
  return hex;
}

constexpr uint32_t kMarker = 0x12345678;

class BmpReadTest : public ::testing::Test {
 protected:
  std::unique_ptr<Canvas> canvas = std::make_unique<Canvas>();
  void Mark() {
    for (int x = 0; x < 4; ++x) {
      for (int y = 0; y < 4; ++y) (*canvas)(x, y) = kMarker;
    }
  }
};

struct DepthCase {
  const char* name;
  BmpSpec spec;
  std::vector<uint32_t> expected;  // canvas pixels row by row from the top, width per row
};

TEST_F(BmpReadTest, EveryDepth) {
  const DepthCase kCases[] = {
      // 2 x 2 rows of 6 bytes and 2 filler bytes; bottom row first.
      {"24-bit", Spec(24, 2, 2, "01 02 03 04 05 06 EE EE  07 08 09 0A 0B 0C EE EE"),
       {0xFF070809, 0xFF0A0B0C, 0xFF010203, 0xFF040506}},
      // 3 x 2: 9 bytes and 3 filler bytes per row.
      {"24-bit odd width", Spec(24, 3, 2, "01 02 03 04 05 06 07 08 09 EE EE EE  11 12 13 14 15 16 17 18 19"),
       {0xFF111213, 0xFF141516, 0xFF171819, 0xFF010203, 0xFF040506, 0xFF070809}},
      {"32-bit alpha as stored", Spec(32, 2, 2, "01 02 03 00 04 05 06 80  07 08 09 FF 0A 0B 0C 7F"),
       {0xFF070809, 0x7F0A0B0C, 0x00010203, 0x80040506}},
      // No masks: the pixel data sits at 54 and the word at 50 is 0, so 5-6-5.
      {"16-bit 5-6-5", Spec(16, 2, 2, "00 F8 E0 07  1F 00 FF FF"), {0xFFF80000, 0xFFF8FCF8, 0xFF0000F8, 0xFF00FC00}},
      // Four masks, pixel data at 70, alpha mask 0x8000 at 66: 1-5-5-5.
      {"16-bit 1-5-5-5",
       Spec(16, 2, 2, "FF 7F 00 FC  E0 83 1F 80", "00 7C 00 00 E0 03 00 00 1F 00 00 00 00 80 00 00", 3, 56),
       {0xFF00F800, 0xFFF80000, 0x00F8F8F8, 0xFF0000F8}},
      // 8-bit: table at 54, rows of 2 bytes and 2 filler bytes.
      {"8-bit", Spec(8, 2, 2, "00 01 EE EE  02 03 EE EE", ColourTable()),
       {0xFF00FF00, 0xFF102030, 0xFF000000, 0xFFFF0000}},
      // V4 and V5 headers (108 and 124 bytes): the table follows them, at 122 and 138.
      {"8-bit, V4 header", Spec(8, 2, 2, "00 01 EE EE  02 03 EE EE", ZeroBytes(68) + ColourTable(), 0, 108),
       {0xFF00FF00, 0xFF102030, 0xFF000000, 0xFFFF0000}},
      {"8-bit, V5 header", Spec(8, 2, 2, "00 01 EE EE  02 03 EE EE", ZeroBytes(84) + ColourTable(), 0, 124),
       {0xFF00FF00, 0xFF102030, 0xFF000000, 0xFFFF0000}},
      // 3 x 1: 3 bytes and 1 filler byte (a file may also end without it).
      {"8-bit odd width", Spec(8, 3, 1, "03 02 01", ColourTable()), {0xFF102030, 0xFF00FF00, 0xFFFF0000}},
      // Negative heights: the same rows stored top row first.
      {"24-bit top-down", Spec(24, 2, -2, "07 08 09 0A 0B 0C EE EE  01 02 03 04 05 06 EE EE"),
       {0xFF070809, 0xFF0A0B0C, 0xFF010203, 0xFF040506}},
      {"32-bit top-down, 3 rows", Spec(32, 1, -3, "01 02 03 40  04 05 06 80  07 08 09 C0"),
       {0x40010203, 0x80040506, 0xC0070809}},
  };
  for (const DepthCase& c : kCases) {
    Mark();
    const Bytes file = MakeBmp(c.spec);
    LoadBitmapIntoCanvas(file, *canvas);
    const int32_t w = c.spec.width;
    const int32_t rows = static_cast<int32_t>(c.expected.size()) / w;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      const auto x = static_cast<int32_t>(i) % w, y = static_cast<int32_t>(i) / w;
      EXPECT_EQ((*canvas)(x, y), c.expected[i]) << c.name << " at " << x << "," << y;
    }
    // Only the bitmap's rectangle is written.
    EXPECT_EQ((*canvas)(w, 0), kMarker) << c.name;
    EXPECT_EQ((*canvas)(0, rows), kMarker) << c.name;
    const BitmapSize size = ReadBitmapSize(file);
    EXPECT_EQ(size.width, w);
    EXPECT_EQ(size.height, rows) << c.name;
  }
}

TEST_F(BmpReadTest, RefusalsLeaveTheCanvasAlone) {
  const std::string row2x24 = "01 02 03 04 05 06 EE EE";
  struct Refusal {
    const char* name;
    Bytes file;
    ErrorKind kind;
  };
  auto with = [](BmpSpec s, auto change) {
    change(s);
    return MakeBmp(s);
  };
  const BmpSpec ok = Spec(24, 2, 2, row2x24 + row2x24);
  Bytes shortByOne = MakeBmp(ok);
  shortByOne.resize(shortByOne.size() - 3);  // the last row's filler may go, not its pixels
  Bytes headerOnly = MakeBmp(ok);
  headerOnly.resize(40);
  const Refusal kRefusals[] = {
      {"signature", with(ok, [](BmpSpec& s) { s.magic = "BA"; }), ErrorKind::BadMagic},
      {"empty", Bytes{}, ErrorKind::BadMagic},
      {"1-bit", with(ok, [](BmpSpec& s) { s.bits = 1; }), ErrorKind::Unsupported},
      {"4-bit", with(ok, [](BmpSpec& s) { s.bits = 4; }), ErrorKind::Unsupported},
      {"RLE8", with(ok, [](BmpSpec& s) { s.bits = 8; s.compression = 1; s.extra = ColourTable(); }),
       ErrorKind::Unsupported},
      {"masks on 24-bit", with(ok, [](BmpSpec& s) { s.compression = 3; }), ErrorKind::Unsupported},
      {"PNG inside", with(ok, [](BmpSpec& s) { s.bits = 32; s.compression = 5; }), ErrorKind::Unsupported},
      {"OS/2 header", with(ok, [](BmpSpec& s) { s.headerSize = 12; }), ErrorKind::Unsupported},
      {"top-down, last row cut", with(ok, [](BmpSpec& s) { s.height = -3; }), ErrorKind::Truncated},
      {"top-down too tall", with(ok, [](BmpSpec& s) { s.height = -2049; }), ErrorKind::OverCapacity},
      {"height INT32_MIN", with(ok, [](BmpSpec& s) { s.height = INT32_MIN; }), ErrorKind::OverCapacity},
      {"no width", with(ok, [](BmpSpec& s) { s.width = 0; }), ErrorKind::Corrupt},
      {"negative width", with(ok, [](BmpSpec& s) { s.width = -2; }), ErrorKind::Corrupt},
      {"too wide", with(ok, [](BmpSpec& s) { s.width = 2049; }), ErrorKind::OverCapacity},
      {"too tall", with(ok, [](BmpSpec& s) { s.height = 2049; }), ErrorKind::OverCapacity},
      {"last row cut", shortByOne, ErrorKind::Truncated},
      {"header cut", headerOnly, ErrorKind::Truncated},
      {"large and short", with(ok, [](BmpSpec& s) { s.width = 2048; s.height = 2048; }), ErrorKind::Truncated},
  };
  for (const Refusal& r : kRefusals) {
    Mark();
    try {
      LoadBitmapIntoCanvas(r.file, *canvas);
      ADD_FAILURE() << r.name << " was loaded";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), r.kind) << r.name << ": " << e.what();
      if (r.kind == ErrorKind::BadMagic) {
        EXPECT_STREQ(e.what(), "This file isn't a valide BMP format.");
      }
      EXPECT_FALSE(std::string(e.what()).empty());
    }
    for (int x = 0; x < 4; ++x) {
      for (int y = 0; y < 4; ++y) ASSERT_EQ((*canvas)(x, y), kMarker) << r.name;
    }
  }
  // The size reader checks only the signature; it gives the rows whichever way they are stored.
  EXPECT_EQ(ReadBitmapSize(with(ok, [](BmpSpec& s) { s.height = INT32_MIN; })).height, INT32_MAX);
  EXPECT_EQ(ReadBitmapSize(with(ok, [](BmpSpec& s) { s.width = -4; })).width, -4);
  EXPECT_THROW(ReadBitmapSize(with(ok, [](BmpSpec& s) { s.magic = "MB"; })), Error);
  EXPECT_THROW(ReadBitmapSize(FromHex("42 4D 00 00 00 00 00 00 00 00 36 00 00 00 28 00 00 00 02 00")), Error);
}

TEST_F(BmpReadTest, FromFiles) {
  test::TempDir dir;
  const Bytes file = MakeBmp(Spec(24, 2, 2, "01 02 03 04 05 06 EE EE  07 08 09 0A 0B 0C EE EE"));
  test::WriteFileBytes(dir / "a.bmp", file);
  const BitmapSize size = ReadBitmapSizeFromFile(dir / "a.bmp");
  EXPECT_EQ(size.width, 2);
  LoadBitmapFileIntoCanvas(dir / "a.bmp", *canvas);
  EXPECT_EQ((*canvas)(1, 0), 0xFF0A0B0Cu);

  Mark();
  const struct {
    std::filesystem::path path;
    ErrorKind kind;
  } kBad[] = {{dir.Path(), ErrorKind::Unsupported},
               {dir / "missing.bmp", ErrorKind::Io},
               {dir / "huge.bmp", ErrorKind::OverCapacity}};
  test::WriteFileBytes(dir / "huge.bmp", file);
  std::filesystem::resize_file(dir / "huge.bmp", kMaxBitmapFileBytes + 1);  // sparse: nothing is read
  for (const auto& bad : kBad) {
    try {
      LoadBitmapFileIntoCanvas(bad.path, *canvas);
      ADD_FAILURE() << bad.path;
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), bad.kind) << bad.path;
    }
    EXPECT_THROW(ReadBitmapSizeFromFile(bad.path), Error);
  }
  EXPECT_EQ((*canvas)(0, 0), kMarker);
}

}  // namespace
}  // namespace quarrendel::imagefile
