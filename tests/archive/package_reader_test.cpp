#include "archive/package_reader.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/byte_io.h"
#include "prs/prs.h"
#include "tests/archive/archive_bytes.h"
#include "tests/support/test_util.h"

namespace quarrendel::archive {
namespace {

using test::Bytes;
using test::Cat;
using test::FromHex;
using test::ToHex;

// An AFS laid out as this system writes it: a 524,288-byte header area, then
// each member on a 2048-byte boundary. The table holds each member's size.
Bytes MakeAfs(const std::vector<Bytes>& members) {
  Bytes file;
  ByteWriter w(file);
  w.Magic("AFS");
  w.U8(0);
  w.U32Le(static_cast<uint32_t>(members.size()));
  size_t at = kAfsHeaderArea;
  for (const Bytes& m : members) {
    w.U32Le(static_cast<uint32_t>(at));
    w.U32Le(static_cast<uint32_t>(m.size()));
    at += (m.size() + 2047) / 2048 * 2048;
  }
  at = kAfsHeaderArea;
  for (const Bytes& m : members) {
    w.Seek(at);
    w.Bytes(m);
    at += (m.size() + 2047) / 2048 * 2048;
  }
  return file;
}

// A PVR or GVR texture member: a 12-byte GBIX chunk (length 4), then the chunk.
Bytes TextureMember(const std::string& index, const std::string& chunk) {
  return Cat({FromHex("47424958 04000000" + index), FromHex(chunk)});
}

// An unpacked single texture: 16-byte GBIX chunk, PVRT-layout head at 16.
Bytes SingleTexture(const std::string& index, const std::string& chunk) {
  return Cat({FromHex("47424958 08000000" + index + "00000000"), FromHex(chunk)});
}

const char* kPvrt2x2 = "50565254 0C000000 01090000 0200 0200 AABBCCDD";

struct Packages : ::testing::Test {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  RecordingFrontEnd fe;
};

TEST_F(Packages, AfsOfUncompressedTexturesNamesImagesByMember) {
  const Bytes xvr = Cat({FromHex("58565254 42000000 01000000 06000000 EFBE0000 0400 0400 02000000"), Bytes(36, 0),
                         FromHex("1234")});
  const Bytes afs = MakeAfs({TextureMember("11000000", kPvrt2x2),
                             TextureMember("22334455", "47565254 0A000000 00000901 0100 0008 EEFF"), xvr});
  ASSERT_EQ(test::Afs(*store, fe, afs), Status::Done);
  EXPECT_EQ(store->imageCount, 3);
  EXPECT_EQ(fe.list, (std::vector<std::string>{"Image 0", "Image 1", "Image 2"}));
  EXPECT_EQ(store->packageMode, 0);
  EXPECT_EQ(store->pvrFamily, 1);
  const auto& pvr = store->images[0];
  EXPECT_EQ(pvr.GlobalIndex, 0x11u);
  EXPECT_EQ(pvr.Format, 0x0901u);
  EXPECT_EQ(ToHex({pvr.Bytes().begin(), pvr.Bytes().end()}), "AA BB CC DD");
  // GVRT: big-endian sides, index byte-swapped into machine order.
  const auto& gvr = store->images[1];
  EXPECT_EQ(gvr.Width, 256);
  EXPECT_EQ(gvr.Height, 8);
  EXPECT_EQ(gvr.Format, 0x0109u);
  EXPECT_EQ(gvr.GlobalIndex, 0x22334455u);
  const auto& x = store->images[2];
  EXPECT_EQ(x.Name, "Image 2");
  EXPECT_EQ(x.Format, 0x0601u);
  EXPECT_EQ(x.GlobalIndex, 0xBEEFu);
  EXPECT_EQ(ToHex({x.Bytes().begin(), x.Bytes().end()}), "12 34");
  EXPECT_TRUE(fe.progress.empty());
  EXPECT_FALSE(fe.progressVisible);
}

TEST_F(Packages, AfsEndMarkerSetsTheCount) {
  const Bytes afs = MakeAfs({TextureMember("01000000", kPvrt2x2), FromHex("656E6400 00000000 00000000 00000000"),
                             TextureMember("02000000", kPvrt2x2)});
  ASSERT_EQ(test::Afs(*store, fe, afs), Status::Done);
  EXPECT_EQ(store->imageCount, 1);
  EXPECT_EQ(fe.list, (std::vector<std::string>{"Image 0", "Image 1"}));  // the end member keeps its item
  EXPECT_FALSE(store->loadIncomplete);

  // Among packed members the count is that of the images unpacked before the
  // end member (two), not the end member's number (three): packed members
  // that hold no archive add nothing, and entry 2 keeps an earlier load's
  // data that must not be counted.
  auto packed = std::make_unique<ImageStore>();
  RecordingFrontEnd f;
  packed->FillEntryData(2, Bytes{9, 9});
  const Bytes notAnArchive = prs::Compress(FromHex("50564D58 00000000"));  // unpacks to "PVMX", no archive
  ASSERT_EQ(test::Afs(*packed, f,
                    MakeAfs({prs::Compress(test::PvmTwoTextures()), notAnArchive, notAnArchive,
                             FromHex("656E6400 00000000 00000000 00000000"), prs::Compress(test::XvmTwoTextures())})),
            Status::Done);
  EXPECT_EQ(packed->imageCount, 2);
  EXPECT_EQ(f.list, (std::vector<std::string>{"wall", "floor"}));
}

TEST_F(Packages, AfsOfCompressedArchivesUsesARunningIndex) {
  const Bytes afs = MakeAfs({prs::Compress(test::PvmTwoTextures()), prs::Compress(test::XvmTwoTextures()),
                             prs::Compress(test::GvmTwoTextures())});
  ASSERT_EQ(test::Afs(*store, fe, afs), Status::Done);
  EXPECT_EQ(store->imageCount, 6);
  EXPECT_EQ(fe.list, (std::vector<std::string>{"wall", "floor", "XVM 1 , Image 0", "XVM 1 , Image 1", "wall",
                                                "floor"}));
  EXPECT_EQ(store->packageMode, 1);
  EXPECT_EQ(store->pvrFamily, 1);
  EXPECT_EQ(store->images[0].PackageIndex, 0);
  EXPECT_EQ(store->images[3].PackageIndex, 1);
  EXPECT_EQ(store->images[5].PackageIndex, 2);
  EXPECT_TRUE(fe.progressVisible);  // the Load command hides it
  ASSERT_EQ(fe.progress.size(), 3u);
  EXPECT_EQ(fe.progress[0].caption, "Decompressing PVM #0 / 3");
  EXPECT_EQ(fe.progress[1].caption, "Decompressing XVM #1 / 3");
  EXPECT_EQ(fe.progress[2].caption, "Decompressing GVM #2 / 3");
  EXPECT_EQ(fe.progress[2].maximum, 3);
  EXPECT_EQ(fe.progress[2].position, 2);
}

TEST_F(Packages, AfsCompressedSingleTexturesAreNoNameAndKeepTheCount) {
  const Bytes afs = MakeAfs({prs::Compress(SingleTexture("78563412", kPvrt2x2)),
                             prs::Compress(SingleTexture("01000000", "50565254 0A000000 00010000 0400 0400 EEFF"))});
  ASSERT_EQ(test::Afs(*store, fe, afs), Status::Done);
  EXPECT_EQ(store->imageCount, 2);  // one per single texture: M when every member is one
  EXPECT_EQ(fe.list, (std::vector<std::string>{"No Name", "No Name"}));
  EXPECT_EQ(store->images[0].GlobalIndex, 0x12345678u);
  EXPECT_EQ(store->images[1].Width, 4);
  EXPECT_EQ(store->images[1].PackageIndex, 1);
  EXPECT_EQ(store->images[1].DataLength, 2);
}

TEST_F(Packages, AfsUnsupportedMemberEndsTheLoadKeepingEarlierMembers) {
  // A member starting "PVRT" without its GBIX chunk is not supported.
  const Bytes afs = MakeAfs({TextureMember("01000000", kPvrt2x2), FromHex(kPvrt2x2)});
  ASSERT_EQ(test::Afs(*store, fe, afs), Status::Refused);
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].kind, RecordingFrontEnd::MessageKind::Information);
  EXPECT_EQ(fe.messages[0].text, "Unsuported file are include in this package, Can't load this file. ");
  // Only the member read counts: entry 1 still holds whatever an earlier load left.
  EXPECT_EQ(store->imageCount, 1);
  EXPECT_EQ(fe.list, std::vector<std::string>{"Image 0"});
  EXPECT_EQ(store->images[0].DataLength, 4);
  EXPECT_TRUE(store->loadIncomplete);
}

TEST_F(Packages, AfsDamageIsRejectedAsAnUnsupportedMember) {
  struct Case {
    const char* what;
    Bytes file;
  };
  Bytes corrupt = MakeAfs({FromHex("00 50 56 4D FF FF")});  // a long copy reaching before the start
  Bytes tooMany = FromHex("41465300 8A130000");                // 5002 members
  const Case cases[] = {{"corrupt PRS stream", corrupt},
                        {"more members than images", tooMany},
                        {"table beyond the file", FromHex("41465300 02000000 00000800")}};
  for (const Case& c : cases) {
    auto s = std::make_unique<ImageStore>();
    RecordingFrontEnd f;
    EXPECT_EQ(test::Afs(*s, f, c.file), Status::Refused) << c.what;
    ASSERT_EQ(f.messages.size(), 1u) << c.what;
    EXPECT_EQ(f.messages[0].text, kUnsupportedMember) << c.what;
    EXPECT_LE(s->imageCount, 1) << c.what;
  }
}

// A file cut short, or a member placed beyond its end, is loaded as far as it
// goes: no message, the members before the cut kept, the load incomplete.
TEST_F(Packages, AfsCutShortKeepsTheMembersBeforeTheCut) {
  const Bytes three = MakeAfs({TextureMember("01000000", kPvrt2x2), TextureMember("02000000", kPvrt2x2),
                               TextureMember("03000000", kPvrt2x2)});
  // Members at 0x80000, 0x80800 and 0x81000; a member's data starts 28 bytes in.
  const auto cut = [](Bytes file, size_t size) {
    file.resize(size);
    return file;
  };
  Bytes offsetPastEnd = MakeAfs({TextureMember("01000000", kPvrt2x2), TextureMember("02000000", kPvrt2x2)});
  offsetPastEnd[16] = 0xFF;  // member 1's offset low byte...
  offsetPastEnd[19] = 0x7F;  // ...and high byte: far beyond the file
  const Bytes xvr = Cat({FromHex("58565254 42000000 01000000 06000000 EFBE0000 0400 0400 08000000"), Bytes(36, 0),
                         Bytes(8, 0x11)});
  const Bytes packed = MakeAfs({prs::Compress(test::PvmTwoTextures()), prs::Compress(test::XvmTwoTextures())});
  struct Case {
    const char* what;
    Bytes file;
    int32_t images;   // read
    int64_t declared;
  };
  const Case cases[] = {
      {"cut inside member 2's texture data", cut(three, 0x81000 + 30), 2, 3},
      {"cut before member 1's first bytes", cut(three, 0x80800 + 8), 1, 3},
      {"member 1 placed beyond the end", offsetPastEnd, 1, 2},
      {"cut inside an XVRT member's data", cut(MakeAfs({TextureMember("01000000", kPvrt2x2), xvr}), 0x80800 + 70), 1, 2},
      // The XVM member is unpacked as far as the file holds it: its header
      // declares two images, the first of which is cut.
      {"cut inside a packed member", cut(packed, packed.size() - 40), 2, 4},
  };
  for (const Case& c : cases) {
    auto s = std::make_unique<ImageStore>();
    RecordingFrontEnd f;
    EXPECT_EQ(test::Afs(*s, f, c.file), Status::Done) << c.what;
    EXPECT_TRUE(f.messages.empty()) << c.what;
    EXPECT_EQ(s->imageCount, c.images) << c.what;
    EXPECT_EQ(f.ListCount(), c.images) << c.what;
    EXPECT_EQ(s->imagesDeclared, c.declared) << c.what;
    EXPECT_TRUE(s->loadIncomplete) << c.what;
    EXPECT_EQ(s->shortfall, LoadShortfall::Damaged) << c.what;
  }
}

// A BML package: count C, marker 0x50, 64-byte entries (S1 at 32, S2 at 44),
// data from 64 * (C + 1) rounded up to 2048, each part padded to 32 bytes.
Bytes MakeBml(const std::vector<std::pair<Bytes, Bytes>>& entries, bool bigEndian) {
  Bytes file;
  ByteWriter w(file);
  auto u32 = [&](uint32_t v) { bigEndian ? w.U32Be(v) : w.U32Le(v); };
  w.U32Le(0);
  u32(static_cast<uint32_t>(entries.size()));
  w.U8(0x50);
  w.Zeros(55);
  for (const auto& [data, packed] : entries) {
    w.FixedText("model.nj", 32);
    u32(static_cast<uint32_t>(data.size()));
    u32(0xAAAA);
    u32(0xBBBB);
    u32(static_cast<uint32_t>(packed.size()));
    u32(0);
    w.Zeros(12);
  }
  w.Seek((64 * (entries.size() + 1) + 2047) / 2048 * 2048);
  for (const auto& [data, packed] : entries) {
    w.Bytes(data);
    w.Zeros((32 - data.size() % 32) % 32);
    w.Bytes(packed);
    w.Zeros((32 - packed.size() % 32) % 32);
  }
  return file;
}

TEST_F(Packages, BmlInBothByteOrders) {
  for (bool bigEndian : {false, true}) {
    auto s = std::make_unique<ImageStore>();
    RecordingFrontEnd f;
    const Bytes bml = MakeBml({{Bytes(40, 7), prs::Compress(test::PvmTwoTextures())},
                               {Bytes(5, 1), {}},
                               {Bytes(0), prs::Compress(test::GvmTwoTextures())}},
                              bigEndian);
    ASSERT_EQ(test::Bml(*s, f, bml), Status::Done);
    EXPECT_EQ(s->imageCount, 4) << bigEndian;
    EXPECT_EQ(s->bmlFlag, 1);
    EXPECT_EQ(s->packageMode, 1);
    EXPECT_EQ(s->pvrFamily, 1);
    EXPECT_EQ(s->packageArchiveKind, PackageArchiveKind::Gvm);  // the last archive met
    EXPECT_EQ(s->images[2].PackageIndex, 2);
    EXPECT_EQ(s->images[2].Width, 256);
    ASSERT_EQ(f.progress.size(), 2u);
    EXPECT_EQ(f.progress[0].caption, "Decompressing PVM #0 / 3");
    EXPECT_EQ(f.progress[1].caption, "Decompressing GVM #2 / 3");
    EXPECT_TRUE(f.messages.empty());
  }
}

TEST_F(Packages, BmlOfAnXvmLeavesThePvrFlag) {
  const Bytes bml = MakeBml({{Bytes(3, 1), {}}, {Bytes(3, 1), prs::Compress(test::XvmTwoTextures())}}, false);
  ASSERT_EQ(test::Bml(*store, fe, bml), Status::Done);
  EXPECT_EQ(store->pvrFamily, 0);
  EXPECT_EQ(store->packageArchiveKind, PackageArchiveKind::Xvm);
  EXPECT_EQ(fe.list, (std::vector<std::string>{"XVM 1 , Image 0", "XVM 1 , Image 1"}));
}

TEST_F(Packages, BmlHeaderChecks) {
  struct Case {
    uint32_t count;
    uint8_t marker;
    bool accepted;
  };
  for (const Case c : {Case{255, 0x50, true}, Case{256, 0x50, false}, Case{0, 0x50, false}, Case{3, 0x51, false}}) {
    Bytes bml = FromHex("00000000");
    ByteWriter w(bml);
    w.U32Le(c.count);
    w.U8(c.marker);
    auto s = std::make_unique<ImageStore>();
    s->imageCount = 9;
    RecordingFrontEnd f;
    const Status outcome = test::Bml(*s, f, bml);
    EXPECT_EQ(s->imageCount, 0) << c.count;
    ASSERT_EQ(f.messages.size(), 1u) << c.count;
    if (c.accepted) {
      // The table lies beyond this short file: nothing is read.
      EXPECT_EQ(outcome, Status::Done);
      EXPECT_EQ(s->bmlFlag, 1);
      EXPECT_EQ(f.messages[0].kind, RecordingFrontEnd::MessageKind::Plain);
      EXPECT_EQ(f.messages[0].text, "This BML does'nt contain any images");
    } else {
      EXPECT_EQ(outcome, Status::Refused) << c.count;
      EXPECT_EQ(s->bmlFlag, 0);
      EXPECT_EQ(f.messages[0].kind, RecordingFrontEnd::MessageKind::Information);
      EXPECT_EQ(f.messages[0].text, "Unsuported or invalide BML file");
    }
  }
}

TEST_F(Packages, BmlStopsAtDamageKeepingImagesReadSoFar) {
  Bytes bml = MakeBml({{Bytes(4, 1), prs::Compress(test::PvmTwoTextures())},
                       {Bytes(4, 1), prs::Compress(test::XvmTwoTextures())}},
                      false);
  bml.resize(bml.size() - 40);  // the second archive is cut short
  ASSERT_EQ(test::Bml(*store, fe, bml), Status::Done);
  EXPECT_EQ(store->imageCount, 2);
  EXPECT_EQ(fe.list, (std::vector<std::string>{"wall", "floor"}));
  EXPECT_TRUE(fe.messages.empty());
  EXPECT_TRUE(store->loadIncomplete);
  EXPECT_EQ(store->shortfall, LoadShortfall::Damaged);
}

TEST_F(Packages, PackedStreamsCutShortGiveWhatTheyHold) {
  const Bytes packed = prs::Compress(test::PvmTwoTextures());
  const Bytes cut(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2));
  for (const bool bml : {false, true}) {
    auto s = std::make_unique<ImageStore>();
    RecordingFrontEnd f;
    const auto outcome = bml ? test::Bml(*s, f, MakeBml({{Bytes(4, 1), cut}}, false))
                             : test::Afs(*s, f, MakeAfs({cut, prs::Compress(test::XvmTwoTextures())}));
    EXPECT_EQ(outcome, Status::Done);
    EXPECT_TRUE(s->loadIncomplete) << bml;
    EXPECT_EQ(s->shortfall, LoadShortfall::StreamEndsEarly) << bml;
    // The walk goes on after the cut member: the XVM's two images follow.
    EXPECT_EQ(s->imagesDeclared, bml ? 2 : 4) << bml;
    EXPECT_EQ(s->imageCount, f.ListCount()) << bml;
    EXPECT_LT(s->imageCount, s->imagesDeclared) << bml;
  }
}

// Members unpacked ahead on several threads are still read in member order:
// the list, the messages, every progress step and the images are those of one
// thread, through a stream cut short and up to a corrupt member that ends the load.
TEST(PackedAfsThreads, SeveralThreadsReadAsOne) {
  const Bytes pvm = prs::Compress(test::PvmTwoTextures());
  const Bytes cut(pvm.begin(), pvm.begin() + static_cast<long>(pvm.size() / 2));
  // Four literals "PVMH", then a copy from 256 bytes before the start.
  const Bytes corrupt = FromHex("0F 50564D48 00");
  std::vector<Bytes> members{pvm, prs::Compress(test::GvmTwoTextures()), prs::Compress(test::XvmTwoTextures()),
                             prs::Compress(SingleTexture("07000000", kPvrt2x2)), cut};
  for (int i = 0; i < 12; ++i) members.push_back(i % 2 == 0 ? pvm : prs::Compress(test::XvmTwoTextures()));
  members.push_back(corrupt);
  members.push_back(pvm);
  const Bytes afs = MakeAfs(members);

  struct Seen {
    RecordingFrontEnd fe;
    std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  };
  auto load = [&](const char* threads) {
    ::setenv("QUARRENDEL_THREADS", threads, 1);
    auto seen = std::make_unique<Seen>();
    EXPECT_EQ(test::Afs(*seen->store, seen->fe, afs), Status::Refused);
    ::unsetenv("QUARRENDEL_THREADS");
    return seen;
  };
  const auto one = load("1");
  const auto three = load("3");
  EXPECT_EQ(one->store->imageCount, 2 + 2 + 2 + 1 + 12 * 2);  // the cut archive holds no whole texture
  ASSERT_EQ(three->store->imageCount, one->store->imageCount);
  EXPECT_EQ(three->fe.list, one->fe.list);
  ASSERT_EQ(three->fe.messages.size(), 1u);
  EXPECT_EQ(three->fe.messages[0].text, kUnsupportedMember);
  ASSERT_EQ(three->fe.progress.size(), one->fe.progress.size());
  for (size_t k = 0; k < one->fe.progress.size(); ++k) {
    EXPECT_EQ(three->fe.progress[k].caption, one->fe.progress[k].caption);
    EXPECT_EQ(three->fe.progress[k].position, one->fe.progress[k].position);
  }
  EXPECT_EQ(three->store->imagesDeclared, one->store->imagesDeclared);
  EXPECT_EQ(three->store->shortfall, LoadShortfall::StreamEndsEarly);
  for (int32_t i = 0; i < one->store->imageCount; ++i) {
    const TImage_Entry& a = one->store->images[static_cast<size_t>(i)];
    const TImage_Entry& b = three->store->images[static_cast<size_t>(i)];
    EXPECT_EQ(ToHex(Bytes(b.Bytes().begin(), b.Bytes().end())), ToHex(Bytes(a.Bytes().begin(), a.Bytes().end())));
    EXPECT_EQ(b.PackageIndex, a.PackageIndex);
  }
}

}  // namespace
}  // namespace quarrendel::archive
