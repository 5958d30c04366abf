#include <gtest/gtest.h>

#include <array>

#include "core/byte_order.h"
#include "core/mip_chain.h"

namespace quarrendel {
namespace {

TEST(ByteOrder, Swap32) {
  EXPECT_EQ(Swap32(0x12345678u), 0x78563412u);
  EXPECT_EQ(Swap32(Swap32(0xCAFEBABEu)), 0xCAFEBABEu);
  EXPECT_EQ(Swap16(0x0100), 0x0001);
}

TEST(ByteOrder, SwapDwordsReversesEachWord) {
  std::array<uint8_t, 10> b{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  SwapDwords(b);
  EXPECT_EQ(b, (std::array<uint8_t, 10>{4, 3, 2, 1, 8, 7, 6, 5, 9, 10}));
}

TEST(ByteOrder, GvrtHeadConversionMovesFormatBytesAndSwapsSides) {
  ChunkHeadRecord head{'G', 'V', 'R', 'T', 0x28, 0, 0, 0, 0x00, 0x00, 0x09, 0x0E, 0x00, 0x80, 0x00, 0x40};
  const ChunkHeadRecord original = head;
  ConvertGvrtHead(head);
  const ChunkHeadRecord expected{'G', 'V', 'R', 'T', 0x28, 0, 0, 0, 0x09, 0x0E, 0x00, 0x00, 0x80, 0x00, 0x40, 0x00};
  EXPECT_EQ(head, expected);
  ConvertGvrtHead(head);
  EXPECT_EQ(head, original);
}

TEST(ByteOrder, GvmHeaderAndEntryConversions) {
  GvmHeaderRecord header{'G', 'V', 'M', 'H', 0x28, 0, 0, 0, 0x01, 0x09, 0x00, 0x02};
  ConvertGvmHeader(header);
  EXPECT_EQ(header, (GvmHeaderRecord{'G', 'V', 'M', 'H', 0x28, 0, 0, 0, 0x09, 0x01, 0x02, 0x00}));
  ConvertGvmHeader(header);
  EXPECT_EQ(header[8], 0x01);

  GvmEntryRecord entry{};
  entry[0] = 0x00;
  entry[1] = 0x05;
  entry[2] = 'n';
  entry[29] = 'z';
  entry[32] = 0x11;
  entry[33] = 0x22;
  entry[34] = 0x33;
  entry[35] = 0x44;
  const GvmEntryRecord original = entry;
  ConvertGvmEntry(entry);
  EXPECT_EQ(entry[0], 0x05);
  EXPECT_EQ(entry[1], 0x00);
  EXPECT_EQ(entry[2], 'n');
  EXPECT_EQ(entry[29], 'z');
  EXPECT_EQ((std::array<uint8_t, 4>{entry[32], entry[33], entry[34], entry[35]}),
            (std::array<uint8_t, 4>{0x44, 0x33, 0x22, 0x11}));
  ConvertGvmEntry(entry);
  EXPECT_EQ(entry, original);
}

TEST(MipChain, ChainSizes) {
  EXPECT_EQ(ChainSize4(256, 9), 43704);
  EXPECT_EQ(ChainSize4(256, 1), 32768);
  EXPECT_EQ(ChainSize8(256, 1), 65536);
  EXPECT_EQ(ChainSize8(256, 9), 87408);  // 65536+16384+4096+1024+256+64+16+16+16
  EXPECT_EQ(ChainSize4(256, 100), 43704);  // the chain ends at side 1
  EXPECT_EQ(ChainSize4(4, 5), 8 + 8 + 8);
  EXPECT_EQ(ChainSize4(0, 5), 0);
  EXPECT_EQ(ChainSize8(2, 0), 0);
}

TEST(MipChain, LevelCounts) {
  EXPECT_EQ(LevelCount4(256, 32768), 1);
  EXPECT_EQ(LevelCount4(256, 43704), 9);
  EXPECT_EQ(LevelCount4(256, 1), 1);
  EXPECT_EQ(LevelCount4(256, 32769), 2);
  EXPECT_EQ(LevelCount4(256, 0), 0);
  EXPECT_EQ(LevelCount4(0, 1000), 0);
  EXPECT_EQ(LevelCount8(0, 1000), 0);
  EXPECT_EQ(LevelCount8(256, 65536), 1);
  EXPECT_EQ(LevelCount8(256, 87408), 9);
  EXPECT_EQ(LevelCount8(256, 1'000'000), 9);
}

TEST(MipChain, TwiddledMipmapOffset) {
  EXPECT_EQ(TwiddledMipOffset(1), 1);
  EXPECT_EQ(TwiddledMipOffset(2), 2);
  EXPECT_EQ(TwiddledMipOffset(8), 22);
  EXPECT_EQ(TwiddledMipOffset(256), 21846);
  EXPECT_EQ(TwiddledMipOffset(0), 1);
}

TEST(MipChain, LargestSidesDoNotOverflow) {
  EXPECT_EQ(ChainSize8(65535, 1), 65535LL * 65535LL);
  EXPECT_GT(TwiddledMipOffset(65535), 65535LL * 65535LL / 4);
}

}  // namespace
}  // namespace quarrendel
