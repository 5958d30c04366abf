#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sys/stat.h>

#include "core/byte_io.h"
#include "imagefile/export.h"
#include "imagefile/png_file.h"
#include "tests/archive/archive_bytes.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

struct TransferCliTest : ::testing::Test {
  TempDir dir;
  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir / name, bytes);
    return (dir / name).string();
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(TransferCliTest, ExportWritesOneImageUnderTheKindsExtension) {
  const std::string pvm = Write("two.pvm", PvmTwoTextures());
  CliResult r = RunCli({"export", pvm, "0", Path("wall.out"), "--as", "pvr"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ToHex(ReadFileBytes(dir / "wall.pvr")),
            ToHex(FromHex("47424958 08000000 44332211 00000000 50565254 0C000000 01090000 0200 0200 AABBCCDD")));

  // Refusals: an index beyond the images, a kind that does not exist, a
  // non-square image re-encoded, and the loaded file as the target.
  r = RunCli({"export", pvm, "2", Path("x"), "--as", "pvr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "image index 2 is outside 0..1\n");
  EXPECT_EQ(RunCli({"export", pvm, "0", Path("x"), "--as", "jpg"}).status, 2);
  r = RunCli({"export", pvm, "1", Path("floor"), "--as", "xvr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "This image is 4 x 8: only square images can be re-encoded or written as DDS.\n");
  const Bytes wall = ReadFileBytes(dir / "wall.pvr");
  r = RunCli({"export", Path("wall.pvr"), "0", Path("wall"), "--as", "PVR"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write " + Path("wall.pvr")), std::string::npos) << r.err;
  EXPECT_EQ(ReadFileBytes(dir / "wall.pvr"), wall);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.pvr"));
  EXPECT_FALSE(std::filesystem::exists(dir / "floor.xvr"));

  // PNG takes the non-square image at its true size.
  r = RunCli({"export", pvm, "1", Path("floor"), "--as", "png"});
  EXPECT_EQ(r.status, 0) << r.err;
  const imagefile::RgbaImage floor = imagefile::ReadPngFile(dir / "floor.png");
  EXPECT_EQ(floor.width, 4);
  EXPECT_EQ(floor.height, 8);
}

TEST_F(TransferCliTest, ExportAllWritesWhatItCanAndFailsForTheRest) {
  const std::string pvm = Write("two.pvm", PvmTwoTextures());
  std::filesystem::create_directory(dir / "out");
  const CliResult r = RunCli({"export-all", pvm, Path("out"), "--as", "gvr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "1 of 2 images could not be exported:\n"
            "floor: This image is 4 x 8: only square images can be re-encoded or written as DDS.\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "wall.gvr"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1);

  EXPECT_EQ(RunCli({"export-all", pvm, Path("out"), "--as", "bmp"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "out" / "floor.bmp").size(), 54u + 4u * 8u * 4u);
  // A missing folder is made (with its parents); a file in the way is refused.
  const CliResult made = RunCli({"export-all", pvm, Path("new/sub"), "--as", "bmp"});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "new" / "sub" / "floor.bmp"));
  const CliResult blocked = RunCli({"export-all", pvm, Path("new/sub/floor.bmp"), "--as", "bmp"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err, "cannot export into " + Path("new/sub/floor.bmp") + ": not a folder\n");
  EXPECT_EQ(RunCli({"export-all", Path("absent.pvm"), Path("never"), "--as", "bmp"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "never"));
}

TEST_F(TransferCliTest, ExportAllKeepsEveryImageAndWritesOnlyInsideTheFolder) {
  // sample.bml holds two packages of the same three names: six files.
  const std::string bml = (std::filesystem::path(QUARRENDEL_SOURCE_DIR) / "samples" / "sample.bml").string();
  const CliResult all = RunCli({"export-all", bml, Path("bml"), "--as", "png"});
  EXPECT_EQ(all.status, 0) << all.err;
  std::set<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(dir / "bml")) names.insert(f.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"checker_disc_argb4444.png", "checker_disc_argb4444~2.png",
                                          "gradient_rgb565.png", "gradient_rgb565~2.png",
                                          "letters_twiddled_argb1555.png", "letters_twiddled_argb1555~2.png"}));

  // A link under an image's name is replaced, not followed; a FIFO stops the
  // whole run before the first file, without blocking it.
  const std::string pvm = Write("two.pvm", PvmTwoTextures());
  Write("victim.txt", Bytes{'v'});
  std::filesystem::create_directory(dir / "links");
  std::filesystem::create_symlink(dir / "victim.txt", dir / "links" / "floor.bmp");
  EXPECT_EQ(RunCli({"export-all", pvm, Path("links"), "--as", "bmp"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "victim.txt"), Bytes{'v'});
  EXPECT_EQ(ReadFileBytes(dir / "links" / "floor.bmp").size(), 54u + 4u * 8u * 4u);
  std::filesystem::create_directory(dir / "fifo");
  ASSERT_EQ(::mkfifo((dir / "fifo" / "floor.bmp").c_str(), 0600), 0);
  const CliResult fifo = RunCli({"export-all", pvm, Path("fifo"), "--as", "bmp"});
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(fifo.err, "cannot write " + Path("fifo/floor.bmp") + ": it is a FIFO, not a regular file\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "fifo" / "wall.bmp"));
}

// A side x side 32-bit bitmap, opaque but for one pixel of alpha 0.
Bytes CutoutBitmap(int32_t side) {
  texture::RgbaImage picture{side, side, std::vector<uint32_t>(static_cast<size_t>(side) * side, 0xFF204080u)};
  picture.pixels[0] = 0;
  return imagefile::BitmapFileBytes(picture.Rect());
}

// An 8 x 8 DXT1 DDS with its whole chain (32 + 8 + 8 + 8 bytes) and `count` in its mipmap count.
Bytes Dds8(uint32_t count) {
  Bytes out;
  ByteWriter w(out);
  imagefile::WriteDdsHeader(w, true, 8, 32, count);
  w.Zeros(56);
  return out;
}

TEST_F(TransferCliTest, EditAppliesImportsAndAddsInOrderThenSaves) {
  const std::string pvm = Write("two.pvm", PvmTwoTextures());
  const std::string bmp = Write("pic ture.bmp", CutoutBitmap(8));
  const std::string pvr = Write("blue.pvr", FromHex("50565254 10000000 01090000 0200 0200 1F00 1F00 1F00 1F00"));
  // The import of image 2 needs the add before it to have run.
  CliResult r = RunCli({"edit", pvm, "--add", bmp, "--platform", "xbox", "--import", "2=" + pvr, "--add", bmp,
                        "--save", Path("out"), "--as", "pvm"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Both added images carry global index 0: told, and written all the same;
  // the Xbox texture added is converted for the PVM (twiddled ARGB1555, 8 x 8 x 2 bytes).
  EXPECT_EQ(r.err, "warning: images 2 and 3 share the global index 0 (00000000)\n1 images were converted for DC/PC\n");
  EXPECT_EQ(RunCli({"list", Path("out.pvm")}).out,
            "4 Images\n"
            "0\twall\t2x2\t00000901\t4\t11223344\n"
            "1\tfloor\t4x8\tCDAB0100\t2\t12345678\n"
            "2\tpic ture\t2x2\t00000901\t8\t00000000\n"
            "3\tpic ture\t8x8\t00000100\t128\t00000000\n");

  // A step that is refused stops the run: nothing is written.
  const std::string wide = Write("wide.bmp", imagefile::BitmapFileBytes(texture::RgbaImage{4, 2, std::vector<uint32_t>(8)}.Rect()));
  r = RunCli({"edit", pvm, "--add", bmp, "--platform", "dc", "--import", "0=" + wide, "--save", Path("none"), "--as",
              "pvm"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "BMP Error: Width and height must be the same.\n");
  r = RunCli({"edit", pvm, "--import", "5=" + pvr, "--save", Path("none"), "--as", "pvm"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "image index 5 is outside 0..1\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "none.pvm"));
  EXPECT_EQ(RunCli({"edit", pvm, "--import", "0", "--save", Path("none"), "--as", "pvm"}).status, 2);
  EXPECT_EQ(RunCli({"edit", pvm, "--add", bmp, "--save", Path("none")}).status, 2);
  EXPECT_EQ(ReadFileBytes(pvm), PvmTwoTextures());
}

// An 8 x 8 opaque PNG of four colours on the RGB565 grid, stretched as PNG files hold them.
Bytes FourColourPng() {
  imagefile::RgbaImage picture{8, 8, {}};
  const uint32_t colours[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      const uint32_t c = colours[(y / 4) * 2 + x / 4];
      for (int shift = 0; shift < 32; shift += 8) picture.pixels.push_back(static_cast<uint8_t>(c >> shift));
    }
  }
  return imagefile::WritePng(picture);
}

TEST_F(TransferCliTest, EditEncodesIntoTheReplacedImagesFormatOrTheNamedOne) {
  const std::string pvm = Write("two.pvm", PvmTwoTextures());
  const std::string png = Write("pic.png", FourColourPng());
  const std::string odd = Write("odd.png", imagefile::WritePng(imagefile::RgbaImage{3, 3, Bytes(36, 0xFF)}));
  struct Row {
    std::vector<std::string> steps;
    int status;
    std::string line;  // the list line of the image the step made, or the message
  };
  // Twiddled with mipmaps at 8 x 8: 1 padding texel, 1 x 1, 2 x 2, 4 x 4, then the 8 x 8 level: 86 texels.
  const std::vector<Row> rows = {
      {{"--import", "0=" + png}, 0, "0\twall\t8x8\t00000901\t128\t11223344"},
      {{"--import", "0=" + png, "--format", "0x0702"}, 0, "0\twall\t8x8\t00000702\t64\t11223344"},
      {{"--add", png, "--format", "00000200"}, 0, "2\tpic\t8x8\t00000200\t172\t00000000"},
      {{"--add", png, "--format", "d02", "--platform", "dc"}, 0, "2\tpic\t8x8\t00000D02\t128\t00000000"},
      {{"--import", "0=" + odd}, 1,
       "RECTANGLE RGB565 No transparency takes sides that are powers of two from 1 to 2048; this picture is 3 x 3.\n"},
      {{"--add", png, "--format", "0E00", "--platform", "dc"}, 2,
       "--format 00000E00 is no layout DC/PC encodes (see the README's list of layouts)\n"},
      {{"--add", png, "--format", "0x"}, 2, "--format 0x: not a format word in hex (00000E00)\n"},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(dir / "out.pvm");
    std::vector<std::string> args = {"edit", pvm};
    args.insert(args.end(), row.steps.begin(), row.steps.end());
    args.insert(args.end(), {"--save", Path("out"), "--as", "pvm"});
    const CliResult r = RunCli(args);
    SCOPED_TRACE(row.steps.back());
    ASSERT_EQ(r.status, row.status) << r.err;
    if (row.status != 0) {
      EXPECT_EQ(r.err, row.line);
      EXPECT_FALSE(std::filesystem::exists(dir / "out.pvm"));
      continue;
    }
    const std::string list = RunCli({"list", Path("out.pvm")}).out;
    EXPECT_NE(list.find(row.line + "\n"), std::string::npos) << list;
  }
  // The 8-bit palette went beside the loaded file: a 16-byte header and 256 words.
  EXPECT_EQ(std::filesystem::file_size(dir / "wall.pvp"), 16u + 512u);
  // RGB565 holds the four colours exactly: the kept format gives the picture back.
  ASSERT_EQ(RunCli({"edit", pvm, "--import", "0=" + png, "--save", Path("out"), "--as", "pvm"}).status, 0);
  ASSERT_EQ(RunCli({"export", Path("out.pvm"), "0", Path("back"), "--as", "png"}).status, 0);
  EXPECT_EQ(imagefile::ReadPngFile(dir / "back.png").pixels, imagefile::ReadPngFile(png).pixels);
  EXPECT_EQ(ReadFileBytes(pvm), PvmTwoTextures());
}

TEST_F(TransferCliTest, EditLevelsAreTypedIntoTheDialogsSpinField) {
  const std::string pvm = Path("two.xvm");
  std::filesystem::copy_file(std::filesystem::path(QUARRENDEL_SOURCE_DIR) / "samples" / "sample.xvm", pvm);
  struct Row {
    uint32_t count;
    const char* levels;
    const char* dataLength;  // of 8 x 8 DXT1 levels: 32, 40, 48, 56
  };
  for (const Row& row : {Row{0, "3", "48"}, Row{2, "5", "40"}, Row{4, "0", "32"}, Row{4, nullptr, "56"}}) {
    const std::string dds = Write("chain.dds", Dds8(row.count));
    std::vector<std::string> args = {"edit", pvm, "--platform", "XBOX", "--add", dds, "--save", Path("out"),
                                     "--as", "xvm"};
    if (row.levels != nullptr) args.insert(args.end(), {"--levels", row.levels});
    const CliResult r = RunCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string list = RunCli({"list", Path("out.xvm")}).out;
    EXPECT_NE(list.find(std::string("\t8x8\t") + (std::string(row.dataLength) == "32" ? "00000600" : "00000601") +
                        "\t" + row.dataLength + "\t"),
              std::string::npos)
        << row.count << " " << (row.levels ? row.levels : "-") << "\n" << list;
  }
}

TEST_F(TransferCliTest, EditRebuildsABmlPackage) {
  const std::filesystem::path bml = dir / "p.bml";
  std::filesystem::copy_file(std::filesystem::path(QUARRENDEL_SOURCE_DIR) / "samples" / "sample.bml", bml);
  const std::string pvr = Write("blue.pvr", FromHex("50565254 10000000 01090000 0200 0200 1F00 1F00 1F00 1F00"));
  const CliResult r = RunCli({"edit", bml.string(), "--import", "0=" + pvr, "--rebuild"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(RunCli({"list", bml.string()}).out.find("\t2x2\t00000901\t8\t"), std::string::npos);
  EXPECT_EQ(RunCli({"edit", bml.string(), "--add", pvr, "--rebuild"}).err, "Images cannot be added to a BML package.\n");
}

}  // namespace
}  // namespace quarrendel::test
