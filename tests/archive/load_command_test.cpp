#include "archive/load_command.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/archive/archive_bytes.h"

namespace quarrendel::archive {
namespace {

using test::Bytes;
using test::FromHex;
using Kind = RecordingFrontEnd::MessageKind;

struct LoadCommandTest : ::testing::Test {
  std::unique_ptr<ImageStore> owned = std::make_unique<ImageStore>();
  ImageStore& store = *owned;
  RecordingFrontEnd ui;
  test::TempDir dir;

  std::string Write(const std::string& name, const Bytes& bytes) {
    const auto path = dir / name;
    test::WriteFileBytes(path, bytes);
    return path.string();
  }
  void Choose(const std::string& path) { ui.fileChoices.push_back(FileChoice{path, 1}); }
};

TEST_F(LoadCommandTest, LoadsAPvmAndDescribesIt) {
  const std::string path = Write("stage.pvm", test::PvmTwoTextures());
  Choose(path);
  ui.progressVisible = true;
  LoadCommand(store, ui);
  EXPECT_EQ(ui.dialogsAsked, std::vector<DialogId>{DialogId::OpenDialog1});
  EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));
  EXPECT_EQ(ui.label, "2 Images");
  EXPECT_FALSE(ui.progressVisible);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(store.loadedFileName, path);
  EXPECT_EQ(store.loadDirectory, dir.Path().string() + "/");
  EXPECT_EQ(store.pvrFamily, 1);
}

TEST_F(LoadCommandTest, CancelRefreshesTheLabelAndKeepsEverything) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  ui.label = "stale";
  store.packageMode = 1;
  LoadCommand(store, ui);  // no choice queued: the user cancels
  EXPECT_EQ(ui.label, "2 Images");
  EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));
  EXPECT_EQ(store.packageMode, 1);
  EXPECT_EQ(store.pvrFamily, 1);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(LoadCommandTest, UnrecognisedFileAfterALoadClearsTheListOnly) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  store.bmlFlag = 1;
  store.packageMode = 1;
  struct Row {
    const char* name;
    Bytes bytes;
  };
  // "AFS" needs a zero fourth byte; magics are compared whole.
  for (const Row& row : {Row{"x.afs", FromHex("41465358 00000000")}, Row{"x.bin", FromHex("50564D")},
                         Row{"x.pvm", FromHex("50564D58 00000000 00000000")}}) {
    ui.messages.clear();
    LoadFile(store, ui, Write(row.name, row.bytes));
    ASSERT_EQ(ui.messages.size(), 1u) << row.name;
    EXPECT_EQ(ui.messages[0].kind, Kind::Information);
    EXPECT_EQ(ui.messages[0].text, "This file is not suported.");
    EXPECT_TRUE(ui.list.empty());
    EXPECT_EQ(ui.label, "2 Images");
    EXPECT_EQ(store.imageCount, 2);
    EXPECT_EQ(store.images[0].Name, "wall");
    EXPECT_EQ(store.pvrFamily, 0);
    EXPECT_EQ(store.bmlFlag, 0);
    EXPECT_EQ(store.packageMode, 0);
  }
}

TEST_F(LoadCommandTest, GvmFileAfterAPvmClearsThePvrFamilyFlag) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  ASSERT_EQ(store.pvrFamily, 1);
  LoadFile(store, ui, Write("a.gvm", test::GvmTwoTextures()));
  EXPECT_EQ(store.pvrFamily, 0);
  EXPECT_EQ(store.images[0].Width, 256);
  EXPECT_EQ(ui.label, "2 Images");
}

TEST_F(LoadCommandTest, XvmFileNamesImagesByIndex) {
  LoadFile(store, ui, Write("a.xvm", test::XvmTwoTextures()));
  EXPECT_EQ(ui.list, (std::vector<std::string>{"Image 0", "Image 1"}));
  EXPECT_EQ(ui.label, "2 Images");
}

TEST_F(LoadCommandTest, RejectedArchiveIsReportedAndLeavesTheCount) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  LoadFile(store, ui, Write("big.pvm", FromHex("50564D48 04000000 0901 8A13")));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].kind, Kind::Information);
  EXPECT_NE(ui.messages[0].text.find("5002"), std::string::npos) << ui.messages[0].text;
  EXPECT_EQ(ui.label, "2 Images");
  EXPECT_TRUE(ui.list.empty());
}

TEST_F(LoadCommandTest, FileWithoutSeparatorHasEmptyLoadDirectory) {
  // The name does not exist: it reads as no bytes, and an empty magic has no reader yet.
  LoadFile(store, ui, "missing-file.pvm");
  EXPECT_EQ(store.loadDirectory, "");
  EXPECT_EQ(store.loadedFileName, "missing-file.pvm");
  EXPECT_EQ(ui.label, "0 Images");
}

}  // namespace
}  // namespace quarrendel::archive
