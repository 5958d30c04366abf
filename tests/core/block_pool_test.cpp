#include "core/block_pool.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/error.h"

namespace quarrendel {
namespace {

// Number of map entries set in [from, to].
int Used(const BlockPool& pool, int from, int to) {
  int n = 0;
  for (int i = from; i <= to; ++i) n += pool.MapEntry(i);
  return n;
}

TEST(BlockPool, IsCreatedOnlyOnFirstAllocation) {
  BlockPools pools;
  EXPECT_FALSE(pools.First().Created());
  EXPECT_FALSE(pools.Second().Created());
  uint8_t* p = pools.Allocate(10);
  EXPECT_TRUE(pools.First().Created());
  EXPECT_FALSE(pools.Second().Created());
  pools.Release(p);
}

TEST(BlockPool, RunSizesAreSizeDivBlockPlusTwo) {
  struct Row {
    int32_t size;
    int blocks;
  };
  for (const Row row : {Row{0, 2}, Row{1, 2}, Row{511, 2}, Row{512, 3}, Row{1023, 3}, Row{1024, 4}}) {
    BlockPools pools;
    uint8_t* p = pools.Allocate(row.size);
    EXPECT_EQ(pools.First().BlockIndex(p), 1) << row.size;  // block 0 is never handed out
    EXPECT_EQ(pools.First().BlocksInUse(), row.blocks) << row.size;
    EXPECT_EQ(Used(pools.First(), 1, row.blocks), row.blocks) << row.size;
    EXPECT_EQ(pools.First().MapEntry(0), 0);
    EXPECT_EQ(pools.First().MapEntry(row.blocks + 1), 0);
  }
}

TEST(BlockPool, FirstAllocationIsBasePlusOneBlockAndWritable) {
  BlockPools pools;
  uint8_t* a = pools.Allocate(511);
  // The whole requested size is usable (ASan would catch a short block).
  for (int i = 0; i < 511; ++i) a[i] = static_cast<uint8_t>(i);
  uint8_t* b = pools.Allocate(100);
  // a occupies blocks 1-2, a free block 3 separates it from b.
  EXPECT_EQ(pools.First().BlockIndex(b), 4);
  EXPECT_EQ(b - a, 3 * 512);
}

TEST(BlockPool, ReleaseStopsAtTheFreeBlockBetweenRuns) {
  BlockPools pools;
  uint8_t* a = pools.Allocate(100);  // blocks 1-2
  uint8_t* b = pools.Allocate(100);  // blocks 4-5
  uint8_t* keepB = b;
  pools.Release(a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(Used(pools.First(), 0, 3), 0);
  EXPECT_EQ(pools.First().MapEntry(4), 1);
  EXPECT_EQ(pools.First().MapEntry(5), 1);
  EXPECT_EQ(b, keepB);
  // First fit from 0 reuses a's place.
  uint8_t* c = pools.Allocate(0);
  EXPECT_EQ(pools.First().BlockIndex(c), 1);
}

TEST(BlockPool, ReleaseOfForeignPointerIsIgnored) {
  BlockPools pools;
  uint8_t* a = pools.Allocate(10);
  uint8_t local[4] = {};
  uint8_t* foreign = local;
  pools.Release(foreign);
  EXPECT_EQ(foreign, local);
  uint8_t* inside = a + 1;  // not a block start
  pools.Release(inside);
  EXPECT_EQ(inside, a + 1);
  EXPECT_EQ(pools.First().BlocksInUse(), 2);
  uint8_t* null = nullptr;
  pools.Release(null);
  EXPECT_EQ(null, nullptr);
}

TEST(BlockPool, LargeRequestGoesToTheSecondPool) {
  BlockPools pools;
  // 99,997 blocks of 512 = 51,198,464 bytes: the first pool cannot hold size/512 + 2 blocks
  // plus two free neighbours inside 100,000 map entries, the second can.
  const int32_t size = 99'997 * 512;
  uint8_t* p = pools.Allocate(size);
  EXPECT_LT(pools.First().BlockIndex(p), 0);
  EXPECT_EQ(pools.Second().BlockIndex(p), 1);
  EXPECT_EQ(pools.Second().BlocksInUse(), size / 768 + 2);
  p[size - 1] = 0xAB;
  pools.Release(p);
  EXPECT_EQ(pools.Second().BlocksInUse(), 0);
}

TEST(BlockPool, RunEndingPastTheLastMapEntryDoesNotFit) {
  BlockPool pool(512);
  // n = 99,997: free entry 0, run 1..99,998, free entry 99,999 - exactly fits.
  uint8_t* p = pool.TryAllocate(99'996 * 512);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(pool.BlocksInUse(), 99'998);
  EXPECT_EQ(pool.MapEntry(99'998), 1);
  EXPECT_EQ(pool.MapEntry(99'999), 0);
  ASSERT_TRUE(pool.TryRelease(p));
  // One block more would need its free neighbour at entry 100,000, past the map.
  EXPECT_EQ(pool.TryAllocate(99'997 * 512), nullptr);
  EXPECT_EQ(pool.BlocksInUse(), 0);
}

TEST(BlockPool, BothFullRaisesMemoryBufferIsFull) {
  BlockPools pools;
  std::vector<uint8_t*> held;
  // Four large runs fill both pools.
  held.push_back(pools.Allocate(90'000 * 512));
  held.push_back(pools.Allocate(90'000 * 768));
  try {
    pools.Allocate(20'000 * 768);
    FAIL() << "expected the pools to be full";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::PoolFull);
    EXPECT_STREQ(e.what(), "Memory Buffer is full");
  }
  // What was allocated stays allocated.
  EXPECT_EQ(pools.First().BlocksInUse(), 90'002);
  for (auto*& p : held) pools.Release(p);
}

TEST(BlockPool, FirstFitMatchesAPlainScanAfterChurn) {
  // The search starts where the last window of four free entries could be; the
  // result must equal the plain first-fit scan from entry 0 at every step.
  BlockPool pool(512);
  std::vector<uint8_t*> live;
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xFFFF;
  };
  std::vector<uint8_t> shadow(BlockPool::kMapEntries, 0);
  for (int step = 0; step < 1500; ++step) {
    if (!live.empty() && next() % 3 == 0) {
      const size_t k = next() % live.size();
      const int32_t i = pool.BlockIndex(live[k]);
      for (int32_t j = i; j < BlockPool::kMapEntries && shadow[static_cast<size_t>(j)] == 1; ++j) {
        shadow[static_cast<size_t>(j)] = 0;
      }
      ASSERT_TRUE(pool.TryRelease(live[k]));
      live.erase(live.begin() + static_cast<long>(k));
      continue;
    }
    const int32_t size = static_cast<int32_t>(next() % 3000);
    const int32_t n = size / 512 + 1;
    int32_t expected = -1;
    for (int32_t i = 0; i + n + 2 < BlockPool::kMapEntries && expected < 0; ++i) {
      bool free = true;
      for (int32_t j = i; j <= i + n + 2 && free; ++j) free = shadow[static_cast<size_t>(j)] == 0;
      if (free) expected = i + 1;
    }
    uint8_t* p = pool.TryAllocate(size);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(pool.BlockIndex(p), expected) << "step " << step;
    for (int32_t j = expected; j <= expected + n; ++j) shadow[static_cast<size_t>(j)] = 1;
    live.push_back(p);
  }
}

TEST(BlockPool, NegativeSizeIsRejected) {
  BlockPools pools;
  EXPECT_THROW(pools.Allocate(-1), Error);
}

}  // namespace
}  // namespace quarrendel
