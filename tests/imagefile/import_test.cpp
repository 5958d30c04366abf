#include "imagefile/import.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/byte_io.h"
#include "core/error.h"
#include "imagefile/export.h"
#include "imagefile/png_file.h"
#include "tests/imagefile/transfer_fixture.h"

namespace quarrendel::test {
namespace {

using MessageKind = RecordingFrontEnd::MessageKind;

// A DDS file: the header fields Import reads, the rest zero.
Bytes Dds(uint32_t width, uint32_t height, uint32_t linearSize, uint32_t mipCount, const char* fourCc,
          const Bytes& data) {
  Bytes out;
  ByteWriter w(out);
  w.Magic("DDS ");
  w.U32Le(124);
  w.U32Le(0x81007);
  w.U32Le(height);
  w.U32Le(width);
  w.U32Le(linearSize);
  w.U32Le(0);
  w.U32Le(mipCount);
  w.Zeros(52);
  w.Magic(fourCc);
  w.Zeros(40);
  w.Bytes(data);
  return out;
}

// A 32-bit bitmap of side x side pixels, each `pixel(x, y)`.
Bytes Bitmap(int32_t width, int32_t height, const std::function<uint32_t(int32_t, int32_t)>& pixel) {
  texture::RgbaImage picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
  for (int32_t x = 0; x < width; ++x)
    for (int32_t y = 0; y < height; ++y) picture.pixels[static_cast<size_t>(y * width + x)] = pixel(x, y);
  return imagefile::BitmapFileBytes(picture.Rect());
}

// The same picture as a PNG file.
Bytes Png(int32_t width, int32_t height, const std::function<uint32_t(int32_t, int32_t)>& pixel) {
  imagefile::RgbaImage image{width, height, {}};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int shift = 0; shift < 32; shift += 8) image.pixels.push_back(static_cast<uint8_t>(pixel(x, y) >> shift));
  return imagefile::WritePng(image);
}

uint32_t Opaque(int32_t x, int32_t y) { return 0xFF000000u | static_cast<uint32_t>(x * 8) << 8 | static_cast<uint32_t>(y); }

struct ImportTest : TransferTest {
  // Two images to import over, in a store of Xbox images (data format 7 is DXT3).
  void SetUp() override {
    Put("first", 2, 2, 0x0901, 0xA1, FromHex("00F8 00F8 00F8 00F8"));
    Put("second", 2, 2, 0x0901, 0xB2, FromHex("1F00 1F00 1F00 1F00"));
  }

  bool Import(int32_t index, const Bytes& file, TargetFamily family = TargetFamily::DcPc) {
    frontEnd.family = family;
    return imagefile::ImportFile(*store, frontEnd, index, file).Ok();
  }

  // Import of `file` must be refused with `error` and change nothing.
  void ExpectRefused(const Bytes& file, ErrorKind error, TargetFamily family, const std::string& what) {
    Select(1);
    const Bytes before = Data(1);
    const uint32_t canvasBefore = store->canvas(0, 0);
    try {
      Import(1, file, family);
      ADD_FAILURE() << what << ": imported";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), error) << what << ": " << e.what();
    }
    EXPECT_EQ(Data(1), before) << what;
    EXPECT_EQ(store->images[1].Format, 0x0901u) << what;
    EXPECT_EQ(store->canvas(0, 0), canvasBefore) << what << ": the shown picture changed";
  }
};

TEST_F(ImportTest, RoundTripsThroughExportedFiles) {
  // A PVM image exported as PVR comes back with Format, DataLength and Data identical.
  store->pvrFamily = 1;
  const int32_t pvm = Put("twiddled", 4, 4, 0x12340102, 0xC3, FromHex(Repeat("0F1E 2D3C 4B5A 6978", 4)));
  Select(pvm);
  const Bytes pvr = imagefile::ExportBytes(*store, pvm, imagefile::ExportKind::Pvr);
  Select(1);
  ASSERT_TRUE(Import(1, pvr, TargetFamily::XboxBb));
  EXPECT_EQ(store->images[1].Format, 0x12340102u);
  EXPECT_EQ(Data(1), Data(pvm));
  EXPECT_EQ(store->images[1].Name, "second");
  EXPECT_EQ(store->images[1].GlobalIndex, 0xB2u);
  EXPECT_TRUE(frontEnd.importRequests.empty());

  // An XVR DXT1 chain exported as DDS and imported for XBox/BB with the
  // offered level count: the same data. Opaque four-colour blocks (c0 > c1).
  store->pvrFamily = 0;
  Bytes chain;
  for (int k = 0; k < 2744 / 8; ++k) {
    const Bytes block = FromHex("FFFF 0100 1B6C B1E4");
    chain.insert(chain.end(), block.begin(), block.end());
    chain[chain.size() - 1] = static_cast<uint8_t>(k);
  }
  const int32_t xvr = Put("chain", 64, 64, 0x0601, 0, chain);
  Select(xvr);
  const Bytes dds = imagefile::ExportBytes(*store, xvr, imagefile::ExportKind::Dds);
  ASSERT_TRUE(Import(0, dds, TargetFamily::XboxBb));
  ASSERT_EQ(frontEnd.importRequests.size(), 1u);
  EXPECT_EQ(frontEnd.importRequests[0].spinMaximum, 7);
  EXPECT_EQ(frontEnd.importRequests[0].spinValue, 7);
  EXPECT_EQ(store->images[0].Format, 0x0601u);
  EXPECT_EQ(Data(0), chain);

  // A DC/PC image with only alpha 0 and 255 exported as a bitmap and imported
  // for DC/PC: the same twiddled ARGB1555 data.
  store->pvrFamily = 1;
  const int32_t cutout = Put("cutout", 4, 4, 0x0100, 0, FromHex(Repeat("1F80 0000 E083 007C", 4)));
  Select(cutout);
  const Bytes bmp = imagefile::ExportBytes(*store, cutout, imagefile::ExportKind::Bitmap);
  ASSERT_TRUE(Import(1, bmp, TargetFamily::DcPc));
  EXPECT_EQ(store->images[1].Format, 0x0100u);
  EXPECT_EQ(Data(1), Data(cutout));
  EXPECT_TRUE(frontEnd.messages.empty());
}

TEST_F(ImportTest, BitmapsEncodeForTheChosenFamily) {
  const auto graded = [](int32_t x, int32_t y) { return x == 1 && y == 2 ? 0x80FFFFFFu : Opaque(x, y); };
  const auto cutout = [](int32_t x, int32_t y) { return x == 1 && y == 2 ? 0x00FFFFFFu : Opaque(x, y); };
  struct Row {
    const char* what;
    int32_t side;
    std::function<uint32_t(int32_t, int32_t)> pixel;
    TargetFamily family;
    uint32_t format;
    int32_t length;
  };
  const Row rows[] = {
      {"256 opaque DC/PC", 256, Opaque, TargetFamily::DcPc, 0x0100, 131072},
      {"256 opaque XBox/BB", 256, Opaque, TargetFamily::XboxBb, 0x0600, 32768},
      {"graded alpha XBox/BB, marked transparent", 8, graded, TargetFamily::XboxBb, 0x0702, 64},
      {"alpha 0 only XBox/BB, marked transparent", 8, cutout, TargetFamily::XboxBb, 0x0602, 32},
      {"alpha 0 only GC", 8, cutout, TargetFamily::Gc, 0x0E00, 32},
  };
  for (const Row& row : rows) {
    frontEnd.importRequests.clear();
    Select(0);
    ASSERT_TRUE(Import(0, Bitmap(row.side, row.side, row.pixel), row.family)) << row.what;
    const TImage_Entry& e = store->images[0];
    EXPECT_EQ(e.Format, row.format) << row.what;
    EXPECT_EQ(e.DataLength, row.length) << row.what;
    EXPECT_EQ(e.Width, row.side) << row.what;
    EXPECT_EQ(e.Height, row.side) << row.what;
    ASSERT_EQ(frontEnd.importRequests.size(), 1u) << row.what;
    EXPECT_EQ(frontEnd.importRequests[0].spinMaximum, 1) << row.what;
    // The result is selected and shown.
    EXPECT_EQ(frontEnd.selected, 0);
    EXPECT_EQ(frontEnd.memo.at(2), "Format : " + texture::Hex8(row.format)) << row.what;
  }
  EXPECT_EQ(store->images[0].Name, "first");
  EXPECT_EQ(store->images[0].GlobalIndex, 0xA1u);

  // Black as transparent: the black pixel loses its alpha bit in ARGB1555.
  frontEnd.blackTransparent = true;
  ASSERT_TRUE(Import(0, Bitmap(2, 2, [](int32_t x, int32_t) { return x == 0 ? 0xFF000000u : 0xFFFFFFFFu; })));
  EXPECT_EQ(ToHex(Data(0)), "00 00 00 00 FF FF FF FF");
  frontEnd.blackTransparent = false;

  // The same bitmap stored top-down (rows in the other order, height -8)
  // imports to the same texture.
  const Bytes bottomUp = Bitmap(8, 8, Opaque);
  ASSERT_TRUE(Import(0, bottomUp));
  const Bytes expected = Data(0);
  Bytes topDown(bottomUp.begin(), bottomUp.begin() + 54);
  for (int row = 7; row >= 0; --row) {
    const auto start = bottomUp.begin() + 54 + row * 32;
    topDown.insert(topDown.end(), start, start + 32);
  }
  for (int k = 0; k < 4; ++k) topDown[22 + k] = static_cast<uint8_t>(static_cast<uint32_t>(-8) >> (8 * k));
  ASSERT_TRUE(Import(1, topDown)) << (frontEnd.messages.empty() ? "" : frontEnd.messages.back().text);
  EXPECT_EQ(ToHex(Data(1)), ToHex(expected));
}

TEST_F(ImportTest, RefusedBitmapsChangeNothing) {
  struct Row {
    int32_t width, height;
    const char* message;
  };
  for (const Row& row : {Row{3, 3, "BMP Error: The size isnt valide."},
                         Row{4, 2, "BMP Error: Width and height must be the same."}}) {
    frontEnd.messages.clear();
    EXPECT_FALSE(Import(1, Bitmap(row.width, row.height, Opaque))) << row.message;
    ASSERT_EQ(frontEnd.messages.size(), 1u);
    EXPECT_EQ(frontEnd.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(frontEnd.messages[0].text, row.message);
    EXPECT_EQ(ToHex(Data(1)), "1F 00 1F 00 1F 00 1F 00");
  }
  // The dialog comes first: the layout chosen there may take other sizes.
  EXPECT_EQ(frontEnd.importRequests.size(), 2u);

  Bytes huge = Bitmap(2, 2, Opaque);
  huge[18] = huge[22] = 0;
  huge[19] = huge[23] = 0x10;  // 4096 x 4096
  ExpectRefused(huge, ErrorKind::OverCapacity, TargetFamily::DcPc, "4096 x 4096");
  ExpectRefused(Bitmap(6, 6, Opaque), ErrorKind::Unsupported, TargetFamily::DcPc, "side not a power of two");
  ExpectRefused(Bitmap(2, 2, Opaque), ErrorKind::Unsupported, TargetFamily::XboxBb, "XBox/BB side below 4");
  ExpectRefused(Bitmap(4, 4, Opaque), ErrorKind::Unsupported, TargetFamily::Gc, "CMPR of side 4");
  const Bytes bitmap = Bitmap(4, 4, Opaque);
  Bytes behindGbix = FromHex("47424958 08000000 01000000 00000000");
  behindGbix.insert(behindGbix.end(), bitmap.begin(), bitmap.end());
  ExpectRefused(behindGbix, ErrorKind::BadMagic, TargetFamily::DcPc, "bitmap behind a GBIX chunk");
  ExpectRefused(Bytes(bitmap.begin(), bitmap.end() - 1), ErrorKind::Truncated, TargetFamily::DcPc, "cut short");
  EXPECT_FALSE(store->unsavedChanges);
}

TEST_F(ImportTest, PngTakesTheBitmapPathWithItsAlpha) {
  // Alpha 0, 128 and 255 in one picture: each family encodes the PNG exactly
  // as the same 32-bit bitmap.
  const auto pixel = [](int32_t x, int32_t y) {
    return x == 1 && y == 2 ? 0x80FFFFFFu : x == 5 ? 0x00000000u : Opaque(x, y);
  };
  const int32_t png = Put("png", 2, 2, 0x0901, 0, Bytes(8, 0));
  for (const TargetFamily family : {TargetFamily::DcPc, TargetFamily::Gc, TargetFamily::XboxBb}) {
    ASSERT_TRUE(Import(0, Bitmap(8, 8, pixel), family));
    frontEnd.importRequests.clear();
    ASSERT_TRUE(Import(png, Png(8, 8, pixel), family));
    EXPECT_EQ(frontEnd.importRequests.size(), 1u);
    EXPECT_EQ(store->images[png].Format, store->images[0].Format) << static_cast<int>(family);
    EXPECT_EQ(Data(png), Data(0)) << static_cast<int>(family);
  }
  EXPECT_EQ(store->images[png].Format, 0x0702u);  // graded alpha and transparent on XBox/BB

  struct Row {
    int32_t width, height;
    const char* message;
  };
  for (const Row& row : {Row{3, 3, "PNG Error: The size isn't valid: the side must be even."},
                         Row{4, 2, "PNG Error: Width and height must be the same."}}) {
    frontEnd.messages.clear();
    EXPECT_FALSE(Import(1, Png(row.width, row.height, Opaque))) << row.message;
    ASSERT_EQ(frontEnd.messages.size(), 1u);
    EXPECT_EQ(frontEnd.messages[0].text, row.message);
  }
  const Bytes file = Png(8, 8, Opaque);
  ExpectRefused(Bytes(file.begin(), file.end() - 20), ErrorKind::Truncated, TargetFamily::DcPc, "PNG cut short");
  ExpectRefused(Png(6, 6, Opaque), ErrorKind::Unsupported, TargetFamily::DcPc, "PNG side not a power of two");

  frontEnd.fileChoices.push_back(FileChoice{Write("hud icon.png", file), 6});
  ASSERT_TRUE(imagefile::Add1Click(*store, frontEnd));
  EXPECT_EQ(store->images[3].Name, "hud icon");
  EXPECT_EQ(store->images[3].Width, 8);
}

TEST_F(ImportTest, DdsFilesPerFamily) {
  const Bytes red = FromHex("00F8 00F8 00000000");
  const Bytes redDxt3 = FromHex("FFFFFFFFFFFFFFFF 00F8 00F8 00000000");
  // DXT5 alpha a0 = 255 > a1 = 0, every index 1 (bits 001 repeated: 49 92
  // 24): alpha 0 everywhere, where DXT3 reading took 240, 0, 144, 64, 32.
  const std::string clearDxt5 = "FF00 499224 499224 00F8 00F8 00000000";
  // Pixel k takes alpha index k % 8 of 255, 0, 219, 182, 146, 109, 73, 36;
  // RGB5A3 red: 0xFC00 at alpha 255, else (alpha >> 5) << 12 | 0x0F00.
  const Bytes gradedDxt5 = FromHex("FF00 88C6FA 88C6FA 00F8 00F8 00000000");
  Bytes level256(43704, 0x55);  // DXT1 256 x 256 with all 9 levels
  struct Row {
    const char* what;
    Bytes file;
    TargetFamily family;
    std::optional<int32_t> typed;
    uint32_t format;
    std::string data;  // hex, or empty to check only the length
    int32_t length;
    int32_t offered;
  };
  const Row rows[] = {
      {"no mipmap count offers 1", Dds(4, 4, 8, 0, "DXT1", red), TargetFamily::XboxBb, std::nullopt, 0x0600,
       "00F8 00F8 00000000", 8, 0},
      {"256 DXT1, 3 of 9 levels", Dds(256, 256, 32768, 9, "DXT1", level256), TargetFamily::XboxBb, 3, 0x0601, "",
       43008, 9},
      // DXT3 alpha 15 widens to 240: the marking finds it transparent.
      {"DXT3 as stored", Dds(4, 4, 16, 1, "DXT3", redDxt3), TargetFamily::XboxBb, std::nullopt, 0x0702,
       "FFFFFFFFFFFFFFFF 00F8 00F8 00000000", 16, 1},
      // Both DXT5 levels of a clear red 8 x 8 become DXT3 with alpha nibbles 0.
      {"XBox DXT5 becomes DXT3", Dds(8, 8, 64, 2, "DXT5", FromHex(Repeat(clearDxt5, 5))), TargetFamily::XboxBb,
       std::nullopt, 0x0703, Repeat("0000000000000000 00F8 00F8 00000000", 5), 80, 2},
      {"GC DXT5 becomes RGB5A3", Dds(4, 4, 16, 1, "DXT5", gradedDxt5), TargetFamily::Gc, std::nullopt, 0x0508,
       Repeat("FC00 0F00 6F00 5F00 4F00 3F00 2F00 1F00", 2), 32, 1},
      {"DC/PC DXT5 becomes ARGB4444", Dds(4, 4, 16, 1, "DXT5", FromHex(clearDxt5)), TargetFamily::DcPc,
       std::nullopt, 0x0102, Repeat("000F", 16), 32, 1},
      {"GC DXT1 becomes CMPR", Dds(8, 8, 32, 1, "DXT1", FromHex(Repeat("01F8 0000 E41B00FF", 4))), TargetFamily::Gc,
       std::nullopt, 0x0E00, Repeat("F801 0000 1BE400FF", 4), 32, 1},
      {"GC DXT3 becomes RGB5A3", Dds(4, 4, 16, 1, "DXT3", redDxt3), TargetFamily::Gc, std::nullopt, 0x0508,
       Repeat("FC00", 16), 32, 1},
      {"DC/PC DXT1 becomes ARGB1555", Dds(4, 4, 8, 1, "DXT1", red), TargetFamily::DcPc, std::nullopt, 0x0100,
       Repeat("00FC", 16), 32, 1},
      {"DC/PC DXT3 becomes ARGB4444", Dds(4, 4, 16, 1, "DXT3", redDxt3), TargetFamily::DcPc, std::nullopt, 0x0102,
       Repeat("00FF", 16), 32, 1},
  };
  for (const Row& row : rows) {
    frontEnd.importRequests.clear();
    frontEnd.typedLevels = row.typed;
    Select(0);
    ASSERT_TRUE(Import(0, row.file, row.family)) << row.what;
    const TImage_Entry& e = store->images[0];
    EXPECT_EQ(texture::Hex8(e.Format), texture::Hex8(row.format)) << row.what;
    EXPECT_EQ(e.DataLength, row.length) << row.what;
    if (!row.data.empty()) {
      EXPECT_EQ(ToHex(Data(0)), ToHex(FromHex(row.data))) << row.what;
    }
    ASSERT_EQ(frontEnd.importRequests.size(), 1u);
    EXPECT_EQ(frontEnd.importRequests[0].spinMaximum, row.offered) << row.what;
    EXPECT_EQ(frontEnd.importRequests[0].spinValue, row.offered) << row.what;
  }
  frontEnd.typedLevels.reset();

  ExpectRefused(Dds(8, 4, 16, 1, "DXT1", Bytes(16)), ErrorKind::Unsupported, TargetFamily::XboxBb, "8 x 4");
  for (const char* fourCc : {"ATI2", "DX10", "dxt1"}) {
    ExpectRefused(Dds(4, 4, 16, 1, fourCc, Bytes(16)), ErrorKind::Unsupported, TargetFamily::XboxBb, fourCc);
  }
  Bytes uncompressed = Dds(4, 4, 64, 1, "DXT1", Bytes(64));
  std::fill_n(uncompressed.begin() + 84, 4, uint8_t{0});  // no FourCC: RGB masks would follow
  ExpectRefused(uncompressed, ErrorKind::Unsupported, TargetFamily::DcPc, "uncompressed");
  try {
    Import(1, uncompressed);
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Only DXT1, DXT3 and DXT5 DDS files can be imported; this one's FourCC is "
                           "\"\\x00\\x00\\x00\\x00\".");
  }
  ExpectRefused(Dds(4096, 4096, 1, 1, "DXT1", {}), ErrorKind::OverCapacity, TargetFamily::XboxBb, "4096");
  ExpectRefused(Dds(8, 8, 16, 1, "DXT1", Bytes(32)), ErrorKind::Corrupt, TargetFamily::XboxBb, "linear size");
  ExpectRefused(Dds(8, 8, 32, 1, "DXT1", Bytes(31)), ErrorKind::Truncated, TargetFamily::XboxBb, "top level cut");
  ExpectRefused(Dds(8, 8, 32, 2, "DXT1", Bytes(39)), ErrorKind::Truncated, TargetFamily::XboxBb, "second level cut");
  ExpectRefused(Dds(4, 4, 8, 1, "DXT1", Bytes(8)), ErrorKind::Unsupported, TargetFamily::Gc, "CMPR of side 4");
  Bytes cut = FromHex("44445320");
  cut.resize(100);
  ExpectRefused(cut, ErrorKind::Truncated, TargetFamily::DcPc, "header cut short");
}

TEST_F(ImportTest, RawTexturesAreTakenAsTheyAre) {
  // A GVR behind a GBIX chunk: header reordered, the import keeps the entry's own index.
  const Bytes gvr = FromHex("47424958 08000000 11223344 00000000 47565254 0C000000 12340805 0002 0001 AABBCCDD");
  ASSERT_TRUE(Import(0, gvr, TargetFamily::XboxBb));
  const TImage_Entry& e = store->images[0];
  EXPECT_EQ(e.Format, 0x34120508u);
  EXPECT_EQ(e.Width, 2);
  EXPECT_EQ(e.Height, 1);
  EXPECT_EQ(ToHex(Data(0)), "AA BB CC DD");
  EXPECT_EQ(e.GlobalIndex, 0xA1u);
  EXPECT_TRUE(frontEnd.importRequests.empty());

  // Import takes no "4" file; a file of no kind is told.
  const Bytes raw565 = FromHex("34000000 0200 0000 0100 0000" + Repeat("00", 8) + "04000000" + Repeat("00", 28) +
                               "00F8 1F00");
  EXPECT_FALSE(Import(1, raw565));
  EXPECT_FALSE(Import(1, FromHex("00112233")));
  ASSERT_EQ(frontEnd.messages.size(), 2u);
  EXPECT_EQ(frontEnd.messages[1].text, "This file is not a bitmap, PNG, DDS, PVR, GVR or XVR file.");
  EXPECT_EQ(frontEnd.messages[1].kind, MessageKind::Information);

  ExpectRefused(FromHex("50565254 0C000000 01090000 0200 0200 AABBCC"), ErrorKind::Truncated, TargetFamily::DcPc,
                "PVR data cut short");
  ExpectRefused(FromHex("50565254 04000000 01090000 0200 0200"), ErrorKind::Corrupt, TargetFamily::DcPc,
                "chunk shorter than its header");
  ExpectRefused(FromHex("58565254 3A000000"), ErrorKind::Truncated, TargetFamily::DcPc, "XVRT header cut short");
}

TEST_F(ImportTest, PicturesKeepTheReplacedFormatOrTakeTheChosenOne) {
  // Red, green / blue, white: RGB565 words F800, 07E0 / 001F, FFFF.
  const auto quad = [](int32_t x, int32_t y) {
    constexpr uint32_t kColours[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
    return kColours[(y >= 1 ? 2 : 0) + (x >= 2 ? 1 : 0)];
  };
  store->loadDirectory = dir.Path().string() + "/";
  frontEnd.formatChoice = FormatChoice::SameAsReplaced;
  // The rectangle of image 0 takes a 4 x 2 picture, raster order.
  ASSERT_TRUE(Import(0, Png(4, 2, quad)));
  EXPECT_EQ(store->images[0].Width, 4);
  EXPECT_EQ(store->images[0].Height, 2);
  EXPECT_EQ(store->images[0].Format, 0x0901u);
  EXPECT_EQ(ToHex(Data(0)), "00 F8 00 F8 E0 07 E0 07 1F 00 1F 00 FF FF FF FF");
  EXPECT_TRUE(frontEnd.importRequests.back().replacing);

  // Twiddled with mipmaps: an 8 x 8 picture makes 1 + 1 + 4 + 16 + 64 texels.
  const int32_t mip = Put("mip", 4, 4, 0x0200, 0, Bytes(2 * (1 + 1 + 4 + 16), 0));
  ASSERT_TRUE(Import(mip, Bitmap(8, 8, Opaque)));
  EXPECT_EQ(store->images[mip].Format, 0x0200u);
  EXPECT_EQ(store->images[mip].DataLength, 172);

  // An 8-bit palette: the indices in the entry, the palette beside the loaded file.
  const int32_t clut = Put("clut", 2, 2, 0x0702, 0, Bytes(4, 0));
  store->pvrFamily = 1;
  ASSERT_TRUE(Import(clut, Png(4, 4, quad)));
  EXPECT_EQ(store->images[clut].Format, 0x0702u);
  EXPECT_EQ(store->images[clut].DataLength, 16);
  const Bytes palette = ReadFileBytes(dir / "clut.pvp");
  ASSERT_EQ(palette.size(), 16u + 512u);
  EXPECT_EQ(ToHex(Bytes(palette.begin(), palette.begin() + 4)), "50 56 50 4C");
  // ...but not the 4 x 2 picture: twiddled palettes are square.
  frontEnd.messages.clear();
  EXPECT_FALSE(Import(clut, Png(4, 2, quad)));
  EXPECT_EQ(frontEnd.messages.back().text, "8-BIT CLUT TWIDDLED ARGB4444 takes square sides that are powers of two "
                                           "from 1 to 1024; this picture is 4 x 2.");
  EXPECT_EQ(store->images[clut].Width, 4);

  // A format no encoder writes is refused, the entry unchanged.
  const int32_t bump = Put("bump", 2, 2, 0x0104, 0, Bytes(8, 0x11));
  frontEnd.messages.clear();
  EXPECT_FALSE(Import(bump, Png(2, 2, quad)));
  ASSERT_EQ(frontEnd.messages.size(), 1u);
  EXPECT_EQ(frontEnd.messages[0].text,
            "The replaced image's format 00000104 has no encoder: choose a texture format for the picture.");
  EXPECT_EQ(Data(bump), Bytes(8, 0x11));

  // A layout chosen by its word: the Xbox DXT1 of an 8 x 4 picture, flagged by its encoder.
  frontEnd.formatChoice = FormatChoice::Word;
  frontEnd.format = 0x0600;
  ASSERT_TRUE(Import(1, Png(8, 4, quad), TargetFamily::XboxBb));
  EXPECT_EQ(store->images[1].Format, 0x0600u);
  EXPECT_EQ(store->images[1].DataLength, 16);
}

TEST_F(ImportTest, AddsByTheFamilyRuleAndRawTexturesOfAnotherFamilyAreConverted) {
  // DC/PC with graded alpha: ARGB4444, 0x88FFFFFF truncated to 8FFF.
  ASSERT_TRUE(imagefile::AddFile(*store, frontEnd, Bitmap(4, 4, [](int32_t, int32_t) { return 0x88FFFFFFu; }), "a"));
  EXPECT_EQ(store->images[2].Format, 0x0102u);
  EXPECT_EQ(ToHex(Data(2)), ToHex(FromHex(Repeat("FF8F", 16))));
  // W != H: the GameCube and Xbox rules' layouts take it, DC/PC's twiddled squares do not.
  frontEnd.family = TargetFamily::Gc;
  ASSERT_TRUE(imagefile::AddFile(*store, frontEnd, Png(16, 8, Opaque), "b"));
  EXPECT_EQ(store->images[3].Format, 0x0E00u);
  EXPECT_EQ(store->images[3].DataLength, 64);
  frontEnd.family = TargetFamily::DcPc;
  EXPECT_FALSE(imagefile::AddFile(*store, frontEnd, Png(16, 8, Opaque), "c"));
  EXPECT_EQ(frontEnd.messages.back().text, "PNG Error: Width and height must be the same.");
  EXPECT_EQ(store->imageCount, 4);

  // An opaque 4 x 4 XVR DXT1 into a PVM becomes twiddled ARGB1555; a PVR stays as it is.
  store->loadedContainer = LoadedContainer::Pvm;
  const Bytes xvr = FromHex("58565254 40000000 00000000 06000000 00000000 0400 0400 08000000" + Repeat("00", 36) +
                            "1F00 1F00 00000000");
  frontEnd.messages.clear();
  ASSERT_TRUE(Import(1, xvr));
  EXPECT_EQ(store->images[1].Format, 0x0100u);
  EXPECT_EQ(ToHex(Data(1)), ToHex(FromHex(Repeat("1F80", 16))));
  ASSERT_EQ(frontEnd.messages.size(), 1u);
  EXPECT_EQ(frontEnd.messages[0].text, "1 images were converted for DC/PC");
  frontEnd.messages.clear();
  ASSERT_TRUE(Import(1, FromHex("50565254 10000000 01090000 0200 0200 1F00 1F00 1F00 1F00")));
  EXPECT_EQ(store->images[1].Format, 0x0901u);
  EXPECT_TRUE(frontEnd.messages.empty());
}

TEST_F(ImportTest, AddAppendsANamedImage) {
  for (int i = 2; i < 10; ++i) Put("img", 2, 2, 0x0901, 0, FromHex("0000 0000 0000 0000"));
  frontEnd.ListAdd("Image 10");  // an item beyond the images, as an AFS's end member leaves
  store->images[10].Name = "stale";
  store->images[10].GlobalIndex = 0xDEAD;
  frontEnd.family = TargetFamily::XboxBb;
  frontEnd.fileChoices.push_back(FileChoice{Write("new picture.bmp", Bitmap(64, 64, Opaque)), 5});
  ASSERT_TRUE(imagefile::Add1Click(*store, frontEnd));
  const TImage_Entry& e = store->images[10];
  EXPECT_EQ(e.Format, 0x0600u);
  EXPECT_EQ(e.DataLength, 2048);
  EXPECT_EQ(e.PackageIndex, 0);
  EXPECT_EQ(e.GlobalIndex, 0u);
  EXPECT_EQ(e.Name, "new picture");
  EXPECT_EQ(store->imageCount, 11);
  EXPECT_EQ(frontEnd.list.size(), 11u);
  EXPECT_EQ(frontEnd.list[10], "---");
  EXPECT_EQ(frontEnd.selected, 10);
  EXPECT_EQ(frontEnd.label, "11 Images");
  EXPECT_TRUE(store->unsavedChanges);

  // The GBIX index as stored (a GVR's big-endian index reads byte-reversed);
  // an XVR without one takes its header's; the "4" file is RGB565 0x0901.
  struct Row {
    const char* what;
    Bytes file;
    uint32_t format;
    uint32_t globalIndex;
  };
  const Row rows[] = {
      {"GVR with GBIX", FromHex("47424958 08000000 11223344 00000000 47565254 0A000000 0000000E 0008 0008 AABB"),
       0x0E00, 0x44332211},
      {"XVR, not marked", FromHex("58565254 3A000000 03000000 06000000 EFBE0000 0400 0400 02000000" +
                                  Repeat("00", 36) + "1122"),
       0x0603, 0xBEEF},
      {"4 file with GBIX", FromHex("47424958 08000000 07000000 00000000  34000000 0200 0000 0100 0000" +
                                   Repeat("00", 8) + "04000000" + Repeat("00", 28) + "00F8 1F00"),
       0x0901, 7},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(imagefile::AddFile(*store, frontEnd, row.file, "raw")) << row.what;
    const TImage_Entry& added = store->images[static_cast<size_t>(store->imageCount - 1)];
    EXPECT_EQ(added.Format, row.format) << row.what;
    EXPECT_EQ(added.GlobalIndex, row.globalIndex) << row.what;
  }
  EXPECT_EQ(ToHex(Data(13)), "00 F8 1F 00");
  EXPECT_EQ(store->images[13].Width, 2);
  EXPECT_EQ(store->images[13].Height, 1);

  // Refusals leave the list and the count as they were.
  const auto refused = [&](const Bytes& file) {
    const size_t messages = frontEnd.messages.size();
    EXPECT_FALSE(imagefile::AddFile(*store, frontEnd, file, "x"));
    EXPECT_EQ(frontEnd.messages.size(), messages + 1);
    EXPECT_EQ(store->imageCount, 14);
    EXPECT_EQ(frontEnd.list.size(), 14u);
  };
  refused(FromHex("00112233"));
  EXPECT_EQ(frontEnd.messages.back().text, "This file is not a bitmap, PNG, DDS, PVR, GVR, XVR or RGB565 image file.");
  refused(Bitmap(4, 2, Opaque));
  EXPECT_THROW(imagefile::AddFile(*store, frontEnd, FromHex("34000000 0200"), "x"), Error);
  EXPECT_EQ(store->imageCount, 14);
  store->bmlFlag = 1;
  refused(Bitmap(4, 4, Opaque));
  EXPECT_EQ(frontEnd.messages.back().text, "Images cannot be added to a BML package.");
  store->bmlFlag = 0;
  store->imageCount = kMaxImages;
  EXPECT_FALSE(imagefile::Add1Click(*store, frontEnd));
  EXPECT_EQ(frontEnd.messages.back().text, "The image table is full: it holds 5001 images.");
}

TEST(AddedImageName, FileNameWithoutExtensionCutTo28BytesOnACharacter) {
  EXPECT_EQ(imagefile::AddedImageName("/some/dir.x/tex.v2.bmp"), "tex.v2");
  EXPECT_EQ(imagefile::AddedImageName("plain"), "plain");
  const std::string letters = "abcdefghijklmnopqrstuvwxyz";
  // 26 letters and an e-acute (2 bytes) make 28 bytes; one more letter and the e-acute would be cut.
  EXPECT_EQ(imagefile::AddedImageName(letters + "\xC3\xA9\xC3\xA9.dds"), letters + "\xC3\xA9");
  EXPECT_EQ(imagefile::AddedImageName(letters + "z\xC3\xA9.dds"), letters + "z");
}

}  // namespace
}  // namespace quarrendel::test
