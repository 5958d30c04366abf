#include <gtest/gtest.h>

#include "prs/prs.h"
#include "tests/archive/archive_bytes.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

const std::string kSamples = std::string(QUARRENDEL_SOURCE_DIR) + "/samples/";

TEST(PackageCli, ListsEveryContainerKindWithPackageIndices) {
  const CliResult afs = RunCli({"list", kSamples + "sample.afs"});
  EXPECT_EQ(afs.status, 0) << afs.err;
  EXPECT_EQ(afs.out,
            "7 Images\n"
            "0\tgradient_rgb565\t64x64\t00000901\t8192\t00001000\t0\n"
            "1\tchecker_disc_argb4444\t32x32\t00000902\t2048\t00001001\t0\n"
            "2\tletters_twiddled_argb1555\t32x32\t00000100\t2048\t00001002\t0\n"
            "3\tXVM 1 , Image 0\t32x32\t00000600\t512\t00003000\t1\n"
            "4\tXVM 1 , Image 1\t64x64\t00000602\t2048\t00003001\t1\n"
            "5\tgc_gradient_rgb5a3\t32x32\t00000508\t2048\t00002000\t2\n"
            "6\tgc_letters_rgb5a3\t32x32\t00000508\t2048\t00002001\t2\n");
  const CliResult bml = RunCli({"list", kSamples + "sample.bml"});
  EXPECT_EQ(bml.status, 0) << bml.err;
  EXPECT_EQ(bml.out.substr(0, bml.out.find('\n')), "6 Images");
  EXPECT_NE(bml.out.find("\n5\tletters_twiddled_argb1555\t32x32\t00000100\t2048\t00001002\t2\n"), std::string::npos);
  const CliResult prs = RunCli({"list", kSamples + "sample_xvm.prs"});
  EXPECT_EQ(prs.status, 0) << prs.err;
  EXPECT_EQ(prs.out.substr(0, 9), "2 Images\n");
}

TEST(PackageCli, NoticesExitZeroAndLoadErrorsExitNonZero) {
  TempDir dir;
  // A BML whose only entry has no texture archive: a notice, not an error.
  WriteFileBytes(dir / "empty.bml", BmlWithoutArchives());
  const CliResult notice = RunCli({"list", (dir / "empty.bml").string()});
  EXPECT_EQ(notice.status, 0);
  EXPECT_EQ(notice.err, "This BML does'nt contain any images\n");
  EXPECT_EQ(notice.out, "0 Images\n");

  WriteFileBytes(dir / "bad.bml", FromHex("00000000 00010000 50"));
  const CliResult invalid = RunCli({"list", (dir / "bad.bml").string()});
  EXPECT_NE(invalid.status, 0);
  EXPECT_EQ(invalid.err, "Unsuported or invalide BML file\n");

  WriteFileBytes(dir / "bad.afs", FromHex("41465300 01000000 10000000 04000000 50565254"));
  const CliResult unsupported = RunCli({"list", (dir / "bad.afs").string()});
  EXPECT_NE(unsupported.status, 0);
  EXPECT_EQ(unsupported.err, "Unsuported file are include in this package, Can't load this file. \n");

  // sample.afs cut 1200 bytes into its third member (a packed GVM of two
  // images at 12288): loaded but incomplete, the images before the cut listed.
  Bytes afs = ReadFileBytes(kSamples + "sample.afs");
  afs.resize(12288 + 1200);
  WriteFileBytes(dir / "cut.afs", afs);
  const CliResult cut = RunCli({"list", (dir / "cut.afs").string()});
  EXPECT_EQ(cut.status, 3);
  EXPECT_EQ(cut.err, "Only 5 of 7 images could be read: the file is damaged or incomplete.\n");
  EXPECT_EQ(cut.out.substr(0, 9), "5 Images\n");
}

TEST(PackageCli, InfoAndDecodeReadPackedImages) {
  const CliResult info = RunCli({"info", kSamples + "sample.bml", "4"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out,
            "Description :\n"
            "Size : 32x32\n"
            "Format : 00000902\n"
            "Data Length : 2048\n"
            "PSO ID : 00001001\n"
            "In package : 2\n"
            "RECTANGLE ARGB4444\n");
  TempDir dir;
  const CliResult decode = RunCli({"decode", kSamples + "sample.afs", "5", (dir / "gc.rgba").string()});
  EXPECT_EQ(decode.status, 0) << decode.err;
  EXPECT_EQ(ReadFileBytes(dir / "gc.rgba").size(), 32u * 32u * 4u);
}

}  // namespace
}  // namespace quarrendel::test
