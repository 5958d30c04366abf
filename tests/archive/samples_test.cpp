#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "archive/load_command.h"
#include "tests/support/recording_frontend.h"
#include "tests/support/test_util.h"
#include "tools/sample_archives.h"

namespace quarrendel {
namespace {

const std::filesystem::path kSamples = std::filesystem::path(QUARRENDEL_SOURCE_DIR) / "samples";

TEST(SamplesTest, CommittedSamplesEqualTheGeneratorsOutput) {
  const auto samples = tools::MakeSamples();
  ASSERT_EQ(samples.size(), 6u);
  for (const auto& sample : samples) {
    const auto path = kSamples / sample.name;
    ASSERT_TRUE(std::filesystem::exists(path)) << path << ": run make_samples " << kSamples;
    EXPECT_TRUE(test::ReadFileBytes(path) == sample.bytes)
        << sample.name << " differs from what make_samples writes now; run make_samples " << kSamples;
  }
}

TEST(SamplesTest, SamplesLoadWithTheirNames) {
  struct Row {
    const char* file;
    std::vector<std::string> list;
    uint8_t pvrFamily;
  };
  const std::vector<std::string> pvm{"gradient_rgb565", "checker_disc_argb4444", "letters_twiddled_argb1555"};
  const std::vector<std::string> gvm{"gc_gradient_rgb5a3", "gc_letters_rgb5a3"};
  const Row rows[] = {
      {"sample.pvm", pvm, 1},
      {"sample.gvm", gvm, 0},
      {"sample.xvm", {"Image 0", "Image 1"}, 0},
      {"sample.afs", {pvm[0], pvm[1], pvm[2], "XVM 1 , Image 0", "XVM 1 , Image 1", gvm[0], gvm[1]}, 1},
      {"sample.bml", {pvm[0], pvm[1], pvm[2], pvm[0], pvm[1], pvm[2]}, 1},
      {"sample_xvm.prs", {"Image 0", "Image 1"}, 0},
  };
  auto store = std::make_unique<ImageStore>();
  for (const Row& row : rows) {
    RecordingFrontEnd ui;
    archive::LoadFile(*store, ui, (kSamples / row.file).string());
    EXPECT_TRUE(ui.messages.empty()) << row.file;
    EXPECT_EQ(ui.list, row.list) << row.file;
    EXPECT_EQ(ui.label, std::to_string(row.list.size()) + " Images");
    EXPECT_EQ(store->pvrFamily, row.pvrFamily) << row.file;
  }
}

}  // namespace
}  // namespace quarrendel
