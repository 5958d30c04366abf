// The hash-chain encoder against the plain scan, byte for byte, on inputs
// chosen to stress the window edges, equal-length ties and long chains; and
// the smallest stream on the same inputs: never larger than the greedy one,
// and read whole by a decoder that, as the games' decoders do, ends the
// stream at a long copy with a zero offset field.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "prs/match_finder.h"
#include "prs/prs.h"
#include "tests/support/zero_offset_decoder.h"

namespace quarrendel::prs {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t n, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(0, alphabet - 1);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(pick(rng));
  return out;
}

// A random block of `period` bytes repeated, with a few bytes changed so that
// matches end at random places.
Bytes Periodic(size_t n, size_t period, uint32_t seed, int alphabet = 256, int edits = 40) {
  const Bytes block = Random(period, seed, alphabet);
  Bytes out(n);
  for (size_t k = 0; k < n; ++k) out[k] = block[k % period];
  std::mt19937 rng(seed + 1);
  for (int e = 0; e < edits; ++e) out[rng() % n] = static_cast<uint8_t>(rng());
  return out;
}

// Random bytes with copies of random lengths planted `distance` bytes back.
Bytes Planted(size_t n, size_t distance, uint32_t seed) {
  Bytes out = Random(n, seed);
  std::mt19937 rng(seed + 7);
  const int lengths[] = {2, 3, 4, 5, 6, 9, 10, 255, 256, 300};
  for (size_t pos = distance; pos + 300 < n; pos += 50 + rng() % 400) {
    const int len = lengths[rng() % std::size(lengths)];
    for (int k = 0; k < len; ++k) out[pos + k] = out[pos + k - distance];
  }
  return out;
}

Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"the ", "texture ", "archive ", "of ", "a ", "PVR ", "image ",
                                "and ", "its ", "palette ", "is ", "twiddled ", "\n", "data ",
                                "block ", "mip ", "level ", "format ", "0x1F ", "entry "};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    const std::string w = words[rng() % std::size(words)];
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(n);
  return out;
}

// Word-rich text as quest scripts and text tables have it: a few dozen
// made-up words, frequent ones far more often, with numbers and punctuation.
Bytes Script(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words(60);
  for (auto& w : words) {
    for (size_t k = 0, len = 2 + rng() % 8; k < len; ++k) w += static_cast<char>('a' + rng() % 26);
  }
  std::string s;
  while (s.size() < n) {
    const double u = static_cast<double>(rng() % 1000) / 1000.0;
    s += words[static_cast<size_t>(u * u * u * static_cast<double>(words.size()))];
    const uint32_t r = rng() % 12;
    if (r == 0) s += " " + std::to_string(rng() % 10000);
    s += r == 1 ? ".\n" : r == 2 ? ", " : " ";
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// English-looking prose: sentences from a small grammar, capitalised.
Bytes Prose(size_t n, uint32_t seed) {
  static const char* subjects[] = {"the old man", "a girl", "his mother", "the captain", "she", "they",
                                   "the doctor", "our friend"};
  static const char* verbs[] = {"saw", "opened", "carried", "remembered", "left", "found", "watched"};
  static const char* objects[] = {"the door", "a letter", "the small house", "her garden", "the river",
                                  "two horses", "the last train"};
  static const char* tails[] = {" in the morning", " at once", " before the war", "", "", " with care"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    std::string sentence = std::string(subjects[rng() % 8]) + " " + verbs[rng() % 7] + " " + objects[rng() % 7] +
                           tails[rng() % 6];
    sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
    s += sentence + (rng() % 5 == 0 ? ".\n\n" : ". ");
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// 16-bit little-endian pixels: a smooth gradient with small noise, and from
// time to time a row copied from an earlier one.
Bytes Texture(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t side = 128;
  Bytes out;
  std::vector<uint16_t> rows;
  for (size_t y = 0; out.size() < n; ++y) {
    if (y >= 4 && rng() % 4 == 0) {
      const size_t from = y - 1 - rng() % std::min<size_t>(y, 30);
      for (size_t x = 0; x < side; ++x) rows.push_back(rows[from * side + x]);
    } else {
      for (size_t x = 0; x < side; ++x) {
        const uint32_t r = (x / 4 + y / 8) & 31, g = (x / 2 + y / 4 + rng() % 2) & 63, b = (y / 4) & 31;
        rows.push_back(static_cast<uint16_t>((r << 11) | (g << 5) | b));
      }
    }
    for (size_t x = 0; x < side; ++x) {
      out.push_back(static_cast<uint8_t>(rows[y * side + x]));
      out.push_back(static_cast<uint8_t>(rows[y * side + x] >> 8));
    }
  }
  out.resize(n);
  return out;
}

struct Input {
  std::string name;
  Bytes bytes;
};

std::vector<Input> Inputs() {
  std::vector<Input> in;
  for (size_t n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 31, 300}) {
    in.push_back({"random" + std::to_string(n), Random(n, static_cast<uint32_t>(n))});
    in.push_back({"binary" + std::to_string(n), Random(n, static_cast<uint32_t>(n) + 99, 2)});
  }
  in.push_back({"random", Random(20000, 1)});
  in.push_back({"zeros", Bytes(20000, 0)});
  in.push_back({"zeros257", Bytes(257, 0)});
  in.push_back({"zeros258", Bytes(258, 0)});
  for (size_t p : {1, 2, 3, 4, 5, 7, 9, 16, 100}) {
    in.push_back({"period" + std::to_string(p), Periodic(6000, p, static_cast<uint32_t>(p), 256, 0)});
    in.push_back({"periodEdited" + std::to_string(p), Periodic(6000, p, static_cast<uint32_t>(p) + 5)});
  }
  for (size_t p : {254, 255, 256, 257, 8190, 8191, 8192, 8193}) {
    in.push_back({"period" + std::to_string(p), Periodic(p * 2 + 1500, p, static_cast<uint32_t>(p))});
    in.push_back({"planted" + std::to_string(p), Planted(p + 6000, p, static_cast<uint32_t>(p))});
  }
  in.push_back({"text", Text(24000, 3)});
  in.push_back({"script", Script(24000, 10)});
  in.push_back({"prose", Prose(24000, 11)});
  in.push_back({"texture", Texture(24000, 4)});
  // Long chains: every 3-byte prefix occurs thousands of times in the window.
  in.push_back({"twoSymbols", Random(24000, 5, 2)});
  in.push_back({"fourSymbols", Random(24000, 6, 4)});
  in.push_back({"twoSymbolsPeriod8191", Periodic(20000, 8191, 7, 2, 200)});
  in.push_back({"fourSymbolsPeriod300", Periodic(20000, 300, 8, 4, 200)});
  // Equal-length ties: many copies of the same 3..12-byte words.
  in.push_back({"ties", Periodic(20000, 12, 9, 3, 2000)});
  return in;
}

TEST(PrsDifferential, FastEncoderMatchesPlainScan) {
  size_t count = 0;
  for (const Input& input : Inputs()) {
    const Bytes fast = Compress(input.bytes);
    const Bytes plain = CompressReference(input.bytes);
    ASSERT_EQ(fast.size(), plain.size()) << input.name;
    for (size_t k = 0; k < fast.size(); ++k) ASSERT_EQ(fast[k], plain[k]) << input.name << " byte " << k;
    ASSERT_EQ(Decompress(fast), input.bytes) << input.name;
    // Exactly sized output: copies near its end get no spare room.
    Bytes exact(input.bytes.size());
    const DecompressResult r = Decompress(fast, std::span<uint8_t>(exact));
    ASSERT_TRUE(r.Ok()) << input.name;
    ASSERT_EQ(exact, input.bytes) << input.name;
    ++count;
  }
  EXPECT_GT(count, 60u);
}

// Every position's match, not only those the greedy parse searches at, with
// the longer prefix at 4 bytes, which only large word-rich inputs choose.
TEST(PrsDifferential, FinderWithFourBytePrefixesMatchesPlainScan) {
  // After a 300-byte copy, where every position has a 3-byte match, two
  // bytes that last occur 240 back, inside the copy.
  Bytes copied = Random(400, 31);
  copied.insert(copied.end(), copied.begin(), copied.begin() + 300);
  copied.insert(copied.end(), copied.end() - 240, copied.end() - 238);
  copied.push_back(0xEE);
  const Input inputs[] = {{"script", Script(4000, 21)},  {"prose", Prose(4000, 22)},
                          {"ties", Periodic(4000, 12, 9, 3, 400)}, {"texture", Texture(4000, 23)},
                          {"fourSymbols", Random(4000, 24, 4)},  {"zeros", Bytes(600, 0)},
                          {"pairInsideCopy", copied}};
  for (const Input& input : inputs) {
    const Bytes& in = input.bytes;
    const int32_t n = static_cast<int32_t>(in.size());
    detail::MatchFinder finder(in, 4);
    for (int32_t i = 0; i < n; ++i) {
      int32_t best = 0;
      int32_t bestDistance = 0;
      for (int32_t d = 1; d <= std::min(i, 8191); ++d) {
        int32_t m = 0;
        while (i + m < n && m < 256 && in[i + m] == in[i + m - d]) ++m;
        if (m > best) {
          best = m;
          bestDistance = d;
        }
      }
      const bool usable = best >= 3 || (best == 2 && bestDistance <= 255);
      const detail::Match found = finder.Find(i);
      ASSERT_EQ(found.length, usable ? best : 0) << input.name << " at " << i;
      if (usable) {
        ASSERT_EQ(found.distance, bestDistance) << input.name << " at " << i;
      }
    }
  }
}

TEST(PrsDifferential, BestStreamIsNeverLargerThanGreedy) {
  for (const Input& input : Inputs()) {
    const Bytes best = CompressBest(input.bytes);
    ASSERT_LE(best.size(), Compress(input.bytes).size()) << input.name;
    Bytes exact(input.bytes.size());
    const DecompressResult r = Decompress(best, std::span<uint8_t>(exact));
    ASSERT_TRUE(r.Ok()) << input.name;
    ASSERT_EQ(r.size, input.bytes.size()) << input.name;
    ASSERT_EQ(exact, input.bytes) << input.name;
    const test::ZeroOffsetDecoded game = test::DecodeStoppingAtZeroOffset(best, input.bytes.size() + 1);
    ASSERT_TRUE(game.ended) << input.name;
    ASSERT_TRUE(game.out == input.bytes) << input.name << ": " << game.out.size() << " bytes";
  }
}

TEST(PrsDifferential, CompressionShrinksRedundantInput) {
  // The generators do produce matches, so the comparison above is not all literals.
  EXPECT_LT(Compress(Bytes(20000, 0)).size(), 300u);
  EXPECT_LT(Compress(Texture(24000, 4)).size(), 24000u * 3 / 4);
}

}  // namespace
}  // namespace quarrendel::prs
