#include <gtest/gtest.h>

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
  EXPECT_EQ(r.err, "cannot open " + path + ": No such file or directory\n");
}

TEST_F(ArchiveCliTest, DirectoryIsReportedAsUnreadable) {
  const CliResult r = RunCli({"list", dir.Path().string()});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.err, "cannot open " + dir.Path().string() + ": Is a directory\n");
}

TEST_F(ArchiveCliTest, UnsupportedFileGivesTheSystemsMessageAndFailure) {
  const CliResult r = RunCli({"list", Write("x.bin", FromHex("41465358 00000000"))});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "This file is not suported.\n");
}

TEST_F(ArchiveCliTest, RejectedArchiveFails) {
  const CliResult r = RunCli({"list", Write("big.xvm", FromHex("58564D48 38000000 FFFFFFFF"))});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("4294967295"), std::string::npos) << r.err;
}

TEST_F(ArchiveCliTest, ListWithoutFileIsAUsageError) {
  const CliResult r = RunCli({"list"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err, "");
}

}  // namespace
}  // namespace quarrendel::test
