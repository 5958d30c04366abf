#include "archive/load_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "prs/prs.h"

#include "tests/archive/archive_bytes.h"

namespace quarrendel::archive {
namespace {

using test::Bytes;
using test::Cat;
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
  // The name does not exist: it reads as no bytes, whose empty magic goes to the
  // BML reader, which rejects it and ends the command before the label refresh.
  ui.label = "untouched";
  LoadFile(store, ui, "missing-file.pvm");
  EXPECT_EQ(store.loadDirectory, "");
  EXPECT_EQ(store.loadedFileName, "missing-file.pvm");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Unsuported or invalide BML file");
  EXPECT_EQ(ui.label, "untouched");
}

TEST_F(LoadCommandTest, PrsFilesAreUnwrappedWhateverTheCaseOfTheExtension) {
  for (const char* name : {"stage.prs", "STAGE.PRS", "stage.Prs"}) {
    ui.messages.clear();
    LoadFile(store, ui, Write(name, prs::Compress(test::XvmTwoTextures())));
    EXPECT_EQ(ui.list, (std::vector<std::string>{"Image 0", "Image 1"})) << name;
    EXPECT_EQ(ui.label, "2 Images");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(store.loadedFileName, (dir / name).string());
  }
  // Without the extension the same bytes are not recognised.
  LoadFile(store, ui, Write("stage.prs.bak", prs::Compress(test::XvmTwoTextures())));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "This file is not suported.");
}

TEST_F(LoadCommandTest, PrsHoldingAnAfsIsReadAsAnAfsAndLeavesNoFileBehind) {
  // One AFS member: a 12-byte GBIX chunk and a PVRT texture.
  Bytes afs(524'288 + 32, 0);
  const Bytes head = FromHex("41465300 01000000 00000800 20000000");
  std::copy(head.begin(), head.end(), afs.begin());
  const Bytes member = FromHex("47424958 04000000 07000000 50565254 0C000000 01090000 0200 0200 AABBCCDD");
  std::copy(member.begin(), member.end(), afs.begin() + 524'288);
  const auto before = std::distance(std::filesystem::directory_iterator(dir.Path()), {});
  LoadFile(store, ui, Write("pack.prs", prs::Compress(afs)));
  EXPECT_EQ(ui.list, std::vector<std::string>{"Image 0"});
  EXPECT_EQ(ui.label, "1 Images");
  EXPECT_EQ(store.images[0].GlobalIndex, 7u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), before + 1);
}

TEST_F(LoadCommandTest, PackageFailuresEndTheCommandWithoutALabelRefresh) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  ui.progressVisible = true;
  struct Row {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  const Row rows[] = {
      {"bad.bml", FromHex("00000000 00010000 50"), "Unsuported or invalide BML file"},
      {"bad.afs", Cat({FromHex("41465300 01000000 10000000 10000000"), FromHex("50565254 0C000000 01090000 0200 0200")}),
       "Unsuported file are include in this package, Can't load this file. "}};
  for (const Row& row : rows) {
    ui.messages.clear();
    ui.label = "2 Images (old)";
    LoadFile(store, ui, Write(row.name, row.bytes));
    ASSERT_EQ(ui.messages.size(), 1u) << row.name;
    EXPECT_EQ(ui.messages[0].kind, Kind::Information);
    EXPECT_EQ(ui.messages[0].text, row.message);
    EXPECT_EQ(ui.label, "2 Images (old)") << row.name;
    EXPECT_TRUE(ui.progressVisible) << row.name;
  }
}

TEST_F(LoadCommandTest, BmlWithoutImagesIsANoticeAndRefreshesTheLabel) {
  // A valid header with one entry that carries no texture archive.
  Bytes bml(2048 + 32, 0);
  const Bytes head = FromHex("00000000 01000000 50");
  std::copy(head.begin(), head.end(), bml.begin());
  bml[64 + 32] = 4;  // S1 = 4, S2 = 0
  LoadFile(store, ui, Write("empty.bml", bml));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].kind, Kind::Plain);
  EXPECT_EQ(ui.messages[0].text, "This BML does'nt contain any images");
  EXPECT_EQ(ui.label, "0 Images");
  EXPECT_EQ(store.bmlFlag, 1);
}

TEST_F(LoadCommandTest, OversizedPrsFileIsRejectedNotTruncated) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  Bytes big(10'000'001, 0);
  big[0] = 0xFF;
  LoadFile(store, ui, Write("big.prs", big));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].kind, Kind::Information);
  EXPECT_NE(ui.messages[0].text.find("10000001"), std::string::npos) << ui.messages[0].text;
  EXPECT_EQ(ui.label, "2 Images");
  EXPECT_TRUE(ui.list.empty());
}

TEST_F(LoadCommandTest, CorruptPrsGoesOnWithTheBytesDecodedBeforeTheFault) {
  // The literals "PVMH" followed by a copy that reaches before the start.
  LoadFile(store, ui, Write("bad.prs", FromHex("0F 50 56 4D 48 00 00")));
  ASSERT_EQ(ui.messages.size(), 1u);
  // "PVMH" alone is a header cut short: the PVM reader reports it.
  EXPECT_EQ(ui.messages[0].kind, Kind::Information);
  EXPECT_NE(ui.messages[0].text, "This file is not suported.");
  EXPECT_EQ(ui.label, "0 Images");
}

TEST_F(LoadCommandTest, FolderReadsAsAnEmptyFile) {
  LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
  ui.messages.clear();
  LoadFile(store, ui, dir.Path().string());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.label, "2 Images");
  EXPECT_TRUE(ui.list.empty());
}

}  // namespace
}  // namespace quarrendel::archive
