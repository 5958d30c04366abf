#include "archive/save_names.h"

#include <gtest/gtest.h>

namespace quarrendel::archive {
namespace {

TEST(SaveNamesTest, ForcedExtensionsAndThePrsTest) {
  struct Row {
    const char* chosen;
    const char* extension;
    const char* forced;
    bool prs;
  };
  const Row rows[] = {
      {"stage", ".gvm", "stage.gvm", false},
      {"level.afs", ".pvm", "level.pvm", false},
      {"/tmp/out/stage.prs", ".pvm", "/tmp/out/stage.pvm", true},
      {"STAGE.PRS", ".prs", "STAGE.prs", true},  // the wrapped file's name
      {"a.b.Prs", ".xvm", "a.b.xvm", true},
      {"dir.v2/stage", ".afs", "dir.v2/stage.afs", false},  // a dot in a folder name is no extension
      {"dir/stage.", ".pvm", "dir/stage.pvm", false},
      {"stage.prs.pvm", ".pvm", "stage.prs.pvm", false},
      {"prs", ".pvm", "prs.pvm", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ForceExtension(row.chosen, row.extension), row.forced) << row.chosen;
    EXPECT_EQ(HasPrsExtension(row.chosen), row.prs) << row.chosen;
  }
}

}  // namespace
}  // namespace quarrendel::archive
