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

TEST(SaveNamesTest, FilterIndexTable) {
  struct Row {
    int32_t index;
    bool afs;
    PackageArchiveKind kind;
    AfsPlatform platform;
    const char* extension;
  };
  const Row rows[] = {
      {1, false, PackageArchiveKind::Pvm, AfsPlatform::Pc, ".pvm"},
      {2, false, PackageArchiveKind::Xvm, AfsPlatform::Pc, ".xvm"},
      {3, true, PackageArchiveKind::None, AfsPlatform::Pc, ".afs"},
      {4, true, PackageArchiveKind::None, AfsPlatform::Xbox, ".afs"},
      {5, false, PackageArchiveKind::Gvm, AfsPlatform::Pc, ".gvm"},
      {6, true, PackageArchiveKind::None, AfsPlatform::Gc, ".afs"},
  };
  for (const Row& row : rows) {
    const auto target = SaveTargetOf(row.index);
    ASSERT_TRUE(target.has_value()) << row.index;
    EXPECT_EQ(target->afs, row.afs) << row.index;
    if (row.afs) {
      EXPECT_EQ(target->platform, row.platform) << row.index;
    } else {
      EXPECT_EQ(target->kind, row.kind) << row.index;
    }
    EXPECT_EQ(target->extension, row.extension) << row.index;
  }
  EXPECT_FALSE(SaveTargetOf(0).has_value());
  EXPECT_FALSE(SaveTargetOf(7).has_value());
}

}  // namespace
}  // namespace quarrendel::archive
