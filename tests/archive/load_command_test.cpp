#include "archive/load_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <memory>
#include <unistd.h>

#include "archive/archive_writer.h"
#include "core/mapped_file.h"
#include "prs/prs.h"
#include "texture/image_selection.h"

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

// Files refused after an earlier load: one information message says why; the
// list, the label, the images and the flags stay those of the earlier load.
TEST_F(LoadCommandTest, RefusedFilesLeaveTheListAndTheStoreAsTheyWere) {
  const std::string fifo = (dir / "pipe.pvm").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: reading it would wait forever
  Bytes bigPrs(10'000'001, 0);
  bigPrs[0] = 0xFF;
  const std::string notSupported = "This file is not suported.";
  struct Row {
    std::string path;
    std::string message;
    bool whole;  // the message is the whole text, not a part of it
  };
  const Row rows[] = {
      // "AFS" needs a zero fourth byte; magics are compared whole.
      {Write("x.afs", FromHex("41465358 00000000")), notSupported, true},
      {Write("x.bin", FromHex("50564D")), notSupported, true},
      {Write("x.pvm", FromHex("50564D58 00000000 00000000")), notSupported, true},
      {Write("big.pvm", FromHex("50564D48 04000000 0901 8A13")), "5002", false},  // more images than the table
      {Write("big.prs", bigPrs), "10000001", false},  // over the buffer: rejected, not truncated
      // Single texture files of no known kind or cut short.
      {Write("x1.pvr", FromHex("47424958 08000000 34120000 00000000 58585858 0A000000")), notSupported, true},
      {Write("x2.gvr", FromHex("47434958 08000000")), "cut short", false},
      {Write("x3.pvr", FromHex("47424958 08000000 34120000 00000000 50565254 20000000 00010000 0400")), "cut short",
       false},
      {Write("x4.pvr", FromHex("50565254 20000000 00010000 0400 0400 0000")), "cut short", false},
      {Write("x5.pvr", FromHex("50565254 04000000 00010000 0400 0400")), "shorter than its header", false},
      {Write("x6.xvr", Cat({FromHex("58565254 40000000 01000000 06000000 EFBE0000 0400 0400 09000000"), Bytes(44, 0)})),
       "cut short", false},
      // Folders and FIFOs, refused without reading.
      {dir.Path().string(), "cannot read " + dir.Path().string() + ": Is a directory", true},
      {fifo, "cannot read " + fifo + ": not a regular file", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
    store.bmlFlag = 1;
    store.packageMode = 1;
    ui.messages.clear();
    LoadFile(store, ui, row.path);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].kind, Kind::Information);
    if (row.whole) {
      EXPECT_EQ(ui.messages[0].text, row.message);
    } else {
      EXPECT_NE(ui.messages[0].text.find(row.message), std::string::npos) << ui.messages[0].text;
    }
    EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));
    EXPECT_EQ(ui.label, "2 Images");
    EXPECT_EQ(store.imageCount, 2);
    EXPECT_EQ(store.images[0].Name, "wall");
    EXPECT_EQ(store.images[0].DataLength, 4);
    EXPECT_EQ(store.pvrFamily, 1);
    EXPECT_EQ(store.bmlFlag, 1);
    EXPECT_EQ(store.packageMode, 1);
    EXPECT_EQ(store.loadedFileName, (dir / "a.pvm").string());
  }
}

TEST_F(LoadCommandTest, FileWithoutSeparatorHasEmptyLoadDirectory) {
  // The name does not exist: it reads as no bytes, whose empty magic goes to the
  // BML reader, which rejects it and ends the command before the label
  // refresh; the refused file leaves the store's names as they were.
  ui.label = "untouched";
  store.loadedFileName = "before.pvm";
  LoadFile(store, ui, "missing-file.pvm");
  EXPECT_EQ(store.loadDirectory, "");
  EXPECT_EQ(store.loadedFileName, "before.pvm");
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
    // The panel a package read showed ends with the command.
    EXPECT_FALSE(ui.progressVisible) << row.name;
  }
}

TEST_F(LoadCommandTest, BmlWithoutImagesIsANoticeAndRefreshesTheLabel) {
  LoadFile(store, ui, Write("empty.bml", test::BmlWithoutArchives()));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].kind, Kind::Plain);
  EXPECT_EQ(ui.messages[0].text, "This BML does'nt contain any images");
  EXPECT_EQ(ui.label, "0 Images");
  EXPECT_EQ(store.bmlFlag, 1);
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

// Single texture files, every byte spelled out:
//  GBIX (length 8, index 0x1234 LE) + PVRT: 4 x 2 twiddled rectangle ARGB1555, 16 data bytes
//  GCIX (index 0x1234 BE) + GVRT: bytes 8-11 00 00 00 0E (CMPR), 8 x 8 BE, 4 data bytes
//  GBIX with a 4-byte body (index 0x0BADF00D BE) + GVRT: pixel byte 0A, data format 08, 16 x 16
//  bare PVRT: 1 x 1 rectangle RGB565
//  XVRT: flags 1, format code 6, index 0xBEEF, 4 x 4, 8 data bytes
const Bytes kGbixPvrt = FromHex(
    "47424958 08000000 34120000 00000000 50565254 18000000 000D0000 0400 0200"
    "0080 0080 0080 0080 1F00 1F00 1F00 1F00");
const Bytes kGcixGvrt = FromHex("47434958 08000000 00001234 00000000 47565254 0C000000 0000000E 0008 0008 AABBCCDD");
const Bytes kGbix4Gvrt = FromHex("47424958 04000000 0BADF00D 47565254 0A000000 00000A08 0010 0010 1234");
const Bytes kBarePvrt = FromHex("50565254 0A000000 01090000 0100 0100 00F8");
const Bytes kXvrt = Cat({FromHex("58565254 40000000 01000000 06000000 EFBE0000 0400 0400 08000000"), Bytes(36, 0),
                         FromHex("0001020304050607")});

TEST_F(LoadCommandTest, SingleTextureFilesLoadAsOneImage) {
  struct Row {
    const char* file;
    Bytes bytes;
    const char* name;
    uint16_t width, height;
    uint32_t format, globalIndex;
    int32_t dataLength;
    uint8_t pvrFamily;
  };
  const Row rows[] = {
      {"wall.pvr", kGbixPvrt, "wall", 4, 2, 0x0D00, 0x1234, 16, 1},
      {"wall.gvr", kGcixGvrt, "wall", 8, 8, 0x0E00, 0x1234, 4, 0},
      {"ci4.GVR", kGbix4Gvrt, "ci4", 16, 16, 0x080A, 0x0BADF00D, 2, 0},
      {"dot.pvr", kBarePvrt, "dot", 1, 1, 0x0901, 0, 2, 1},
      {"Sky.xvr", kXvrt, "Sky", 4, 4, 0x0601, 0xBEEF, 8, 0},
      {"wall.pvr.prs", prs::Compress(kGbixPvrt), "wall", 4, 2, 0x0D00, 0x1234, 16, 1},
      {"sky.prs", prs::Compress(kXvrt), "sky", 4, 4, 0x0601, 0xBEEF, 8, 0},
  };
  for (const Row& r : rows) {
    // After an archive with more images, whose PVR-family flag was set.
    LoadFile(store, ui, Write("a.pvm", test::PvmTwoTextures()));
    store.images[0].PackageIndex = 9;
    ui.fileChoices.push_back(FileChoice{Write(r.file, r.bytes), 7});
    LoadCommand(store, ui);
    EXPECT_TRUE(ui.messages.empty()) << r.file << ": " << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_EQ(ui.list, std::vector<std::string>{r.name}) << r.file;
    EXPECT_EQ(ui.label, "1 Images") << r.file;
    EXPECT_EQ(store.imageCount, 1);
    const TImage_Entry& e = store.images[0];
    EXPECT_EQ(e.Name, r.name);
    EXPECT_EQ(e.Width, r.width) << r.file;
    EXPECT_EQ(e.Height, r.height) << r.file;
    EXPECT_EQ(e.Format, r.format) << r.file;
    EXPECT_EQ(e.GlobalIndex, r.globalIndex) << r.file;
    EXPECT_EQ(e.DataLength, r.dataLength) << r.file;
    EXPECT_EQ(e.PackageIndex, 0);
    EXPECT_EQ(store.pvrFamily, r.pvrFamily) << r.file;
    EXPECT_EQ(store.packageMode, 0);
    EXPECT_EQ(store.images[1].Name, "floor");  // entries beyond the count are left alone
  }
  // The bytes are the texture data as stored.
  const TImage_Entry& xvr = store.images[0];
  EXPECT_EQ(test::ToHex(Bytes(xvr.Data, xvr.Data + xvr.DataLength)), "00 01 02 03 04 05 06 07");
  EXPECT_EQ(std::string(kOpenDialog1Filter).substr(std::string(kOpenDialog1Filter).rfind("|Texture")),
            "|Texture files|*.pvr;*.gvr;*.xvr;*.prs");
}

TEST_F(LoadCommandTest, SingleTextureDecodesWithThePaletteBesideIt) {
  // 2 x 2 4-bit CLUT: byte 0x10 holds texel 0 (low nibble) and texel 1.
  // pal.pvp: 16 header bytes, then entry 0 = 0x801F (blue), entry 1 = 0xFC00 (red).
  Write("pal.pvp", Cat({Bytes(16, 0), FromHex("1F80 00FC")}));
  LoadFile(store, ui,
           Write("pal.pvr", FromHex("47424958 08000000 00000000 00000000 50565254 09000000 00050000 0200 0200 10")));
  ASSERT_EQ(ui.list, std::vector<std::string>{"pal"});
  const texture::Selection s = texture::SelectImage(store, 0);
  EXPECT_EQ(s.memo.back(), "4-BIT CLUT TWIDDLED ARGB1555");
  EXPECT_EQ(store.canvas(0, 0), 0xFFF80000u);
  EXPECT_EQ(store.canvas(0, 1), 0xFF0000F8u);
  EXPECT_EQ(store.canvas(1, 0), 0u);  // beyond the one data byte
}

// A PRS stream of literals only, eight to a control byte, without an end command.
Bytes Literals(const Bytes& plain) {
  Bytes stream;
  for (size_t k = 0; k < plain.size(); k += 8) {
    const size_t n = std::min<size_t>(8, plain.size() - k);
    stream.push_back(static_cast<uint8_t>((1u << n) - 1));
    stream.insert(stream.end(), plain.begin() + static_cast<long>(k), plain.begin() + static_cast<long>(k + n));
  }
  return stream;
}

// A PRS stream that unpacks to the 8-byte-aligned `plain` followed by more
// than 10,000,000 copies of its last byte: groups of control byte AA (bits
// 0,1 four times) and four long copies F8 FF FF (distance 1, 256 bytes).
Bytes PastTheBuffer(const Bytes& plain) {
  Bytes stream = Literals(plain);
  for (int group = 0; group < 10'000'000 / 1024 + 1; ++group) {
    stream.push_back(0xAA);
    for (int c = 0; c < 4; ++c) stream.insert(stream.end(), {0xF8, 0xFF, 0xFF});
  }
  return stream;
}

TEST_F(LoadCommandTest, LoadsThatStopShortSayHowFarTheyGot) {
  // The PVM's first texture ends at byte 100, the second at 118.
  const Bytes pvm = test::PvmTwoTextures();
  // The PVM padded to 120 bytes, its second chunk claiming 12,000,000 bytes of data.
  Bytes hugeSecond = pvm;
  hugeSecond.resize(120, 0);
  hugeSecond[104] = 0x08, hugeSecond[105] = 0x1B, hugeSecond[106] = 0xB7, hugeSecond[107] = 0x00;
  const Bytes literals = Literals(pvm);  // 15 groups: 14 of 9 bytes, then 7
  struct Row {
    const char* name;
    Bytes bytes;
    int32_t count;
    const char* message;
  };
  const Row rows[] = {
      {"cut.pvm", Bytes(pvm.begin(), pvm.begin() + 110), 1,
       "Only 1 of 2 images could be read: the file is damaged or incomplete."},
      // 13 groups: 104 bytes unpacked, between commands
      {"between.prs", Bytes(literals.begin(), literals.begin() + 117), 1,
       "Only 1 of 2 images could be read: the compressed data ends early."},
      // the next control byte, without the literal it announces
      {"inside.prs", Bytes(literals.begin(), literals.begin() + 118), 1,
       "Only 1 of 2 images could be read: the compressed data ends early."},
      {"no-end.prs", literals, 2, "The compressed data ends early: 2 images could be read."},
      {"huge.prs", PastTheBuffer(hugeSecond), 1,
       "Only 1 of 2 images could be read: the file unpacks to more than 10000000 bytes."},
      {"padded.prs", PastTheBuffer(Cat({pvm, Bytes(2, 0)})), 2,
       "The file unpacks to more than 10000000 bytes: 2 images could be read."},
  };
  for (const Row& row : rows) {
    ui.messages.clear();
    LoadFile(store, ui, Write(row.name, row.bytes));
    ASSERT_EQ(ui.messages.size(), 1u) << row.name;
    EXPECT_EQ(ui.messages[0].kind, Kind::Plain) << row.name;
    EXPECT_EQ(ui.messages[0].text, row.message) << row.name;
    EXPECT_EQ(ui.label, std::to_string(row.count) + " Images") << row.name;
    EXPECT_EQ(ui.ListCount(), row.count) << row.name;
    EXPECT_TRUE(store.loadIncomplete) << row.name;
  }
  // Every load starts its record afresh; bytes after the end command are ignored.
  Bytes whole = prs::Compress(pvm);
  whole.insert(whole.end(), {0x12, 0x34});
  ui.messages.clear();
  LoadFile(store, ui, Write("whole.prs", whole));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(store.loadIncomplete);
  EXPECT_EQ(ui.label, "2 Images");
}

// A file cut short while it is mapped would end the process with SIGBUS; it
// loads as a damaged file instead (in a child process, should it not).
TEST_F(LoadCommandTest, AFileCutShortWhileItIsReadIsADamagedFile) {
  // An XVM of ten 8192-byte textures, too large to be read whole: the second
  // one's data runs from 8384 to 16576.
  test::ImageList list;
  for (int i = 0; i < 10; ++i) list.Add("t", Bytes(8192, static_cast<uint8_t>(0x11 * (i + 1))), 0, 0x0600, 128);
  const std::string path = Write("cut.xvm", BuildArchiveFile(PackageArchiveKind::Xvm, list.images));
  EXPECT_EXIT(
      {
        const MappedFile file(path);
        const bool cut = ::truncate(path.c_str(), 12288) == 0;  // three pages are left
        const Outcome outcome = LoadContents(store, ui, path, file.Bytes(), file);
        const bool kept = store.images[0].Bytes()[8191] == 0x11 && store.images[1].Bytes()[3903] == 0x22 &&
                          store.images[1].Bytes()[3904] == 0;
        const bool told = ui.messages.size() == 1 &&
                          ui.messages[0].text == "The file is damaged or incomplete: 10 images could be read.";
        std::_Exit(cut && file.CutWhileRead() && outcome.status == Status::Incomplete && kept && told ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(LoadCommandTest, FullPoolsEndTheLoadThroughTheCallerWithTheFilledEntriesCounted) {
  // Pools of 16 map entries. An earlier load's 4 bytes hold first-pool entries
  // 1..2; 3000 bytes need 9 free entries in a row there (taking 7) or 7 in
  // the second pool (taking 5). Member 0 takes first-pool entries 4..10,
  // member 1 second-pool 1..5, member 2 (after entry 2's old block is
  // released) second-pool 7..11, and member 3 finds no room.
  auto tiny = std::make_unique<ImageStore>(16);
  const Bytes data(3000, 0x5A);
  tiny->FillEntryData(2, Bytes{1, 2, 3, 4});
  tiny->images[3].DataLength = 77;  // a stale length the failed fill must clear
  std::vector<Bytes> members;
  for (int i = 0; i < 5; ++i) {
    Bytes m = FromHex("47424958 04000000 07000000 50565254 C00B0000 01090000 1000 1000");
    m.insert(m.end(), data.begin(), data.end());
    members.push_back(m);
  }
  Bytes afs(524'288, 0);
  {
    const Bytes head = FromHex("41465300 05000000");
    std::copy(head.begin(), head.end(), afs.begin());
    for (size_t i = 0; i < members.size(); ++i) {
      const size_t at = afs.size();
      for (int b = 0; b < 4; ++b) {
        afs[8 + 8 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(at >> (8 * b));
        afs[12 + 8 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(members[i].size() >> (8 * b));
      }
      afs.insert(afs.end(), members[i].begin(), members[i].end());
      afs.resize((afs.size() + 2047) / 2048 * 2048, 0);
    }
  }
  ui.label = "old";
  try {
    LoadFile(*tiny, ui, Write("full.afs", afs));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::PoolFull);
    EXPECT_STREQ(e.what(), "Memory Buffer is full");
  }
  EXPECT_EQ(tiny->imageCount, 3);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"Image 0", "Image 1", "Image 2"}));
  EXPECT_EQ(tiny->images[2].DataLength, 3000);
  EXPECT_EQ(tiny->images[3].Data, nullptr);
  EXPECT_EQ(tiny->images[3].DataLength, 0);
  EXPECT_TRUE(tiny->loadIncomplete);
  EXPECT_EQ(ui.label, "old");  // the command ended where it stood
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace quarrendel::archive
