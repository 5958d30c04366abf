#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/capacity.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PrsCli, CompressThenDecompressFile) {
  TempDir dir;
  WriteFileBytes(dir / "plain.bin", FromHex("61 62 63 61 62 63 61 62 63 61 62 63"));
  CliResult r = RunCli({"prs", "compress", (dir / "plain.bin").string(), (dir / "packed.prs").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ToHex(ReadFileBytes(dir / "packed.prs")), "57 61 62 63 EF FF 00 00 00");
  // The summary is a message: stdout carries data only.
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Contains(r.err, "12 -> 9 bytes")) << r.err;

  r = RunCli({"prs", "decompress", (dir / "packed.prs").string(), (dir / "back.bin").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir / "back.bin"), ReadFileBytes(dir / "plain.bin"));
  // Only the two outputs and the input: no temporary file left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3);
}

TEST(PrsCli, BestWritesTheSmallestStream) {
  // "ab", 254 other bytes, "ab": only the smallest stream copies the pair
  // from 256 back (the greedy one writes it as two literals).
  Bytes plain = {0x61, 0x62};
  for (int v = 0; plain.size() < 256; ++v) {
    if (v != 0x61 && v != 0x62) plain.push_back(static_cast<uint8_t>(v));
  }
  plain.insert(plain.end(), {0x61, 0x62});
  TempDir dir;
  WriteFileBytes(dir / "plain.bin", plain);
  CliResult r = RunCli({"prs", "compress", "--best", (dir / "plain.bin").string(), (dir / "best.prs").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir / "best.prs").size(), 293u);
  r = RunCli({"prs", "compress", (dir / "plain.bin").string(), (dir / "greedy.prs").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir / "greedy.prs").size(), 294u);
  r = RunCli({"prs", "decompress", (dir / "best.prs").string(), (dir / "back.bin").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(dir / "back.bin"), plain);
}

struct FailureCase {
  const char* name;
  const char* command;
  Bytes input;
  bool writeInput;  // false: IN does not exist
  const char* message;
};

// One literal, then long copies of 256 bytes at distance 1 (control bytes 55
// hold four commands' bits each), past 10,000,000 bytes.
Bytes TooLargeStream() {
  Bytes stream = FromHex("55 00 F8 FF FF F8 FF FF F8 FF FF");
  while (stream.size() < 140'000) {
    stream.push_back(0x55);
    for (int c = 0; c < 4; ++c) stream.insert(stream.end(), {0xF8, 0xFF, 0xFF});
  }
  return stream;
}

class PrsCliFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PrsCliFailure, ReportsAndWritesNothing) {
  const FailureCase& c = GetParam();
  TempDir dir;
  if (c.writeInput) WriteFileBytes(dir / "in.bin", c.input);
  const CliResult r = RunCli({"prs", c.command, (dir / "in.bin").string(), (dir / "out.bin").string()});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Prs, PrsCliFailure,
    ::testing::Values(
        // a long copy one byte back with nothing written yet
        FailureCase{"CopyBeforeStart", "decompress", FromHex("02 FF FF 00 00"), true, "PRS stream is corrupt"},
        FailureCase{"TruncatedLiteral", "decompress", FromHex("01"), true, "past the end"},
        // three literals that use the input up without an end command
        FailureCase{"NoEndCommand", "decompress", FromHex("07 61 62 63"), true, "end before the end command"},
        FailureCase{"TooLarge", "decompress", TooLargeStream(), true,
                    "unpacks to more than 10000000 bytes, the most that can be handled"},
        FailureCase{"MissingInputDecompress", "decompress", {}, false, "cannot read"},
        FailureCase{"MissingInputCompress", "compress", {}, false, "cannot read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrsCli, FailureLeavesExistingOutputAlone) {
  TempDir dir;
  WriteFileBytes(dir / "bad.prs", FromHex("00 FF"));
  WriteFileBytes(dir / "out.bin", FromHex("AA BB"));
  const CliResult r = RunCli({"prs", "decompress", (dir / "bad.prs").string(), (dir / "out.bin").string()});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(ToHex(ReadFileBytes(dir / "out.bin")), "AA BB");
}

TEST(PrsCli, RefusesFilesLargerThanTheBuffer) {
  TempDir dir;
  for (const char* command : {"compress", "decompress"}) {
    {
      WriteFileBytes(dir / "big.bin", {});
      fs::resize_file(dir / "big.bin", static_cast<uintmax_t>(kBufferSize) + 1);  // sparse
    }
    const CliResult r = RunCli({"prs", command, (dir / "big.bin").string(), (dir / "out.bin").string()});
    EXPECT_NE(r.status, 0) << command;
    EXPECT_TRUE(Contains(r.err, "at most 10000000 bytes")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
  }
}

TEST(PrsCli, RefusesToWriteOverItsInput) {
  TempDir dir;
  const std::string in = (dir / "in.bin").string();
  WriteFileBytes(in, FromHex("61 62 63"));
  const CliResult r = RunCli({"prs", "compress", in, in});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot write " + in + ": it is the input file " + in + "\n");
  EXPECT_EQ(ToHex(ReadFileBytes(in)), "61 62 63");
}

}  // namespace
}  // namespace quarrendel::test
