#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(QUARRENDEL_SOURCE_DIR) / "samples";

TEST(SaveCli, SavedArchivesListAsTheirSource) {
  TempDir dir;
  const CliResult source = RunCli({"list", (kSamples / "sample.gvm").string()});
  ASSERT_EQ(source.status, 0);
  // The GVM's images in every archive kind that keeps names; loaded back they
  // list the same, but for the PVM, whose DC/PC textures they become: the
  // opaque gradient twiddled ARGB1555, the letters (graded alpha) ARGB4444,
  // 32 x 32 x 2 bytes each.
  struct Row {
    const char* kind;
    const char* written;
    const char* err;
    std::string list;
  };
  const Row rows[] = {
      {"pvm", "out.pvm", "2 images were converted for DC/PC\n",
       "2 Images\n0\tgc_gradient_rgb5a3\t32x32\t00000100\t2048\t00002000\n"
       "1\tgc_letters_rgb5a3\t32x32\t00000102\t2048\t00002001\n"},
      {"gvm", "out.gvm", "", source.out}};
  for (const Row& row : rows) {
    const CliResult save =
        RunCli({"save", (kSamples / "sample.gvm").string(), (dir / "out").string(), "--as", row.kind});
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(save.err, row.err);
    EXPECT_EQ(save.out, "");
    EXPECT_EQ(RunCli({"list", (dir / row.written).string()}).out, row.list) << row.kind;
  }
}

TEST(SaveCli, RefusalsExitNonZeroAndWriteNothing) {
  TempDir dir;
  const fs::path pvm = dir / "in.pvm";
  fs::copy_file(kSamples / "sample.pvm", pvm);
  const Bytes original = ReadFileBytes(pvm);

  const CliResult kind = RunCli({"save", pvm.string(), (dir / "o").string(), "--as", "bmp"});
  EXPECT_EQ(kind.status, 2);
  EXPECT_NE(kind.err.find("pvm|xvm|afs-pc|afs-xbox|gvm|afs-gc"), std::string::npos) << kind.err;

  const CliResult self = RunCli({"save", pvm.string(), pvm.string(), "--as", "pvm"});
  EXPECT_EQ(self.status, 1);
  EXPECT_NE(self.err.find("it is the input file"), std::string::npos) << self.err;
  EXPECT_EQ(ReadFileBytes(pvm), original);

  // A load that read only part of the file: status 1, not the 3 of an incomplete listing.
  WriteFileBytes(dir / "cut.pvm", Bytes(original.begin(), original.end() - 100));
  const CliResult cut = RunCli({"save", (dir / "cut.pvm").string(), (dir / "o").string(), "--as", "xvm"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("Images are missing"), std::string::npos) << cut.err;

  const CliResult bml = RunCli({"save", (kSamples / "sample.bml").string(), (dir / "o").string(), "--as", "pvm"});
  EXPECT_EQ(bml.status, 1);
  EXPECT_NE(bml.err.find("quarrendel-cli rebuild"), std::string::npos) << bml.err;

  const CliResult notBml = RunCli({"rebuild", pvm.string()});
  EXPECT_EQ(notBml.status, 1);
  EXPECT_NE(notBml.err.find("is not a BML package"), std::string::npos) << notBml.err;
  EXPECT_EQ(ReadFileBytes(pvm), original);
  EXPECT_FALSE(fs::exists(dir / "o.pvm") || fs::exists(dir / "o.xvm") || fs::exists(dir / "o"));
}

TEST(SaveCli, RebuildsABmlInPlace) {
  TempDir dir;
  const fs::path bml = dir / "p.bml";
  fs::copy_file(kSamples / "sample.bml", bml);
  const CliResult before = RunCli({"list", bml.string()});
  const CliResult rebuild = RunCli({"rebuild", bml.string()});
  EXPECT_EQ(rebuild.status, 0) << rebuild.err;
  EXPECT_EQ(rebuild.err, "BML have been rebuild succefully\n");
  EXPECT_EQ(RunCli({"list", bml.string()}).out, before.out);
  const Bytes greedy = ReadFileBytes(bml);
  EXPECT_NE(greedy, ReadFileBytes(kSamples / "sample.bml"));

  // With the smallest streams: the same images, in no more bytes.
  EXPECT_EQ(RunCli({"rebuild", bml.string(), "--best"}).status, 0);
  EXPECT_EQ(RunCli({"list", bml.string()}).out, before.out);
  EXPECT_LE(ReadFileBytes(bml).size(), greedy.size());
  const CliResult save = RunCli({"save", (kSamples / "sample.afs").string(), (dir / "d").string(), "--as", "afs-gc",
                                 "--best"});
  EXPECT_EQ(save.status, 0) << save.err;
  EXPECT_EQ(RunCli({"list", (dir / "d").string()}).out.substr(0, 9), "7 Images\n");
}

}  // namespace
}  // namespace quarrendel::test
