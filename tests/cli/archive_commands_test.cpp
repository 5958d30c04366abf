#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "cli/archive_commands.h"
#include "tests/archive/archive_bytes.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

struct ArchiveCliTest : ::testing::Test {
  TempDir dir;
  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir / name, bytes);
    return (dir / name).string();
  }
};

TEST_F(ArchiveCliTest, ListPrintsLabelThenOneTabSeparatedLinePerImage) {
  struct Row {
    const char* name;
    Bytes bytes;
    const char* expected;
  };
  const Row rows[] = {
      {"a.pvm", PvmTwoTextures(),
       "2 Images\n"
       "0\twall\t2x2\t00000901\t4\t11223344\n"
       "1\tfloor\t4x8\tCDAB0100\t2\t12345678\n"},
      {"a.gvm", GvmTwoTextures(),
       "2 Images\n"
       "0\twall\t256x16\t34120508\t4\t11223344\n"
       "1\tfloor\t8x8\t00000901\t2\t12345678\n"},
      {"a.xvm", XvmTwoTextures(),
       "2 Images\n"
       "0\tImage 0\t4x4\t00000601\t8\t0000BEEF\n"
       "1\tImage 1\t8x4\t00000702\t2\t00000010\n"},
  };
  for (const Row& row : rows) {
    const CliResult r = RunCli({"list", Write(row.name, row.bytes)});
    EXPECT_EQ(r.status, 0) << row.name << ": " << r.err;
    EXPECT_EQ(r.out, row.expected) << row.name;
    EXPECT_EQ(r.err, "") << row.name;
  }
}

TEST_F(ArchiveCliTest, MissingFileIsReportedBeforeLoading) {
  const std::string path = (dir / "nothing.pvm").string();
  const CliResult r = RunCli({"list", path});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "cannot read " + path + ": No such file or directory\n");
}

TEST_F(ArchiveCliTest, FoldersFifosAndDevicesAreRefusedAtOnce) {
  const std::string fifo = (dir / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: reading would wait forever
  std::vector<std::pair<std::string, std::string>> rows{{dir.Path().string(), "Is a directory"},
                                                        {fifo, "not a regular file"}};
  if (::geteuid() == 0) {
    // A zero device of our own: reading it would never end.
    const std::string zero = (dir / "zero").string();
    ASSERT_EQ(::mknod(zero.c_str(), S_IFCHR | 0444, makedev(1, 5)), 0);
    rows.emplace_back(zero, "not a regular file");
  }
  for (const auto& [path, reason] : rows) {
    for (const char* command : {"list", "info", "decode"}) {
      std::vector<std::string> args{command, path};
      if (std::string(command) != "list") args.push_back("0");
      if (std::string(command) == "decode") args.push_back((dir / "out.rgba").string());
      const CliResult r = RunCli(args);
      EXPECT_EQ(r.status, 1) << command << " " << path;
      EXPECT_EQ(r.err, "cannot read " + path + ": " + reason + "\n");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out.rgba"));
}

TEST_F(ArchiveCliTest, UnsupportedFileGivesTheSystemsMessageAndFailure) {
  const CliResult r = RunCli({"list", Write("x.bin", FromHex("41465358 00000000"))});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "This file is not suported.\n");
}

TEST_F(ArchiveCliTest, RejectedArchiveFails) {
  const CliResult r = RunCli({"list", Write("big.xvm", FromHex("58564D48 38000000 FFFFFFFF"))});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("4294967295"), std::string::npos) << r.err;
}

TEST(ListLineTest, PackageIndexIsTheLastFieldInPackageModeOnly) {
  TImage_Entry e;
  e.Name = "XVM 3 , Image 1";
  e.Width = 128;
  e.Height = 64;
  e.Format = 0x0601;
  e.DataLength = 43704;
  e.GlobalIndex = 0xDEADBEEF;
  e.PackageIndex = 3;
  EXPECT_EQ(cli::ListLine(17, e, true), "17\tXVM 3 , Image 1\t128x64\t00000601\t43704\tDEADBEEF\t3");
  EXPECT_EQ(cli::ListLine(17, e, false), "17\tXVM 3 , Image 1\t128x64\t00000601\t43704\tDEADBEEF");
  e.Name = "evil\n\x1b]0;owned\x07";
  EXPECT_EQ(cli::ListLine(0, e, false), "0\tevil\\n\\x1b]0;owned\\x07\t128x64\t00000601\t43704\tDEADBEEF");
}

std::string Sample(const char* name) {
  return (std::filesystem::path(QUARRENDEL_SOURCE_DIR) / "samples" / name).string();
}

// Pixel (x, y) of an RGBA file of the given side, as "RR GG BB AA".
std::string PixelAt(const Bytes& rgba, int side, int x, int y) {
  const auto at = static_cast<size_t>((y * side + x) * 4);
  return ToHex(Bytes(rgba.begin() + static_cast<std::ptrdiff_t>(at), rgba.begin() + static_cast<std::ptrdiff_t>(at + 4)));
}

TEST_F(ArchiveCliTest, InfoPrintsTheDescriptionLines) {
  const CliResult r = RunCli({"info", Sample("sample.pvm"), "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Description :\nSize : 32x32\nFormat : 00000100\nData Length : 2048\nPSO ID : 00001002\n"
            "SQUARE TWIDDLED ARGB1555\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ArchiveCliTest, IndexOutsideTheImagesIsAnError) {
  for (const char* index : {"3", "5000", "010", "99999999999999999999"}) {
    for (const char* command : {"info", "decode"}) {
      std::vector<std::string> args{command, Sample("sample.pvm"), index};
      if (std::string(command) == "decode") args.push_back((dir / "out.rgba").string());
      const CliResult r = RunCli(args);
      EXPECT_EQ(r.status, 1) << command << " " << index;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "image index " + std::string(index) + " is outside 0..2\n");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out.rgba"));
}

TEST_F(ArchiveCliTest, IndexesAreDecimalDigitsOnly) {
  for (const char* index : {"", "-1", "+1", "0x1", " 1", "1e2", "1.0"}) {
    const CliResult r = RunCli({"info", Sample("sample.pvm"), index});
    EXPECT_EQ(r.status, 2) << "[" << index << "]";
    EXPECT_EQ(r.err, "INDEX: not a valid image index: " + std::string(index) +
                         "\nRun with --help for more information.\n");
  }
  // Leading zeros are still decimal.
  EXPECT_EQ(RunCli({"info", Sample("sample.pvm"), "002"}).out, RunCli({"info", Sample("sample.pvm"), "2"}).out);
}

TEST_F(ArchiveCliTest, IncompleteLoadsPrintWhatWasReadAndExitThree) {
  const Bytes pvm = PvmTwoTextures();
  const std::string cut = Write("cut.pvm", Bytes(pvm.begin(), pvm.begin() + 110));
  const CliResult list = RunCli({"list", cut});
  EXPECT_EQ(list.status, 3);
  EXPECT_EQ(list.out, "1 Images\n0\twall\t2x2\t00000901\t4\t11223344\n");
  EXPECT_EQ(list.err, "Only 1 of 2 images could be read: the file is damaged or incomplete.\n");
  const CliResult info = RunCli({"info", cut, "0"});
  EXPECT_EQ(info.status, 3);
  EXPECT_EQ(info.out.substr(0, 14), "Description :\n");
}

TEST_F(ArchiveCliTest, DecodeNeverWritesOverItsInput) {
  const std::string archive = Write("a.pvm", PvmTwoTextures());
  std::filesystem::create_symlink("a.pvm", dir / "link.pvm");
  for (const std::string& out : {archive, (dir / "link.pvm").string()}) {
    const CliResult r = RunCli({"decode", archive, "0", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot write " + out + ": it is the input file " + archive + "\n");
  }
  EXPECT_EQ(ReadFileBytes(archive), PvmTwoTextures());
}

// Expected pixels follow from the pictures the samples were drawn from,
// through each format's bit depth: RGB565 keeps 5-6-5 bits, RGB5A3 4 bits and
// 3 alpha bits for translucent texels, solid DXT1 blocks 5-6-5 bits.
TEST_F(ArchiveCliTest, DecodeWritesTheCanvasAsRgbaRows) {
  struct Row {
    const char* file;
    const char* index;
    int side;
    int x, y;
    const char* pixel;
  };
  const Row rows[] = {
      {"sample.pvm", "0", 64, 0, 0, "00 00 F8 FF"},    // gradient: blue corner
      {"sample.pvm", "0", 64, 63, 0, "F8 00 80 FF"},   // red 255 -> 248, blue 128
      {"sample.pvm", "0", 64, 0, 63, "00 FC 80 FF"},   // green 255 -> 252 (6 bits)
      {"sample.pvm", "2", 32, 0, 0, "00 00 00 00"},    // transparent frame of the letters
      {"sample.pvm", "2", 32, 5, 11, "F8 F8 F8 FF"},   // first pixel of the "P"
      {"sample.pvm", "2", 32, 4, 11, "00 80 80 FF"},   // teal beside it
      {"sample.gvm", "1", 32, 0, 0, "20 40 E0 80"},    // translucent RGB5A3 background
      {"sample.gvm", "1", 32, 5, 8, "F8 F8 F8 FF"},    // opaque white "G"
      {"sample.xvm", "0", 32, 8, 0, "C0 94 80 FF"},    // second checker patch C29682
      {"sample.xvm", "1", 64, 0, 0, "00 00 00 00"},    // transparent DXT1 block
      {"sample.xvm", "1", 64, 8, 12, "F8 C8 00 FF"},   // yellow "X"
  };
  for (const Row& row : rows) {
    const auto out = (dir / "out.rgba").string();
    const CliResult r = RunCli({"decode", Sample(row.file), row.index, out});
    ASSERT_EQ(r.status, 0) << row.file << " " << row.index << ": " << r.err;
    const Bytes rgba = ReadFileBytes(out);
    ASSERT_EQ(rgba.size(), static_cast<size_t>(row.side * row.side * 4));
    EXPECT_EQ(PixelAt(rgba, row.side, row.x, row.y), row.pixel) << row.file << " " << row.index;
  }
}

TEST_F(ArchiveCliTest, DecodePaintedComposesOverTheCheckerboard) {
  const auto out = (dir / "painted.rgba").string();
  const CliResult r = RunCli({"decode", Sample("sample.xvm"), "1", out, "--painted"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes rgba = ReadFileBytes(out);
  ASSERT_EQ(rgba.size(), 64u * 64u * 4u);
  EXPECT_EQ(PixelAt(rgba, 64, 0, 0), "FF FF FF FF");    // white square
  EXPECT_EQ(PixelAt(rgba, 64, 16, 0), "AF AF AF FF");   // grey square
  EXPECT_EQ(PixelAt(rgba, 64, 8, 12), "F8 C8 00 FF");   // opaque letter unchanged
  // Half-transparent GameCube background (32, 64, 224, alpha 128) over white:
  // c + (255 - c) * 127 / 256 per channel.
  const CliResult g = RunCli({"decode", Sample("sample.gvm"), "1", out, "--painted"});
  ASSERT_EQ(g.status, 0) << g.err;
  EXPECT_EQ(PixelAt(ReadFileBytes(out), 32, 0, 0), "8E 9E EF FF");
}

TEST_F(ArchiveCliTest, DecodeSingleTextureSquareOrTrueSize) {
  // A GBIX + PVRT file, 16 x 4 twiddled rectangle RGB565: black except the
  // first texel of the last square (12, 0) red and the last of the first (3, 3) green.
  Bytes file = FromHex("47424958 08000000 07000000 00000000 50565254 88000000 010D0000 1000 0400");
  Bytes data(128, 0);
  data[2 * 48 + 1] = 0xF8;
  data[2 * 15] = 0xE0;
  data[2 * 15 + 1] = 0x07;
  file.insert(file.end(), data.begin(), data.end());
  const std::string path = Write("strip.pvr", file);
  const auto out = (dir / "out.rgba").string();
  struct Row {
    std::vector<std::string> flags;
    int width;  // the height is 4
    int x, y;
    const char* pixel;
  };
  const Row rows[] = {
      {{}, 4, 3, 3, "00 FC 00 FF"},
      {{"--painted"}, 4, 3, 3, "00 FC 00 FF"},
      {{"--true-size"}, 16, 12, 0, "F8 00 00 FF"},
      {{"--true-size"}, 16, 15, 3, "00 00 00 FF"},
      {{"--true-size", "--painted"}, 16, 12, 0, "F8 00 00 FF"},
      {{"--painted", "--true-size"}, 16, 3, 3, "00 FC 00 FF"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args{"decode", path, "0", out};
    args.insert(args.end(), row.flags.begin(), row.flags.end());
    const CliResult r = RunCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes rgba = ReadFileBytes(out);
    ASSERT_EQ(rgba.size(), static_cast<size_t>(row.width * 4 * 4));
    EXPECT_EQ(PixelAt(rgba, row.width, row.x, row.y), row.pixel) << row.x << "," << row.y;
  }
  const CliResult list = RunCli({"list", path});
  EXPECT_EQ(list.out, "1 Images\n0\tstrip\t16x4\t00000D01\t128\t00000007\n");

  // A plain 16 x 4 rectangle (0x0901), black but for blue at word 13 and red
  // at word 45: its true size has rows of 16 texels, (13, 0) and (13, 2);
  // the H x H square keeps rows of 4, word 13 at (1, 3).
  Bytes plain = FromHex("50565254 88000000 01090000 1000 0400");
  Bytes words(128, 0);
  words[2 * 13] = 0x1F;
  words[2 * 45 + 1] = 0xF8;
  plain.insert(plain.end(), words.begin(), words.end());
  const std::string rectangle = Write("title.pvr", plain);
  const Row plainRows[] = {
      {{}, 4, 1, 3, "00 00 F8 FF"},
      {{"--true-size"}, 16, 13, 0, "00 00 F8 FF"},
      {{"--true-size"}, 16, 13, 2, "F8 00 00 FF"},
      {{"--true-size"}, 16, 1, 3, "00 00 00 FF"},
      {{"--true-size", "--painted"}, 16, 13, 2, "F8 00 00 FF"},
  };
  for (const Row& row : plainRows) {
    std::vector<std::string> args{"decode", rectangle, "0", out};
    args.insert(args.end(), row.flags.begin(), row.flags.end());
    const CliResult r = RunCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes rgba = ReadFileBytes(out);
    ASSERT_EQ(rgba.size(), static_cast<size_t>(row.width * 4 * 4));
    EXPECT_EQ(PixelAt(rgba, row.width, row.x, row.y), row.pixel) << "plain " << row.x << "," << row.y;
  }
}

TEST_F(ArchiveCliTest, UnsupportedFormatWritesTheClearedPictureAndExitsFour) {
  // Bare PVRT, 4 x 2, data format 0x0C (no decoder).
  const std::string path =
      Write("odd.pvr", FromHex("50565254 18000000 000C0000 0400 0200 FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF"));
  const auto out = (dir / "odd.rgba").string();
  CliResult r = RunCli({"decode", path, "0", out});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Unsupported format\n");
  EXPECT_EQ(ReadFileBytes(out), Bytes(2 * 2 * 4, 0));
  r = RunCli({"decode", path, "0", out, "--true-size", "--painted"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(PixelAt(ReadFileBytes(out), 4, 3, 1), "FF FF FF FF");
  r = RunCli({"info", path, "0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Description :\nSize : 4x2\nFormat : 00000C00\nData Length : 16\nPSO ID : 00000000\nARGB1555\n"
            "Unsupported format\n");
}

TEST_F(ArchiveCliTest, FallbackPaletteIsNoticedOnStderr) {
  // A bare 2 x 2 PVRT of 4-bit CLUT indices (format 0x0500): its palette is tex.pvp beside it.
  const std::string path = Write("tex.pvr", FromHex("50565254 0A000000 00050000 0200 0200 2143"));
  const std::string pvp = (dir / "tex.pvp").string();
  const std::string out = (dir / "tex.rgba").string();
  struct Row {
    const char* what;
    std::optional<Bytes> palette;  // nullopt: no file
    std::string notice;
  };
  const Row rows[] = {
      {"no file", std::nullopt, "Palette file not found: " + pvp + ": fallback palette\n"},
      {"two of 16 colours", Cat({Bytes(16, 0), FromHex("0080 0080")}),
       "Palette file " + pvp + " holds 2 of 16 colours: fallback palette for the rest\n"},
      {"whole", Cat({Bytes(16, 0), Bytes(32, 0x80)}), ""},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(pvp);
    if (row.palette) WriteFileBytes(pvp, *row.palette);
    CliResult r = RunCli({"info", path, "0"});
    EXPECT_EQ(r.status, 0) << row.what;
    EXPECT_EQ(r.out,
              "Description :\nSize : 2x2\nFormat : 00000500\nData Length : 2\nPSO ID : 00000000\n"
              "4-BIT CLUT TWIDDLED ARGB1555\n")
        << row.what;
    EXPECT_EQ(r.err, row.notice) << row.what;
    r = RunCli({"decode", path, "0", out});
    EXPECT_EQ(r.status, 0) << row.what;
    EXPECT_EQ(r.err, row.notice) << row.what;
  }
}

TEST_F(ArchiveCliTest, DecodeToAnUnwritablePathFails) {
  const auto out = (dir / "no-such-folder" / "x.rgba").string();
  const CliResult r = RunCli({"decode", Sample("sample.pvm"), "0", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot write " + out + ": No such file or directory\n");
}

}  // namespace
}  // namespace quarrendel::test
