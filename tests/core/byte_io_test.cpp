#include "core/byte_io.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarrendel {
namespace {

const std::vector<uint8_t> kBytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0x00, 0x41, 0x42};

TEST(ByteReader, ReadsBothByteOrders) {
  ByteReader r(kBytes);
  EXPECT_EQ(r.U16LeAt(0), 0x3412);
  EXPECT_EQ(r.U16BeAt(0), 0x1234);
  EXPECT_EQ(r.U32LeAt(0), 0x78563412u);
  EXPECT_EQ(r.U32BeAt(0), 0x12345678u);
  EXPECT_EQ(r.U32BeAt(1), 0x3456789Au);
  EXPECT_EQ(r.U8(), 0x12);
  EXPECT_EQ(r.U16Be(), 0x3456);
  EXPECT_EQ(r.U32Le(), 0x4100'9A78u);
  EXPECT_EQ(r.Tell(), 7u);
  EXPECT_EQ(r.Remaining(), 1u);
}

TEST(ByteReader, ReadPastTheEndThrowsWithOffsetAndKeepsCursor) {
  ByteReader r(kBytes);
  r.Seek(6);
  try {
    r.U32Le();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Truncated);
    EXPECT_EQ(e.Offset(), 6);
  }
  EXPECT_EQ(r.Tell(), 6u);
  EXPECT_THROW(r.Seek(9), Error);
  EXPECT_NO_THROW(r.Seek(8));
  EXPECT_TRUE(r.AtEnd());
  EXPECT_THROW(r.U8(), Error);
  // Huge counts do not wrap around.
  EXPECT_THROW(r.BytesAt(1, SIZE_MAX), Error);
  EXPECT_FALSE(r.HasAt(SIZE_MAX, 1));
}

TEST(ByteReader, SubReaderReportsOffsetsOfTheWholeData) {
  ByteReader r(kBytes);
  ByteReader sub = r.Sub(4, 3);
  EXPECT_EQ(sub.Size(), 3u);
  EXPECT_EQ(sub.U8At(0), 0x9A);
  try {
    sub.U32LeAt(1);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Offset(), 5);
  }
  EXPECT_THROW(r.Sub(6, 3), Error);
}

TEST(ByteReader, FixedTextStopsAtZeroAndMagicCompares) {
  ByteReader r(kBytes);
  r.Seek(4);
  EXPECT_EQ(r.FixedText(4), "\x9A");
  EXPECT_EQ(r.Tell(), 8u);
  EXPECT_TRUE(r.MagicAt(6, "AB"));
  EXPECT_FALSE(r.MagicAt(6, "ABC"));  // runs past the end
  EXPECT_FALSE(r.MagicAt(0, "AB"));
}

TEST(ByteWriter, WritesBothByteOrdersIntoAVector) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  w.U16Le(0x1234);
  w.U16Be(0x1234);
  w.U32Le(0xA1B2C3D4);
  w.U32Be(0xA1B2C3D4);
  w.FixedText("abc", 5);
  w.FixedText("abcdef", 2);
  const std::vector<uint8_t> expected{0x34, 0x12, 0x12, 0x34, 0xD4, 0xC3, 0xB2, 0xA1, 0xA1, 0xB2,
                                      0xC3, 0xD4, 'a',  'b',  'c',  0,    0,    'a',  'b'};
  EXPECT_EQ(out, expected);
  w.Seek(2);
  w.U8(0xEE);
  EXPECT_EQ(out[2], 0xEE);
  EXPECT_EQ(out.size(), expected.size());
}

TEST(ByteWriter, FixedSpanNeverWritesPastItsEnd) {
  std::vector<uint8_t> backing(6, 0x55);
  ByteWriter w(std::span<uint8_t>(backing.data(), 4));
  w.U16Le(0x0102);
  EXPECT_THROW(w.U32Le(1), Error);
  w.U16Be(0x0304);
  EXPECT_THROW(w.U8(0), Error);
  EXPECT_EQ(backing, (std::vector<uint8_t>{0x02, 0x01, 0x03, 0x04, 0x55, 0x55}));
}

TEST(ByteWriter, CopiesBytesOfItsOwnVectorWhileGrowingIt) {
  // The vector is full, so the copy makes it reallocate: the source must be
  // read from the new storage, not the freed one.
  std::vector<uint8_t> out{1, 2, 3, 4};
  out.shrink_to_fit();
  ByteWriter w(out);
  w.Bytes(std::span<const uint8_t>(out).subspan(1, 3));
  w.Bytes(std::span<const uint8_t>(out));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 2, 3, 4, 1, 2, 3, 4, 2, 3, 4}));
  // Overlapping source and destination after a seek back.
  w.Seek(1);
  w.Bytes(std::span<const uint8_t>(out).subspan(0, 4));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 1, 2, 3, 4, 3, 4, 1, 2, 3, 4, 2, 3, 4}));
}

}  // namespace
}  // namespace quarrendel
