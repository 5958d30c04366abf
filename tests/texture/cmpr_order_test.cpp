#include "texture/cmpr_order.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/error.h"
#include "tests/support/test_util.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

TEST(CmprOrderTest, ReverseIndexPairs) {
  const struct {
    uint8_t in, out;
  } kCases[] = {{0xE4, 0x1B}, {0x1B, 0xE4}, {0x00, 0x00}, {0xFF, 0xFF}, {0x01, 0x40}, {0x80, 0x02}, {0x0C, 0x30}};
  for (const auto& c : kCases) EXPECT_EQ(ReverseIndexPairs(c.in), c.out) << int{c.in};
}

TEST(CmprOrderTest, Side8KeepsBlockOrderAndTurnsEachBlock) {
  Bytes data = FromHex(
      "01 02 03 04 E4 1B 00 FF  11 12 13 14 01 40 03 C0  21 22 23 24 00 00 00 00  31 32 33 34 0C 30 FF E4");
  Dxt1ToCmpr(8, data);
  EXPECT_EQ(ToHex(data),
            "02 01 04 03 1B E4 00 FF 12 11 14 13 40 01 C0 03 22 21 24 23 00 00 00 00 32 31 34 33 30 0C FF 1B");
}

TEST(CmprOrderTest, Side16GroupsBlocksIntoTiles) {
  // DXT1 block b carries b in its byte 1, which CMPR moves to byte 0.
  Bytes dxt1(16 * 8, 0);
  for (int b = 0; b < 16; ++b) dxt1[static_cast<size_t>(8 * b + 1)] = static_cast<uint8_t>(b);
  Bytes data = dxt1;
  Dxt1ToCmpr(16, data);
  // CMPR position p holds this DXT1 block: tiles (0,0), (1,0), (0,1), (1,1),
  // each top-left, top-right, bottom-left, bottom-right.
  const int kOrder[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};
  for (int p = 0; p < 16; ++p) {
    EXPECT_EQ(data[static_cast<size_t>(8 * p)], kOrder[p]) << p;
    EXPECT_EQ(data[static_cast<size_t>(8 * p + 1)], 0) << p;
  }
  CmprToDxt1(16, data);
  EXPECT_EQ(data, dxt1);
}

TEST(CmprOrderTest, ExactInversesAndTrailingBytesZeroed) {
  std::mt19937 rng(3);
  for (int32_t side : {8, 32, 64}) {
    const size_t top = static_cast<size_t>(side) * side / 2;
    Bytes original(top + 40);
    for (auto& b : original) b = static_cast<uint8_t>(rng());
    Bytes expected(original.begin(), original.begin() + static_cast<long>(top));
    expected.resize(original.size(), 0);

    Bytes data = original;
    Dxt1ToCmpr(side, data);
    EXPECT_EQ(Bytes(data.begin() + static_cast<long>(top), data.end()), Bytes(40, 0)) << side;
    CmprToDxt1(side, data);
    EXPECT_EQ(data, expected) << side;

    data = original;
    CmprToDxt1(side, data);
    Dxt1ToCmpr(side, data);
    EXPECT_EQ(data, expected) << side;
  }
  // No whole block: everything becomes zero.
  for (int32_t side : {0, 1, 2, 3}) {
    Bytes data(24, 0xAA);
    Dxt1ToCmpr(side, data);
    EXPECT_EQ(data, Bytes(24, 0)) << side;
  }
}

TEST(CmprOrderTest, RefusalsLeaveTheDataAlone) {
  const struct {
    int32_t side;
    size_t bytes;
    ErrorKind kind;
  } kCases[] = {{4, 8, ErrorKind::Unsupported},   {12, 72, ErrorKind::Unsupported}, {20, 200, ErrorKind::Unsupported},
                {6, 64, ErrorKind::Unsupported},  {8, 31, ErrorKind::Usage},        {16, 127, ErrorKind::Usage},
                {-8, 64, ErrorKind::Usage}};
  for (const auto& c : kCases) {
    for (bool toCmpr : {true, false}) {
      Bytes data(c.bytes, 0x5A);
      try {
        toCmpr ? Dxt1ToCmpr(c.side, data) : CmprToDxt1(c.side, data);
        ADD_FAILURE() << "side " << c.side << " was not refused";
      } catch (const Error& e) {
        EXPECT_EQ(e.Kind(), c.kind) << c.side;
      }
      EXPECT_EQ(data, Bytes(c.bytes, 0x5A)) << c.side;
    }
  }
}

}  // namespace
}  // namespace quarrendel::texture
