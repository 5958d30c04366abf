#include <gtest/gtest.h>

#include <filesystem>

#include "archive/archive_writer.h"
#include "cli/archive_commands.h"
#include "imagefile/png_file.h"
#include "tests/archive/archive_bytes.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

namespace fs = std::filesystem;

struct PackCliTest : ::testing::Test {
  TempDir dir;
  std::string WritePvm(const std::string& name, const ImageList& list) {
    WriteFileBytes(dir / name, archive::BuildArchiveFile(PackageArchiveKind::Pvm, list.images));
    return (dir / name).string();
  }
};

TEST(JsonStringTest, QuotesControlsAndBytesOutsideUtf8AreEscaped) {
  const std::pair<const char*, const char*> rows[] = {
      {"wall_01", "\"wall_01\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"a\tb\nc\r\x01\x7f", "\"a\\tb\\nc\\u000d\\u0001\\u007f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},  // UTF-8 stays
      {"\xc2\x9b", "\"\\u009b\""},                                    // C1 control
      {"caf\xe9", "\"caf\\u00e9\""},                                  // Latin-1 byte
      {"\xe2\x82", "\"\\u00e2\\u0082\""},                             // sequence cut short
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},                  // surrogate
  };
  for (const auto& [text, json] : rows) EXPECT_EQ(cli::JsonString(text), json) << text;
}

TEST_F(PackCliTest, ListJsonDescribesTheContainerAndEveryImage) {
  const std::string pvm = (dir / "a.pvm").string();
  WriteFileBytes(pvm, PvmTwoTextures());
  const CliResult r = RunCli({"list", pvm, "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\n"
            "  \"kind\": \"pvm\",\n"
            "  \"compressed\": false,\n"
            "  \"complete\": true,\n"
            "  \"images\": [\n"
            "    {\"index\": 0, \"name\": \"wall\", \"width\": 2, \"height\": 2, \"format\": 2305, \"dataLength\": 4, "
            "\"globalIndex\": 287454020, \"packageIndex\": 0},\n"
            "    {\"index\": 1, \"name\": \"floor\", \"width\": 4, \"height\": 8, \"format\": 3450536192, "
            "\"dataLength\": 2, \"globalIndex\": 305419896, \"packageIndex\": 0}\n"
            "  ]\n"
            "}\n");

  const Bytes whole = PvmTwoTextures();
  const std::string cut = (dir / "cut.pvm").string();
  WriteFileBytes(cut, Bytes(whole.begin(), whole.begin() + 110));
  const CliResult c = RunCli({"list", "--json", cut});
  EXPECT_EQ(c.status, 3);
  EXPECT_NE(c.out.find("\"complete\": false,\n"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("\"name\": \"wall\""), std::string::npos);

  const CliResult prs = RunCli({"list", "--json", (fs::path(QUARRENDEL_SOURCE_DIR) / "samples/sample_xvm.prs").string()});
  EXPECT_EQ(prs.status, 0);
  EXPECT_EQ(prs.out.substr(0, 48), "{\n  \"kind\": \"xvm\",\n  \"compressed\": true,\n  \"comp");
}

TEST_F(PackCliTest, UnpackWritesOnePngPerTextureAndTheIndex) {
  ImageList list;
  // Twiddled ARGB1555 2 x 2: white, red with alpha bit 0, green, 5-bit grey 1.
  list.Add("wall", FromHex("FFFF 007C E083 2104"), 0, 0x0100, 2, 7);
  list.Add("Wall", FromHex("FFFF E007"), 0, 0x0B01, 1, 4294967295u).Width = 2;  // stride RGB565 2 x 1
  list.Add("a/b", FromHex("0000 0000 0000 0000"), 0, 0x0100, 2, 0);
  const std::string pvm = WritePvm("in.pvm", list);
  const fs::path pack = dir / "new" / "pack";
  const CliResult r = RunCli({"unpack", pvm, pack.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFileBytes(pack / "index.txt"),
            Bytes(std::string_view("7,wall.png,2x2\n4294967295,Wall~2.png,2x1\n0,a_b.png,2x2\n").begin(),
                  std::string_view("7,wall.png,2x2\n4294967295,Wall~2.png,2x1\n0,a_b.png,2x2\n").end()));
  const imagefile::RgbaImage wall = imagefile::ReadPngFile(pack / "wall.png");
  EXPECT_EQ(ToHex(wall.pixels), ToHex(FromHex("FFFFFFFF 00FF00FF FF000000 08080800")));
  const imagefile::RgbaImage stride = imagefile::ReadPngFile(pack / "Wall~2.png");
  EXPECT_EQ(ToHex(stride.pixels), ToHex(FromHex("FFFFFFFF 00FF00FF")));
  EXPECT_EQ(std::distance(fs::directory_iterator(pack), fs::directory_iterator()), 4);
}

TEST_F(PackCliTest, UnpackRefusesOversizedTexturesBeforeWritingAndFlagsUnsupportedFormats) {
  ImageList list;
  list.Add("ok", Bytes(8, 0), 0, 0x0100, 2);
  list.Add("odd", Bytes(8, 0), 0, 0x0C00, 2);
  list.Add("clut", Bytes(8, 0), 0, 0x0500, 4);  // 4-bit CLUT whose clut.pvp is missing
  const CliResult unsupported = RunCli({"unpack", WritePvm("u.pvm", list), (dir / "u").string()});
  EXPECT_EQ(unsupported.status, 4);
  EXPECT_EQ(unsupported.err, "image 1: Unsupported format: its PNG is transparent\nimage 2: Palette file not found: " +
                                 (dir / "clut.pvp").string() + ": fallback palette\n");
  EXPECT_TRUE(fs::exists(dir / "u" / "odd.png"));
  EXPECT_TRUE(fs::exists(dir / "u" / "index.txt"));

  list.Add("huge", Bytes(8, 0), 0, 0x0100, 4096);
  const CliResult huge = RunCli({"unpack", WritePvm("h.pvm", list), (dir / "h").string()});
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(huge.err, "image 3 (huge) is 4096x4096: a PNG holds 1x1 to 2048x2048 pixels\n");
  EXPECT_FALSE(fs::exists(dir / "h"));

  // A folder that cannot be made: a file stands in its way.
  WriteFileBytes(dir / "file", Bytes{1});
  const CliResult blocked = RunCli({"unpack", (dir / "u.pvm").string(), (dir / "file" / "sub").string()});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err.rfind("cannot create the folder " + (dir / "file" / "sub").string() + ": ", 0), 0u)
      << blocked.err;
}

}  // namespace
}  // namespace quarrendel::test
