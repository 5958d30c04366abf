#include "core/image_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/capacity.h"
#include "core/error.h"
#include "core/frontend.h"
#include "tests/support/recording_frontend.h"

namespace quarrendel {
namespace {

TEST(ImageStore, StartsEmpty) {
  auto store = std::make_unique<ImageStore>();
  EXPECT_EQ(store->imageCount, 0);
  EXPECT_EQ(store->images.size(), 5001u);
  EXPECT_EQ(store->images[5000].Data, nullptr);
  EXPECT_TRUE(store->images[0].Name.empty());
  EXPECT_EQ(store->pvrFamily, 0);
  EXPECT_EQ(store->packageArchiveKind, PackageArchiveKind::None);
  EXPECT_EQ(store->input.Span().size(), 10'000'000u);
  EXPECT_EQ(store->input.Data()[9'999'999], 0);
  EXPECT_EQ(store->output.Data()[0], 0);
  EXPECT_EQ(store->canvas(2048, 2048), 0u);
  // The pools are not created by an idle store.
  EXPECT_FALSE(store->pools.First().Created());
}

TEST(ImageStore, CanvasIsColumnMajorWithSide2049) {
  auto store = std::make_unique<ImageStore>();
  store->canvas(1, 0) = 0xAABBCCDD;
  store->canvas(0, 2048) = 7;
  store->canvas(2048, 2048) = 9;
  EXPECT_EQ(store->canvas.All()[2049], 0xAABBCCDDu);
  EXPECT_EQ(store->canvas.All()[2048], 7u);
  EXPECT_EQ(store->canvas.All()[2049u * 2049u - 1], 9u);
  EXPECT_EQ(store->canvas.Column(1)[0], 0xAABBCCDDu);
  store->canvas.Clear(2, 2048);
  EXPECT_EQ(store->canvas(1, 0), 0u);
  EXPECT_EQ(store->canvas(0, 2048), 7u);  // row 2048 is outside the cleared 2048 rows
  store->canvas.Clear(5000, 5000);         // clamped, no overrun
  EXPECT_EQ(store->canvas(2048, 2048), 0u);
}

TEST(ImageStore, FillEntryDataReleasesTheOldBlockFirst) {
  auto store = std::make_unique<ImageStore>();
  const std::vector<uint8_t> first(600, 0x11);
  store->FillEntryData(3, first);
  TImage_Entry& e = store->images[3];
  ASSERT_NE(e.Data, nullptr);
  EXPECT_EQ(e.DataLength, 600);
  EXPECT_EQ(e.Bytes()[599], 0x11);
  const uint8_t* oldBlock = e.Data;
  EXPECT_EQ(store->pools.First().BlocksInUse(), 3);

  const std::vector<uint8_t> second{1, 2, 3};
  store->FillEntryData(3, second);
  // The old run was released before the new one was taken, so first fit reuses it.
  EXPECT_EQ(e.Data, oldBlock);
  EXPECT_EQ(store->pools.First().BlocksInUse(), 2);
  EXPECT_EQ(e.DataLength, 3);
  EXPECT_EQ(std::vector<uint8_t>(e.Bytes().begin(), e.Bytes().end()), second);

  store->FillEntryData(4, {});
  EXPECT_EQ(store->images[4].DataLength, 0);
  EXPECT_NE(store->images[4].Data, nullptr);
  EXPECT_TRUE(store->images[4].Bytes().empty());
  EXPECT_THROW(store->FillEntryData(5001, second), Error);
}

TEST(ImageStore, DataThatDoesNotFitLeavesTheEntryEmpty) {
  // Pools of 16 map entries; a request takes size / B + 2 blocks and needs
  // size / B + 4 free entries in a row.
  auto store = std::make_unique<ImageStore>(16);
  const std::vector<uint8_t> big(4000, 0x22);
  store->FillEntryData(0, big);  // first pool, entries 1..9
  store->FillEntryData(1, big);  // first pool has 6 free in a row: second pool, entries 1..7
  store->FillEntryData(2, std::vector<uint8_t>{1, 2, 3});  // first pool, entries 11..12
  ASSERT_EQ(store->pools.First().BlocksInUse(), 11);
  try {
    // Released first: the first pool then has 6 free entries in a row, the second 8; 11 and 9 are needed.
    store->FillEntryData(2, big);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::PoolFull);
  }
  EXPECT_EQ(store->images[2].Data, nullptr);
  EXPECT_EQ(store->images[2].DataLength, 0);
  EXPECT_EQ(store->pools.First().BlocksInUse(), 9);
  EXPECT_EQ(store->images[0].DataLength, 4000);
}

TEST(Capacity, ChecksRejectOnlyBeyondTheCapacities) {
  EXPECT_NO_THROW(RequireImageCount(5001));
  EXPECT_THROW(RequireImageCount(5002), Error);
  EXPECT_THROW(RequireImageCount(-1), Error);
  EXPECT_NO_THROW(RequireBufferBytes(10'000'000));
  EXPECT_THROW(RequireBufferBytes(10'000'001), Error);
  EXPECT_NO_THROW(RequireCanvasSide(2049));
  try {
    RequireCanvasSide(2050, "texture 3");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::OverCapacity);
    EXPECT_NE(std::string(e.what()).find("texture 3"), std::string::npos);
  }
}

TEST(FrontEnd, SpinFieldRules) {
  struct Row {
    int32_t min, max, value, expected;
  };
  for (const Row r : {Row{0, 1, 1, 1}, Row{0, 1, 0, 1}, Row{0, 9, 12, 9}, Row{0, 9, 0, 1}, Row{0, 9, 5, 5},
                      Row{0, 0, 0, 1}, Row{0, 0, 7, 7}, Row{0, 9, -3, 1}}) {
    EXPECT_EQ(SpinFieldValue(r.min, r.max, r.value), r.expected) << r.min << " " << r.max << " " << r.value;
  }
}

TEST(FrontEnd, RecordingFrontEndAnswersFromItsQueueAndKeepsRadioState) {
  RecordingFrontEnd fe;
  fe.fileChoices.push_back(FileChoice{"a.pvm", 2});
  auto choice = fe.AskOpenFile(DialogId::OpenDialog1, "");
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->filterIndex, 2);
  EXPECT_FALSE(fe.AskOpenFile(DialogId::OpenDialog1, ""));  // empty queue = cancel
  fe.family = TargetFamily::Gc;
  ImportOptions first = fe.RunImportOptions({0, 9, 9});
  EXPECT_EQ(first.family, TargetFamily::Gc);
  EXPECT_EQ(first.levels, 9);
  fe.typedLevels = 0;
  EXPECT_EQ(fe.RunImportOptions({0, 9, 9}).levels, 1);
  EXPECT_EQ(fe.RunImportOptions({0, 1, 1}).family, TargetFamily::Gc);
  fe.ListAdd("x");
  fe.ListSetSelectedIndex(0);
  EXPECT_EQ(fe.ListSelectedIndex(), 0);
  fe.ListSetSelectedIndex(5);
  EXPECT_EQ(fe.ListSelectedIndex(), -1);
}

}  // namespace
}  // namespace quarrendel
