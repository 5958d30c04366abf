// PRS streams written out by hand: control bytes read lowest bit first, data
// bytes behind the control byte that holds their command's last bit.
#include "prs/prs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/image_store.h"
#include "tests/support/test_util.h"

namespace quarrendel::prs {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToHex;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Repeat(const std::string& s, size_t times) {
  Bytes out;
  for (size_t k = 0; k < times; ++k) out.insert(out.end(), s.begin(), s.end());
  return out;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct DecodeCase {
  const char* name;
  const char* stream;
  Bytes expected;
  size_t consumed;
};

class DecodeGolden : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeGolden, ProducesExpectedBytes) {
  const DecodeCase& c = GetParam();
  const Bytes in = FromHex(c.stream);
  Bytes out(4096, 0xEE);
  const DecompressResult r = Decompress(in, std::span<uint8_t>(out));
  ASSERT_TRUE(r.Ok()) << r.error->what();
  EXPECT_EQ(ToHex(Bytes(out.begin(), out.begin() + static_cast<long>(r.size))), ToHex(c.expected));
  EXPECT_EQ(r.consumed, c.consumed);
  EXPECT_EQ(ToHex(Decompress(in)), ToHex(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Prs, DecodeGolden,
    ::testing::Values(
        // bits 0,1 then the zero word
        DecodeCase{"EndOnly", "02 00 00", {}, 3},
        DecodeCase{"BytesAfterEndIgnored", "02 00 00 61 62 63", {}, 3},
        // 1 | 0,1 w=FFFF: distance 1, length 9 | 0,1 end
        DecodeCase{"LongCopyDistance1Length9", "15 61 FF FF 00 00", Repeat("a", 10), 6},
        // w=FFF8 takes a third byte: 00 -> length 1, FF -> length 256
        DecodeCase{"LongCopyThirdByteZero", "15 61 F8 FF 00 00 00", Repeat("a", 2), 7},
        DecodeCase{"LongCopyThirdByteFF", "15 61 F8 FF FF 00 00", Repeat("a", 257), 7},
        // 1 | 0,0,1,1 b=FF: distance 1, length 5 | 0,1
        DecodeCase{"ShortCopyFFIsDistance1", "59 78 FF 00 00", Repeat("x", 6), 5},
        // q, r | long copy 254 of r at distance 1 | 0,0,0,0 b=00: distance 256, length 2
        // (all eight bits in the first control byte) | next control byte 02: end
        DecodeCase{"ShortCopy00IsDistance256", "0B 71 72 F8 FF FD 00 02 00 00",
                   Concat({Text("q"), Repeat("r", 255), Text("qr")}), 10},
        // six literals, short copy bits 0,0 end the first control byte; h=1,l=0
        // come from control byte 09, which precedes the copy's data byte FD
        DecodeCase{"ControlByteBetweenShortCopyBits", "3F 61 62 63 64 65 66 09 FD 00 00",
                   Text("abcdefdefd"), 11},
        // five literals, 0,0,h=0 | control byte 05: l=1, then end 0,1
        DecodeCase{"ControlByteBetweenHighAndLowLengthBit", "1F 61 62 63 64 65 05 FE 00 00",
                   Text("abcdeded"), 10},
        // seven literals, long copy bit 0 | control byte 05: bit 1, end 0,1;
        // w=FFC9: distance 7, length 3
        DecodeCase{"ControlByteBetweenLongCopyBits", "7F 61 62 63 64 65 66 67 05 C9 FF 00 00",
                   Text("abcdefgabc"), 13},
        // the encoder's closing: the end command's extra zero byte is not read
        DecodeCase{"WorkedAbcFourTimes", "57 61 62 63 EF FF 00 00 00", Repeat("abc", 4), 8},
        // no end command: the input ends exactly after the last command
        DecodeCase{"EndsAtInputLengthAfterLiterals", "07 61 62 63", Text("abc"), 4},
        DecodeCase{"EndsAtInputLengthAfterCopy", "15 61 FD FF", Repeat("a", 8), 4},
        // seven literals use the whole input; the unused control bit is ignored
        DecodeCase{"EndsAtInputLengthWithBitsLeft", "7F 61 62 63 64 65 66 67", Text("abcdefg"), 8},
        DecodeCase{"EmptyInput", "", {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  const char* stream;
  size_t produced;        // bytes written before the failing command
  int64_t commandOffset;  // where that command starts
  size_t outputSize;
  StreamEnd end;
};

class DecodeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DecodeFailure, StopsAndReports) {
  const FailureCase& c = GetParam();
  const Bytes in = FromHex(c.stream);
  // The output sits inside a larger vector: nothing past its end may change.
  Bytes storage(c.outputSize + 16, 0xEE);
  const DecompressResult r = Decompress(in, std::span<uint8_t>(storage.data(), c.outputSize));
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.end, c.end);
  const ErrorKind kind = c.end == StreamEnd::InputCut      ? ErrorKind::Truncated
                         : c.end == StreamEnd::BeforeStart ? ErrorKind::Corrupt
                                                           : ErrorKind::OverCapacity;
  EXPECT_EQ(r.error->Kind(), kind);
  EXPECT_EQ(r.error->Offset(), c.commandOffset);
  const char* words = c.end == StreamEnd::InputCut      ? "PRS stream is cut short"
                      : c.end == StreamEnd::BeforeStart ? "PRS stream is corrupt"
                                                        : "bytes, the most that can be handled";
  EXPECT_NE(std::string(r.error->what()).find(words), std::string::npos) << r.error->what();
  EXPECT_EQ(r.size, c.produced);
  for (size_t k = c.outputSize; k < storage.size(); ++k) ASSERT_EQ(storage[k], 0xEE) << k;
  EXPECT_THROW(Decompress(in, c.outputSize), Error);
  EXPECT_THROW(DecompressWhole(in, c.outputSize), Error);
}

INSTANTIATE_TEST_SUITE_P(
    Prs, DecodeFailure,
    ::testing::Values(
        // copies reaching before the output
        FailureCase{"LongCopyAtStart", "02 FF FF 00 00", 0, 0, 64, StreamEnd::BeforeStart},
        FailureCase{"ShortCopyAtStart", "00 FF", 0, 0, 64, StreamEnd::BeforeStart},
        FailureCase{"ShortCopyTwoBackAfterOneByte", "01 61 FE 00 00", 1, 2, 64, StreamEnd::BeforeStart},
        FailureCase{"LongCopy8192BackAfterOneByte", "05 61 07 00 00 00", 1, 2, 64, StreamEnd::BeforeStart},
        // commands needing bytes at or past the input's end
        FailureCase{"LiteralWithoutByte", "01", 0, 0, 64, StreamEnd::InputCut},
        FailureCase{"LongCopyWithOneByte", "02 FF", 0, 0, 64, StreamEnd::InputCut},
        FailureCase{"LongCopyWithoutThirdByte", "15 61 F8 FF", 1, 2, 64, StreamEnd::InputCut},
        FailureCase{"ShortCopyWithoutByte", "00", 0, 0, 64, StreamEnd::InputCut},
        // the long copy's second bit comes from control byte 05, the last byte
        FailureCase{"LongCopyAfterControlByteWithoutData", "7F 61 62 63 64 65 66 67 05", 7, 8, 64,
                    StreamEnd::InputCut},
        // output beyond the output buffer
        FailureCase{"LiteralPastOutput", "07 61 62 63", 2, 3, 2, StreamEnd::OutputFull},
        FailureCase{"CopyPastOutput", "15 61 FF FF 00 00", 1, 2, 5, StreamEnd::OutputFull}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrsDecompress, WholeFilesNeedTheEndCommand) {
  // Streams that end where a command could start: accepted as members are,
  // refused as whole files. Bytes after the end command stay ignored.
  struct Row {
    const char* stream;
    StreamEnd end;
  };
  const Row rows[] = {{"07 61 62 63", StreamEnd::InputUsed},
                      {"", StreamEnd::InputUsed},
                      {"57 61 62 63 EF FF 00 00 00", StreamEnd::EndCommand},
                      {"02 00 00 61 62 63", StreamEnd::EndCommand}};
  for (const Row& row : rows) {
    const Bytes in = FromHex(row.stream);
    Bytes out(64);
    const DecompressResult r = Decompress(in, std::span<uint8_t>(out));
    EXPECT_TRUE(r.Ok()) << row.stream;
    EXPECT_EQ(r.end, row.end) << row.stream;
    EXPECT_EQ(r.EndsEarly(), row.end == StreamEnd::InputUsed);
    if (row.end == StreamEnd::EndCommand) {
      EXPECT_EQ(DecompressWhole(in), Decompress(in)) << row.stream;
    } else {
      EXPECT_THROW(DecompressWhole(in), Error) << row.stream;
    }
  }
}

TEST(PrsDecompress, PartialOutputStaysInBufferOnError) {
  Bytes out(4, 0);
  const DecompressResult r = Decompress(FromHex("07 61 62 63"), std::span<uint8_t>(out.data(), 2));
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(ToHex(out), "61 62 00 00");
}

TEST(PrsDecompress, VectorFormGrowsBeyondFirstGuess) {
  // A literal and 40 long copies of 256 at distance 1 (bits 1 then 0,1 forty
  // times: control bytes 55 throughout), then the end command.
  Bytes stream = FromHex("55 00 F8 FF FF F8 FF FF F8 FF FF");
  for (int k = 0; k < 9; ++k) {
    stream.push_back(0x55);
    for (int c = 0; c < 4; ++c) stream.insert(stream.end(), {0xF8, 0xFF, 0xFF});
  }
  stream.insert(stream.end(), {0x55, 0xF8, 0xFF, 0xFF, 0x00, 0x00});  // copy 40 ends in bit 0, end 0,1
  const Bytes out = Decompress(stream);
  EXPECT_EQ(out, Bytes(1 + 40 * 256, 0));
  EXPECT_THROW(Decompress(stream, 1 + 39 * 256), Error);
}

struct EncodeCase {
  const char* name;
  Bytes input;
  const char* stream;
};

class EncodeGolden : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeGolden, WritesExactStream) {
  const EncodeCase& c = GetParam();
  EXPECT_EQ(ToHex(Compress(c.input)), ToHex(FromHex(c.stream)));
  EXPECT_EQ(ToHex(CompressReference(c.input)), ToHex(FromHex(c.stream)));
  EXPECT_EQ(Decompress(FromHex(c.stream)), c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Prs, EncodeGolden,
    ::testing::Values(
        EncodeCase{"Empty", {}, "02 00 00 00"},
        EncodeCase{"Abc", Text("abc"), "17 61 62 63 00 00 00"},
        EncodeCase{"EightA", Repeat("a", 8), "15 61 FD FF 00 00 00"},
        EncodeCase{"AbcFourTimes", Repeat("abc", 4), "57 61 62 63 EF FF 00 00 00"},
        // literal, copies of 256, 256 and 87 at distance 1; the end command's
        // bits straddle the two control bytes, so its bytes follow the second
        EncodeCase{"Run600", Repeat("a", 600), "55 61 F8 FF FF F8 FF FF F8 FF 56 01 00 00 00"},
        // the copy stops at the last byte: short copy of 3 at distance 1
        EncodeCase{"CopyCappedAtEnd", Repeat("a", 4), "51 61 FF 00 00 00"},
        EncodeCase{"ShortCopyOfThree", Text("abcdabc"), "8F 61 62 63 64 FC 02 00 00 00"},
        // equally long matches at 4 and 8 back: the nearer one (FC) wins
        EncodeCase{"NearestOfEqualLength", Text("abcXabcYabc"), "8F 61 62 63 58 FC 51 59 FC 00 00 00"},
        // "abc" 4 back loses to "abcd" 9 back: short copy of 4, b = F7
        EncodeCase{"LongerBeatsNearer", Text("abcdXabcYabcd"), "1F 61 62 63 64 58 93 FB 59 F7 00 00 00"},
        // at 6 "ab" matches 2 bytes 2 back: two literals, and position 7 gets
        // no search of its own (it would have found "bcd" 7 back)
        EncodeCase{"TwoByteMatchBecomesLiterals", Text("bcdQababcd"),
                   "FF 62 63 64 51 61 62 61 62 0B 63 64 00 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

// `head`, `filler` distinct bytes none of which occurs in `head`, then `head`
// again: the filler gives nothing to match.
Bytes RepeatAcross(const std::string& head, size_t filler) {
  Bytes out = Text(head);
  for (int v = 0; v < 256 && filler > 0; ++v) {
    if (head.find(static_cast<char>(v)) != std::string::npos) continue;
    out.push_back(static_cast<uint8_t>(v));
    --filler;
  }
  const Bytes h = Text(head);
  out.insert(out.end(), h.begin(), h.end());
  return out;
}

struct TailCase {
  const char* name;
  std::string head;
  size_t filler;
  size_t size;
  const char* tail;
};

class EncodeTail : public ::testing::TestWithParam<TailCase> {};

TEST_P(EncodeTail, EndsWithExpectedCommand) {
  const TailCase& c = GetParam();
  const Bytes input = RepeatAcross(c.head, c.filler);
  const Bytes out = Compress(input);
  const Bytes tail = FromHex(c.tail);
  ASSERT_EQ(out.size(), c.size);
  EXPECT_EQ(ToHex(Bytes(out.end() - static_cast<long>(tail.size()), out.end())), c.tail);
  EXPECT_EQ(out, CompressReference(input));
  EXPECT_EQ(Decompress(out), input);
}

INSTANTIATE_TEST_SUITE_P(
    Prs, EncodeTail,
    ::testing::Values(
        // 255 literals; short copy bits 0 | 0,0,1 and end 0,1 in control byte 14; b = 01
        TailCase{"ThreeBytes255BackIsShort", "abc", 252, 292, "14 01 00 00 00"},
        // 256 literals; control byte 0A: long copy 0,1 and end 0,1; w = F801
        TailCase{"ThreeBytes256BackIsLong", "abc", 253, 294, "0A 01 F8 00 00 00"},
        // 258 literals: a 2-byte repeat 256 back is no match; control byte 0B
        TailCase{"TwoBytes256BackIsNoMatch", "ab", 254, 294, "0B 61 62 00 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrsCompress, IncompressibleInputGrowsByAtMostTheBound) {
  // Each byte differs from every byte before it: all literals.
  Bytes input(256);
  for (size_t k = 0; k < input.size(); ++k) input[k] = static_cast<uint8_t>(k);
  const Bytes out = Compress(input);
  // 258 bits make 33 control bytes (the last holding the end command's two
  // bits); 256 literals and the end command's three bytes.
  EXPECT_EQ(out.size(), 256u + 33u + 3u);
  EXPECT_EQ(out.size(), MaxCompressedSize(256));
  EXPECT_EQ(MaxCompressedSize(0), 4u);
}

TEST(PrsCompress, RefusesOutputBeyondLimit) {
  Bytes input(1000);
  for (size_t k = 0; k < input.size(); ++k) input[k] = static_cast<uint8_t>(k * 7 + k / 256);
  const size_t full = Compress(input).size();
  try {
    Compress(input, full - 1);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::OverCapacity);
  }
  EXPECT_EQ(Compress(input, full).size(), full);
  EXPECT_THROW(Compress(Bytes(static_cast<size_t>(kBufferSize) + 1, 0)), Error);
}

class PrsBuffers : public ::testing::Test {
 protected:
  ImageStore store;
};

TEST_F(PrsBuffers, CompressAndDecompressBetweenStoreBuffers) {
  const Bytes text = Repeat("abc", 4);
  std::copy(text.begin(), text.end(), store.input.Data());
  ASSERT_EQ(CompressBuffers(store, 12), 9);
  EXPECT_EQ(store.readCursor, 9);
  EXPECT_EQ(ToHex(Bytes(store.output.Data(), store.output.Data() + 9)), "57 61 62 63 EF FF 00 00 00");

  std::copy(store.output.Data(), store.output.Data() + 9, store.input.Data());
  const DecompressResult r = DecompressBuffers(store, 9);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.size, 12u);
  EXPECT_EQ(store.readCursor, 8);  // after the end command's zero word
  EXPECT_EQ(Bytes(store.output.Data(), store.output.Data() + 12), text);
}

TEST_F(PrsBuffers, NonPositiveLengths) {
  store.input.Data()[0] = 0x61;
  EXPECT_EQ(CompressBuffers(store, 0), 4);
  EXPECT_EQ(ToHex(Bytes(store.output.Data(), store.output.Data() + 4)), "02 00 00 00");
  EXPECT_EQ(CompressBuffers(store, -3), 4);
  const DecompressResult r = DecompressBuffers(store, -1);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.size, 0u);
}

TEST_F(PrsBuffers, RefusesLengthsBeyondTheBuffers) {
  EXPECT_THROW(CompressBuffers(store, kBufferSize + 1), Error);
  const DecompressResult r = DecompressBuffers(store, kBufferSize + 1);
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.error->Kind(), ErrorKind::OverCapacity);
}

TEST_F(PrsBuffers, CompressesAFullInputBuffer) {
  // Its worst case exceeds the output buffer, but a run of zeros is tiny: a
  // literal, 39062 copies of 256 and one of 127 (three bytes each), the end
  // command's three bytes: 117193 data bytes; 78129 control bits make 9767
  // control bytes.
  std::fill(store.input.Data(), store.input.Data() + kBufferSize, 0);
  const int32_t size = CompressBuffers(store, kBufferSize);
  EXPECT_EQ(size, 126960);
  EXPECT_EQ(store.readCursor, size);
  std::copy(store.output.Data(), store.output.Data() + size, store.input.Data());
  const DecompressResult r = DecompressBuffers(store, size);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.size, static_cast<size_t>(kBufferSize));
}

TEST_F(PrsBuffers, OutputBeyondBufferIsOverCapacity) {
  // One literal, then long copies of 256 at distance 1 without end:
  // 10,000,129 bytes wanted, the copy that would pass 10,000,000 fails.
  Bytes stream = FromHex("55 00 F8 FF FF F8 FF FF F8 FF FF");
  while (stream.size() < 140'000) {
    stream.push_back(0x55);
    for (int c = 0; c < 4; ++c) stream.insert(stream.end(), {0xF8, 0xFF, 0xFF});
  }
  std::copy(stream.begin(), stream.end(), store.input.Data());
  const DecompressResult r = DecompressBuffers(store, static_cast<int32_t>(stream.size()));
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.error->Kind(), ErrorKind::OverCapacity);
  EXPECT_EQ(r.end, StreamEnd::OutputFull);
  EXPECT_STREQ(r.error->what(), "PRS stream unpacks to more than 10000000 bytes, the most that can be handled");
  EXPECT_EQ(r.size, 1u + 39062u * 256u);
}

}  // namespace
}  // namespace quarrendel::prs
