#include "imagefile/export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "core/error.h"
#include "core/worker_pool.h"
#include "imagefile/png_file.h"
#include "imagefile/texture_pack.h"
#include "tests/imagefile/transfer_fixture.h"

namespace quarrendel::test {
namespace {

using imagefile::ExportKind;

// Solid opaque red, worked out by hand: RGB565 F800 decodes to (248, 0, 0, 255);
// as ARGB4444 that is FF00, as RGB5A3 FC00, as a DXT1 block c0 = c1 = F800
// with all indices 0. ARGB4444 FF00 decodes to (240, 0, 0, 240): DXT3 alpha
// nibbles F, colour F000.
const std::string kRed565 = Repeat("00F8", 16);
const std::string kRedDxt1 = "00F8 00F8 00000000";
// Four DXT1 blocks of an 8 x 8 texture and the same in CMPR order (one tile:
// same block order, colours big-endian, index bytes with their pairs reversed).
const std::string kDxt1Blocks =
    "01F8 0000 E41B00FF  02F8 0000 E41B00FF  03F8 0000 E41B00FF  04F8 0000 E41B00FF";
const std::string kCmprBlocks =
    "F801 0000 1BE400FF  F802 0000 1BE400FF  F803 0000 1BE400FF  F804 0000 1BE400FF";
const std::string kXvrtZeros = Repeat("00", 36);
const std::string kDdsTail = Repeat("00", 20) + " 00100000 " + Repeat("00", 16);

struct ExportTest : TransferTest {
  Bytes Export(int32_t i, ExportKind kind) {
    Select(i);
    return imagefile::ExportBytes(*store, i, kind);
  }
};

TEST_F(ExportTest, FilesOfEveryKindByHand) {
  struct Row {
    const char* what;
    uint8_t pvrFamily;
    uint16_t width, height;
    uint32_t format;
    std::string data;
    ExportKind kind;
    std::string expected;
  };
  const Row rows[] = {
      {"PVR-family image as PVR: header and data as stored", 1, 2, 2, 0x0901, "00F8 00F8 00F8 00F8", ExportKind::Pvr,
       "47424958 08000000 44332211 00000000  50565254 10000000 01090000 0200 0200  00F8 00F8 00F8 00F8"},
      {"Xbox image as PVR: ARGB4444 rectangle 0x0902", 0, 4, 4, 0x0600, kRedDxt1, ExportKind::Pvr,
       "47424958 08000000 44332211 00000000  50565254 28000000 02090000 0400 0400" + Repeat("00FF", 16)},
      {"RGB565 as XVR: DXT1 keeping pixel format code 1", 1, 4, 4, 0x0901, kRed565, ExportKind::Xvr,
       "58565254 40000000 01000000 06000000 44332211 0400 0400 08000000" + kXvrtZeros + kRedDxt1},
      {"ARGB4444 as XVR: DXT3 with flags 2", 1, 4, 4, 0x0902, Repeat("00FF", 16), ExportKind::Xvr,
       "58565254 48000000 02000000 07000000 44332211 0400 0400 10000000" + kXvrtZeros +
           "FFFFFFFFFFFFFFFF 00F0 00F0 00000000"},
      {"GameCube RGB5A3 0x0508 has pixel format code 0: XVR DXT1", 0, 4, 4, 0x0508, Repeat("FC00", 16),
       ExportKind::Xvr, "58565254 40000000 00000000 06000000 44332211 0400 0400 08000000" + kXvrtZeros + kRedDxt1},
      // RGB5A3 4F00: red 240, alpha 4 << 5 = 128, graded: DXT3 nibbles 8.
      {"RGB5A3 with alpha 128 as XVR: DXT3 with flags 2", 0, 4, 4, 0x0508, Repeat("4F00", 16), ExportKind::Xvr,
       "58565254 48000000 02000000 07000000 44332211 0400 0400 10000000" + kXvrtZeros +
           "8888888888888888 00F0 00F0 00000000"},
      // Row 0 transparent black (0000), the rest opaque red: a three-colour
      // block, c0 = 0000 <= c1 = F800, index 3 (transparent) on row 0 and
      // index 1 (red) on the others.
      {"RGB5A3 with one-bit alpha as XVR: DXT1 with its transparent index", 0, 4, 4, 0x0508,
       Repeat("0000", 4) + Repeat("FC00", 12), ExportKind::Xvr,
       "58565254 40000000 00000000 06000000 44332211 0400 0400 08000000" + kXvrtZeros + "0000 00F8 FF555555"},
      {"stored DXT1 with flags as XVR: as stored", 0, 4, 4, 0x0603, kRedDxt1, ExportKind::Xvr,
       "58565254 40000000 03000000 06000000 44332211 0400 0400 08000000" + kXvrtZeros + kRedDxt1},
      {"CMPR as XVR: DXT1 order", 0, 8, 8, 0x0E00, kCmprBlocks, ExportKind::Xvr,
       "58565254 58000000 00000000 06000000 44332211 0800 0800 20000000" + kXvrtZeros + kDxt1Blocks},
      {"DXT1 as GVR: CMPR 0x0E00, index big-endian", 0, 8, 8, 0x0600, kDxt1Blocks, ExportKind::Gvr,
       "47424958 08000000 11223344 00000000  47565254 28000000 0000000E 0008 0008" + kCmprBlocks},
      {"CMPR as GVR: the whole format word, bytes 2, 3, 0, 1", 0, 8, 8, 0x12340E00, kCmprBlocks, ExportKind::Gvr,
       "47424958 08000000 11223344 00000000  47565254 28000000 3412000E 0008 0008" + kCmprBlocks},
      {"RGB565 as GVR: RGB5A3 tiles 0x0508", 1, 4, 4, 0x0901, kRed565, ExportKind::Gvr,
       "47424958 08000000 11223344 00000000  47565254 28000000 00000805 0004 0004" + Repeat("FC00", 16)},
      {"RGB565 as DDS: DXT3 of the picture, no mipmap count", 1, 4, 4, 0x0901, kRed565, ExportKind::Dds,
       "44445320 7C000000 07100800 04000000 04000000 10000000 00000000 00000000" + Repeat("00", 44) +
           "20000000 04000000 44585433" + kDdsTail + "FFFFFFFFFFFFFFFF 00F8 00F8 00000000"},
      {"CMPR as DDS: DXT1, linear size = data length", 0, 8, 8, 0x0E00, kCmprBlocks, ExportKind::Dds,
       "44445320 7C000000 07100800 08000000 08000000 20000000 00000000 00000000" + Repeat("00", 44) +
           "20000000 04000000 44585431" + kDdsTail + kDxt1Blocks},
      {"RGB565 2 x 2 as a 32-bit bitmap, rows bottom-up", 1, 2, 2, 0x0901, "00F8 E007 1F00 FFFF", ExportKind::Bitmap,
       "424D 46000000 00000000 36000000 28000000 02000000 02000000 0100 2000 00000000 10000000"
       "130B0000 130B0000 00000000 00000000  F80000FF F8FCF8FF 0000F8FF 00FC00FF"},
  };
  for (const Row& row : rows) {
    store = std::make_unique<ImageStore>();
    frontEnd = RecordingFrontEnd();
    store->pvrFamily = row.pvrFamily;
    const int32_t i = Put("tex", row.width, row.height, row.format, 0x11223344, FromHex(row.data));
    EXPECT_EQ(ToHex(Export(i, row.kind)), ToHex(FromHex(row.expected))) << row.what;
    EXPECT_EQ(ToHex(Data(i)), ToHex(FromHex(row.data))) << row.what << ": the stored data changed";
  }
}

TEST(BitmapFile, EveryPixelLandsInItsRowBottomUp) {
  // Sides that are not multiples of the writer's bands; each pixel's value
  // tells where it came from.
  for (const auto& [w, h] : {std::pair{37, 19}, std::pair{1, 33}, std::pair{40, 1}}) {
    texture::RgbaImage picture{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
    for (int32_t x = 0; x < w; ++x) {
      for (int32_t y = 0; y < h; ++y) picture.pixels[static_cast<size_t>(y * w + x)] = 0xA0000000u | static_cast<uint32_t>(y) << 8 | static_cast<uint32_t>(x);
    }
    const Bytes file = imagefile::BitmapFileBytes(picture.Rect());
    ASSERT_EQ(file.size(), 54u + static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (int32_t row = 0; row < h; ++row) {
      for (int32_t x = 0; x < w; ++x) {
        const size_t at = 54 + (static_cast<size_t>(row) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 4;
        // Blue 0, green = y, red = x, alpha A0; the first row is the bottom one.
        ASSERT_EQ(ToHex(Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at) + 4)),
                  ToHex(Bytes{0, static_cast<uint8_t>(h - 1 - row), static_cast<uint8_t>(x), 0xA0}))
            << w << " x " << h << " at row " << row << ", x " << x;
      }
    }
  }
}

TEST_F(ExportTest, DdsOfAStoredChainCountsItsLevels) {
  // 64 x 64 DXT1 with every level: 2048 + 512 + 128 + 32 + 8 + 8 + 8 = 2744 bytes, 7 levels.
  for (const auto& [length, count] : {std::pair{2744, "07"}, std::pair{2048, "01"}}) {
    store = std::make_unique<ImageStore>();
    frontEnd = RecordingFrontEnd();
    Bytes chain(static_cast<size_t>(length));
    for (size_t k = 0; k < chain.size(); ++k) chain[k] = static_cast<uint8_t>(k * 7);
    const int32_t i = Put("chain", 64, 64, 0x0601, 0, chain);
    const Bytes file = Export(i, ExportKind::Dds);
    const Bytes header = FromHex("44445320 7C000000 07100800 40000000 40000000 00080000 00000000" +
                                 std::string(count) + "000000" + Repeat("00", 44) + "20000000 04000000 44585431" +
                                 kDdsTail);
    ASSERT_EQ(file.size(), header.size() + chain.size());
    EXPECT_EQ(ToHex(Bytes(file.begin(), file.begin() + 128)), ToHex(header)) << length;
    EXPECT_TRUE(std::equal(chain.begin(), chain.end(), file.begin() + 128)) << length;
  }
}

TEST_F(ExportTest, RefusesWhatItCannotWrite) {
  struct Row {
    const char* what;
    uint16_t width, height;
    uint32_t format;
    Bytes data;
    ExportKind kind;
    ErrorKind error;
  };
  const Row rows[] = {
      {"8 x 4 re-encoded as GVR", 8, 4, 0x0901, Bytes(64), ExportKind::Gvr, ErrorKind::Unsupported},
      {"8 x 4 stored DXT1 as DDS", 8, 4, 0x0600, Bytes(16), ExportKind::Dds, ErrorKind::Unsupported},
      {"4 x 4 CMPR has no 8 x 8 tile", 4, 4, 0x0E00, Bytes(8), ExportKind::Xvr, ErrorKind::Unsupported},
      {"CMPR shorter than its top level", 8, 8, 0x0E00, Bytes(24), ExportKind::Dds, ErrorKind::Corrupt},
      {"4096 x 4 as PNG", 4096, 4, 0x0B01, Bytes(8), ExportKind::Png, ErrorKind::OverCapacity},
  };
  for (const Row& row : rows) {
    store = std::make_unique<ImageStore>();
    frontEnd = RecordingFrontEnd();
    const int32_t i = Put("tex", row.width, row.height, row.format, 0, row.data);
    try {
      Export(i, row.kind);
      ADD_FAILURE() << row.what;
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), row.error) << row.what << ": " << e.what();
    }
  }
  // The non-square stored paths and the bitmap take the rectangle as it is.
  store = std::make_unique<ImageStore>();
  frontEnd = RecordingFrontEnd();
  const int32_t wide = Put("wide", 8, 4, 0x0600, 0, Bytes(16));
  EXPECT_EQ(Export(wide, ExportKind::Xvr).size(), 64u + 16u);
  EXPECT_EQ(Export(wide, ExportKind::Bitmap).size(), 54u + 8u * 4u * 4u);
}

TEST_F(ExportTest, PngIsTheTrueSizeWithChannelsStretchedToTheFullRange) {
  // A 4 x 2 ARGB4444 stride texture: opaque 4-bit blue, then alpha 1, red 2,
  // green 3, blue 4; the rest zero.
  Put("rect", 4, 2, 0x0B02, 0, FromHex("0FF0 3412 0000 0000  0000 0000 0000 0000"));
  Select(0);
  frontEnd.fileChoices.push_back(FileChoice{Path("rect.bmp"), 6});
  EXPECT_TRUE(imagefile::Export1Click(*store, frontEnd));
  const imagefile::RgbaImage png = imagefile::ReadPngFile(dir / "rect.png");
  EXPECT_EQ(png.width, 4);
  EXPECT_EQ(png.height, 2);
  EXPECT_EQ(ToHex(Bytes(png.pixels.begin(), png.pixels.begin() + 8)), "00 00 FF FF 22 33 44 11");
  EXPECT_EQ(png.pixels.size(), 32u);
  // The canvas (the preview, the other kinds) keeps the decoder's values: 4-bit 15 is 240 there.
  EXPECT_EQ(store->canvas(0, 0), 0xF0F00000u);

  // A plain 4 x 2 RGB565 rectangle (0x0901) in rows of 4: white at word 6 is
  // pixel (2, 1) of the PNG, though the 2 x 2 canvas square holds words 0..3.
  Put("plain", 4, 2, 0x0901, 0, FromHex("0000 0000 0000 0000  0000 0000 FFFF 0000"));
  Select(1);
  const imagefile::RgbaImage rows = imagefile::ReadPng(imagefile::ExportBytes(*store, 1, ExportKind::Png));
  ASSERT_EQ(rows.pixels.size(), 32u);
  EXPECT_EQ(ToHex(Bytes(rows.pixels.begin() + 24, rows.pixels.begin() + 28)), "FF FF FF FF");
  EXPECT_EQ(ToHex(Bytes(rows.pixels.begin() + 20, rows.pixels.begin() + 24)), "00 00 00 FF");
}

TEST_F(ExportTest, ExportWritesTheSelectedImageUnderTheChosenKind) {
  store->pvrFamily = 1;
  Put("first", 2, 2, 0x0901, 1, FromHex("00F8 00F8 00F8 00F8"));
  Put("second", 2, 2, 0x0901, 2, FromHex("1F00 1F00 1F00 1F00"));
  Select(0);
  Select(1);
  frontEnd.fileChoices.push_back(FileChoice{Path("out.v2.tex"), 1});
  EXPECT_TRUE(imagefile::Export1Click(*store, frontEnd));
  EXPECT_EQ(frontEnd.dialogFileNames.at(0).second, "second");
  EXPECT_EQ(ToHex(ReadFileBytes(dir / "out.v2.pvr")),
            ToHex(FromHex("47424958 08000000 02000000 00000000 50565254 10000000 01090000 0200 0200"
                          "1F00 1F00 1F00 1F00")));

  // A filter index that names no kind writes nothing; the loaded file is never written over.
  frontEnd.fileChoices.push_back(FileChoice{Path("none"), 7});
  EXPECT_FALSE(imagefile::Export1Click(*store, frontEnd));
  store->loadedFileName = Write("loaded.bmp", {});
  frontEnd.fileChoices.push_back(FileChoice{Path("loaded.dds"), 4});
  EXPECT_THROW(imagefile::Export1Click(*store, frontEnd), Error);
  EXPECT_TRUE(ReadFileBytes(dir / "loaded.bmp").empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

// Export all names files as unpack does, keeping the whole image name: no
// image is lost to another of the same stem, none lands outside the folder.
TEST_F(ExportTest, ExportAllGivesEveryImageItsOwnFileInTheFolderAndReportsTheRest) {
  store->pvrFamily = 1;
  const Bytes red = FromHex(kRed565);
  const std::pair<const char*, const char*> rows[] = {
      {"wall.001", "wall.001.xvr"}, {"wall.002", "wall.002.xvr"}, {"WALL.001", "WALL.001~2.xvr"},
      {"a/b", "a_b.xvr"},           {"..", "__.xvr"},             {"", "image.xvr"},
      {"a\\..\\..\\c", "a_.._.._c.xvr"},
  };
  std::set<std::string> expected;
  for (const auto& [name, file] : rows) {
    Put(name, 4, 4, 0x0901, 0, red);
    expected.insert(file);
  }
  Put("wide", 8, 4, 0x0901, 0, Bytes(64));
  std::filesystem::create_directory(dir / "out");
  frontEnd.fileChoices.push_back(FileChoice{Path("out/chosen.name"), 2});
  EXPECT_FALSE(imagefile::Exportall1Click(*store, frontEnd));

  std::set<std::string> written;
  for (const auto& f : std::filesystem::directory_iterator(dir / "out")) written.insert(f.path().filename().string());
  EXPECT_EQ(written, expected);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
  EXPECT_EQ(ReadFileBytes(dir / "out" / "__.xvr").size(), 64u + 8u);

  ASSERT_EQ(frontEnd.messages.size(), 1u);
  EXPECT_EQ(frontEnd.messages[0].kind, RecordingFrontEnd::MessageKind::Information);
  EXPECT_EQ(frontEnd.messages[0].text,
            "1 of 8 images could not be exported:\n"
            "wide: This image is 8 x 4: only square images can be re-encoded or written as DDS.");
  // Every image was selected and shown in turn, counted on the panel; the last one stays.
  EXPECT_EQ(frontEnd.selected, 7);
  EXPECT_EQ(store->currentImage, 7);
  EXPECT_EQ(frontEnd.dialogFileNames.at(0).second, "wall.001");
  ASSERT_EQ(frontEnd.progress.size(), 8u);
  EXPECT_EQ(frontEnd.progress[2].caption, "Exporting : WALL.001~2.xvr");
  EXPECT_EQ(frontEnd.progress[7].position, 8);
  EXPECT_EQ(frontEnd.progress[7].maximum, 8);
  EXPECT_FALSE(frontEnd.progressVisible);
}

// Export all and unpack decode, encode and write on the pool: one thread and
// three make the same files, messages and progress, in table order.
TEST_F(ExportTest, ExportAllAndUnpackDoNotDependOnTheThreadCount) {
  store->pvrFamily = 1;
  for (int32_t i = 0; i < 9; ++i) {
    Bytes data = FromHex(kRed565);
    data[static_cast<size_t>(2 * i)] = static_cast<uint8_t>(i);  // each picture its own
    Put("red" + std::to_string(i), 4, 4, 0x0901, static_cast<uint32_t>(i), data);
  }
  Put("wide", 8, 4, 0x0901, 0, Bytes(64));            // refused by DDS: not square
  Put("odd", 4, 4, 0x0C00, 0, Bytes(32));             // no decoder: a transparent PNG
  Put("clut", 4, 4, 0x0700, 0, Bytes(16, 1));         // 8-bit palette: no palette file
  const auto files = [](const std::filesystem::path& folder) {
    std::map<std::string, Bytes> found;
    for (const auto& f : std::filesystem::directory_iterator(folder)) {
      found[f.path().filename().string()] = ReadFileBytes(f.path());
    }
    return found;
  };
  struct Run {
    std::map<std::string, Bytes> exported, unpacked;
    std::vector<std::string> captions, notices;
    std::string message;
  };
  const auto run = [&](int32_t threads) {
    Run r;
    RecordingFrontEnd ui;
    for (const std::string& item : frontEnd.list) ui.ListAdd(item);
    const std::string out = Path("dds" + std::to_string(threads) + "/");
    std::filesystem::create_directory(out);
    WorkerPool pool(threads);
    EXPECT_FALSE(imagefile::ExportAll(*store, ui, out, ExportKind::Dds, pool));
    r.exported = files(out);
    for (const auto& step : ui.progress) r.captions.push_back(step.caption);
    if (!ui.messages.empty()) r.message = ui.messages.back().text;
    EXPECT_EQ(ui.selected, 11);
    const std::string pack = Path("png" + std::to_string(threads));
    r.notices = imagefile::UnpackTextures(*store, ui, pack, {}, pool).notices;
    r.unpacked = files(pack);
    for (size_t k = 12; k < ui.progress.size(); ++k) r.captions.push_back(ui.progress[k].caption);
    return r;
  };
  const Run one = run(1);
  const Run three = run(3);
  EXPECT_EQ(one.exported.size(), 11u);
  EXPECT_EQ(one.exported, three.exported);
  EXPECT_EQ(one.unpacked.size(), 13u);  // 12 pictures and index.txt
  EXPECT_EQ(one.unpacked, three.unpacked);
  EXPECT_EQ(one.captions, three.captions);
  EXPECT_EQ(one.captions.at(9), "Exporting : wide.dds");
  EXPECT_EQ(one.captions.at(12), "Writing PNG : red0.png");
  EXPECT_EQ(one.message, three.message);
  EXPECT_EQ(one.message.substr(0, 44), "1 of 12 images could not be exported:\nwide: ");
  EXPECT_EQ(one.notices, three.notices);
  ASSERT_EQ(one.notices.size(), 2u);
  EXPECT_EQ(one.notices[0], "image 10: Unsupported format: its PNG is transparent");
  EXPECT_EQ(one.notices[1].substr(0, 10), "image 11: ");
}

}  // namespace
}  // namespace quarrendel::test
