#include <gtest/gtest.h>

#include <filesystem>

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
  EXPECT_EQ(RunCli({"export", pvm, "0", Path("x"), "--as", "png"}).status, 2);
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
  const CliResult missing = RunCli({"export-all", pvm, Path("nowhere"), "--as", "bmp"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "cannot export into " + Path("nowhere") + ": not a folder\n");
}

}  // namespace
}  // namespace quarrendel::test
