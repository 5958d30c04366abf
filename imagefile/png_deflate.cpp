#include "imagefile/png_deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "imagefile/checksum.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarrendel::imagefile {

namespace {

constexpr size_t kWindow = 32768;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
// A match shorter than this is weighed against one starting a byte later.
constexpr uint32_t kLazyBelow = 8;
// Matches found through the hash table repeat at least 4 bytes.
constexpr uint32_t kMinFarMatch = 4;
// Literals priced one by one at the start of a match.
constexpr uint32_t kPricedBytes = 16;
// The bits a match is expected to take besides its extra bits: its length
// code, and its distance code for runs, the pixel before, and farther back.
constexpr int32_t kLengthCodeBits = 6, kRunDistanceBits = 2, kPixelDistanceBits = 4, kFarDistanceBits = 10;
// The repeats at which the literal scan stops to weigh a match: 8 bytes of
// a run, 6 of the pixel before, 8 of the row above.
constexpr int kRunRepeat = 8, kPixelRepeat = 6, kRowRepeat = 8;
// Literal positions between hash probes grow by one every 8 misses; a
// probe whose match is not taken counts as 32 misses.
constexpr int kProbeShift = 3;
constexpr uint32_t kRejectedProbe = 32;
constexpr size_t kBlockSymbols = 32768;
constexpr size_t kStoredMax = 65535;
constexpr int kHashBits = 13;
constexpr uint32_t kNoPosition = 0xFFFFFFFFu;
// The chains of the denser search: 2^15 heads; none looked at past a cheap
// repeat of 32 bytes, and no further once a match repeats 64.
constexpr int kChainHashBits = 15;
constexpr uint32_t kChainSkip = 32, kChainNice = 64, kChainGood = 8;
// The denser search is tried quickly on 4 stretches of a block, 512 bytes
// with 2 KiB before each to find repeats in; when it gives fewer than 98 % of
// the first search's bits there, in full on 4 stretches of 2 KiB with 4 KiB
// before; the block is parsed again only when that gives fewer than 93 %.
constexpr size_t kTrials = 4;
constexpr size_t kShortTrial = 512, kShortHistory = 2048, kLongTrial = 2048, kLongHistory = 4096;
constexpr uint64_t kShortPromise = 980, kLongPromise = 930;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
constexpr size_t kLitLenSymbols = 286, kDistSymbols = 30, kCodeLengthSymbols = 19;
constexpr uint32_t kEndOfBlock = 256;

// Symbols 257..285: the first length of each and its extra bits.
constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0..29.
constexpr std::array<uint16_t, 30> kDistBase = {1,   2,   3,   4,   5,    7,    9,    13,   17,   25,
                                                33,  49,  65,  97,  129,  193,  257,  385,  513,  769,
                                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code's lengths are stored.
constexpr std::array<uint8_t, kCodeLengthSymbols> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

// Length 3..258 to its symbol less 257.
constexpr std::array<uint8_t, kMaxMatch + 1> MakeLengthSymbols() {
  std::array<uint8_t, kMaxMatch + 1> table{};
  for (size_t s = 0; s < kLengthBase.size(); ++s) {
    const uint32_t last = s + 1 < kLengthBase.size() ? kLengthBase[s + 1u] - 1u : kMaxMatch;
    for (uint32_t len = kLengthBase[s]; len <= last; ++len) table[len] = static_cast<uint8_t>(s);
  }
  return table;
}
constexpr std::array<uint8_t, kMaxMatch + 1> kLengthSymbol = MakeLengthSymbols();

// Distances 1..32768 to their symbol: two symbols for each power of two.
uint32_t DistanceSymbol(uint32_t distance) {
  const uint32_t x = distance - 1;
  if (x < 4) return x;
  const uint32_t top = static_cast<uint32_t>(std::bit_width(x)) - 1;
  return 2 * top + ((x >> (top - 1)) & 1);
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
// Little-endian whatever the machine, so that the hash table's slots and
// with them the stream are the same everywhere.
uint32_t Load32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
// The number of equal leading bytes of two 8-byte loads that differ.
uint32_t EqualBytes(uint64_t difference) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<uint32_t>(std::countr_zero(difference)) / 8;
  } else {
    return static_cast<uint32_t>(std::countl_zero(difference)) / 8;
  }
}

// The number of bytes, at most `limit`, that `a` and `b` share from the start.
uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t len = 0;
  while (len + 8 <= limit) {
    const uint64_t difference = Load64(a + len) ^ Load64(b + len);
    if (difference != 0) return len + EqualBytes(difference);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// A prefix code: each symbol's length and its bits, reversed so that they
// go into the LSB-first bit stream as deflate stores them (first bit first).
template <size_t N>
struct Code {
  std::array<uint8_t, N> lengths{};
  std::array<uint16_t, N> bits{};
};

// Canonical codes for the lengths, as deflate assigns them: shorter codes
// first, within one length in the order of the symbols.
template <size_t N>
void AssignBits(Code<N>& code) {
  std::array<uint16_t, kMaxCodeBits + 1> count{};
  for (const uint8_t len : code.lengths) ++count[len];
  count[0] = 0;
  std::array<uint16_t, kMaxCodeBits + 1> next{};
  uint32_t c = 0;
  for (int len = 1; len <= kMaxCodeBits; ++len) {
    c = (c + count[static_cast<size_t>(len - 1)]) << 1;
    next[static_cast<size_t>(len)] = static_cast<uint16_t>(c);
  }
  for (size_t s = 0; s < N; ++s) {
    const uint32_t len = code.lengths[s];
    if (len == 0) continue;
    const uint32_t v = next[len]++;
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < len; ++i) reversed |= ((v >> i) & 1) << (len - 1 - i);
    code.bits[s] = static_cast<uint16_t>(reversed);
  }
}

// Huffman code lengths for `freqs`, none longer than `maxBits`. Lengths are
// optimal (Moffat and Katajainen's in-place method over the frequencies in
// rising order) unless that needs longer codes; then the longest are cut to
// `maxBits` and codes moved one level down until the code is complete again.
// Fewer than two symbols in use get two codes of one bit, so every code is
// complete, as some decoders want. Ties go by symbol: the lengths depend on
// the frequencies alone.
template <size_t N>
void BuildLengths(const std::array<uint32_t, N>& freqs, int maxBits, Code<N>& code) {
  std::array<uint64_t, N> keys{};
  size_t used = 0;
  for (size_t s = 0; s < N; ++s) {
    if (freqs[s] != 0) keys[used++] = uint64_t{freqs[s]} << 16 | s;
  }
  code.lengths.fill(0);
  if (used < 2) {
    const size_t first = used == 1 ? static_cast<size_t>(keys[0] & 0xFFFF) : 0;
    code.lengths[first] = 1;
    code.lengths[first == 0 ? 1 : 0] = 1;
    AssignBits(code);
    return;
  }
  std::sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(used));
  std::array<uint32_t, N> a{};
  for (size_t i = 0; i < used; ++i) a[i] = static_cast<uint32_t>(keys[i] >> 16);
  // First pass: parents of the internal nodes, built left to right.
  const size_t n = used;
  a[0] += a[1];
  size_t root = 0, leaf = 2;
  for (size_t next = 1; next + 1 < n; ++next) {
    if (leaf >= n || a[root] < a[leaf]) {
      a[next] = a[root];
      a[root++] = static_cast<uint32_t>(next);
    } else {
      a[next] = a[leaf++];
    }
    if (leaf >= n || (root < next && a[root] < a[leaf])) {
      a[next] += a[root];
      a[root++] = static_cast<uint32_t>(next);
    } else {
      a[next] += a[leaf++];
    }
  }
  // Second pass: depths of the internal nodes, right to left.
  a[n - 2] = 0;
  for (size_t next = n - 2; next-- > 0;) a[next] = a[a[next]] + 1;
  // Third pass: depths of the leaves.
  {
    int64_t avail = 1, usedNodes = 0, depth = 0;
    int64_t r = static_cast<int64_t>(n) - 2, next = static_cast<int64_t>(n) - 1;
    while (avail > 0) {
      while (r >= 0 && a[static_cast<size_t>(r)] == depth) {
        ++usedNodes;
        --r;
      }
      while (avail > usedNodes) {
        a[static_cast<size_t>(next--)] = static_cast<uint32_t>(depth);
        --avail;
      }
      avail = 2 * usedNodes;
      ++depth;
      usedNodes = 0;
    }
  }
  // a[i] is now the length of the i-th rarest symbol, falling with i.
  std::array<uint32_t, 33> count{};
  bool cut = false;
  for (size_t i = 0; i < n; ++i) {
    if (a[i] > static_cast<uint32_t>(maxBits)) {
      a[i] = static_cast<uint32_t>(maxBits);
      cut = true;
    }
    ++count[a[i]];
  }
  if (cut) {
    const auto max = static_cast<size_t>(maxBits);
    uint64_t total = 0;
    for (size_t len = 1; len <= max; ++len) total += uint64_t{count[len]} << (max - len);
    while (total != uint64_t{1} << max) {
      --count[max];
      for (size_t len = max - 1; len > 0; --len) {
        if (count[len] != 0) {
          --count[len];
          count[len + 1] += 2;
          break;
        }
      }
      --total;
    }
  }
  // The rarest symbols get the longest codes.
  size_t i = 0;
  for (size_t len = static_cast<size_t>(maxBits); len > 0; --len) {
    for (uint32_t k = 0; k < count[len]; ++k) code.lengths[keys[i++] & 0xFFFF] = static_cast<uint8_t>(len);
  }
  AssignBits(code);
}

using LitLenCode = Code<288>;
using DistCode = Code<kDistSymbols>;

// The fixed codes of block type 1.
struct FixedCodes {
  LitLenCode litLen;
  DistCode dist;
  FixedCodes() {
    for (size_t s = 0; s < 288; ++s) litLen.lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    dist.lengths.fill(5);
    AssignBits(litLen);
    AssignBits(dist);
  }
};
const FixedCodes& Fixed() {
  static const FixedCodes codes;
  return codes;
}

// A match after `literals` literal bytes; length 0 for the literals that end a block.
struct Sequence {
  uint32_t literals;
  uint16_t length;
  uint16_t distance;
};

struct Block {
  size_t begin = 0, end = 0;
  std::vector<Sequence> sequences;
  std::array<uint32_t, 288> litLenFreqs{};
  std::array<uint32_t, kDistSymbols> distFreqs{};
};

// log2(x) in sixteenths of a bit, x >= 1, from the leading bit and the four
// after it.
uint32_t Log2Sixteenths(uint32_t x) {
  static constexpr std::array<uint8_t, 16> kFraction = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
  const uint32_t n = static_cast<uint32_t>(std::bit_width(x)) - 1;
  const uint32_t m = n >= 4 ? (x >> (n - 4)) & 15 : (x << (4 - n)) & 15;
  return 16 * n + kFraction[m];
}

// Literal counts in four tables taken in turn, so that equal bytes in a
// row do not wait for each other's counts.
struct LiteralCounts {
  std::array<std::array<uint32_t, 256>, 4> tables{};
  uint32_t turn = 0;
  void Add(const uint8_t* p, size_t n) {
    uint32_t t = turn;
    for (size_t i = 0; i < n; ++i) ++tables[t++ & 3][p[i]];
    turn = t;
  }
  void Remove(uint8_t b) { --tables[0][b]; }  // the total wraps back
  uint32_t Total(size_t b) const { return tables[0][b] + tables[1][b] + tables[2][b] + tables[3][b]; }
};

// Records a match of `length` at `distance` after `literals` literal bytes.
void AddMatch(Block& block, size_t literals, uint32_t length, uint32_t distance) {
  block.sequences.push_back(
      {static_cast<uint32_t>(literals), static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
  ++block.litLenFreqs[257 + kLengthSymbol[length]];
  ++block.distFreqs[DistanceSymbol(distance)];
}

// Ends the block at `end`, after `literals` literal bytes since its last match.
void EndBlock(Block& block, const LiteralCounts& counts, size_t literals, size_t end) {
  block.sequences.push_back({static_cast<uint32_t>(literals), 0, 0});
  for (size_t b = 0; b < 256; ++b) block.litLenFreqs[b] = counts.Total(b);
  block.litLenFreqs[kEndOfBlock] = 1;
  block.end = end;
}

// A match the parsers weigh: its length, distance and the bits it saves.
struct Match {
  uint32_t length = 0;
  uint32_t distance = 0;
  int32_t saving = 0;  // sixteenths of a bit
};

// One block's parse under way: the position, the symbols so far and the
// literal bytes since the last match.
struct BlockParse {
  BlockParse(Block& into, const uint8_t* bytes, size_t begin) : block(into), data(bytes), p(begin), literalsFrom(begin) {
    block.begin = begin;
    block.sequences.clear();
    block.litLenFreqs.fill(0);
    block.distFreqs.fill(0);
  }
  bool GoesOn(size_t end) const { return p < end && symbols < kBlockSymbols; }
  void Literals(size_t n) {
    literals.Add(data + p, n);
    p += n;
    symbols += n;
  }
  // The match `find` gives at p; one shorter than `lazyBelow` gives way to
  // the next position's when that saves more, its byte becoming a literal.
  // With no match the byte at p is a literal and the length is 0.
  template <typename Find>
  Match Next(Find&& find, uint32_t lazyBelow) {
    Match m = find(p);
    while (m.length != 0 && m.length < lazyBelow && symbols + 1 < kBlockSymbols) {
      const Match next = find(p + 1);
      if (next.saving <= m.saving) break;
      Literals(1);
      m = next;
    }
    if (m.length == 0) Literals(1);
    return m;
  }
  void Take(const Match& m) {
    AddMatch(block, p - literalsFrom, m.length, m.distance);
    p += m.length;
    literalsFrom = p;
    ++symbols;
  }
  void End() { EndBlock(block, literals, p - literalsFrom, p); }

  Block& block;
  const uint8_t* data;
  size_t p, literalsFrom, symbols = 0;
  LiteralCounts literals;
};

// The literal scan looks at this many positions at a time.
constexpr uint32_t kScanPositions = 24;

// Bit i set when the `repeat` bytes from p + i on equal the bytes
// `distance` back, for i < kScanPositions; needs 32 bytes at p and
// distance <= p.
uint32_t Repeats(const uint8_t* p, size_t distance, int repeat) {
  uint32_t equal = 0;
#if defined(__SSE2__)
  const auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  const uint32_t low = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(p), load(p - distance))));
  const uint32_t high = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(p + 16), load(p + 16 - distance))));
  equal = low | high << 16;
#else
  for (uint32_t i = 0; i < 32; ++i) equal |= static_cast<uint32_t>(p[i] == p[i - distance]) << i;
#endif
  uint32_t m = equal;
  for (int i = 1; i < repeat; ++i) m &= equal >> i;
  return m & ((1u << kScanPositions) - 1);
}

// Finds the blocks' matches. Each match is weighed by the bits it saves: the
// literals it replaces, priced by their frequency in the bytes ahead,
// against an estimate of its length and distance codes. Literals with no
// repeat at a near distance are passed over kScanPositions at a time; the
// hash table is probed among them less often the longer it finds nothing.
class Matcher {
 public:
  Matcher(std::span<const uint8_t> data, size_t rowDistance)
      : data_(data.data()), size_(data.size()), rowDistance_(rowDistance <= kWindow ? rowDistance : 0),
        hash_(size_t{1} << kHashBits, kNoPosition) {
    if (rowDistance_ == 1 || rowDistance_ == 4) rowDistance_ = 0;
  }

  // Fills `block` from `begin` on with up to kBlockSymbols symbols.
  void Parse(size_t begin, Block& block) {
    BlockParse parse(block, data_, begin);
    PriceLiterals(begin);
    size_t& p = parse.p;
    while (parse.GoesOn(size_)) {
      if (p >= 4 && size_ - p >= 32) {
        // Repeats that started at a position already looked at are left out:
        // later in the same repeat the match only gets shorter.
        const auto fresh = [&](size_t k, uint32_t repeats) {
          return until_[k] <= p ? repeats : until_[k] - p >= 32 ? 0 : repeats & ~((1u << (until_[k] - p)) - 1);
        };
        uint32_t candidates = fresh(0, Repeats(data_ + p, 1, kRunRepeat)) | fresh(1, Repeats(data_ + p, 4, kPixelRepeat));
        if (rowDistance_ != 0 && rowDistance_ <= p) candidates |= fresh(2, Repeats(data_ + p, rowDistance_, kRowRepeat));
        size_t skip = std::min<size_t>(candidates != 0 ? std::countr_zero(candidates) : kScanPositions, kBlockSymbols - parse.symbols);
        // The hash table, probed among the literals ever more sparsely while
        // it finds nothing.
        bool stopped = candidates != 0;
        while (nextProbe_ < p + skip) {
          const size_t q = std::max(nextProbe_, p);
          uint32_t& slot = hash_[Hash(q)];
          if (slot < q && q - slot <= kWindow && Load32(data_ + slot) == Load32(data_ + q)) {
            skip = q - p;
            stopped = true;
            break;
          }
          slot = static_cast<uint32_t>(q);
          ++misses_;
          nextProbe_ = q + 1 + (misses_ >> kProbeShift);
        }
        parse.Literals(skip);
        if (!stopped || parse.symbols >= kBlockSymbols) continue;
      }
      Match m = parse.Next([&](size_t q) { return Find(q); }, kLazyBelow);
      if (m.length == 0) continue;
      if (m.distance != 1 && m.distance != 4 && m.distance != rowDistance_) {
        // A match found through the hash may start before the probed byte.
        while (p > parse.literalsFrom && p > m.distance && m.length < kMaxMatch && data_[p - 1] == data_[p - 1 - m.distance]) {
          --p;
          ++m.length;
          parse.literals.Remove(data_[p]);
          --parse.symbols;
        }
      }
      parse.Take(m);
    }
    parse.End();
  }

 private:

  // Each byte's price as a literal, from its frequency in every third byte
  // of the next 64 KiB (a step that visits all four channels).
  void PriceLiterals(size_t begin) {
    const size_t n = std::min<size_t>(size_ - begin, 65536);
    std::array<std::array<uint32_t, 256>, 4> counts{};
    size_t samples = 0;
    for (size_t i = 0; i < n; i += 3) ++counts[samples++ & 3][data_[begin + i]];
    const uint32_t total = Log2Sixteenths(static_cast<uint32_t>(samples) + 1);
    for (size_t b = 0; b < 256; ++b) {
      const uint32_t count = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
      const uint32_t cost = count == 0 ? total + 16 : total - Log2Sixteenths(count);
      literalPrice_[b] = static_cast<int32_t>(std::max<uint32_t>(cost, 16));
    }
  }

  // The hash table's slot for the 4 bytes at `p`.
  size_t Hash(size_t p) const { return (Load32(data_ + p) * 2654435761u) >> (32 - kHashBits); }

  int32_t MatchCost(uint32_t length, size_t distance) const {
    const uint32_t ls = kLengthSymbol[length];
    const uint32_t ds = DistanceSymbol(static_cast<uint32_t>(distance));
    const int32_t distanceBits = distance == 1 ? kRunDistanceBits : distance == 4 ? kPixelDistanceBits : kFarDistanceBits;
    return 16 * (kLengthCodeBits + kLengthExtra[ls] + distanceBits + kDistExtra[ds]);
  }

  // The match at `p` that saves the most bits (none when none saves any).
  Match Find(size_t p) {
    Match best;
    if (p >= size_ || size_ - p < kMinMatch) return best;
    const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(size_ - p, kMaxMatch));
    std::array<uint32_t, 4> distances{}, lengths{};
    size_t count = 0;
    uint32_t longest = 0;
    // Candidates come cheapest distance first; past 8 bytes a later one has
    // to be longer to win, which one byte tells.
    const auto add = [&](size_t distance, uint32_t minimum, size_t fixed) {
      if (longest >= 8 && (longest >= limit || data_[p + longest] != data_[p + longest - distance])) {
        if (fixed < 3) until_[fixed] = p + longest;
        return;
      }
      const uint32_t len = CommonLength(data_ + p, data_ + p - distance, limit);
      if (fixed < 3) until_[fixed] = p + len;
      if (len < minimum) return;
      distances[count] = static_cast<uint32_t>(distance);
      lengths[count++] = len;
      longest = std::max(longest, len);
    };
    if (p >= 1) add(1, kMinMatch, 0);
    if (p >= 4) add(4, kMinMatch, 1);
    if (rowDistance_ != 0 && rowDistance_ <= p) add(rowDistance_, kMinMatch, 2);
    size_t hashed = 0;
    const bool probe = p >= nextProbe_ && size_ - p >= 4;
    if (probe) {
      uint32_t& slot = hash_[Hash(p)];
      const uint32_t seen = slot;
      slot = static_cast<uint32_t>(p);
      if (seen != kNoPosition) {
        const size_t distance = p - seen;
        if (distance <= kWindow && distance != 1 && distance != 4 && distance != rowDistance_) {
          hashed = distance;
          add(distance, kMinFarMatch, 3);
        }
      }
    }
    if (count != 0) {
      // The literals' prices over the first kPricedBytes bytes; beyond, a
      // bit each.
      std::array<int32_t, kPricedBytes + 1> prices{};
      const uint32_t priced = std::min<uint32_t>(longest, kPricedBytes);
      for (uint32_t i = 0; i < priced; ++i) prices[i + 1] = prices[i] + literalPrice_[data_[p + i]];
      for (size_t k = 0; k < count; ++k) {
        const uint32_t len = lengths[k];
        const int32_t literals = len <= kPricedBytes ? prices[len] : prices[kPricedBytes] + 16 * static_cast<int32_t>(len - kPricedBytes);
        const int32_t saving = literals - MatchCost(len, distances[k]);
        if (saving > best.saving) best = {len, distances[k], saving};
      }
    }
    if (probe) {
      misses_ = hashed != 0 && best.distance == hashed ? misses_ / 2 : misses_ + kRejectedProbe;
      nextProbe_ = p + 1 + (misses_ >> kProbeShift);
    }
    return best;
  }

  const uint8_t* data_;
  size_t size_;
  size_t rowDistance_;
  std::vector<uint32_t> hash_;
  size_t nextProbe_ = 0;
  uint32_t misses_ = 0;
  std::array<size_t, 3> until_{};
  std::array<int32_t, 256> literalPrice_{};
};

// How hard the denser search looks: the places of a chain it looks at (a
// quarter of them once a match repeats kChainGood bytes), and the length below which a match
// is weighed against the next position's (0: never).
struct Effort {
  int depth;
  uint32_t lazyBelow;
};

// A block is parsed looking at 16 places, short matches weighed against the
// next position's; the short trials look at 8, greedily.
constexpr Effort kFullEffort{16, 8}, kQuickEffort{8, 0};

// The denser search for blocks where the first one finds too few repeats:
// the 4 bytes at every position go into hash chains, and each position is
// weighed against the cheap distances (a run, the pixel before, the row
// above) and a number of earlier places with the same hash; the match
// that saves the most bits under eager prices is taken, unless a short one
// loses to the next position's. Its chains are filled only where it is used,
// from a given number of bytes before the bytes it parses.
class ChainMatcher {
 public:
  ChainMatcher(std::span<const uint8_t> data, size_t rowDistance)
      : data_(data.data()), size_(data.size()), rowDistance_(rowDistance <= kWindow ? rowDistance : 0) {
    if (rowDistance_ == 1 || rowDistance_ == 4) rowDistance_ = 0;
    // The tables stay with the thread from one stream to the next: fresh
    // ones would cost the system a page clear each. Every place a chain
    // leads to is set in this stream before it is read.
    thread_local std::vector<uint32_t> heads, places;
    heads.assign(size_t{1} << kChainHashBits, kNoPosition);
    places.resize(kWindow);
    head_ = heads.data();
    prev_ = places.data();
    // Eager prices: a literal 8 bits, a length code 3 bits, a distance code
    // 5 bits (2 for a run, 4 for the pixel before), each with its extra bits.
    for (uint32_t len = kMinMatch; len <= kMaxMatch; ++len) lengthPrice_[len] = 16 * (3 + kLengthExtra[kLengthSymbol[len]]);
    for (size_t s = 0; s < kDistSymbols; ++s) distancePrice_[s] = 16 * (5 + kDistExtra[s]);
    distancePrice_[0] = 16 * 2;
    distancePrice_[3] = 16 * 4;
  }

  // Fills `block` with the symbols of [begin, end), at most kBlockSymbols,
  // finding repeats from `history` bytes before `begin` on.
  void Parse(size_t begin, size_t end, size_t history, Effort effort, Block& block) {
    effort_ = effort;
    const size_t from = begin > history ? begin - history : 0;
    if (from < chainedFrom_) {
      // The chains start again where the search is to look.
      std::fill_n(head_, size_t{1} << kChainHashBits, kNoPosition);
      chainedFrom_ = inserted_ = from;
    } else if (from > inserted_) {
      // A gap: the heads that are left point at most to older places.
      chainedFrom_ = inserted_ = from;
    }
    BlockParse parse(block, data_, begin);
    end_ = std::min(end, size_);
    while (parse.GoesOn(end_)) {
      const Match m = parse.Next([&](size_t q) { return Find(q); }, effort_.lazyBelow);
      if (m.length != 0) parse.Take(m);
    }
    parse.End();
  }

 private:

  static uint32_t HashOf(uint32_t v) { return (v * 2654435761u) >> (32 - kChainHashBits); }

  // Puts the positions before `p` that are not in the chains yet into them.
  void InsertUpTo(size_t p) {
    const size_t end = std::min(p, size_ >= 4 ? size_ - 3 : 0);
    for (size_t q = inserted_; q < end; ++q) {
      uint32_t& h = head_[HashOf(Load32(data_ + q))];
      prev_[q & (kWindow - 1)] = h;
      h = static_cast<uint32_t>(q);
    }
    inserted_ = std::max(inserted_, end);
  }

  Match Find(size_t p) {
    Match best;
    if (end_ - p < kMinMatch) return best;
    InsertUpTo(p);
    const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(end_ - p, kMaxMatch));
    const uint8_t* here = data_ + p;
    uint32_t longest = 0;
    const auto consider = [&](uint32_t distance, uint32_t len) {
      longest = std::max(longest, len);
      const int32_t saving = 16 * 8 * static_cast<int32_t>(len) - lengthPrice_[len] - distancePrice_[DistanceSymbol(distance)];
      if (saving > best.saving) best = {len, distance, saving};
    };
    const auto cheap = [&](size_t distance) {
      if (distance > p) return;
      const uint32_t len = CommonLength(here, here - distance, limit);
      if (len >= kMinMatch) consider(static_cast<uint32_t>(distance), len);
    };
    cheap(1);
    cheap(4);
    if (rowDistance_ != 0) cheap(rowDistance_);
    if (limit < 4 || longest >= std::min(limit, kChainSkip)) return best;
    const uint32_t first = Load32(here);
    const size_t lowest = p > kWindow ? p - kWindow : 0;
    uint32_t candidate = head_[HashOf(first)];
    for (int depth = longest >= kChainGood ? effort_.depth / 4 : effort_.depth;
         depth > 0 && candidate != kNoPosition && candidate >= lowest; --depth) {
      if (candidate < p) {
        const uint8_t* there = data_ + candidate;
        // Only a longer match can win: its first 4 bytes and the 4 up to
        // the byte past the longest so far have to agree.
        const uint32_t need = std::max<uint32_t>(longest + 1, 4);
        if (need > limit) break;
        if (Load32(there) == first && Load32(there + need - 4) == Load32(here + need - 4)) {
          const uint32_t len = CommonLength(here, there, limit);
          const uint32_t distance = static_cast<uint32_t>(p - candidate);
          if (len > longest && distance != 1 && distance != 4 && distance != rowDistance_) {
            consider(distance, len);
            if (longest >= std::min(limit, kChainNice)) break;
          }
        }
      }
      // A place left from before a gap may lead anywhere: chains only go back.
      const uint32_t next = prev_[candidate & (kWindow - 1)];
      if (next >= candidate) break;
      candidate = next;
    }
    return best;
  }

  const uint8_t* data_;
  size_t size_, end_ = 0;
  size_t rowDistance_;
  uint32_t* head_;
  uint32_t* prev_;
  // The chains hold the positions [chainedFrom_, inserted_).
  size_t chainedFrom_ = 0, inserted_ = 0;
  Effort effort_{};
  std::array<int32_t, kMaxMatch + 1> lengthPrice_{};
  std::array<int32_t, kDistSymbols> distancePrice_{};
};

// The deflate bit stream, LSB first, written eight bytes at a time into
// `out` past its first `out.size()` bytes. Reserve() before each block makes
// room for the block's bytes and the eight-byte stores.
class BitSink {
 public:
  explicit BitSink(std::vector<uint8_t>& out) : out_(out), pos_(out.size()) {}

  void Reserve(size_t bytes) {
    const size_t need = pos_ + bytes + 16;
    if (out_.size() < need) out_.resize(std::max(need, out_.size() + out_.size() / 2));
    base_ = out_.data();
  }
  // `bits` holds no bits above `count`; at most 56 bits between flushes.
  void Put(uint64_t bits, uint32_t count) {
    buffer_ |= bits << count_;
    count_ += count;
  }
  void Flush() {
    uint64_t v = buffer_;
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(base_ + pos_, &v, 8);
    const uint32_t bytes = count_ >> 3;
    pos_ += bytes;
    buffer_ = bytes == 8 ? 0 : buffer_ >> (8 * bytes);
    count_ &= 7;
  }
  void AlignToByte() {
    Flush();
    if (count_ != 0) {
      ++pos_;
      buffer_ = 0;
      count_ = 0;
    }
  }
  // Whole bytes, after AlignToByte.
  void Bytes(const uint8_t* p, size_t n) {
    if (n != 0) std::memcpy(base_ + pos_, p, n);
    pos_ += n;
  }
  uint64_t BitCount() const { return uint64_t{pos_} * 8 + count_; }
  void Finish() {
    AlignToByte();
    out_.resize(pos_);
  }

 private:
  std::vector<uint8_t>& out_;
  uint8_t* base_ = nullptr;  // out_.data() as of the last Reserve()
  size_t pos_;
  uint64_t buffer_ = 0;
  uint32_t count_ = 0;
};

// One code-length code symbol (0..18) with its extra bits' value.
struct LengthToken {
  uint8_t symbol;
  uint8_t extra;
};
constexpr std::array<uint8_t, kCodeLengthSymbols> kCodeLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                     0, 0, 0, 0, 0, 0, 2, 3, 7};

// The header of a dynamic block: both codes, their lengths run-length coded.
struct DynamicHeader {
  LitLenCode litLen;
  DistCode dist;
  Code<kCodeLengthSymbols> lengthCode;
  std::vector<LengthToken> tokens;
  size_t litLenCount = 0, distCount = 0, lengthCodeCount = 0;
  uint64_t bits = 0;  // the header's size in bits, the 3 block bits left out
};

void BuildHeader(const Block& block, DynamicHeader& h) {
  BuildLengths<288>(block.litLenFreqs, kMaxCodeBits, h.litLen);
  BuildLengths<kDistSymbols>(block.distFreqs, kMaxCodeBits, h.dist);
  h.litLenCount = kLitLenSymbols;
  while (h.litLenCount > 257 && h.litLen.lengths[h.litLenCount - 1] == 0) --h.litLenCount;
  h.distCount = kDistSymbols;
  while (h.distCount > 1 && h.dist.lengths[h.distCount - 1] == 0) --h.distCount;
  std::array<uint8_t, kLitLenSymbols + kDistSymbols> all{};
  std::copy_n(h.litLen.lengths.begin(), h.litLenCount, all.begin());
  std::copy_n(h.dist.lengths.begin(), h.distCount, all.begin() + static_cast<std::ptrdiff_t>(h.litLenCount));
  const size_t total = h.litLenCount + h.distCount;
  h.tokens.clear();
  std::array<uint32_t, kCodeLengthSymbols> freqs{};
  const auto token = [&](uint32_t symbol, uint32_t extra) {
    h.tokens.push_back({static_cast<uint8_t>(symbol), static_cast<uint8_t>(extra)});
    ++freqs[symbol];
  };
  for (size_t i = 0; i < total;) {
    const uint8_t len = all[i];
    size_t run = 1;
    while (i + run < total && all[i + run] == len) ++run;
    i += run;
    if (len == 0) {
      while (run >= 11) {
        const size_t r = std::min<size_t>(run, 138);
        token(18, static_cast<uint32_t>(r - 11));
        run -= r;
      }
      if (run >= 3) {
        token(17, static_cast<uint32_t>(run - 3));
        run = 0;
      }
    } else {
      token(len, 0);
      --run;
      while (run >= 3) {
        const size_t r = std::min<size_t>(run, 6);
        token(16, static_cast<uint32_t>(r - 3));
        run -= r;
      }
    }
    for (; run > 0; --run) token(len, 0);
  }
  BuildLengths<kCodeLengthSymbols>(freqs, kMaxCodeLengthBits, h.lengthCode);
  h.lengthCodeCount = kCodeLengthSymbols;
  while (h.lengthCodeCount > 4 && h.lengthCode.lengths[kCodeLengthOrder[h.lengthCodeCount - 1]] == 0) {
    --h.lengthCodeCount;
  }
  h.bits = 5 + 5 + 4 + 3 * uint64_t{h.lengthCodeCount};
  for (const LengthToken& t : h.tokens) h.bits += h.lengthCode.lengths[t.symbol] + kCodeLengthExtra[t.symbol];
}

// The bits of the block's symbols under the two codes, block header left out.
uint64_t DataBits(const Block& block, const LitLenCode& litLen, const DistCode& dist) {
  uint64_t bits = 0;
  for (size_t s = 0; s < 286; ++s) {
    const uint64_t extra = s > 256 ? kLengthExtra[s - 257] : 0;
    bits += uint64_t{block.litLenFreqs[s]} * (litLen.lengths[s] + extra);
  }
  for (size_t s = 0; s < kDistSymbols; ++s) bits += uint64_t{block.distFreqs[s]} * (dist.lengths[s] + kDistExtra[s]);
  return bits;
}

// The symbols of `block` that start in [from, upTo) counted into `counts`;
// returns the bytes they cover.
std::pair<size_t, size_t> CountStretch(const uint8_t* data, const Block& block, size_t from, size_t upTo, Block& counts) {
  size_t p = block.begin, first = 0;
  bool started = false;
  const auto start = [&](size_t at) {
    if (!started && at >= from) {
      started = true;
      first = at;
    }
    return started;
  };
  for (const Sequence& seq : block.sequences) {
    const size_t literalsEnd = p + seq.literals;
    if (!started && literalsEnd + seq.length < from) {
      p = literalsEnd + seq.length;
      continue;
    }
    if (!started) p = std::max(p, std::min(from, literalsEnd));
    for (; p < literalsEnd && p < upTo; ++p) {
      if (start(p)) ++counts.litLenFreqs[data[p]];
    }
    if (p >= upTo || seq.length == 0) break;
    if (start(p)) {
      ++counts.litLenFreqs[257 + kLengthSymbol[seq.length]];
      ++counts.distFreqs[DistanceSymbol(seq.distance)];
    }
    p += seq.length;
  }
  return started ? std::pair{first, p} : std::pair{p, p};
}

// The block's bits as the smaller of its dynamic and fixed codes.
uint64_t BlockBits(const Block& block, DynamicHeader& h) {
  BuildHeader(block, h);
  return std::min(h.bits + DataBits(block, h.litLen, h.dist), DataBits(block, Fixed().litLen, Fixed().dist));
}

class Deflater {
 public:
  Deflater(std::span<const uint8_t> data, std::vector<uint8_t>& out) : data_(data), sink_(out) {}

  void WriteBlock(const Block& block, bool final) {
    BuildHeader(block, header_);
    const Code<288>& fixedLitLen = Fixed().litLen;
    const uint64_t dynamicBits = 3 + header_.bits + DataBits(block, header_.litLen, header_.dist);
    const uint64_t fixedBits = 3 + DataBits(block, fixedLitLen, Fixed().dist);
    const size_t bytes = block.end - block.begin;
    const size_t pieces = bytes == 0 ? 1 : (bytes + kStoredMax - 1) / kStoredMax;
    const uint64_t firstPad = (8 - (sink_.BitCount() + 3) % 8) % 8;
    const uint64_t storedBits = firstPad + 5 * (pieces - 1) + (3 + 32) * pieces + 8 * uint64_t{bytes};
    const uint32_t last = final ? 1 : 0;
    if (storedBits < dynamicBits && storedBits < fixedBits) {
      sink_.Reserve(bytes + 5 * pieces);
      size_t at = block.begin, left = bytes;
      do {
        const size_t n = std::min(left, kStoredMax);
        left -= n;
        sink_.Put(left == 0 ? last : 0, 3);
        sink_.AlignToByte();
        const uint8_t lengths[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                    static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)};
        sink_.Bytes(lengths, 4);
        sink_.Bytes(data_.data() + at, n);
        at += n;
      } while (left > 0);
      return;
    }
    if (fixedBits <= dynamicBits) {
      sink_.Reserve(static_cast<size_t>(fixedBits / 8) + 8);
      sink_.Put(last | 1u << 1, 3);
      WriteSymbols(block, fixedLitLen, Fixed().dist);
      return;
    }
    sink_.Reserve(static_cast<size_t>(dynamicBits / 8) + 8);
    sink_.Put(last | 2u << 1, 3);
    sink_.Put(header_.litLenCount - 257, 5);
    sink_.Put(header_.distCount - 1, 5);
    sink_.Put(header_.lengthCodeCount - 4, 4);
    sink_.Flush();
    for (size_t i = 0; i < header_.lengthCodeCount; ++i) {
      sink_.Put(header_.lengthCode.lengths[kCodeLengthOrder[i]], 3);
      if (i % 8 == 7) sink_.Flush();
    }
    sink_.Flush();
    for (const LengthToken& t : header_.tokens) {
      sink_.Put(header_.lengthCode.bits[t.symbol], header_.lengthCode.lengths[t.symbol]);
      sink_.Put(t.extra, kCodeLengthExtra[t.symbol]);
      sink_.Flush();
    }
    WriteSymbols(block, header_.litLen, header_.dist);
  }

  void Finish() { sink_.Finish(); }

 private:
  void WriteSymbols(const Block& block, const LitLenCode& litLen, const DistCode& dist) {
    // Each length's code followed by its extra bits.
    std::array<uint32_t, kMaxMatch + 1> lengthBits{};
    std::array<uint8_t, kMaxMatch + 1> lengthCount{};
    for (uint32_t len = kMinMatch; len <= kMaxMatch; ++len) {
      const uint32_t s = kLengthSymbol[len];
      const uint32_t codeLength = litLen.lengths[257 + s];
      lengthBits[len] = litLen.bits[257 + s] | (len - kLengthBase[s]) << codeLength;
      lengthCount[len] = static_cast<uint8_t>(codeLength + kLengthExtra[s]);
    }
    const uint8_t* p = data_.data() + block.begin;
    for (const Sequence& seq : block.sequences) {
      const uint8_t* end = p + seq.literals;
      for (; end - p >= 3; p += 3) {
        sink_.Put(litLen.bits[p[0]], litLen.lengths[p[0]]);
        sink_.Put(litLen.bits[p[1]], litLen.lengths[p[1]]);
        sink_.Put(litLen.bits[p[2]], litLen.lengths[p[2]]);
        sink_.Flush();
      }
      for (; p < end; ++p) sink_.Put(litLen.bits[*p], litLen.lengths[*p]);
      sink_.Flush();
      if (seq.length != 0) {
        const uint32_t s = DistanceSymbol(seq.distance);
        sink_.Put(lengthBits[seq.length], lengthCount[seq.length]);
        sink_.Put(dist.bits[s] | uint64_t{static_cast<uint32_t>(seq.distance - kDistBase[s])} << dist.lengths[s],
                  dist.lengths[s] + kDistExtra[s]);
        sink_.Flush();
        p += seq.length;
      }
    }
    sink_.Put(litLen.bits[kEndOfBlock], litLen.lengths[kEndOfBlock]);
    sink_.Flush();
  }

  std::span<const uint8_t> data_;
  BitSink sink_;
  DynamicHeader header_;
};

}  // namespace

void AppendZlibStream(std::span<const uint8_t> data, size_t rowDistance, std::vector<uint8_t>& out) {
  // CMF 0x78: deflate with a 32 KiB window; FLG 0x01: the fastest level's
  // mark and the check bits that make CMF * 256 + FLG a multiple of 31.
  out.push_back(0x78);
  out.push_back(0x01);
  {
    Matcher matcher(data, rowDistance);
    ChainMatcher chains(data, rowDistance);
    Deflater deflater(data, out);
    Block block, other;
    block.sequences.reserve(kBlockSymbols + 1);
    other.sequences.reserve(kBlockSymbols + 1);
    DynamicHeader header;
    Block fastSample, denseSample;
    // Whether the denser search, tried on kTrials stretches of `bytes`
    // spread over the block, gives fewer bits than `perMille` thousandths of
    // the first search's bits on them.
    const auto promises = [&](size_t bytes, size_t history, Effort effort, uint64_t perMille) {
      fastSample.litLenFreqs.fill(0);
      fastSample.distFreqs.fill(0);
      denseSample.litLenFreqs.fill(0);
      denseSample.distFreqs.fill(0);
      const size_t length = block.end - block.begin;
      for (size_t k = 0; k < kTrials; ++k) {
        const size_t from = block.begin + length * (2 * k + 1) / (2 * kTrials) - std::min(length / (2 * kTrials), bytes / 2);
        const auto [first, last] = CountStretch(data.data(), block, from, from + bytes, fastSample);
        if (first == last) continue;
        chains.Parse(first, last, history, effort, other);
        CountStretch(data.data(), other, first, last, denseSample);
      }
      fastSample.litLenFreqs[kEndOfBlock] = denseSample.litLenFreqs[kEndOfBlock] = 1;
      return BlockBits(denseSample, header) * 1000 < BlockBits(fastSample, header) * perMille;
    };
    size_t begin = 0;
    do {
      matcher.Parse(begin, block);
      // The denser search tried quickly on a few short stretches spread over
      // the block, then in full on longer ones; the whole block parsed again
      // only when both promise fewer bits, and kept only when it gives them.
      if (promises(kShortTrial, kShortHistory, kQuickEffort, kShortPromise) &&
          promises(kLongTrial, kLongHistory, kFullEffort, kLongPromise)) {
        chains.Parse(begin, block.end, kWindow, kFullEffort, other);
        const uint64_t fastBits = BlockBits(block, header), denseBits = BlockBits(other, header);
        if (denseBits * (block.end - begin) < fastBits * (other.end - begin)) std::swap(block, other);
      }
      deflater.WriteBlock(block, block.end == data.size());
      begin = block.end;
    } while (begin < data.size());
    deflater.Finish();
  }
  const uint32_t adler = Adler32(data);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
}

}  // namespace quarrendel::imagefile
