#include "texture/texture_header.h"

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

namespace quarrendel::texture {
namespace {

using test::FromHex;
using test::ToHex;

TEST(TextureHeader, PvrtReadFillsEntryFields) {
  const auto bytes = FromHex("50565254 28000000 01 02 00 00 4000 2000");
  ByteReader r(bytes);
  const TextureHead head = ReadPvrtHead(r);
  EXPECT_TRUE(head.HasMagic("PVRT"));
  EXPECT_EQ(head.chunkLength, 0x28u);
  EXPECT_EQ(head.DataLength(), 0x20);
  EXPECT_EQ(head.format, 0x0201u);
  TImage_Entry e;
  ApplyHead(head, e);
  EXPECT_EQ(e.Width, 64);
  EXPECT_EQ(e.Height, 32);
  EXPECT_EQ(e.Format, 0x0201u);
}

TEST(TextureHeader, GvrtReadGivesThePvrtForm) {
  // Bytes 8-9 kept as Format bytes 2-3; width bytes 01 00 mean 256.
  const auto bytes = FromHex("47565254 10000000 AB CD 0A 08 0100 0080");
  ByteReader r(bytes);
  const TextureHead head = ReadGvrtHead(r);
  EXPECT_TRUE(head.HasMagic("GVRT"));
  EXPECT_EQ(head.chunkLength, 16u);
  EXPECT_EQ(head.format, 0xCDAB080Au);
  EXPECT_EQ(head.width, 256);
  EXPECT_EQ(head.height, 128);
  EXPECT_EQ(r.Tell(), 16u);
}

TEST(TextureHeader, GvrtWriteRestoresTheBytesRead) {
  const auto bytes = FromHex("47565254 10000000 00 00 0A 08 0100 0080");
  ByteReader r(bytes);
  const TextureHead head = ReadGvrtHead(r);
  std::vector<uint8_t> out;
  ByteWriter w(out);
  WriteGvrtHead(w, head);
  EXPECT_EQ(ToHex(out), ToHex(bytes));
}

TEST(TextureHeader, GbixInBothOrders) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  WriteGbix(w, 0x01020304, Endian::Little);
  WriteGbix(w, 0x01020304, Endian::Big);
  EXPECT_EQ(ToHex(out),
            "47 42 49 58 08 00 00 00 04 03 02 01 00 00 00 00 "
            "47 42 49 58 08 00 00 00 01 02 03 04 00 00 00 00");
  ByteReader r(out);
  EXPECT_EQ(ReadGbix(r, Endian::Little).globalIndex, 0x01020304u);
  EXPECT_EQ(ReadGbix(r, Endian::Big).globalIndex, 0x01020304u);
  EXPECT_TRUE(r.AtEnd());
}

TEST(TextureHeader, XvrtFlagsAreAddedIntoFormat) {
  XvrtHead head;
  head.chunkLength = 43704 + 56;
  head.flags = 1;
  head.formatCode = 6;
  head.globalIndex = 0x1234;
  head.width = 256;
  head.height = 256;
  head.dataLength = 43704;
  std::vector<uint8_t> out;
  ByteWriter w(out);
  WriteXvrtHead(w, head);
  ASSERT_EQ(out.size(), 64u);
  EXPECT_EQ(ToHex({out.begin(), out.begin() + 28}),
            "58 56 52 54 F0 AA 00 00 01 00 00 00 06 00 00 00 34 12 00 00 00 01 00 01 B8 AA 00 00");
  for (size_t i = 28; i < 64; ++i) EXPECT_EQ(out[i], 0) << i;
  ByteReader r(out);
  const XvrtHead back = ReadXvrtHead(r);
  TImage_Entry e;
  ApplyHead(back, e);
  EXPECT_EQ(e.Format, 0x0601u);
  EXPECT_EQ(e.GlobalIndex, 0x1234u);
  EXPECT_EQ(e.Width, 256);
  EXPECT_EQ(back.dataLength, 43704u);
}

TEST(TextureHeader, HeadOfEntryUsesDataLengthPlusEight) {
  TImage_Entry e;
  e.Width = 8;
  e.Height = 8;
  e.Format = 0x0100;
  e.DataLength = 128;
  std::vector<uint8_t> out;
  ByteWriter w(out);
  WritePvrtHead(w, HeadOfEntry(e, "PVRT"));
  EXPECT_EQ(ToHex(out), "50 56 52 54 88 00 00 00 00 01 00 00 08 00 08 00");
}

TEST(TextureHeader, TruncatedHeadThrows) {
  const auto bytes = FromHex("50565254 28000000 01 02 00 00 40");
  ByteReader r(bytes);
  EXPECT_THROW(ReadPvrtHead(r), Error);
}

}  // namespace
}  // namespace quarrendel::texture
