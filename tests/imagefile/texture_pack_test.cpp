#include <gtest/gtest.h>

#include <memory>

#include "archive/load_command.h"
#include "core/error.h"
#include "core/image_store.h"
#include "core/worker_pool.h"
#include "imagefile/texture_pack.h"
#include "imagefile/texture_png.h"
#include "tests/support/recording_frontend.h"
#include "texture/full_range.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

using imagefile::PackLine;

TEST(FullRange, ChannelsAreStretchedByRepeatingTheirBits) {
  struct Row {
    uint32_t value;
    uint32_t bits;
    uint32_t stretched;
  };
  const Row rows[] = {
      {248, 5, 255}, {8, 5, 8},     {128, 5, 132}, {0, 5, 0},                    // 5-bit 31, 1, 16, 0
      {252, 6, 255}, {4, 6, 4},     {128, 6, 130},                               // 6-bit 63, 1, 32
      {240, 4, 255}, {16, 4, 17},   {128, 4, 136},                               // 4-bit 15, 1, 8
      {224, 3, 255}, {160, 3, 182}, {32, 3, 36},                                 // 3-bit 7, 5, 1
      {128, 1, 255}, {0, 1, 0},     {77, 8, 77},                                 // 1 bit; 8 bits stay
      {88, 5, 90},                                                               // between 5-bit 11 and 12
  };
  for (const Row& row : rows) {
    EXPECT_EQ(texture::StretchChannel(row.value, row.bits), row.stretched)
        << row.value << " of " << row.bits << " bits";
  }
}

struct TextureImageTest : ::testing::Test {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();

  void Put(int32_t index, uint32_t format, uint16_t w, uint16_t h, const Bytes& data) {
    TImage_Entry& e = store->Entry(index);
    e.Format = format;
    e.Width = w;
    e.Height = h;
    e.Name = "t" + std::to_string(index);
    store->FillEntryData(index, data);
    store->imageCount = std::max(store->imageCount, index + 1);
  }
};

// Pixels of the first row (or all, for the small ones), hand-decoded and
// stretched: a PNG shows 5-bit 31 and 4-bit 15 as 255.
TEST_F(TextureImageTest, EachLayoutIsStretchedByItsOwnDepths) {
  struct Row {
    const char* what;
    uint32_t format;
    uint16_t w, h;
    const char* data;
    const char* firstPixels;  // RGBA, row-major from (0, 0)
  };
  const Row rows[] = {
      // Twiddled 2 x 2: texels (0,0) (0,1) (1,0) (1,1) = white, red with alpha
      // bit 0, green, 5-bit grey 1 with alpha bit 0.
      {"ARGB1555 twiddled", 0x0100, 2, 2, "FFFF 007C E083 2104", "FFFFFFFF 00FF00FF FF000000 08080800"},
      {"RGB565 stride, true size 2 x 1", 0x0B01, 2, 1, "FFFF E007", "FFFFFFFF 00FF00FF"},
      {"ARGB4444 stride 1 x 2", 0x0B02, 1, 2, "0FF0 3412", "0000FFFF 22334411"},
      // Big-endian RGB5A3: opaque white, 3-bit alpha 7 red, alpha 3 grey 8,
      // opaque 5-bit 1.
      {"RGB5A3 tiles", 0x0508, 4, 4, "FFFF 7F00 3888 8421 000000000000000000000000000000000000000000000000",
       "FFFFFFFF FF0000FF 8888886D 080808FF"},
      // Alphas 15, 8, 0, 1 and colours white, black, 2/3 and 1/3 between.
      {"DXT3", 0x0700, 4, 4, "8F10 0000 0000 0000 FFFF 0000 E4000000",
       "FFFFFFFF 00000088 AAAAAA00 55555511"},
  };
  int32_t index = 0;
  for (const Row& row : rows) {
    Put(index, row.format, row.w, row.h, FromHex(row.data));
    imagefile::TextureImageNotes notes{false, "x"};
    const imagefile::RgbaImage image = imagefile::TextureImage(*store, index, &notes);
    EXPECT_TRUE(notes.supported) << row.what;
    EXPECT_EQ(notes.paletteNotice, "") << row.what;
    EXPECT_EQ(image.width, row.w) << row.what;
    EXPECT_EQ(image.height, row.h) << row.what;
    const Bytes expected = FromHex(row.firstPixels);
    ASSERT_GE(image.pixels.size(), expected.size()) << row.what;
    EXPECT_EQ(ToHex(Bytes(image.pixels.begin(), image.pixels.begin() + static_cast<std::ptrdiff_t>(expected.size()))),
              ToHex(expected))
        << row.what;
    ++index;
  }
}

TEST(PackFileNames, UnsafeAndClashingNamesGetSafeUniqueOnes) {
  const std::pair<const char*, const char*> rows[] = {
      {"wall", "wall.png"},
      {"Wall", "Wall~2.png"},  // clashes without regard to case
      {"a/b\\c", "a_b_c.png"},
      {"..", "__.png"},
      {"", "image.png"},
      {".hidden", "_hidden.png"},
      {"end.", "end_.png"},
      {"CON", "_CON.png"},
      {"lpt3.tex", "_lpt3.tex.png"},
      {"com0", "com0.png"},
      {"tex,1:*?\"<>|", "tex_1_______.png"},
      {"\x1b[1m\xe9", "_[1m_.png"},
      {"wall", "wall~3.png"},
      {"wall~2", "wall~2~2.png"},
  };
  std::vector<TImage_Entry> images(std::size(rows));
  for (size_t i = 0; i < images.size(); ++i) images[i].Name = rows[i].first;
  const std::vector<std::string> names = imagefile::PackFileNames(images);
  ASSERT_EQ(names.size(), images.size());
  for (size_t i = 0; i < images.size(); ++i) EXPECT_EQ(names[i], rows[i].second) << i;
  std::vector<TImage_Entry> longName(1);
  longName[0].Name = std::string(80, 'x');
  EXPECT_EQ(imagefile::PackFileNames(longName)[0], std::string(64, 'x') + ".png");
}

TEST(PackIndex, LinesRoundTripAndMalformedLinesAreNamed) {
  const std::vector<PackLine> lines{{0, "wall.png", 64, 32}, {4294967295u, "a,b.PNG", 1, 2048}};
  const std::string text = imagefile::FormatPackIndex(lines);
  EXPECT_EQ(text, "0,wall.png,64x32\n4294967295,a,b.PNG,1x2048\n");
  // The fourth field, as unpack writes it, and the hexadecimal digits a person may type.
  const std::vector<PackLine> withFormat{{1, "c,d.png", 8, 4, 0, 0x0E01u}};
  EXPECT_EQ(imagefile::FormatPackIndex(withFormat), "1,c,d.png,8x4,00000E01\n");
  const std::vector<PackLine> four = imagefile::ParsePackIndex("1,c,d.png,8x4,00000E01\n2,e.png,2x2,d02\n3,f,1.png,2x2\n");
  ASSERT_EQ(four.size(), 3u);
  EXPECT_EQ(four[0].fileName, "c,d.png");
  EXPECT_EQ(four[0].width, 8);
  EXPECT_EQ(four[0].format, 0x0E01u);
  EXPECT_EQ(four[1].format, 0x0D02u);
  EXPECT_EQ(four[2].fileName, "f,1.png");
  EXPECT_FALSE(four[2].format.has_value());
  const std::vector<PackLine> back =
      imagefile::ParsePackIndex("\r\n" + text.substr(0, 17) + "\r\n\n" + text.substr(17));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].globalIndex, 4294967295u);
  EXPECT_EQ(back[1].fileName, "a,b.PNG");
  EXPECT_EQ(back[0].width, 64);
  EXPECT_EQ(back[0].height, 32);
  EXPECT_EQ(back[0].lineNumber, 2u);  // after an empty line
  EXPECT_EQ(back[1].lineNumber, 5u);  // after two more

  // Windows editors start the file with a UTF-8 byte-order mark.
  const std::vector<PackLine> bom = imagefile::ParsePackIndex("\xEF\xBB\xBF" "7,ok.png,2x2\r\n");
  ASSERT_EQ(bom.size(), 1u);
  EXPECT_EQ(bom[0].globalIndex, 7u);
  EXPECT_EQ(bom[0].fileName, "ok.png");

  using namespace std::string_literals;
  const std::pair<std::string, const char*> bad[] = {
      {"1,a.png", "line 2: expected GLOBALINDEX,FILE.png,WIDTHxHEIGHT"},
      {"-1,a.png,1x1", "line 2: the global index is not a decimal number from 0 to 4294967295"},
      {"4294967296,a.png,1x1", "line 2: the global index is not a decimal number from 0 to 4294967295"},
      {"1,a.bmp,1x1", "line 2: the file name \"a.bmp\" does not end in .png"},
      {"1,.png,1x1", "line 2: the file name \".png\" does not end in .png"},
      {"1,../a.png,1x1", "line 2: the file name \"../a.png\" is not a file in the pack's folder"},
      {"1,sub\\a.png,1x1", "line 2: the file name \"sub\\\\a.png\" is not a file in the pack's folder"},
      {"1,a.png,1X1", "line 2: the size \"1X1\" is not WIDTHxHEIGHT"},
      {"1,a.png,x1", "line 2: the size \"x1\" is not WIDTHxHEIGHT"},
      {"1,a.png,2x2,0x100", "line 2: the file name \"a.png,2x2\" does not end in .png"},
      {"1,a.png,22,100", "line 2: the size \"22\" is not WIDTHxHEIGHT"},
      // What the file says is quoted escaped: no escape sequence reaches a terminal, no NUL cuts the message.
      {"1,\x1b]0;x\x07\t.bmp,1x1", "line 2: the file name \"\\x1b]0;x\\x07\\t.bmp\" does not end in .png"},
      {"1,a\0b.png,1x1"s, "line 2: the file name \"a\\x00b.png\" is not a file in the pack's folder"},
      {"1,a.png,1x\0"s, "line 2: the size \"1x\\x00\" is not WIDTHxHEIGHT"},
  };
  for (const auto& [line, message] : bad) {
    try {
      imagefile::ParsePackIndex("7,ok.png,2x2\n" + line + "\n");
      ADD_FAILURE() << line << " accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("index.txt ") + message);
    }
  }
  std::string tooMany;
  for (int i = 0; i <= kMaxImages; ++i) tooMany += "1,a.png,1x1\n";
  EXPECT_THROW(imagefile::ParsePackIndex(tooMany), Error);
}

// Pictures are read, decoded and encoded on the worker pool: the archive is
// the same for one thread and for three, in the lines' own formats and by the
// family rule (a PVM's pack built as a GVM).
TEST(PackTextures, TheSameArchiveForEveryThreadCount) {
  TempDir dir;
  const std::pair<const char*, archive::SaveKind> rows[] = {{"sample.xvm", archive::SaveKind::Xvm},
                                                           {"sample.pvm", archive::SaveKind::Gvm}};
  for (const auto& [sample, kind] : rows) {
    SCOPED_TRACE(sample);
    const auto store = std::make_unique<ImageStore>();
    RecordingFrontEnd ui;
    const std::string source = std::string(QUARRENDEL_SOURCE_DIR) + "/samples/" + sample;
    archive::LoadFile(*store, ui, source);
    const std::string folder = (dir / (std::string(sample) + "_pack")).string();
    WorkerPool pool(2);
    imagefile::UnpackTextures(*store, ui, folder, {source}, pool);
    Bytes written[2];
    for (const int32_t threads : {1, 3}) {
      imagefile::PackRequest request;
      request.index = folder + "/index.txt";
      request.out = (dir / ("out" + std::to_string(threads))).string();
      request.kind = kind;
      request.threads = threads;
      const imagefile::PackResult result = imagefile::PackTextures(request, ui);
      ASSERT_TRUE(result.outcome) << result.outcome.message;
      EXPECT_EQ(result.textures, store->imageCount);
      written[threads == 1 ? 0 : 1] = ReadFileBytes(result.path);
    }
    EXPECT_FALSE(written[0].empty());
    EXPECT_EQ(written[0], written[1]);
  }
}

}  // namespace
}  // namespace quarrendel::test
