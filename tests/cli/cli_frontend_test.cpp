#include "cli/cli_frontend.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quarrendel::cli {
namespace {

TEST(CliFrontEndTest, PlainMessagesAreNoticesInformationBoxesAreFailures) {
  std::ostringstream err;
  CliFrontEnd ui(err, false);
  ui.ShowMessage("This BML does'nt contain any images");
  EXPECT_FALSE(ui.Failed());
  ui.ShowInformation("This file is not suported.");
  EXPECT_TRUE(ui.Failed());
  EXPECT_EQ(err.str(), "This BML does'nt contain any images\nThis file is not suported.\n");
  ASSERT_EQ(ui.messages.size(), 2u);  // still recorded for the command to inspect
  EXPECT_EQ(ui.messages[1].kind, RecordingFrontEnd::MessageKind::Information);
}

TEST(CliFrontEndTest, ProgressIsDrawnOnlyWhenAskedAndEndsItsLine) {
  std::ostringstream quiet;
  CliFrontEnd off(quiet, false);
  off.SetProgress("Decompressing PVM #1 / 4", 4, 1);
  off.SetProgressVisible(false);
  EXPECT_EQ(quiet.str(), "");
  EXPECT_EQ(off.progress.size(), 1u);

  std::ostringstream tty;
  CliFrontEnd on(tty, true);
  on.SetProgress("Decompressing PVM #1 / 4", 4, 1);
  on.SetProgress("Decompressing GVM #2 / 4", 4, 2);
  on.ShowMessage("done");
  EXPECT_EQ(tty.str(), "\rDecompressing PVM #1 / 4\33[K\rDecompressing GVM #2 / 4\33[K\ndone\n");
}


}  // namespace
}  // namespace quarrendel::cli
