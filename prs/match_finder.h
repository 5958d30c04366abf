// Match search for the PRS encoders: at a position, the longest earlier copy
// of the bytes there within 8191 bytes (at most 256 bytes long and never past
// the input's end), and among equally long ones the nearest, exactly as a
// scan of every candidate from nearest to farthest would find it.
//
// Every position is in two hash chains, one over its 3-byte prefix and one
// over a longer prefix (5 to 8 bytes, see LongPrefixFor): each position
// links to the previous one with the same hash, so a chain visits
// candidates nearest first, and it holds every candidate that shares its
// prefix with the search position (hash collisions only add candidates, each
// measured in full). A position also keeps how far back the previous copy of
// its first 2 bytes lies, if within 255 bytes.
//
// Positions go into the chains ahead of the search, a block at a time, so
// the search at i starts from i's own links, which lead to the candidates
// before i, rather than from the head tables, and i + k's links lead to the
// earlier copies of the bytes k further on. A search:
//  1. takes the nearest candidate matching 3 bytes, and, unless it already
//     matches the longer prefix, the nearest matching the longer prefix; when
//     there is none, no candidate matches that many bytes;
//  2. from the best so far (`best` bytes at bestPos), looks for the nearest
//     farther candidate matching more. Each such candidate matches the
//     level's prefix, so it is on bestPos's chain; it also matches the
//     level's prefix length of bytes that end at index `best`, so it is on
//     that chain of bytes too, shifted. Both chains are complete and in
//     nearest-first order: walking them in step, the first to find a longer
//     match has the next best, the first to leave the window proves there is
//     none. On word-rich text the shifted chain, anchored on the bytes where
//     the match must go on, is usually far shorter.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "prs/prs.h"

namespace quarrendel::prs::detail {

struct Match {
  int32_t distance = 0;
  int32_t length = 0;  // 0: no match
};

inline uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Number of equal leading bytes of a and b, at most `limit`; b + limit must
// lie inside the input (a is always before b).
inline int32_t CommonLength(const uint8_t* a, const uint8_t* b, int32_t limit) {
  int32_t k = 0;
  for (; k + 8 <= limit; k += 8) {
    const uint64_t x = Load8(a + k) ^ Load8(b + k);
    if (x != 0) return k + std::countr_zero(x) / 8;
  }
  while (k < limit && a[k] == b[k]) ++k;
  return k;
}

// How long, on average, the chain of a position's first `bytes` bytes
// (4 to 8) is within `sample`: the sum over its distinct prefixes of their
// count squared, over the number of positions.
inline double ChainLength(std::span<const uint8_t> sample, int32_t bytes) {
  constexpr size_t kSlots = 8192;  // more than twice the positions sampled
  struct Slot {
    uint64_t key = ~uint64_t{0};  // no prefix of 8 bytes or fewer masked to `bytes` is all ones
    uint32_t count = 0;
  };
  std::vector<Slot> slots(kSlots);
  const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
  const size_t positions = std::min(sample.size() - 7, kSlots / 2);
  uint64_t sum = 0;
  for (size_t k = 0; k < positions; ++k) {
    const uint64_t key = Load8(sample.data() + k) & mask;
    size_t h = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 51);
    while (slots[h].key != key && slots[h].key != ~uint64_t{0}) h = (h + 1) & (kSlots - 1);
    slots[h].key = key;
    sum += 2 * uint64_t{slots[h].count++} + 1;  // (c + 1)^2 - c^2
  }
  return static_cast<double>(sum) / static_cast<double>(positions);
}

// Bytes of the longer indexed prefix. When the chains of 4 bytes are long
// and 5 bytes hardly shorten them (word-rich text over a small vocabulary:
// a chain is as long as its word is frequent), 4, so that a match of 4
// bytes needs no search on the 3-byte chain. Otherwise about 13 bits of
// information (the window holds 2^13 positions), judged by the byte
// frequencies of a sample, between 5 and 8. Data over a few byte values
// needs long prefixes to keep its chains short; English text and pixels do
// best with short ones.
inline int32_t LongPrefixFor(std::span<const uint8_t> in) {
  // Sampled only where the sample costs little next to the compression.
  constexpr size_t kSampled = 4096;
  if (in.size() >= 64 * kSampled) {
    const auto sample = in.subspan(in.size() / 2, kSampled);
    const double four = ChainLength(sample, 4);
    if (four >= 10 && ChainLength(sample, 5) > 0.75 * four) return 4;
  }
  constexpr size_t kSlice = 1024;
  constexpr size_t kSlices = 16;
  // Four tables, so that a run of one value is not one long chain of
  // increments to the same counter.
  uint32_t counts[4][256] = {};
  size_t total = 0;
  const size_t step = std::max(kSlice, in.size() / kSlices);
  for (size_t from = 0; from < in.size(); from += step) {
    const size_t to = std::min(in.size(), from + kSlice);
    for (size_t k = from; k < to; ++k) ++counts[k & 3][in[k]];
    total += to - from;
  }
  uint32_t count[256];
  for (int v = 0; v < 256; ++v) count[v] = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
  double bits = 0;
  for (uint32_t c : count) {
    if (c == 0) continue;
    const double p = static_cast<double>(c) / static_cast<double>(total);
    bits -= p * std::log2(p);
  }
  if (bits < 13.0 / 8) return 8;
  return std::clamp(static_cast<int32_t>(13.0 / bits), 5, 8);
}

class MatchFinder {
 public:
  // Head tables shrink with the input: a few hundred bytes need no 256 KB
  // of them. `longLength` (4 to 8) sets the longer prefix instead of
  // LongPrefixFor: the matches found are the same whatever it is.
  explicit MatchFinder(std::span<const uint8_t> in, int32_t longLength = 0)
      : in_(in.data()),
        n_(static_cast<int32_t>(in.size())),
        hashShift_(64 - std::clamp(static_cast<int>(std::bit_width(in.size())), 8, 16)),
        longLength_(longLength != 0 ? longLength : LongPrefixFor(in)),
        longMask_(longLength_ == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * longLength_)) - 1),
        heads_(size_t{2} << (64 - hashShift_), -1),
        headLong_(heads_.data() + (size_t{1} << (64 - hashShift_))),
        links_(new int32_t[2 * kRing]),
        lastPair_(size_t{1} << 16, 0) {}

  // The match at i among the candidates within kWindow bytes: a length of 3
  // or more, or 2 when no candidate matches 3 bytes and the nearest 2-byte
  // match is within kMaxShortDistance; otherwise none. Calls must come in
  // rising order of i.
  Match Find(int32_t i) {
    const int32_t limit = std::min(kMaxCopy, n_ - i);
    if (limit < 2) return {};
    Reach(i);
    if (limit < 8) return FindNearEnd(i, limit);
    const uint8_t* in = in_;
    const uint8_t* here = in + i;
    const int32_t start = std::max(0, i - kWindow);
    const uint64_t here8 = Load8(here);
    const int32_t* links = links_.get();
    int32_t c = links[Link(i)];
    const int32_t longHead = links[Link(i) + 1];
    // One of the two is most often where the search goes on from.
    __builtin_prefetch(&links[Link(c)]);
    __builtin_prefetch(&links[Link(longHead)]);
    const auto lcp8 = [&](int32_t at) {
      const uint64_t x = Load8(in + at) ^ here8;
      return x == 0 ? 8 : std::countr_zero(x) >> 3;
    };
    const auto length = [&](int32_t at) {
      const int32_t k = lcp8(at);
      return k < 8 ? k : 8 + CommonLength(in + at + 8, here + 8, limit - 8);
    };
    // No position in the window with the 3 bytes' hash: no match of 3
    // bytes or more. Otherwise the nearest candidate with the longer prefix,
    // or failing that the nearest with 3 bytes; with neither, perhaps 2 bytes.
    if (c < start) return FindPair(i);
    int32_t bestPos = longHead;
    while (bestPos >= start && lcp8(bestPos) < longLength_) bestPos = links[Link(bestPos) + 1];
    Level level{1, longMask_, longLength_};
    int32_t cap = limit;
    if (bestPos < start) {
      while (c >= start && lcp8(c) < 3) c = links[Link(c)];
      if (c < start) return FindPair(i);
      bestPos = c;
      level = Level{0, kMask3, 3};
      cap = longLength_ - 1;
    }
    int32_t best = length(bestPos);

    while (best < cap) {
      const int32_t found = Farther(i, start, limit, level, best, bestPos);
      if (found < 0) break;
      bestPos = found;
      best = CommonLength(in + found, here, limit);
    }
    return {i - bestPos, best};
  }

  // For the optimal parse, which needs the longest match at every position
  // but not its nearest copy: the copy `distance` back is known to match
  // `atLeast` bytes (the previous position's match, one byte on). Starting
  // from it saves the search for short matches; a longer one is looked for
  // on the longer prefix's chain of i and the chain of the bytes ending where
  // it must go on, both from their starts.
  Match FindLongest(int32_t i, int32_t distance, int32_t atLeast) {
    const int32_t limit = std::min(kMaxCopy, n_ - i);
    if (limit < 8 || atLeast < longLength_ || distance > std::min(i, kWindow)) return Find(i);
    Reach(i);
    const uint8_t* in = in_;
    const uint8_t* here = in + i;
    const int32_t start = std::max(0, i - kWindow);
    const int32_t* links = links_.get();
    int32_t bestPos = i - distance;
    int32_t best = atLeast + CommonLength(in + bestPos + atLeast, here + atLeast, limit - atLeast);
    while (best < limit) {
      // The shifted chain holds candidates more than `off` back; the own
      // chain, nearest first, covers the nearer ones before the shifted
      // chain's end may count as proof.
      const int32_t off = best - longLength_ + 1;
      const bool anchored = i + off + 8 <= n_;
      const uint64_t anchor = anchored ? Load8(here + off) & longMask_ : 0;
      if (anchored) Reach(i + off);
      const uint8_t want = here[best];
      int32_t a = links[Link(i) + 1];
      int32_t q = anchored ? links[Link(i + off) + 1] : -1;
      int32_t found = -1;
      for (;;) {
        if (a < start) break;
        if (in[a + best] == want && CommonLength(in + a, here, limit) > best) {
          found = a;
          break;
        }
        a = links[Link(a) + 1];
        if (!anchored) continue;
        const int32_t c = q - off;
        if (c < start) {
          if (a < i - off) break;
          continue;
        }
        if ((Load8(in + q) & longMask_) == anchor && in[c + best] == want &&
            CommonLength(in + c, here, limit) > best) {
          found = c;
          break;
        }
        q = links[Link(q) + 1];
      }
      if (found < 0) break;
      bestPos = found;
      best = CommonLength(in + found, here, limit);
    }
    return {i - bestPos, best};
  }

  // The longest match of 2 to maxLength bytes among the candidates within
  // `reach` (at most 256) bytes, at any of its distances, or none. For the
  // optimal parse; call after Find(i) or FindLongest(i). The previous
  // position's answer, one byte on, settles it when it reaches maxLength.
  Match FindNear(int32_t i, int32_t reach, int32_t maxLength, Match previous = {}) {
    const uint8_t* in = in_;
    const uint8_t* here = in + i;
    const int32_t limit = std::min(maxLength, n_ - i);
    if (limit < 2) return {};
    const int32_t known = previous.length - 1;  // bytes known to match previous.distance back
    if (known >= 1 && known <= limit && previous.distance <= std::min(reach, i) &&
        known + CommonLength(here - previous.distance + known, here + known, limit - known) == limit) {
      return {previous.distance, limit};
    }
    const int32_t start = std::max(0, i - reach);
    if (limit >= 3) {
      Match best;
      const bool wide = n_ - i >= 8;  // a word per candidate measures up to 8 bytes
      const uint64_t here8 = wide ? Load8(here) : 0;
      for (int32_t c = links_[Link(i)]; c >= start; c = links_[Link(c)]) {
        const uint64_t x = wide ? Load8(in + c) ^ here8 : 0;
        const int32_t k = !wide ? CommonLength(in + c, here, limit)
                          : x == 0 ? limit
                                   : std::min(limit, static_cast<int32_t>(std::countr_zero(x) >> 3));
        if (k >= 3 && k > best.length) {
          best = {i - c, k};
          if (k == limit) break;
        }
      }
      if (best.length >= 3) return best;
    }
    const int32_t d = PairDistance(i);
    return d != 0 && d <= reach ? Match{d, 2} : Match{};
  }

 private:
  static constexpr uint64_t kMask3 = 0xFFFFFF;
  // Links are kept for the last kRing positions: the window behind the search
  // and the positions inserted ahead of it (at most a copy's length and a
  // block), so a link that a search may follow is never overwritten.
  static constexpr int32_t kRing = 16384;
  static constexpr int32_t kBlock = 64;
  static size_t Link(int32_t c) { return 2 * static_cast<size_t>(c & (kRing - 1)); }

  struct Level {
    int32_t chain;  // 0: the 3-byte chain, 1: the longer one (the link's index)
    uint64_t mask;  // the prefix's bytes within a little-endian word
    int32_t length;
  };

  static constexpr uint64_t kHashFactor = 0x9E3779B97F4A7C15ull;

  // Makes sure position p is in the chains, inserting whole blocks so that
  // the insertion loop runs a fixed number of times.
  void Reach(int32_t p) {
    if (inserted_ <= p) Insert(p);
  }
  // Out of line: inlined, the insertion loop's registers crowd the search's.
  __attribute__((noinline)) void Insert(int32_t p) {
    while (inserted_ <= p) InsertUpTo(std::min(n_, inserted_ + kBlock));
  }

  // The nearest candidate farther than bestPos that matches more than
  // `best` bytes, or -1: the two chains of the level walked in step.
  int32_t Farther(int32_t i, int32_t start, int32_t limit, const Level& level, int32_t best,
                  int32_t bestPos) {
    const uint8_t* in = in_;
    const uint8_t* here = in + i;
    const int32_t* prev = links_.get() + level.chain;
    const uint8_t want = here[best];
    // The shifted chain: the prefix-length bytes ending at index `best`, or
    // for a copy that overlaps itself, the bytes at its distance (a farther
    // candidate's shifted position must lie before i + off, where the chain
    // from i + off starts).
    const int32_t off = std::min(best - level.length + 1, i - bestPos);
    const bool anchored = i + off + 8 <= n_;
    const uint64_t anchor = anchored ? Load8(here + off) & level.mask : 0;
    if (anchored) Reach(i + off);
    int32_t q = anchored ? prev[Link(i + off)] : -1;
    int32_t a = prev[Link(bestPos)];
    for (;;) {
      if (a < start) return -1;
      if (in[a + best] == want && CommonLength(in + a, here, limit) > best) return a;
      a = prev[Link(a)];
      if (!anchored) continue;
      const int32_t c = q - off;
      if (c < start) return -1;
      if (c < bestPos && (Load8(in + q) & level.mask) == anchor && in[c + best] == want &&
          CommonLength(in + c, here, limit) > best) {
        return c;
      }
      q = prev[Link(q)];
    }
  }

  // Fewer than 8 bytes left: every candidate on the 3-byte chain, measured.
  Match FindNearEnd(int32_t i, int32_t limit) {
    if (limit >= 3) {
      const uint8_t* in = in_;
      const int32_t start = std::max(0, i - kWindow);
      int32_t best = 0;
      int32_t bestPos = 0;
      for (int32_t c = links_[Link(i)]; c >= start; c = links_[Link(c)]) {
        const int32_t k = CommonLength(in + c, in + i, limit);
        if (k > best && k >= 3) {
          best = k;
          bestPos = c;
          if (k == limit) break;
        }
      }
      if (best >= 3) return {i - bestPos, best};
    }
    return FindPair(i);
  }

  // The nearest earlier copy of the 2 bytes at i, if within 255 bytes.
  Match FindPair(int32_t i) {
    const int32_t d = PairDistance(i);
    return d != 0 && d <= kMaxShortDistance ? Match{d, 2} : Match{};
  }

  // How far back the nearest earlier copy of the 2 bytes at i lies, if
  // within 256 bytes, else 0. Calls must come in rising order of i.
  //
  // The table keeps the low byte of the newest position of each 2-byte
  // value. It is brought up to date here rather than as positions are
  // inserted, since most positions are never asked about: runs and long
  // matches skip the work. Only the last 256 positions need to be in it:
  // of a value that occurs among them it gives the newest, and otherwise a
  // distance at bytes that differ (they would be a newer copy).
  int32_t PairDistance(int32_t i) {
    const uint8_t* in = in_;
    uint8_t* lastPair = lastPair_.data();
    for (int32_t p = std::max(pairsUpTo_, i - 256); p < i; ++p) lastPair[Key2(in + p)] = static_cast<uint8_t>(p);
    pairsUpTo_ = std::max(pairsUpTo_, i);
    int32_t d = static_cast<uint8_t>(i - lastPair[Key2(in + i)]);
    if (d == 0) d = 256;
    return d <= i && in[i - d] == in[i] && in[i - d + 1] == in[i + 1] ? d : 0;
  }

  static uint32_t Key2(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }
  static uint64_t Key3(const uint8_t* p) { return Key2(p) | (static_cast<uint64_t>(p[2]) << 16); }

  // Adds positions inserted_ .. end - 1 to the indexes. Everything lives in
  // locals: the byte stores may alias any member, which would otherwise be
  // reloaded after each of them.
  void InsertUpTo(int32_t end) {
    const uint8_t* in = in_;
    const size_t n = static_cast<size_t>(n_);
    int32_t* head3 = heads_.data();
    int32_t* headLong = headLong_;
    int32_t* links = links_.get();
    const uint64_t longMask = longMask_;
    const int shift = hashShift_;
    const auto hash = [shift](uint64_t key) { return static_cast<size_t>((key * kHashFactor) >> shift); };
    size_t p = static_cast<size_t>(inserted_);
    const size_t stop = static_cast<size_t>(end);
    // Where eight bytes remain, one load serves all three indexes.
    for (const size_t full = std::min(stop, n < 7 ? 0 : n - 7); p < full; ++p) {
      const uint64_t v = Load8(in + p);
      const size_t h3 = hash(v & kMask3);
      const size_t hLong = hash(v & longMask);
      int32_t* link = links + 2 * (p & (kRing - 1));
      link[0] = head3[h3];
      head3[h3] = static_cast<int32_t>(p);
      link[1] = headLong[hLong];
      headLong[hLong] = static_cast<int32_t>(p);
    }
    // The last seven: the longer chain is only walked while 8 bytes remain.
    for (; p < stop && p + 3 <= n; ++p) {
      const size_t h = hash(Key3(in + p));
      links[2 * (p & (kRing - 1))] = head3[h];
      head3[h] = static_cast<int32_t>(p);
    }
    inserted_ = end;
  }

  const uint8_t* in_;
  int32_t n_;
  int32_t inserted_ = 0;
  int hashShift_;
  int32_t longLength_;
  uint64_t longMask_;
  // The newest position of each hash: the 3-byte prefix's, then the longer
  // prefix's.
  std::vector<int32_t> heads_;
  int32_t* headLong_;
  // Per position (modulo kRing): the previous one on its 3-byte chain, then
  // on its longer chain. Written before they are read: left uninitialised.
  std::unique_ptr<int32_t[]> links_;
  // The low byte of the newest position of each 2-byte value, for the
  // positions before pairsUpTo_.
  std::vector<uint8_t> lastPair_;
  int32_t pairsUpTo_ = 0;
};

}  // namespace quarrendel::prs::detail
