#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/cli_app.h"
#include "tests/support/test_util.h"

namespace quarrendel {
namespace {

TEST(Cli, VersionAndHelp) {
  auto v = test::RunCli({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("quarrendel-cli ") + QUARRENDEL_VERSION + "\n");
  auto h = test::RunCli({"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("Usage: quarrendel-cli"), std::string::npos);
}

TEST(Cli, UsageErrorsExitTwoAndPointToHelp) {
  const std::vector<std::vector<std::string>> rows{
      {"nosuch"}, {"--bogus"}, {"list"}, {"list", "a", "b"}, {"info", "a"}, {"prs"}, {"prs", "compress", "only-one"},
      {"decode", "a", "0"}};
  for (const auto& args : rows) {
    const auto r = test::RunCli(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "");
    const std::string tail = "\nRun with --help for more information.\n";
    EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), tail.size())), tail) << r.err;
  }
  // FILE is every kind that loads.
  EXPECT_NE(test::RunCli({"list", "--help"}).out.find("a BML package, or any of them PRS-compressed"),
            std::string::npos);
}

// Fails every write, as a full disk does.
struct FullBuffer : std::streambuf {
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(Cli, LostOutputIsAnError) {
  const std::string sample = std::string(QUARRENDEL_SOURCE_DIR) + "/samples/sample.pvm";
  FullBuffer full;
  std::ostream out(&full);
  std::ostringstream err;
  const char* argv[] = {"quarrendel-cli", "list", sample.c_str()};
  EXPECT_EQ(cli::RunCli(3, argv, out, err), 1);
  EXPECT_EQ(err.str(), "cannot write standard output: write error\n");
}

// The program itself, its standard output a full device made for the test.
TEST(Cli, LostStandardOutputNamesTheReason) {
  if (::geteuid() != 0) GTEST_SKIP() << "making device nodes needs root";
  test::TempDir dir;
  const std::string full = (dir / "full").string();
  ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  const std::string command = std::string(QUARRENDEL_CLI_PATH) + " list " + QUARRENDEL_SOURCE_DIR +
                              "/samples/sample.pvm > " + full + " 2> " + (dir / "err.txt").string();
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const auto err = test::ReadFileBytes(dir / "err.txt");
  EXPECT_EQ(std::string(err.begin(), err.end()), "cannot write standard output: No space left on device\n");
}

}  // namespace
}  // namespace quarrendel
