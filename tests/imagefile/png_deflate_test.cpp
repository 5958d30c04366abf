#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "imagefile/checksum.h"
#include "imagefile/png_deflate.h"
#include "imagefile/png_file.h"
#include "tests/support/generated_pictures.h"
#include "tests/support/natural_pictures.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

using imagefile::Adler32;
using imagefile::AppendZlibStream;
using imagefile::Crc32;
using imagefile::ReadPng;
using imagefile::RgbaImage;
using imagefile::WritePng;

std::span<const uint8_t> Text(const char* s) { return {reinterpret_cast<const uint8_t*>(s), std::strlen(s)}; }

Bytes Noise(size_t n, uint32_t seed) {
  Bytes bytes(n);
  for (uint8_t& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

// The CRC one bit at a time, as ISO 3309 defines it.
uint32_t BitwiseCrc(const Bytes& bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (const uint8_t b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) != 0 ? 0xEDB88320u : 0);
  }
  return ~c;
}

// Adler-32 as RFC 1950 defines it, both sums reduced after every byte.
uint32_t PlainAdler(const Bytes& bytes) {
  uint32_t a = 1, b = 0;
  for (const uint8_t x : bytes) {
    a = (a + x) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

TEST(PngChecksums, GoldenValuesAndEveryLengthAgainstTheDefinitions) {
  EXPECT_EQ(Crc32(Text("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32(Text("")), 0u);
  EXPECT_EQ(Crc32(Text("6789"), Crc32(Text("12345"))), 0xCBF43926u);
  // The CRC of an IEND chunk, which every PNG file ends with.
  EXPECT_EQ(Crc32(Text("IEND")), 0xAE426082u);
  EXPECT_EQ(Adler32(Text("Wikipedia")), 0x11E60398u);
  EXPECT_EQ(Adler32(Text("")), 1u);
  EXPECT_EQ(Adler32(Text("pedia"), Adler32(Text("Wiki"))), 0x11E60398u);
  // n bytes of 255: the first sum is 1 + 255 n, the second n + 255 n (n + 1) / 2.
  for (const uint64_t n : {5552ull, 5553ull, 100000ull}) {
    const uint64_t a = (1 + 255 * n) % 65521, b = (n + 255 * n * (n + 1) / 2) % 65521;
    EXPECT_EQ(Adler32(Bytes(n, 0xFF)), static_cast<uint32_t>(b << 16 | a)) << n;
  }
  // Lengths on both sides of the 8- and 16-byte steps and of the runs
  // between reductions, and pieces fed one after another.
  const Bytes noise = Noise(70000, 7);
  for (const size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 5551u, 5552u, 5568u, 11104u, 70000u}) {
    const Bytes part(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(Crc32(part), BitwiseCrc(part)) << n;
    EXPECT_EQ(Adler32(part), PlainAdler(part)) << n;
    const std::span<const uint8_t> whole(part);
    const size_t cut = n / 3;
    EXPECT_EQ(Crc32(whole.subspan(cut), Crc32(whole.first(cut))), BitwiseCrc(part)) << n;
    EXPECT_EQ(Adler32(whole.subspan(cut), Adler32(whole.first(cut))), PlainAdler(part)) << n;
  }
}

Bytes Zlib(const Bytes& data, size_t rowDistance = 0) {
  Bytes out;
  AppendZlibStream(data, rowDistance, out);
  return out;
}

TEST(PngDeflate, ShortStreamsSpelledOut) {
  // Header 78 01; one final block with the fixed codes (bits 1, 01), then
  // the Adler-32.
  // Nothing: the end-of-block code 0000000 alone.
  EXPECT_EQ(ToHex(Zlib({})), "78 01 03 00 00 00 00 01");
  // One zero byte: literal 0 is 00110000, then the end of the block.
  EXPECT_EQ(ToHex(Zlib({0})), "78 01 63 00 00 00 01 00 01");
  // Twenty 'a': literal 'a' (10010001), then length 19 (symbol 269,
  // 0001101, extra bits 00) at distance 1 (00000), then the end of the block.
  // Shorter repeats of a cheap byte stay literals.
  EXPECT_EQ(ToHex(Zlib(Bytes(20, 'a'))), "78 01 4B C4 02 00 4F A6 07 95");
}

// Walks stored blocks; returns the bytes they hold, or fails.
Bytes ReadStoredBlocks(const Bytes& stream) {
  Bytes data;
  size_t at = 2;
  for (bool final = false; !final;) {
    EXPECT_LE(at + 5, stream.size());
    if (at + 5 > stream.size()) return data;
    EXPECT_EQ(stream[at] & 0x06, 0) << "not a stored block at " << at;  // BTYPE 00, the rest of the byte padding
    final = (stream[at] & 1) != 0;
    const size_t len = stream[at + 1] | stream[at + 2] << 8;
    EXPECT_EQ(len ^ (stream[at + 3] | stream[at + 4] << 8), 0xFFFFu);
    at += 5;
    EXPECT_LE(at + len, stream.size());
    if (at + len > stream.size()) return data;
    data.insert(data.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                stream.begin() + static_cast<std::ptrdiff_t>(at + len));
    at += len;
  }
  EXPECT_EQ(at + 4, stream.size());
  return data;
}

TEST(PngDeflate, NoiseIsStoredInBlocksOfAtMost32768Symbols) {
  // Blocks end after 32768 symbols; bytes without repeats are cheapest
  // stored: 32768 + 32768 + 4464 bytes, each block behind its 5 bytes.
  const Bytes noise = Noise(70000, 11);
  const Bytes stream = Zlib(noise, 1001);
  EXPECT_EQ(stream.size(), 2 + 3 * 5 + 70000 + 4u);
  EXPECT_EQ(ToHex(Bytes(stream.begin() + 2, stream.begin() + 7)), "00 00 80 FF 7F");
  EXPECT_EQ(ReadStoredBlocks(stream), noise);
  const uint32_t adler = PlainAdler(noise);
  EXPECT_EQ(ToHex(Bytes(stream.end() - 4, stream.end())),
            ToHex({static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                   static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)}));
}

// A PNG around the zlib stream of `rows` (each a filter-type byte and 4 w
// bytes), so that libspng and zlib check the stream and give back its bytes.
Bytes PngAround(const Bytes& rows, uint32_t w, uint32_t h) {
  Bytes png = FromHex("89504E470D0A1A0A");
  const auto chunk = [&png](const char* type, const Bytes& data) {
    const uint32_t n = static_cast<uint32_t>(data.size());
    for (const int shift : {24, 16, 8, 0}) png.push_back(static_cast<uint8_t>(n >> shift));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    png.insert(png.end(), typed.begin(), typed.end());
    const uint32_t crc = BitwiseCrc(typed);
    for (const int shift : {24, 16, 8, 0}) png.push_back(static_cast<uint8_t>(crc >> shift));
  };
  Bytes header;
  for (const uint32_t v : {w, h}) {
    for (const int shift : {24, 16, 8, 0}) header.push_back(static_cast<uint8_t>(v >> shift));
  }
  header.insert(header.end(), {8, 6, 0, 0, 0});
  chunk("IHDR", header);
  chunk("IDAT", Zlib(rows, 4 * w + 1));
  chunk("IEND", {});
  return png;
}

TEST(PngDeflate, SkewedLiteralsGetCodesOfAtMost15Bits) {
  // 19 byte values as often as 1, 1, 3, 5, 9, ..., 8361 (each count the two
  // before it and one more), shuffled: the optimal Huffman code would give
  // the rarest 16 bits, one more than deflate allows.
  Bytes pixels;
  uint32_t a = 1, b = 1;
  for (uint8_t v = 1; v <= 19; ++v) {
    pixels.insert(pixels.end(), a, static_cast<uint8_t>(v * 11));
    const uint32_t next = a + b + 1;
    a = b;
    b = next;
  }
  pixels.push_back(19 * 11);
  ASSERT_EQ(pixels.size(), 21872u);  // 4 rows of 1367 pixels
  uint32_t seed = 5;
  for (size_t i = pixels.size() - 1; i > 0; --i) {
    seed = seed * 1664525u + 1013904223u;
    std::swap(pixels[i], pixels[(seed >> 8) % (i + 1)]);
  }
  Bytes rows;
  for (size_t y = 0; y < 4; ++y) {
    rows.push_back(0);  // no filter
    rows.insert(rows.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y * 5468),
                pixels.begin() + static_cast<std::ptrdiff_t>((y + 1) * 5468));
  }
  const Bytes png = PngAround(rows, 1367, 4);
  EXPECT_TRUE(ReadPng(png).pixels == pixels);
  // About 2 bits a byte, as the frequencies allow.
  EXPECT_LT(png.size(), pixels.size() / 3);
}

RgbaImage Picture(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& rgba) {
  RgbaImage image{w, h, Bytes(static_cast<size_t>(w) * static_cast<size_t>(h) * 4)};
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t v = rgba(x, y);
      for (int k = 0; k < 4; ++k) image.pixels[(static_cast<size_t>(y) * w + x) * 4 + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  return image;
}

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  return x ^ (x >> 16);
}

TEST(PngWrite, PicturesRoundTripThroughLibspngAndZlib) {
  struct Row {
    const char* what;
    RgbaImage image;
    size_t atMost = 0;  // bytes of the PNG file where the picture compresses well
  };
  const auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
  const Row rows[] = {
      {"1 x 1", Picture(1, 1, [](int32_t, int32_t) { return 0x80402010u; })},
      // After the first row, all residuals are zero.
      {"flat 256 x 256", Picture(256, 256, [](int32_t, int32_t) { return 0xFF3366CCu; }), 1000},
      {"1 x 2048 gradient", Picture(1, 2048, [&](int32_t, int32_t y) { return 0xFF000000u | u(y / 8) << 8; }), 2000},
      {"2048 x 1 gradient", Picture(2048, 1, [&](int32_t x, int32_t) { return 0xFF000000u | u(x / 8); }), 1000},
      {"runs across rows, 37 x 29",
       Picture(37, 29, [&](int32_t x, int32_t y) { return Hash(u((y * 37 + x) / 11)) | 0xFF000000u; })},
      {"two-way gradient with graded alpha, 130 x 67",
       Picture(130, 67, [&](int32_t x, int32_t y) { return u(x) | u(y * 3) << 8 | u(x + y) << 16 | u(255 - y) << 24; })},
      {"tiles that repeat 5 pixels apart, 99 x 13",
       Picture(99, 13, [&](int32_t x, int32_t y) { return Hash(u(x % 5 + 7 * (y % 3))); })},
      {"noise, 3 x 5", Picture(3, 5, [&](int32_t x, int32_t y) { return Hash(u(y * 3 + x)); })},
      {"noise, 2048 x 16", Picture(2048, 16, [&](int32_t x, int32_t y) { return Hash(u(y * 2048 + x)); })},
      {"noise in the low bits of a gradient, 513 x 7", Picture(513, 7, [&](int32_t x, int32_t y) {
         return (u(x / 2) | u(y) << 8 | u(x / 4) << 16 | 0xFF000000u) ^ (Hash(u(y * 513 + x)) & 0x03030303u);
       })},
  };
  for (const Row& row : rows) {
    const Bytes png = WritePng(row.image);
    // Never more than the filtered rows stored: 5 bytes for each block of
    // up to 32768 bytes, the zlib header and checksum, and the chunks.
    const size_t filtered = static_cast<size_t>(row.image.height) * (static_cast<size_t>(row.image.width) * 4 + 1);
    EXPECT_LE(png.size(), filtered + 5 * (filtered / 32768 + 1) + 2 + 4 + 57) << row.what;
    if (row.atMost != 0) {
      EXPECT_LE(png.size(), row.atMost) << row.what;
    }
    const RgbaImage back = ReadPng(png);
    EXPECT_EQ(back.width, row.image.width) << row.what;
    EXPECT_EQ(back.height, row.image.height) << row.what;
    EXPECT_TRUE(back.pixels == row.image.pixels) << row.what;
    EXPECT_TRUE(WritePng(row.image) == png) << row.what << ": a second write differs";
  }
}

// Photo-like, fine-grained and flat-coloured pictures of 512 x 512, where a
// search for repeats at the cheap distances alone falls behind zlib: the
// file may not be larger than the one the previous writer made (libspng's
// adaptive filters with zlib level 3, commit 26cf1c9, whose own build gave
// these byte counts), and reads back to the same pixels.
TEST(PngWrite, NoLargerThanTheZlibWriterBefore) {
  struct Row {
    const char* what;
    std::vector<uint32_t> (*make)();
    size_t before;
  };
  const Row rows[] = {
      {"clouds", [] { return GeneratedPicture(0); }, 204342},
      {"shapes over a gradient", [] { return GeneratedPicture(1); }, 206844},
      {"bark with grain", [] { return GeneratedPicture(2); }, 427603},
      {"landscape", [] { return GeneratedPicture(3); }, 397353},
      {"portrait", [] { return GeneratedPicture(4); }, 231125},
      {"icon", [] { return GeneratedPicture(5); }, 31343},
      {"icon in a disc of alpha", [] { return IconInAlphaDisc(); }, 50989},
      {"face", [] { return NaturalPicture(2, kGeneratedSide, kGeneratedSide); }, 553449},
  };
  for (const Row& row : rows) {
    const std::vector<uint32_t> pixels = row.make();
    const RgbaImage image =
        Picture(kGeneratedSide, kGeneratedSide, [&](int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * kGeneratedSide + x]; });
    const Bytes png = WritePng(image);
    EXPECT_LE(png.size(), row.before) << row.what;
    EXPECT_TRUE(ReadPng(png).pixels == image.pixels) << row.what;
  }
}

}  // namespace
}  // namespace quarrendel::test
