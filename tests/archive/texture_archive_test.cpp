#include "archive/texture_archive.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <vector>

#include "core/error.h"
#include "tests/archive/archive_bytes.h"

namespace quarrendel::archive {
namespace {

using test::Bytes;
using test::Cat;
using test::FromHex;
using test::Padded;
using test::ToHex;

struct Fixture : ::testing::Test {
  std::unique_ptr<ImageStore> owned = std::make_unique<ImageStore>();
  ImageStore& store = *owned;
  RecordingFrontEnd ui;

  std::string DataHex(int32_t i) {
    const auto b = store.images[static_cast<size_t>(i)].Bytes();
    return ToHex(Bytes(b.begin(), b.end()));
  }
  const TImage_Entry& At(int32_t i) { return store.images[static_cast<size_t>(i)]; }
};

using PvmFileTest = Fixture;

TEST_F(PvmFileTest, FlagsOneNineReadsThirtyFourByteEntries) {
  const Bytes file = test::PvmTwoTextures();
  EXPECT_EQ(test::PvmFile(store, ui, file), 2);
  EXPECT_EQ(store.imageCount, 2);
  EXPECT_EQ(store.pvrFamily, 1);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));

  EXPECT_EQ(At(0).Name, "wall");
  EXPECT_EQ(At(0).GlobalIndex, 0x11223344u);
  EXPECT_EQ(At(0).Format, 0x00000901u);
  EXPECT_EQ(At(0).Width, 2);
  EXPECT_EQ(At(0).Height, 2);
  EXPECT_EQ(At(0).DataLength, 4);
  EXPECT_EQ(DataHex(0), "AA BB CC DD");

  EXPECT_EQ(At(1).Name, "floor");
  EXPECT_EQ(At(1).GlobalIndex, 0x12345678u);
  EXPECT_EQ(At(1).Format, 0xCDAB0100u);  // all four bytes of the word at chunk offset 8
  EXPECT_EQ(At(1).Width, 4);
  EXPECT_EQ(At(1).Height, 8);
  EXPECT_EQ(DataHex(1), "EE FF");
}

TEST_F(PvmFileTest, FlagsByteOFHasThirtyEightByteEntriesIndexLast) {
  // Flags 0x010F: entry slot 01 02 03 04 is format/dimension bytes, the index follows.
  const Bytes file = Cat({FromHex("50564D48 2A000000 0F01 0100 0000"), Padded("pole", 28),
                          FromHex("01020304 BEBAFECA"), FromHex("50565254 09000000 00010000 0800 0800 77")});
  EXPECT_EQ(test::PvmFile(store, ui, file), 1);
  EXPECT_EQ(At(0).Name, "pole");
  EXPECT_EQ(At(0).GlobalIndex, 0xCAFEBABEu);
  EXPECT_EQ(DataHex(0), "77");
}

TEST_F(PvmFileTest, FlagsByteOtherThanOFKeepsShortEntries) {
  // Flags byte 0x1F: the file reader's test is for 0x0F exactly.
  const Bytes file = Cat({FromHex("50564D48 26000000 1F00 0100 0000"), Padded("x", 28), FromHex("04030201"),
                          FromHex("50565254 09000000 00010000 0800 0800 77")});
  EXPECT_EQ(test::PvmFile(store, ui, file), 1);
  EXPECT_EQ(At(0).GlobalIndex, 0x01020304u);
}

TEST_F(PvmFileTest, SkipsGbixChunksAndOtherChunksByLength) {
  const Bytes file = Cat({FromHex("50564D48 48000000 0901 0200"), FromHex("0000"), Padded("a", 28),
                          FromHex("01000000 0100"), Padded("b", 28), FromHex("02000000"),
                          FromHex("47424958 08000000 01000000 00000000"),
                          FromHex("50565254 09000000 01090000 0100 0100 A1"),
                          FromHex("47424958 08000000 02000000 00000000"),
                          FromHex("4D444C4E 03000000 C0FFEE"),  // any other chunk
                          FromHex("50565254 0A000000 02090000 0200 0200 B1B2")});
  EXPECT_EQ(test::PvmFile(store, ui, file), 2);
  EXPECT_EQ(DataHex(0), "A1");
  EXPECT_EQ(DataHex(1), "B1 B2");
  EXPECT_EQ(At(1).Format, 0x0902u);
}

TEST_F(PvmFileTest, NameRunsToFirstZeroAndAtMostTwentyEightCharacters) {
  Bytes longName(28, 'n');
  const Bytes file = Cat({FromHex("50564D48 26000000 0901 0100 0000"), longName, FromHex("00000000"),
                          FromHex("50565254 08000000 00010000 0000 0000")});
  EXPECT_EQ(test::PvmFile(store, ui, file), 1);
  EXPECT_EQ(At(0).Name, std::string(28, 'n'));
  EXPECT_EQ(At(0).DataLength, 0);
}

using GvmFileTest = Fixture;

TEST_F(GvmFileTest, BigEndianFieldsAndConvertedFormat) {
  const Bytes file = test::GvmTwoTextures();
  EXPECT_EQ(test::GvmFile(store, ui, file), 2);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));
  EXPECT_EQ(At(0).GlobalIndex, 0x11223344u);  // same number as the PVM stores little-endian
  EXPECT_EQ(At(0).Width, 256);
  EXPECT_EQ(At(0).Height, 16);
  EXPECT_EQ(At(0).Format, 0x34120508u);  // bytes 10, 11, 8, 9
  EXPECT_EQ(DataHex(0), "AA BB CC DD");
  EXPECT_EQ(At(1).GlobalIndex, 0x12345678u);
  EXPECT_EQ(At(1).Format, 0x00000901u);
  EXPECT_EQ(At(1).Width, 8);
  EXPECT_EQ(DataHex(1), "EE FF");
}

TEST_F(GvmFileTest, LeavesPvrFamilyFlagAsItWas) {
  for (uint8_t before : {uint8_t{0}, uint8_t{1}}) {
    store.pvrFamily = before;
    test::GvmFile(store, ui, test::GvmTwoTextures());
    EXPECT_EQ(store.pvrFamily, before);
  }
}

TEST_F(GvmFileTest, FlagsByteNineOFReadsTrailingBigEndianIndex) {
  const Bytes file = Cat({FromHex("47564D48 2A000000 010F 0001 0000"), Padded("g", 28),
                          FromHex("AAAAAAAA 00ABCDEF"), FromHex("47565254 09000000 00000100 0008 0008 55")});
  EXPECT_EQ(test::GvmFile(store, ui, file), 1);
  EXPECT_EQ(At(0).GlobalIndex, 0x00ABCDEFu);
}

TEST_F(GvmFileTest, PvrtChunksAreNotTexturesOfAGvm) {
  Bytes file = test::GvmTwoTextures();
  file[80] = 'P';  // first chunk's magic becomes "PVRT"
  EXPECT_EQ(test::GvmFile(store, ui, file), 1);
  EXPECT_EQ(At(0).Name, "wall");
  EXPECT_EQ(DataHex(0), "EE FF");
}

using XvmFileTest = Fixture;

TEST_F(XvmFileTest, NamesImagesByIndexAndStepsByChunkLength) {
  store.pvrFamily = 0;
  EXPECT_EQ(test::XvmFile(store, ui, test::XvmTwoTextures()), 2);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"Image 0", "Image 1"}));
  EXPECT_EQ(At(0).Name, "Image 0");
  EXPECT_EQ(At(0).Format, 0x0601u);
  EXPECT_EQ(At(0).GlobalIndex, 0xBEEFu);
  EXPECT_EQ(At(0).Width, 4);
  EXPECT_EQ(DataHex(0), "00 01 02 03 04 05 06 07");
  EXPECT_EQ(At(1).Name, "Image 1");
  EXPECT_EQ(At(1).Format, 0x0702u);
  EXPECT_EQ(At(1).Width, 8);
  EXPECT_EQ(At(1).Height, 4);
  EXPECT_EQ(DataHex(1), "11 22");
  EXPECT_EQ(store.pvrFamily, 0);
}

using InMemoryTest = Fixture;

TEST_F(InMemoryTest, PvmAppendsAtRunningIndexWithPackageIndexAndSixteenBitFormat) {
  EXPECT_EQ(test::PvmMemory(store, ui, test::PvmTwoTextures(), 7, 3, PackageCaller::Afs), 5);
  EXPECT_EQ(store.imageCount, 5);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));
  EXPECT_EQ(At(3).Name, "wall");
  EXPECT_EQ(At(3).PackageIndex, 7);
  EXPECT_EQ(At(4).PackageIndex, 7);
  EXPECT_EQ(At(4).Format, 0x0100u);  // bytes 10-11 of the chunk are dropped here
  EXPECT_EQ(At(4).GlobalIndex, 0x12345678u);
  EXPECT_EQ(DataHex(4), "EE FF");
  EXPECT_EQ(store.pvrFamily, 0);  // the package reader sets it, not this one
}

TEST_F(InMemoryTest, PvmTakesEveryChunkAsATextureGbixIncluded) {
  const Bytes archive = Cat({FromHex("50564D48 48000000 0901 0200"), FromHex("0000"), Padded("a", 28),
                             FromHex("01000000 0100"), Padded("b", 28), FromHex("02000000"),
                             FromHex("47424958 08000000 34120000 00000000"),
                             FromHex("50565254 09000000 01090000 0100 0100 A1")});
  EXPECT_EQ(test::PvmMemory(store, ui, archive, 0, 0, PackageCaller::Afs), 2);
  EXPECT_EQ(At(0).Name, "a");
  EXPECT_EQ(At(0).DataLength, 0);
  EXPECT_EQ(At(0).Format, 0x1234u);  // global index bytes read as the format
  EXPECT_EQ(At(1).Name, "b");
  EXPECT_EQ(At(1).Format, 0x0901u);
  EXPECT_EQ(DataHex(1), "A1");
}

TEST_F(InMemoryTest, PvmUsesOnlyLowSixteenBitsOfHeaderLength) {
  Bytes archive = test::PvmTwoTextures();
  archive[6] = 0x01;  // header length 0x00010048: a file reader would look at 0x10050
  EXPECT_EQ(test::PvmMemory(store, ui, archive, 0, 0, PackageCaller::Bml), 2);
  EXPECT_EQ(DataHex(1), "EE FF");
  EXPECT_EQ(test::PvmFile(store, ui, archive), 0);
}

// Flags byte 0x1F: the AFS variant wants 0x0F exactly, the BML variant only its low four bits.
TEST_F(InMemoryTest, PvmFlagsTestDependsOnCaller) {
  const Bytes archive = Cat({FromHex("50564D48 2A000000 1F00 0100 0000"), Padded("m", 28),
                             FromHex("01020304 0D0C0B0A 50565254 09000000 00010000 0800 0800 77")});
  struct Row {
    PackageCaller caller;
    uint32_t globalIndex;
  };
  for (const Row& row : {Row{PackageCaller::Bml, 0x0A0B0C0Du}, Row{PackageCaller::Afs, 0x04030201u}}) {
    ui.list.clear();
    test::PvmMemory(store, ui, archive, 0, 0, row.caller);
    EXPECT_EQ(At(0).GlobalIndex, row.globalIndex);
  }
}

TEST_F(InMemoryTest, PvmBmlVariantSkipsModelNameChunk) {
  const Bytes archive = Cat({FromHex("50564D48 26000000 0901 0100 0000"), Padded("t", 28), FromHex("00000000"),
                             FromHex("4D444C4E 04000000 01020304"),
                             FromHex("50565254 0A000000 01090000 0200 0200 ABCD")});
  EXPECT_EQ(test::PvmMemory(store, ui, archive, 2, 0, PackageCaller::Bml), 1);
  EXPECT_EQ(At(0).Format, 0x0901u);
  EXPECT_EQ(DataHex(0), "AB CD");
  // The AFS variant has no skip: the MDLN chunk's 4 bytes of length are taken
  // as a texture and its data (length 4 - 8) is impossible, so the walk ends.
  EXPECT_EQ(test::PvmMemory(store, ui, archive, 2, 0, PackageCaller::Afs), 0);
}

TEST_F(InMemoryTest, GvmBigEndianWithSixteenBitFormat) {
  EXPECT_EQ(test::GvmMemory(store, ui, test::GvmTwoTextures(), 4, 1, PackageCaller::Bml), 3);
  EXPECT_EQ(At(1).Name, "wall");
  EXPECT_EQ(At(1).Format, 0x0508u);
  EXPECT_EQ(At(1).Width, 256);
  EXPECT_EQ(At(1).Height, 16);
  EXPECT_EQ(At(1).GlobalIndex, 0x11223344u);
  EXPECT_EQ(At(2).PackageIndex, 4);
  EXPECT_EQ(DataHex(2), "EE FF");
}

TEST_F(InMemoryTest, XvmNamesCarryPackageAndIndex) {
  EXPECT_EQ(test::XvmMemory(store, ui, test::XvmTwoTextures(), 12, 10, PackageCaller::Afs), 12);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"XVM 12 , Image 0", "XVM 12 , Image 1"}));
  EXPECT_EQ(At(10).Name, "XVM 12 , Image 0");
  EXPECT_EQ(At(11).PackageIndex, 12);
  EXPECT_EQ(At(11).Format, 0x0702u);
  EXPECT_EQ(DataHex(11), "11 22");
}

using ReloadTest = Fixture;

TEST_F(ReloadTest, EntriesBeyondASmallerLoadKeepTheirNamesAndData) {
  test::PvmFile(store, ui, test::PvmTwoTextures());
  ui.ListClear();
  const Bytes one = Cat({FromHex("50564D48 26000000 0901 0100 0000"), Padded("solo", 28), FromHex("00000000"),
                         FromHex("50565254 09000000 00010000 0100 0100 5A")});
  EXPECT_EQ(test::PvmFile(store, ui, one), 1);
  EXPECT_EQ(ui.list, std::vector<std::string>{"solo"});
  EXPECT_EQ(At(0).Name, "solo");
  EXPECT_EQ(DataHex(0), "5A");
  EXPECT_EQ(At(1).Name, "floor");
  EXPECT_EQ(DataHex(1), "EE FF");
}

TEST_F(ReloadTest, RefillingEntriesDoesNotGrowThePools) {
  test::PvmFile(store, ui, test::PvmTwoTextures());
  const int32_t inUse = store.pools.First().BlocksInUse();
  for (int i = 0; i < 3; ++i) test::PvmFile(store, ui, test::PvmTwoTextures());
  EXPECT_EQ(store.pools.First().BlocksInUse(), inUse);
}

// Every prefix of an archive loads the images whose chunks lie wholly inside it.
using Reader = int32_t (*)(ImageStore&, RecordingFrontEnd&, std::span<const uint8_t>);
struct TruncationCase {
  const char* name;
  Bytes (*archive)();
  Reader reader;
  size_t firstEnd;   // end of the first texture's data
  size_t secondEnd;  // end of the second texture's data
};

int32_t PvmMemory(ImageStore& s, RecordingFrontEnd& f, std::span<const uint8_t> b) {
  return test::PvmMemory(s, f, b, 0, 0, PackageCaller::Afs);
}
int32_t GvmMemory(ImageStore& s, RecordingFrontEnd& f, std::span<const uint8_t> b) {
  return test::GvmMemory(s, f, b, 0, 0, PackageCaller::Afs);
}
int32_t XvmMemory(ImageStore& s, RecordingFrontEnd& f, std::span<const uint8_t> b) {
  return test::XvmMemory(s, f, b, 0, 0, PackageCaller::Afs);
}

class TruncationTest : public ::testing::TestWithParam<TruncationCase> {};

TEST_P(TruncationTest, KeepsTheImagesReadSoFar) {
  const TruncationCase& c = GetParam();
  const Bytes full = c.archive();
  ASSERT_GE(full.size(), c.secondEnd);
  auto store = std::make_unique<ImageStore>();
  for (size_t n = 12; n <= full.size(); ++n) {
    RecordingFrontEnd ui;
    store->imageCount = 99;
    store->StartLoadRecord();
    const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    const int32_t expected = n < c.firstEnd ? 0 : (n < c.secondEnd ? 1 : 2);
    EXPECT_EQ(c.reader(*store, ui, prefix), expected) << c.name << " cut at " << n;
    EXPECT_EQ(store->imageCount, expected);
    EXPECT_EQ(ui.ListCount(), expected);
    // Both archives declare two images; a cut one is recorded as incomplete.
    EXPECT_EQ(store->imagesDeclared, 2);
    EXPECT_EQ(store->loadIncomplete, expected < 2) << c.name << " cut at " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, TruncationTest,
    ::testing::Values(TruncationCase{"pvm file", test::PvmTwoTextures, test::PvmFile, 100, 118},
                      TruncationCase{"gvm file", test::GvmTwoTextures, test::GvmFile, 100, 118},
                      TruncationCase{"xvm file", test::XvmTwoTextures, test::XvmFile, 136, 202},
                      TruncationCase{"pvm in memory", test::PvmTwoTextures, PvmMemory, 100, 118},
                      TruncationCase{"gvm in memory", test::GvmTwoTextures, GvmMemory, 100, 118},
                      TruncationCase{"xvm in memory", test::XvmTwoTextures, XvmMemory, 136, 202}),
    [](const auto& info) {
      std::string s = info.param.name;
      for (char& ch : s) ch = ch == ' ' ? '_' : ch;
      return s;
    });

using MalformedTest = Fixture;

TEST_F(MalformedTest, ChunkShorterThanItsOwnFieldsEndsTheWalk) {
  // The second PVRT chunk claims length 4: data length would be -4.
  Bytes file = test::PvmTwoTextures();
  file[104] = 0x04;
  EXPECT_EQ(test::PvmFile(store, ui, file), 1);
  EXPECT_EQ(At(0).DataLength, 4);
  ui.ListClear();
  EXPECT_EQ(test::PvmMemory(store, ui, file, 0, 0, PackageCaller::Afs), 1);
  EXPECT_EQ(store.imageCount, 1);
  EXPECT_EQ(ui.list, std::vector<std::string>{"wall"});
}

TEST_F(MalformedTest, HeaderLengthBeyondTheDataLoadsNothing) {
  Bytes file = test::PvmTwoTextures();
  file[7] = 0x7F;
  ui.list = {"old"};
  EXPECT_EQ(test::PvmFile(store, ui, file), 0);
  EXPECT_EQ(store.imageCount, 0);
  EXPECT_EQ(ui.list, std::vector<std::string>{"old"});
}

TEST_F(MalformedTest, SkippedChunkPointingPastTheEndEndsTheWalk) {
  // A GBIX chunk whose length runs past the end stands before the second texture.
  const Bytes file = Cat({FromHex("50564D48 48000000 0901 0200"), FromHex("0000"), Padded("a", 28),
                          FromHex("01000000 0100"), Padded("b", 28), FromHex("02000000"),
                          FromHex("50565254 09000000 01090000 0100 0100 A1"),
                          FromHex("47424958 FFFFFFFF 01000000 00000000"),
                          FromHex("50565254 09000000 01090000 0100 0100 B1")});
  EXPECT_EQ(test::PvmFile(store, ui, file), 1);
}

// Readers that reject their input leave the store and the list exactly as they were.
struct RejectCase {
  const char* name;
  Bytes bytes;
  int32_t runningIndex;  // -1: run the file reader
  Reader fileReader;
  int32_t (*memoryReader)(ImageStore&, RecordingFrontEnd&, std::span<const uint8_t>, int32_t, int32_t, PackageCaller);
  ErrorKind kind;
};

class RejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectTest, LeavesTheStoreUnchanged) {
  const RejectCase& c = GetParam();
  auto store = std::make_unique<ImageStore>();
  RecordingFrontEnd ui;
  test::PvmFile(*store, ui, test::PvmTwoTextures());
  store->pvrFamily = 0;
  try {
    if (c.runningIndex < 0) c.fileReader(*store, ui, c.bytes);
    else c.memoryReader(*store, ui, c.bytes, 0, c.runningIndex, PackageCaller::Afs);
    ADD_FAILURE() << c.name << " was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), c.kind) << c.name << ": " << e.what();
  }
  EXPECT_EQ(store->imageCount, 2);
  EXPECT_EQ(store->pvrFamily, 0);
  EXPECT_EQ(ui.list, (std::vector<std::string>{"wall", "floor"}));
  EXPECT_EQ(store->images[0].Name, "wall");
}

Bytes PvmDeclaring(const char* countHex) { return Cat({FromHex("50564D48 04000000 0901"), FromHex(countHex)}); }

INSTANTIATE_TEST_SUITE_P(
    Inputs, RejectTest,
    ::testing::Values(
        RejectCase{"pvm 5002 images", PvmDeclaring("8A13"), -1, test::PvmFile, nullptr, ErrorKind::OverCapacity},
        RejectCase{"gvm 65535 images", FromHex("47564D48 04000000 0109 FFFF"), -1, test::GvmFile, nullptr,
                   ErrorKind::OverCapacity},
        RejectCase{"xvm 2^32-1 images", FromHex("58564D48 38000000 FFFFFFFF"), -1, test::XvmFile, nullptr,
                   ErrorKind::OverCapacity},
        RejectCase{"pvm header cut", FromHex("50564D48 04000000 0901 01"), -1, test::PvmFile, nullptr,
                   ErrorKind::Truncated},
        RejectCase{"pvm 2 images at 5000", PvmDeclaring("0200"), 5000, nullptr, test::PvmMemory,
                   ErrorKind::OverCapacity},
        RejectCase{"gvm 2 images at 5000", FromHex("47564D48 04000000 0109 0002"), 5000, nullptr,
                   test::GvmMemory, ErrorKind::OverCapacity},
        RejectCase{"xvm 2 images at 5000", FromHex("58564D48 38000000 02000000"), 5000, nullptr, test::XvmMemory,
                   ErrorKind::OverCapacity},
        RejectCase{"running index past the table", PvmDeclaring("0000"), 5002, nullptr, test::PvmMemory,
                   ErrorKind::Usage}),
    [](const auto& info) {
      std::string s = info.param.name;
      for (char& ch : s) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return s;
    });

TEST_F(InMemoryTest, FillsUpToTheLastTableEntry) {
  // 2 images at running index 4999 end exactly at entry 5000.
  EXPECT_EQ(test::PvmMemory(store, ui, test::PvmTwoTextures(), 0, 4999, PackageCaller::Afs), 5001);
  EXPECT_EQ(At(5000).Name, "floor");
}

}  // namespace
}  // namespace quarrendel::archive
