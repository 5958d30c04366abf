// The smallest stream against a search that tries every command at every
// position: the same number of bits, and the input back when decoded, also by
// a decoder that stops at a long copy with a zero offset field as the games'
// decoders do.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "prs/match_finder.h"
#include "prs/prs.h"
#include "tests/support/test_util.h"
#include "tests/support/zero_offset_decoder.h"

namespace quarrendel::prs {
namespace {

using test::Bytes;
using test::ToHex;

// Fewest bits (8 per data byte, 1 per control bit) that commands other than
// the end command can spend on `in`: every literal, and every copy of every
// length at every distance each form allows, at every position. No long copy
// reaches 8192 back (its offset field would be 0).
uint64_t ReferenceBits(const Bytes& in) {
  const size_t n = in.size();
  std::vector<uint64_t> bits(n + 1, 0);
  for (size_t i = n; i-- > 0;) {
    uint64_t best = 9 + bits[i + 1];  // literal: bit 1, one byte
    for (size_t d = 1; d <= std::min<size_t>(i, 8191); ++d) {
      // The decoder copies byte by byte, so the copy may overlap what it writes.
      size_t m = 0;
      while (i + m < n && m < 256 && in[i + m] == in[i + m - d]) ++m;
      for (size_t len = 1; len <= m; ++len) {
        const uint64_t rest = bits[i + len];
        if (len >= 2 && len <= 5 && d <= 256) best = std::min(best, 12 + rest);  // 0 0 h l + byte
        if (len >= 3 && len <= 9) best = std::min(best, 18 + rest);              // 0 1 + two bytes
        best = std::min(best, 26 + rest);                                       // 0 1 + three bytes
      }
    }
    bits[i] = best;
  }
  return bits[0];
}

// Bits a stream spends before its end command, read the way the decoder reads.
uint64_t CommandBits(const Bytes& s) {
  size_t pos = 0;
  uint32_t control = 0;
  int left = 0;
  uint64_t bits = 0;
  const auto bit = [&] {
    if (left == 0) {
      control = s.at(pos++);
      left = 8;
    }
    const uint32_t b = control & 1;
    control >>= 1;
    --left;
    ++bits;
    return b;
  };
  const auto byte = [&] {
    bits += 8;
    return static_cast<uint32_t>(s.at(pos++));
  };
  for (;;) {
    if (bit() == 1) {
      byte();
    } else if (bit() == 1) {
      const uint32_t w = byte() | (byte() << 8);
      if (w == 0) return bits - 18;
      if ((w & 7) == 0) byte();
    } else {
      bit();
      bit();
      byte();
    }
  }
}

// The stream read the way the game decoders read it gives `in` back whole.
void ExpectReadByGameDecoders(const Bytes& packed, const Bytes& in, const std::string& what) {
  const test::ZeroOffsetDecoded d = test::DecodeStoppingAtZeroOffset(packed, in.size() + 1);
  EXPECT_TRUE(d.ended) << what;
  EXPECT_TRUE(d.out == in) << what << ": " << d.out.size() << " of " << in.size() << " bytes";
}

struct Generated {
  std::string kind;
  Bytes bytes;
};

// Random bytes over alphabets of 2 to 256 values, runs, repeats of short
// blocks with a few changed bytes, phrases of a few made-up words, and
// repeats planted around the short copy's reach: inputs rich in overlapping
// copies, ties, matches of every length and choices between the forms.
Generated Generate(std::mt19937& rng) {
  const auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  Generated g;
  switch (below(6)) {
    case 0: {
      const uint32_t alphabet = std::array<uint32_t, 5>{2, 3, 4, 16, 256}[below(5)];
      g.kind = "alphabet" + std::to_string(alphabet);
      g.bytes.resize(below(300));
      for (auto& b : g.bytes) b = static_cast<uint8_t>(below(alphabet));
      break;
    }
    case 1: {
      g.kind = "runs";
      const size_t n = below(120);
      while (g.bytes.size() < n) g.bytes.insert(g.bytes.end(), 1 + below(40), static_cast<uint8_t>('a' + below(3)));
      g.bytes.resize(n);
      break;
    }
    case 2: {
      g.kind = "blocks";
      const size_t n = below(300);
      Bytes block(1 + below(12));
      for (auto& b : block) b = static_cast<uint8_t>(below(6));
      for (size_t k = 0; k < n; ++k) g.bytes.push_back(block[k % block.size()]);
      for (uint32_t e = below(8); e > 0 && n > 0; --e) g.bytes[below(static_cast<uint32_t>(n))] = static_cast<uint8_t>(below(256));
      break;
    }
    case 3: {
      g.kind = "phrases";
      std::vector<Bytes> words(2 + below(6));
      for (auto& w : words) {
        w.resize(1 + below(14));
        for (auto& b : w) b = static_cast<uint8_t>('a' + below(4));
      }
      const size_t n = below(300);
      while (g.bytes.size() < n) {
        const Bytes& w = words[below(static_cast<uint32_t>(words.size()))];
        g.bytes.insert(g.bytes.end(), w.begin(), w.end());
      }
      g.bytes.resize(n);
      break;
    }
    case 4: {
      g.kind = "far";
      g.bytes.resize(370 + below(130));
      for (auto& b : g.bytes) b = static_cast<uint8_t>(below(256));
      const size_t distance = 250 + below(100);
      const size_t length = 2 + below(11);
      const size_t at = distance + below(static_cast<uint32_t>(g.bytes.size() - distance - length + 1));
      for (size_t k = 0; k < length; ++k) g.bytes[at + k] = g.bytes[at + k - distance];
      break;
    }
    default: {
      g.kind = "short";
      g.bytes.resize(below(12));
      for (auto& b : g.bytes) b = static_cast<uint8_t>(below(3));
      break;
    }
  }
  return g;
}

TEST(PrsBest, ReachesTheFewestBitsOnSmallInputs) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 3000; ++round) {
    const Generated g = Generate(rng);
    const Bytes packed = CompressBest(g.bytes);
    ASSERT_EQ(CommandBits(packed), ReferenceBits(g.bytes)) << g.kind << " " << ToHex(g.bytes);
    ASSERT_EQ(Decompress(packed, g.bytes.size() + 1), g.bytes) << g.kind << " " << ToHex(g.bytes);
    ExpectReadByGameDecoders(packed, g.bytes, g.kind + " " + ToHex(g.bytes));
  }
}

// Random bytes with copies planted exactly at the edges of the forms' reach,
// a run longer than the longest copy, and a period with a few changed bytes.
TEST(PrsBest, ReachesTheFewestBitsOnLongerInputs) {
  struct Plant {
    size_t at;
    size_t distance;
    size_t length;
  };
  const std::vector<std::vector<Plant>> cases = {
      {{8192, 8192, 9}, {8600, 8191, 40}},  // 8192 back: out of reach; three-byte form 8191 back
      {{8300, 8192, 30}, {8400, 256, 5}},   // 30 bytes 8192 back: out of reach too
      {{8250, 8191, 9}, {8500, 257, 2}},    // two-byte form 8191 back; one byte too far for a short copy
      {{8250, 8193, 9}, {8700, 8192, 3}},   // one and two bytes too far for either long form
      {{8000, 1, 300}},                     // a run: copies capped at 256 bytes
  };
  for (size_t c = 0; c < cases.size(); ++c) {
    std::mt19937 rng(static_cast<uint32_t>(c) + 7);
    Bytes in(8800);
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    for (const Plant& p : cases[c]) {
      for (size_t k = 0; k < p.length; ++k) in[p.at + k] = in[p.at + k - p.distance];
    }
    const Bytes packed = CompressBest(in);
    EXPECT_EQ(CommandBits(packed), ReferenceBits(in)) << "case " << c;
    EXPECT_EQ(Decompress(packed, in.size()), in) << "case " << c;
    ExpectReadByGameDecoders(packed, in, "case " + std::to_string(c));
  }
  // Blocks of 37 bytes over 6 values, one byte in 40 changed.
  std::mt19937 rng(11);
  Bytes in(1200);
  for (size_t k = 0; k < in.size(); ++k) in[k] = k < 37 ? static_cast<uint8_t>(rng() % 6) : in[k - 37];
  for (size_t k = 0; k < in.size(); k += 1 + rng() % 80) in[k] = static_cast<uint8_t>(rng() % 6);
  const Bytes packed = CompressBest(in);
  EXPECT_EQ(CommandBits(packed), ReferenceBits(in));
  EXPECT_EQ(Decompress(packed, in.size()), in);
  ExpectReadByGameDecoders(packed, in, "blocks of 37");
}

// The lengths the parse prices each position with, against a scan of every
// candidate: the longest match within 8191 bytes (at most 256), found from
// the previous position's match as the parse does, and the longest within
// 256 bytes (at most 5). Positions before `from` are searched unchecked.
// `longLength` sets the finder's longer prefix (0: its own choice).
void ExpectLongestMatches(const Bytes& in, const std::string& name, size_t from = 0, size_t to = SIZE_MAX,
                          int32_t longLength = 0) {
  detail::MatchFinder finder(in, longLength);
  detail::Match previous;
  for (size_t i = 0; i < std::min(in.size(), to); ++i) {
    if (i < from) {
      previous = finder.FindLongest(static_cast<int32_t>(i), previous.distance, previous.length - 1);
      continue;
    }
    size_t longest = 0;
    size_t near = 0;
    for (size_t d = 1; d <= std::min<size_t>(i, 8191); ++d) {
      size_t m = 0;
      while (i + m < in.size() && m < 256 && in[i + m] == in[i + m - d]) ++m;
      longest = std::max(longest, m);
      if (d <= 256) near = std::max(near, std::min<size_t>(m, 5));
    }
    const detail::Match found = finder.FindLongest(static_cast<int32_t>(i), previous.distance, previous.length - 1);
    previous = found;
    const detail::Match nearest = finder.FindNear(static_cast<int32_t>(i), 256, 5);
    ASSERT_EQ(found.length >= 3 ? static_cast<size_t>(found.length) : 0, longest >= 3 ? longest : 0)
        << name << " at " << i;
    ASSERT_EQ(static_cast<size_t>(nearest.length), near >= 2 ? near : 0) << name << " at " << i;
    for (const detail::Match& m : {found, nearest}) {
      for (int32_t k = 0; k < m.length; ++k) ASSERT_EQ(in[i + k], in[i + k - m.distance]) << name << " at " << i;
    }
  }
}

TEST(PrsBest, FinderGivesTheLongestMatches) {
  std::mt19937 rng(5);
  for (int round = 0; round < 8; ++round) {
    // Longer than the generator's inputs: several of them in a row.
    Bytes in;
    while (in.size() < 3000) {
      const Bytes part = Generate(rng).bytes;
      in.insert(in.end(), part.begin(), part.end());
    }
    // Every other round with the 4-byte prefix that large word-rich inputs get.
    ExpectLongestMatches(in, "round " + std::to_string(round), 0, SIZE_MAX, round % 2 == 0 ? 0 : 4);
  }
  // At 542 a 29-byte match 400 back continues the one before it, while 24
  // back the period "ABCDEFABCDEGABCDEHABCDEI" matches 54 bytes, and 6, 12
  // and 18 back "ABCDE" starts 5-byte matches. The longer match is too near
  // to be indexed under the bytes where it must go on: only the nearest-first
  // chain, past the three short ones, finds it.
  // (The input is long enough for full-size hash tables, whose chains hold
  // few other prefixes.)
  Bytes in(70000);
  for (auto& b : in) b = static_cast<uint8_t>(rng() % 200 + 50);
  const std::string period = "ABCDEFABCDEGABCDEHABCDEI";
  for (size_t k = 0; k < 96; ++k) in[500 + k] = static_cast<uint8_t>(period[k % period.size()]);
  for (size_t k = 0; k < 30; ++k) in[141 + k] = in[541 + k];
  in[171] = 'z';
  in[517] = 'z';  // the period's match starts at 542, not before
  ExpectLongestMatches(in, "nearer periodic match", 530, 560);
}

TEST(PrsBest, WritesExactStreams) {
  EXPECT_EQ(ToHex(CompressBest({})), "02 00 00 00");
  // literal bit 1, end bits 0 1
  EXPECT_EQ(ToHex(CompressBest(Bytes{0x61})), "05 61 00 00 00");
  // "ab", 254 other bytes, "ab": 256 literals fill 32 control bytes; then a
  // 2-byte short copy from 256 back (bits 0 0 0 0, byte 00), which the greedy
  // stream writes as two literals, and the end (bits 0 1): control byte 20.
  Bytes in = {0x61, 0x62};
  for (int v = 0; in.size() < 256; ++v) {
    if (v != 0x61 && v != 0x62) in.push_back(static_cast<uint8_t>(v));
  }
  in.insert(in.end(), {0x61, 0x62});
  const Bytes packed = CompressBest(in);
  ASSERT_EQ(packed.size(), 293u);
  EXPECT_EQ(ToHex(Bytes(packed.end() - 5, packed.end())), "20 00 00 00 00");
  EXPECT_EQ(Compress(in).size(), 294u);
}

TEST(PrsBest, RefusesOutputBeyondLimit) {
  Bytes in(1000);
  for (size_t k = 0; k < in.size(); ++k) in[k] = static_cast<uint8_t>(k * 7 + k / 256);
  const size_t full = CompressBest(in).size();
  EXPECT_THROW(CompressBest(in, full - 1), Error);
  EXPECT_EQ(CompressBest(in, full).size(), full);
  EXPECT_THROW(CompressBest(Bytes(static_cast<size_t>(kBufferSize) + 1, 0)), Error);
}

}  // namespace
}  // namespace quarrendel::prs
