#include "archive/save_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sys/stat.h>

#include "archive/bml_rebuild.h"
#include "archive/load_command.h"
#include "core/byte_io.h"
#include "prs/prs.h"
#include "tests/archive/archive_bytes.h"

namespace quarrendel::archive {
namespace {

// The kind filter index `filterIndex` of the save dialog names.
SaveKind Kind(int32_t filterIndex) { return *SaveKindOf(filterIndex); }

using namespace test;
namespace fs = std::filesystem;

const fs::path kSamples = fs::path(QUARRENDEL_SOURCE_DIR) / "samples";

// QUARRENDEL_THREADS for the commands run while it lives.
class Threads {
 public:
  explicit Threads(const char* n) { ::setenv("QUARRENDEL_THREADS", n, 1); }
  ~Threads() { ::unsetenv("QUARRENDEL_THREADS"); }
};

struct SaveCommandTest : ::testing::Test {
  std::unique_ptr<ImageStore> owned = std::make_unique<ImageStore>();
  ImageStore& store = *owned;
  RecordingFrontEnd ui;
  TempDir dir;

  // Loads `path`; the load itself must succeed without a message.
  void Load(const fs::path& path) {
    ui = RecordingFrontEnd();
    LoadFile(store, ui, path.string());
    ASSERT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  }
  std::string LastMessage() const { return ui.messages.empty() ? "" : ui.messages.back().text; }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(dir.Path())) names.insert(item.path().filename().string());
    return names;
  }
};

// Loaded and saved again as the same kind, a file this system wrote comes
// back byte for byte; packed saves run with one thread, then with three. The
// sample AFS holds PVM, XVM and GVM members: each packed kind converts the
// images of the two other families once, and the file written saves again
// as it is.
TEST_F(SaveCommandTest, SavedAgainAsTheSameKindIsIdentical) {
  struct Row {
    const char* source;
    int32_t filterIndex;
    const char* name;       // the name chosen, its extension already the forced one
    bool sameAsSource;      // the sample itself was written by the archive writer
    const char* converted;  // told by the first save, or ""
  };
  const Row rows[] = {
      {"sample.pvm", 1, "a.pvm", true, ""},   {"sample.xvm", 2, "a.xvm", true, ""},
      {"sample.gvm", 5, "a.gvm", true, ""},   {"sample.pvm", 3, "pc.afs", false, ""},
      {"sample.xvm", 4, "xb.afs", false, ""}, {"sample.gvm", 6, "gc.afs", false, ""},
      {"sample.afs", 3, "packed_pc", false, "4 images were converted for DC/PC"},
      {"sample.afs", 4, "packed_xb", false, "5 images were converted for XBox/BB"},
      {"sample.afs", 6, "packed_gc", false, "5 images were converted for GC"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path first = dir / row.name;
    const fs::path second = dir / ("again_" + std::string(row.name));
    Load(kSamples / row.source);
    {
      const Threads one("1");
      ASSERT_TRUE(SaveAs(store, ui, first.string(), Kind(row.filterIndex))) << LastMessage();
    }
    if (row.converted[0] != '\0') {
      ASSERT_EQ(ui.messages.size(), 1u);
      EXPECT_EQ(ui.messages[0].text, row.converted);
    } else {
      EXPECT_TRUE(ui.messages.empty());
    }
    Load(first);
    ui.messages.clear();
    {
      const Threads three("3");
      ASSERT_TRUE(SaveAs(store, ui, second.string(), Kind(row.filterIndex))) << LastMessage();
    }
    EXPECT_TRUE(ui.messages.empty());
    const Bytes saved = ReadFileBytes(first);
    EXPECT_EQ(ReadFileBytes(second), saved);
    if (row.sameAsSource) {
      EXPECT_EQ(saved, ReadFileBytes(kSamples / row.source));
    }
  }

  // A BML rebuilt, rebuilt again from the file just written, then loaded and rebuilt once more.
  const fs::path bml = dir / "p.bml";
  fs::copy_file(kSamples / "sample.bml", bml);
  Load(bml);
  Bytes once;
  struct Pass {
    const char* threads;
    bool reload;
  };
  for (const Pass& pass : {Pass{"1", false}, Pass{"3", false}, Pass{"2", true}}) {
    SCOPED_TRACE(pass.threads);
    if (pass.reload) Load(bml);
    const Threads n(pass.threads);
    store.MarkChanged();
    ASSERT_TRUE(RebuildLoadedBml(store, ui)) << LastMessage();
    EXPECT_EQ(LastMessage(), kBmlRebuilt);
    EXPECT_FALSE(store.unsavedChanges);
    if (once.empty()) once = ReadFileBytes(bml);
    EXPECT_EQ(ReadFileBytes(bml), once);
  }
  // The rebuild counts the package's two archives on the panel, then hides it.
  std::vector<std::string> captions;
  for (const auto& step : ui.progress) {
    if (step.caption.starts_with("Rebuilding")) captions.push_back(step.caption + " @" + std::to_string(step.position));
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"Rebuilding BML : archive 0 / 2 @0", "Rebuilding BML : archive 1 / 2 @1",
                                                "Rebuilding BML : archive 2 / 2 @2"}));
  EXPECT_FALSE(ui.progressVisible);
}

TEST_F(SaveCommandTest, NamesForcedAndPrsWrappedInMemory) {
  // Nothing loaded, index 1: a PVM of 12 bytes, the header with count 0 and header length 4.
  ASSERT_TRUE(SaveAs(store, ui, (dir / "empty").string(), Kind(1)));
  EXPECT_EQ(ReadFileBytes(dir / "empty.pvm"), FromHex("50564D48 04000000 0901 0000"));

  // STAGE.PRS, index 1: STAGE.prs holds the compressed PVM; a file under the
  // forced name STAGE.pvm is neither written nor removed.
  Load(kSamples / "sample.pvm");
  WriteFileBytes(dir / "STAGE.pvm", FromHex("6B656570"));
  ASSERT_TRUE(SaveAs(store, ui, (dir / "STAGE.PRS").string(), Kind(1))) << LastMessage();
  EXPECT_EQ(prs::DecompressWhole(ReadFileBytes(dir / "STAGE.prs")), ReadFileBytes(kSamples / "sample.pvm"));
  EXPECT_EQ(ReadFileBytes(dir / "STAGE.pvm"), FromHex("6B656570"));

  // Packed mode: the name as chosen.
  Load(kSamples / "sample.afs");
  ASSERT_TRUE(SaveAs(store, ui, (dir / "disc").string(), Kind(3))) << LastMessage();
  EXPECT_EQ(Slice(ReadFileBytes(dir / "disc"), 0, 8), FromHex("41465300 03000000"));
  EXPECT_EQ(Files(), (std::set<std::string>{"empty.pvm", "STAGE.pvm", "STAGE.prs", "disc"}));
}

// A name ending in .prs wraps every kind: the file unpacks whole to what the
// same save without .prs writes, and loads as the same images.
TEST_F(SaveCommandTest, EveryKindIsWrappedUnderAPrsName) {
  struct Row {
    const char* source;
    int32_t filterIndex;
    const char* plain;    // the name chosen without .prs
    const char* chosen;   // with .prs
    const char* written;  // the name the wrapped file gets
  };
  const Row rows[] = {
      {"sample.pvm", 1, "a", "a.PRS", "a.prs"},           {"sample.pvm", 2, "b", "b.prs", "b.prs"},
      {"sample.gvm", 5, "c", "c.prs", "c.prs"},           {"sample.pvm", 3, "d", "d.prs", "d.prs"},
      {"sample.xvm", 4, "e", "e.Prs", "e.prs"},           {"sample.gvm", 6, "f", "f.prs", "f.prs"},
      {"sample.afs", 3, "g.afs", "g.afs.prs", "g.afs.prs"}, {"sample.afs", 4, "h", "h.prs", "h.prs"},
      {"sample.afs", 6, "y.afs", "y.afs.PRS", "y.afs.prs"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.chosen);
    Load(kSamples / row.source);
    std::string plain;
    std::string wrapped;
    ASSERT_TRUE(SaveAs(store, ui, (dir / row.plain).string(), Kind(row.filterIndex), SaveOptions{false, {}, &plain}))
        << LastMessage();
    ASSERT_TRUE(SaveAs(store, ui, (dir / row.chosen).string(), Kind(row.filterIndex), SaveOptions{false, {}, &wrapped}))
        << LastMessage();
    EXPECT_EQ(wrapped, (dir / row.written).string());
    EXPECT_EQ(prs::DecompressWhole(ReadFileBytes(wrapped)), ReadFileBytes(plain));

    Load(plain);
    const int32_t count = store.imageCount;
    std::vector<Bytes> data;
    for (int32_t i = 0; i < count; ++i) data.emplace_back(store.images[static_cast<size_t>(i)].Bytes().begin(),
                                                         store.images[static_cast<size_t>(i)].Bytes().end());
    Load(wrapped);
    ASSERT_EQ(store.imageCount, count);
    ASSERT_GT(count, 0);
    for (int32_t i = 0; i < count; ++i) {
      const TImage_Entry& e = store.images[static_cast<size_t>(i)];
      EXPECT_EQ(Bytes(e.Bytes().begin(), e.Bytes().end()), data[static_cast<size_t>(i)]) << i;
    }
  }
}

// A packed AFS beyond the 10,000,000 bytes that a whole file in memory once
// held: six packages of noise, written as they are compressed, load back as
// the same images; the same images under a .prs name are refused, as a .prs
// file that large could not be loaded.
TEST_F(SaveCommandTest, LargePackedAfsIsWrittenInPiecesAndLoadsBack) {
  ImageList list;
  uint32_t x = 7;
  constexpr int kPackages = 6;
  for (int p = 0; p < kPackages; ++p) {
    Bytes noise(1'500'000);
    for (size_t k = 0; k < noise.size(); k += 4) {
      x = x * 1664525u + 1013904223u;
      for (size_t b = 0; b < 4; ++b) noise[k + b] = static_cast<uint8_t>(x >> (8 * b));
    }
    store.images[static_cast<size_t>(p)] =
        list.Add("noise" + std::to_string(p), std::move(noise), p, 0x0901, 8, static_cast<uint32_t>(p));
  }
  store.imageCount = kPackages;
  store.packageMode = 1;
  std::string written;
  ASSERT_TRUE(SaveAs(store, ui, (dir / "big.afs").string(), Kind(3), SaveOptions{false, {}, &written})) << LastMessage();
  EXPECT_GT(fs::file_size(written), static_cast<uintmax_t>(kBufferSize));

  EXPECT_FALSE(SaveAs(store, ui, (dir / "big.prs").string(), Kind(3)));
  EXPECT_EQ(LastMessage(), "The file was not saved:\nthe packed AFS would pass 10000000 bytes at archive 5; a .prs "
                           "file unpacks to at most 10000000 bytes; save it under a name without .prs");
  EXPECT_EQ(Files(), std::set<std::string>{"big.afs"});

  Load(written);
  ASSERT_EQ(store.imageCount, kPackages);
  for (int p = 0; p < kPackages; ++p) {
    const TImage_Entry& e = store.images[static_cast<size_t>(p)];
    EXPECT_EQ(e.PackageIndex, p);
    EXPECT_EQ(e.Name, "noise" + std::to_string(p));
    EXPECT_TRUE(Bytes(e.Bytes().begin(), e.Bytes().end()) == list.data[static_cast<size_t>(p)]) << p;
  }
}

TEST_F(SaveCommandTest, RefusalsWriteNothing) {
  // Images missing: the PVM cut inside its second texture.
  const Bytes pvm = ReadFileBytes(kSamples / "sample.pvm");
  WriteFileBytes(dir / "cut.pvm", Slice(pvm, 0, pvm.size() - 100));
  LoadFile(store, ui, (dir / "cut.pvm").string());
  ASSERT_TRUE(store.loadIncomplete);
  EXPECT_FALSE(SaveAs(store, ui, (dir / "out").string(), Kind(1)));
  EXPECT_NE(LastMessage().find("Images are missing"), std::string::npos) << LastMessage();

  // 121 images of one package cannot share a packed PVM's 4096-byte header area.
  Load(kSamples / "sample.afs");
  ImageList many;
  for (int i = 0; i < 121; ++i) store.images[static_cast<size_t>(i)] = many.Add("t", Bytes(8, 1));
  store.imageCount = 121;
  EXPECT_FALSE(SaveAs(store, ui, (dir / "out").string(), Kind(3)));
  EXPECT_NE(LastMessage().find("holds 121 images; a packed archive holds at most 120"), std::string::npos)
      << LastMessage();
  for (int i = 0; i < 121; ++i) store.images[static_cast<size_t>(i)] = TImage_Entry();

  // Wrapping more than the 10,000,000-byte buffer.
  ImageList big;
  store.images[0] = big.Add("big", Bytes(kBufferSize, 0));
  store.imageCount = 1;
  store.packageMode = 0;
  EXPECT_FALSE(SaveAs(store, ui, (dir / "big.prs").string(), Kind(1)));
  EXPECT_NE(LastMessage().find("compresses at most 10000000"), std::string::npos) << LastMessage();
  store.images[0] = TImage_Entry();

  // An image that declares data it does not hold, saved over an earlier
  // archive: refused, the earlier file kept and no temporary file left.
  WriteFileBytes(dir / "kept.pvm", FromHex("6B656570"));
  ImageList hollow;
  store.images[0] = hollow.Add("hollow", {});
  store.images[0].DataLength = 4;
  EXPECT_FALSE(SaveAs(store, ui, (dir / "kept").string(), Kind(1)));
  EXPECT_EQ(LastMessage(), "The file was not saved:\nimage 0 declares 4 bytes of data but holds none");
  EXPECT_EQ(ReadFileBytes(dir / "kept.pvm"), FromHex("6B656570"));
  store.images[0] = TImage_Entry();
  store.imageCount = 0;

  ui.fileChoices.push_back(FileChoice{(dir / "out").string(), 7});
  EXPECT_FALSE(SaveCommand(store, ui));
  EXPECT_EQ(LastMessage(), "The file was not saved:\nfilter index 7 names no kind of file");
  EXPECT_EQ(Files(), (std::set<std::string>{"cut.pvm", "kept.pvm"}));
}

// The smallest streams: no larger than the greedy ones, and the same archives inside.
TEST_F(SaveCommandTest, BestStreamsUnpackToTheSameArchives) {
  Load(kSamples / "sample.afs");
  store.MarkChanged();
  ASSERT_TRUE(SaveAs(store, ui, (dir / "greedy").string(), Kind(6))) << LastMessage();
  EXPECT_FALSE(store.unsavedChanges);
  ASSERT_TRUE(SaveAs(store, ui, (dir / "best").string(), Kind(6), SaveOptions{true, {}})) << LastMessage();
  const Bytes greedy = ReadFileBytes(dir / "greedy");
  const Bytes best = ReadFileBytes(dir / "best");
  const ByteReader g(greedy);
  const ByteReader b(best);
  ASSERT_EQ(b.U32LeAt(4), 3u);
  for (size_t m = 0; m < 3; ++m) {
    const uint32_t gSize = g.U32LeAt(12 + 8 * m);
    const uint32_t bSize = b.U32LeAt(12 + 8 * m);
    EXPECT_LE(bSize, gSize) << m;
    EXPECT_EQ(prs::Decompress(b.BytesAt(b.U32LeAt(8 + 8 * m), bSize)),
              prs::Decompress(g.BytesAt(g.U32LeAt(8 + 8 * m), gSize)));
  }

  Load(kSamples / "sample.pvm");
  ASSERT_TRUE(SaveAs(store, ui, (dir / "s.prs").string(), Kind(1), SaveOptions{true, {}})) << LastMessage();
  EXPECT_EQ(prs::DecompressWhole(ReadFileBytes(dir / "s.prs")), ReadFileBytes(kSamples / "sample.pvm"));
  EXPECT_LE(ReadFileBytes(dir / "s.prs").size(), prs::Compress(ReadFileBytes(kSamples / "sample.pvm")).size());
}

TEST_F(SaveCommandTest, AFileThatCannotBeWrittenIsNamedAndKeptAsItWas) {
  Load(kSamples / "sample.pvm");
  const fs::path kept = dir / "kept.gvm";
  WriteFileBytes(kept, FromHex("01020304"));
  ::chmod(kept.c_str(), 0444);
  EXPECT_FALSE(SaveAs(store, ui, (dir / "kept").string(), Kind(5)));
  EXPECT_EQ(LastMessage().rfind("Failled to create file\r\n" + kept.string() + "\r\ncannot write ", 0), 0u)
      << LastMessage();
  EXPECT_EQ(ReadFileBytes(kept), FromHex("01020304"));

  // The command line's input file under another name.
  const fs::path input = dir / "in.pvm";
  fs::copy_file(kSamples / "sample.pvm", input);
  fs::create_hard_link(input, dir / "alias.pvm");
  Load(input);
  EXPECT_FALSE(SaveAs(store, ui, (dir / "alias").string(), Kind(1), SaveOptions{false, {input.string()}}));
  EXPECT_NE(LastMessage().find("it is the input file"), std::string::npos) << LastMessage();
  // The window names no input: it may save over the file it loaded.
  EXPECT_TRUE(SaveAs(store, ui, (dir / "in").string(), Kind(1))) << LastMessage();
  EXPECT_EQ(ReadFileBytes(input), ReadFileBytes(kSamples / "sample.pvm"));
  EXPECT_EQ(Files(), (std::set<std::string>{"kept.gvm", "in.pvm", "alias.pvm"}));
}

TEST_F(SaveCommandTest, RebuildOnlyOverTheBytesThatWereLoaded) {
  const fs::path bml = dir / "p.bml";
  const Bytes original = ReadFileBytes(kSamples / "sample.bml");
  WriteFileBytes(bml, original);

  // Changed on disk since the load: one byte of an entry's model data.
  Load(bml);
  Bytes changed = original;
  changed[2048] ^= 1;
  WriteFileBytes(bml, changed);
  EXPECT_FALSE(RebuildLoadedBml(store, ui));
  EXPECT_EQ(LastMessage(), "The BML file was not rebuilt:\n" + bml.string() +
                               " has changed since it was loaded; load it again first");
  EXPECT_EQ(ReadFileBytes(bml), changed);

  // More packages than entries with an archive.
  WriteFileBytes(bml, original);
  Load(bml);
  store.images[1].PackageIndex = 1;
  EXPECT_FALSE(RebuildLoadedBml(store, ui));
  EXPECT_NE(LastMessage().find("form 4 packages but only 2 BML entries hold a texture archive"), std::string::npos)
      << LastMessage();

  // The package cannot be replaced: named, and left as it was.
  Load(bml);
  ::chmod(bml.c_str(), 0444);
  EXPECT_FALSE(RebuildLoadedBml(store, ui));
  EXPECT_EQ(LastMessage().rfind(std::string(kCreateFileFailed) + bml.string() + "\r\n", 0), 0u) << LastMessage();
  ::chmod(bml.c_str(), 0644);
  EXPECT_EQ(ReadFileBytes(bml), original);

  // Loaded through ".prs": the bytes on disk are compressed.
  const fs::path wrapped = dir / "p.prs";
  WriteFileBytes(wrapped, prs::Compress(original));
  Load(wrapped);
  ASSERT_EQ(store.bmlFlag, 1);
  EXPECT_FALSE(RebuildLoadedBml(store, ui));
  EXPECT_NE(LastMessage().find("is PRS-compressed"), std::string::npos) << LastMessage();
  EXPECT_EQ(ReadFileBytes(wrapped), prs::Compress(original));
  EXPECT_EQ(Files(), (std::set<std::string>{"p.bml", "p.prs"}));
}

TEST_F(SaveCommandTest, APackageWithoutArchivesIsNotRebuilt) {
  const Bytes empty = BmlWithoutArchives();
  WriteFileBytes(dir / "empty.bml", empty);
  LoadFile(store, ui, (dir / "empty.bml").string());
  SaveCommand(store, ui);  // the BML flag is set: no dialog
  EXPECT_TRUE(ui.dialogsAsked.empty());
  EXPECT_EQ(LastMessage(), kBmlNothingToRebuild);
  EXPECT_EQ(ReadFileBytes(dir / "empty.bml"), empty);
}

}  // namespace
}  // namespace quarrendel::archive
