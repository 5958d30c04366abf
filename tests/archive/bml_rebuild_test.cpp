#include "archive/bml_rebuild.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "archive/package_reader.h"
#include "core/byte_io.h"
#include "core/error.h"
#include "prs/prs.h"
#include "tests/archive/archive_bytes.h"
#include "tools/sample_archives.h"

namespace quarrendel::archive {
namespace {

using namespace test;

// A 64-byte entry: name, S1, two words carried over, S2, an old decompressed size, 12 bytes.
Bytes Entry(const std::string& name, const std::string& s1, const std::string& s2) {
  return Cat({Padded(name, 32), FromHex(s1 + "AAAAAAAA BBBBBBBB" + s2 + "34120000"), Bytes(12, 0xCC)});
}

// Little-endian package of four entries; the archives are placeholders that
// the rebuild replaces without reading them. Padding bytes are non-zero, and
// so is the gap between the table and the data start, which the rebuild zeroes.
//  entry 0: S1 = 33 (64 bytes with padding), S2 = 5
//  entry 1: S1 = 40, no archive
//  entry 2: S1 = 10, S2 = 7
//  entry 3: S1 = 3, no archive
Bytes PackageLe() {
  return Cat({FromHex("00000000 04000000 50"), Bytes(55, 0x11),
              Entry("a.nj", "21000000", "05000000"), Entry("b.nj", "28000000", "00000000"),
              Entry("c.nj", "0A000000", "07000000"), Entry("d.nj", "03000000", "00000000"),
              Bytes(2048 - 320, 0x77),
              Bytes(33, 0xA0), Bytes(31, 0xA1), Bytes(5, 0xE0), Bytes(27, 0xE1),
              Bytes(40, 0xB0), Bytes(24, 0xB1),
              Bytes(10, 0xC0), Bytes(22, 0xC1), Bytes(7, 0xE2), Bytes(25, 0xE3),
              Bytes(3, 0xD0), Bytes(29, 0xD1)});
}

// The images of entries 0 and 2.
void AddImagesLe(ImageList& list) {
  list.Add("abc", Bytes(32, 0x5A), 0, 0x0901, 8, 7);
  list.Add("de", Bytes(8, 0x3C), 2, 0x0901, 8, 0x99);
}

// Reads the archive at `at` whose S2 is in entry `entry` (LE), checks it
// unpacks to `archive`, and returns the offset after it and its padding.
size_t ExpectArchive(const Bytes& out, size_t entry, size_t at, const Bytes& archive, bool big = false) {
  const ByteReader in(out);
  const size_t s2 = big ? in.U32BeAt(64 + 64 * entry + 44) : in.U32LeAt(64 + 64 * entry + 44);
  EXPECT_EQ(prs::Decompress(in.BytesAt(at, s2)), archive) << "entry " << entry;
  const size_t end = (at + s2 + 31) / 32 * 32;
  EXPECT_EQ(Slice(out, at + s2, end), Bytes(end - at - s2, 0));
  return end;
}

Bytes Rebuilt(const Bytes& package, PackageArchiveKind kind, void (*addImages)(ImageList&)) {
  ImageList list;
  addImages(list);
  WorkerPool pool(2);
  return RebuildBml(package, kind, list.images, pool);
}

TEST(BmlRebuildTest, ArchivesReplacedFileDataCarriedOver) {
  const Bytes package = PackageLe();
  const Bytes out = Rebuilt(package, PackageArchiveKind::Pvm, AddImagesLe);

  EXPECT_EQ(Slice(out, 0, 64), Slice(package, 0, 64));
  // Entry 0: the new compressed length and L = 4096 + 16 + 32; entry 2: L = 4096 + 16 + 8.
  EXPECT_EQ(Slice(out, 64, 108), Slice(package, 64, 108));
  EXPECT_EQ(Slice(out, 112, 128), Cat({FromHex("30100000"), Bytes(12, 0xCC)}));
  EXPECT_EQ(Slice(out, 128, 192), Slice(package, 128, 192));
  EXPECT_EQ(Slice(out, 192, 236), Slice(package, 192, 236));
  EXPECT_EQ(Slice(out, 240, 256), Cat({FromHex("18100000"), Bytes(12, 0xCC)}));
  EXPECT_EQ(Slice(out, 256, 320), Slice(package, 256, 320));
  EXPECT_EQ(Slice(out, 320, 2048), Bytes(2048 - 320, 0));

  // S1 = 33 takes 64 bytes, copied with its padding; the archive follows.
  EXPECT_EQ(Slice(out, 2048, 2112), Slice(package, 2048, 2112));
  size_t at = ExpectArchive(out, 0, 2112, test::PackedPvmOfOne("abc", "07000000", "28000000", Bytes(32, 0x5A)));
  // Entry 1 keeps its data, shifted by the change of entry 0's archive.
  EXPECT_EQ(Slice(out, at, at + 64), Slice(package, 2144, 2208));
  EXPECT_EQ(Slice(out, at + 64, at + 96), Slice(package, 2208, 2240));
  at = ExpectArchive(out, 2, at + 96, test::PackedPvmOfOne("de", "99000000", "10000000", Bytes(8, 0x3C)));
  // The entry after the last archive ends the file.
  EXPECT_EQ(Slice(out, at, out.size()), Slice(package, 2272, 2304));
}

// A big-endian package of one entry: S1 = 4, S2 = 3.
Bytes PackageBe() {
  return Cat({FromHex("00000000 00000001 50"), Bytes(55, 0), Entry("g.nj", "00000004", "00000003"),
              Bytes(2048 - 128, 0), FromHex("01020304"), Bytes(28, 0), FromHex("EEEEEE"), Bytes(29, 0)});
}

void AddImageBe(ImageList& list) { list.Add("abc", Bytes(8, 0x42), 0, 0x0901, 8, 7); }

TEST(BmlRebuildTest, GameCubePackageIsBigEndian) {
  const Bytes package = PackageBe();
  const Bytes out = Rebuilt(package, PackageArchiveKind::Gvm, AddImageBe);
  EXPECT_EQ(Slice(out, 0, 108), Slice(package, 0, 108));
  EXPECT_EQ(Slice(out, 112, 116), FromHex("00001018"));  // 4096 + 16 + 8, big-endian
  EXPECT_EQ(Slice(out, 2048, 2080), Slice(package, 2048, 2080));
  const size_t end =
      ExpectArchive(out, 0, 2080, test::PackedGvmOfOne("abc", "00000007", "10000000", Bytes(8, 0x42)), true);
  EXPECT_EQ(out.size(), end);
}

// Loaded and rebuilt again: the same bytes, whatever the number of threads.
TEST(BmlRebuildTest, RebuiltPackageRoundTrips) {
  const Bytes sample = tools::MakeSamples()[4].bytes;  // sample.bml: entries 0 and 2 hold PVMs
  WorkerPool one(1);
  WorkerPool three(3);
  const Bytes firsts[] = {Rebuilt(PackageLe(), PackageArchiveKind::Pvm, AddImagesLe),
                          Rebuilt(PackageBe(), PackageArchiveKind::Gvm, AddImageBe), sample};
  for (const Bytes& first : firsts) {
    auto store = std::make_unique<ImageStore>();
    RecordingFrontEnd ui;
    ASSERT_EQ(test::Bml(*store, ui, first), Status::Done);
    ASSERT_GT(store->imageCount, 0);
    const auto images = std::span<const TImage_Entry>(store->images).first(static_cast<size_t>(store->imageCount));
    const Bytes once = RebuildBml(first, store->packageArchiveKind, images, three);
    EXPECT_EQ(RebuildBml(first, store->packageArchiveKind, images, one), once);
    if (&first != &firsts[2]) {
      EXPECT_EQ(once, first);  // already in the rebuilt layout
    }

    ASSERT_EQ(test::Bml(*store, ui, once), Status::Done);
    const Bytes twice = RebuildBml(once, store->packageArchiveKind,
                                   std::span<const TImage_Entry>(store->images).first(
                                       static_cast<size_t>(store->imageCount)),
                                   three);
    EXPECT_EQ(twice, once);
  }
}

TEST(BmlRebuildTest, Refusals) {
  struct Row {
    const char* text;  // part of the message
    ErrorKind kind;
    std::function<void(ImageList&)> images;
    PackageArchiveKind archiveKind = PackageArchiveKind::Pvm;
    size_t cut = 0;  // package bytes kept, 0: all
  };
  const Row rows[] = {
      {kBmlNothingToRebuild, ErrorKind::Unsupported, AddImagesLe, PackageArchiveKind::None},
      {"3 packages but only 2", ErrorKind::Corrupt,
       [](ImageList& l) {
         AddImagesLe(l);
         l.Add("x", {}, 5);
       }},
      {"came from BML entry 1 but would go to entry 2", ErrorKind::Corrupt,
       [](ImageList& l) {
         l.Add("a", {}, 0);
         l.Add("b", {}, 1);
       }},
      {"entry 2 holds a texture archive that contributed no image", ErrorKind::Corrupt,
       [](ImageList& l) { l.Add("a", {}, 0); }},
      {"121 images", ErrorKind::OverCapacity,
       [](ImageList& l) {
         for (int i = 0; i < 121; ++i) l.Add("t", {}, 0);
         l.Add("d", {}, 2);
       }},
      {"ten times", ErrorKind::OverCapacity,  // 10 x 2304 bytes cannot hold 64 KB of noise
       [](ImageList& l) {
         Bytes noise(65'536);
         uint32_t x = 1;
         for (uint8_t& b : noise) {
           x = x * 1664525u + 1013904223u;
           b = static_cast<uint8_t>(x >> 24);
         }
         l.Add("noise", std::move(noise), 0);
         l.Add("d", {}, 2);
       }},
      {"runs past the end", ErrorKind::Corrupt, AddImagesLe, PackageArchiveKind::Pvm, 2250},
      {"entry table is cut short", ErrorKind::Corrupt, AddImagesLe, PackageArchiveKind::Pvm, 300},
      {"entry count 67108864", ErrorKind::Corrupt, AddImagesLe, PackageArchiveKind::Gvm},
  };
  WorkerPool pool(2);
  for (const Row& row : rows) {
    Bytes package = PackageLe();
    if (row.cut != 0) package.resize(row.cut);
    ImageList list;
    row.images(list);
    try {
      RebuildBml(package, row.archiveKind, list.images, pool);
      ADD_FAILURE() << row.text << ": rebuilt";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), row.kind) << row.text;
      EXPECT_NE(std::string(e.what()).find(row.text), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace quarrendel::archive
