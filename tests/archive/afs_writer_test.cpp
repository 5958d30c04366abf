#include "archive/afs_writer.h"

#include <gtest/gtest.h>

#include <memory>

#include "archive/package_reader.h"
#include "core/byte_io.h"
#include "core/error.h"
#include "prs/prs.h"
#include "tests/archive/archive_bytes.h"
#include "core/worker_pool.h"

namespace quarrendel::archive {
namespace {

using namespace test;

// 16-bit texels of a gradient with some noise: compresses, but not to nothing.
Bytes TextureLike(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t noise = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    noise = noise * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>((i % 2 == 0 ? i / 7 + seed : i / 300) + ((noise >> 29) & 1));
  }
  return out;
}

TEST(AfsTextureModeTest, MembersByPlatform) {
  struct Row {
    AfsPlatform platform;
    size_t dataLength;
    Bytes head;         // the member's first bytes before its data
    size_t memberSize;  // the table's size field
    const char* sizeField;
  };
  const Row rows[] = {
      {AfsPlatform::Pc, 100, FromHex("47424958 04000000 07000000 50565254 6C000000 0109ABCD 0800 0800"), 2048, "00080000"},
      {AfsPlatform::Gc, 100, FromHex("47424958 04000000 00000007 47565254 6C000000 ABCD0109 0008 0008"), 2048,
       "00080000"},
      // 64 + 1984 = 2048: no padding follows.
      {AfsPlatform::Xbox, 1984,
       Cat({FromHex("58565254 F8070000 01000000 09ABCD00 07000000 0800 0800 C0070000"), Bytes(36, 0)}), 2048, "00080000"},
      {AfsPlatform::Xbox, 1985,
       Cat({FromHex("58565254 F9070000 01000000 09ABCD00 07000000 0800 0800 C1070000"), Bytes(36, 0)}), 4096, "00100000"},
  };
  for (const Row& row : rows) {
    ImageList list;
    list.Add("abc", Bytes(row.dataLength, 0x5A), 0, 0xCDAB0901u, 8, 7);
    const Bytes file = BuildAfsOfTextures(row.platform, list.images);
    ASSERT_EQ(file.size(), 524'288 + row.memberSize);
    EXPECT_EQ(Slice(file, 0, 16), FromHex(std::string("41465300 01000000 00000800") + row.sizeField));
    EXPECT_EQ(Slice(file, 16, 524'288), Bytes(524'288 - 16, 0));
    const size_t data = 524'288 + row.head.size();
    EXPECT_EQ(Slice(file, 524'288, data), row.head);
    EXPECT_EQ(Slice(file, data, data + row.dataLength), Bytes(row.dataLength, 0x5A));
    EXPECT_EQ(Slice(file, data + row.dataLength, file.size()), Bytes(file.size() - data - row.dataLength, 0));
  }
}

TEST(AfsTextureModeTest, MembersFollowEachOtherOnMultiplesOf2048) {
  ImageList list;
  list.Add("a", Bytes(2020, 1));  // 12 + 16 + 2020 = 2048
  list.Add("b", Bytes(2021, 2));  // 2049 -> 4096
  list.Add("c", {});
  const Bytes file = BuildAfsOfTextures(AfsPlatform::Pc, list.images);
  EXPECT_EQ(Slice(file, 4, 32), FromHex("03000000 00000800 00080000 00080800 00100000 00180800 00080000"));
  EXPECT_EQ(file.size(), 524'288u + 2048 + 4096 + 2048);
}

// The images with PackageIndex 0, 0, 1, 1, 1, 0 as three packed archives.
struct PackedAfs : ::testing::Test {
  ImageList list;
  void SetUp() override {
    const int32_t packages[] = {0, 0, 1, 1, 1, 0};
    for (int i = 0; i < 6; ++i) {
      list.Add("img" + std::to_string(i), TextureLike(3000 + 500 * static_cast<size_t>(i), static_cast<uint32_t>(i)),
               packages[i], 0x0901, 32, static_cast<uint32_t>(i));
    }
  }
};

TEST_F(PackedAfs, RegroupsCompressesAndAlignsTheArchives) {
  WorkerPool pool(2);
  RecordingFrontEnd ui;
  const Bytes file = BuildPackedAfs(AfsPlatform::Pc, list.images, pool, ui);
  const ByteReader in(file);
  ASSERT_EQ(in.U32LeAt(4), 3u);
  const uint8_t counts[] = {2, 3, 1};
  size_t expectedOffset = 524'288;
  for (size_t m = 0; m < 3; ++m) {
    const size_t offset = in.U32LeAt(8 + 8 * m);
    const size_t size = in.U32LeAt(12 + 8 * m);
    EXPECT_EQ(offset, expectedOffset);
    std::vector<uint8_t> unpacked(20'000);
    const prs::DecompressResult r = prs::Decompress(in.BytesAt(offset, size), unpacked);
    ASSERT_TRUE(r.Ok());
    // The size field is the exact stream length; zeros fill up to the next member.
    EXPECT_EQ(size, prs::Compress(Slice(unpacked, 0, r.size)).size());
    EXPECT_EQ(Slice(file, offset + size, (offset + size + 2047) / 2048 * 2048),
              Bytes((2048 - (offset + size) % 2048) % 2048, 0));
    EXPECT_EQ(Slice(unpacked, 0, 12), Cat({FromHex("50564D48 F80F0000 0901"), {counts[m], 0}}));
    expectedOffset = (offset + size + 2047) / 2048 * 2048;
  }
  EXPECT_EQ(file.size(), expectedOffset);
  EXPECT_EQ(in.U32LeAt(32), 0u);  // nothing after the table

  const char* caption = "Packing and compressing image in pvm : ";
  std::vector<std::string> captions;
  std::vector<int32_t> positions;
  for (const auto& step : ui.progress) {
    EXPECT_EQ(step.maximum, 6);
    captions.push_back(step.caption.substr(std::string(caption).size()));
    positions.push_back(step.position);
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"0", "0", "0", "1", "1", "1", "2"}));
  EXPECT_EQ(positions, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
}

TEST_F(PackedAfs, SameBytesWhateverTheThreadCount) {
  for (AfsPlatform platform : {AfsPlatform::Pc, AfsPlatform::Gc, AfsPlatform::Xbox}) {
    WorkerPool one(1);
    WorkerPool three(3);
    RecordingFrontEnd ui1, ui3;
    const Bytes a = BuildPackedAfs(platform, list.images, one, ui1);
    EXPECT_EQ(BuildPackedAfs(platform, list.images, three, ui3), a);
    ASSERT_EQ(ui3.progress.size(), ui1.progress.size());
    for (size_t i = 0; i < ui1.progress.size(); ++i) EXPECT_EQ(ui3.progress[i].caption, ui1.progress[i].caption);
  }
}

// Written, loaded by the AFS reader, written again as the same kind: the same bytes.
TEST_F(PackedAfs, RoundTripsThroughTheAfsReader) {
  WorkerPool pool(2);
  for (AfsPlatform platform : {AfsPlatform::Pc, AfsPlatform::Gc, AfsPlatform::Xbox}) {
    RecordingFrontEnd ui;
    auto store = std::make_unique<ImageStore>();
    const Bytes packed = BuildPackedAfs(platform, list.images, pool, ui);
    ASSERT_EQ(test::Afs(*store, ui, packed), Status::Done);
    ASSERT_EQ(store->imageCount, 6);
    const auto loaded = std::span(store->images).first(6);
    EXPECT_EQ(BuildPackedAfs(platform, loaded, pool, ui), packed);

    const Bytes textures = BuildAfsOfTextures(platform, list.images);
    store->packageMode = 0;
    ASSERT_EQ(test::Afs(*store, ui, textures), Status::Done);
    ASSERT_EQ(store->imageCount, 6);
    EXPECT_EQ(BuildAfsOfTextures(platform, loaded), textures);
  }
}

TEST(PackedAfsRefusalTest, RefusesBeforeCompressingAnything) {
  WorkerPool pool(2);
  ImageList tooMany;  // 121 images in one PVM package
  for (int i = 0; i < 121; ++i) tooMany.Add("t", {}, 4);
  ImageList huge;  // a package beyond the buffers
  huge.Add("t", Bytes(10'000'000, 0));
  const std::pair<ImageList*, const char*> rows[] = {{&tooMany, "121 images"}, {&huge, "10004112 bytes"}};
  for (const auto& [list, text] : rows) {
    RecordingFrontEnd ui;
    ByteSink out;
    try {
      WritePackedAfs(AfsPlatform::Pc, list->images, pool, ui, out);
      ADD_FAILURE() << text << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::OverCapacity);
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ui.progress.empty());
    EXPECT_EQ(out.Size(), 0u);
  }
}

// The whole table reaches the file: entries past the first 32,768 bytes of
// the header area too.
TEST(PackedAfsRefusalTest, MorePackagesThanTheFirstTableBlockHolds) {
  WorkerPool pool(2);
  ImageList manyPackages;  // 4097 packages of one image
  for (int i = 0; i < 4097; ++i) manyPackages.Add("t", {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)}, i);
  RecordingFrontEnd ui;
  const Bytes file = BuildPackedAfs(AfsPlatform::Xbox, manyPackages.images, pool, ui);
  const ByteReader in(file);
  ASSERT_EQ(in.U32LeAt(4), 4097u);
  const size_t last = in.U32LeAt(8 + 8 * 4096);
  // One XVM of one 2-byte texture: 64 + 64 + 2 bytes, whose last two are 00 10.
  const Bytes unpacked = prs::Decompress(in.BytesAt(last, in.U32LeAt(12 + 8 * 4096)));
  ASSERT_EQ(unpacked.size(), 130u);
  EXPECT_EQ(Slice(unpacked, 128, 130), FromHex("0010"));
  EXPECT_EQ(file.size(), (last + in.U32LeAt(12 + 8 * 4096) + 2047) / 2048 * 2048);
}

TEST(PackedAfsRefusalTest, RefusesTheArchiveThatPassesTheLimit) {
  ImageList list;
  for (int p = 0; p < 3; ++p) list.Add("noise", TextureLike(6000, static_cast<uint32_t>(p)), p);
  WorkerPool pool(2);
  RecordingFrontEnd ui;
  const Bytes whole = BuildPackedAfs(AfsPlatform::Pc, list.images, pool, ui);
  const ByteReader in(whole);
  // A limit at the end of member 1: member 2 passes it.
  PackedAfsOptions options;
  options.maxBytes = in.U32LeAt(8 + 8 * 2);
  options.maxBytesReason = "because";
  try {
    BuildPackedAfs(AfsPlatform::Pc, list.images, pool, ui, options);
    ADD_FAILURE() << "a packed AFS beyond its limit was built";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::OverCapacity);
    EXPECT_EQ(std::string(e.what()),
              "the packed AFS would pass " + std::to_string(options.maxBytes) + " bytes at archive 2; because");
  }
  options.maxBytes = whole.size();
  EXPECT_EQ(BuildPackedAfs(AfsPlatform::Pc, list.images, pool, ui, options), whole);
}

}  // namespace
}  // namespace quarrendel::archive
