#include <gtest/gtest.h>

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

TEST(Cli, UnknownArgumentsFail) {
  auto r = test::RunCli({"--no-such-option"});
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(r.err.empty());
}

}  // namespace
}  // namespace quarrendel
