// PRS encoder. Greedy: at each position take the longest match within 8191
// bytes (capped at 256 and at the input's end), the nearest one among equally
// long ones; use it when it is at least 2 bytes long within 255 bytes or at
// least 3 bytes long farther back. A 2-byte match is written as two literals.
//
// Control bits gather in a control byte, lowest bit first; a command's data
// bytes wait behind it and go out when the ninth bit arrives. The end command
// is followed by eight zero bits that push out the last control byte and its
// bytes (the byte they start is never written).
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "core/image_store.h"
#include "prs/prs.h"

namespace quarrendel::prs {

namespace {

struct Match {
  int32_t distance = 0;
  int32_t length = 0;  // 0: no match
};

// Writes the stream into a fixed span; throws instead of running past it.
class StreamWriter {
 public:
  explicit StreamWriter(std::span<uint8_t> out) : out_(out) {}

  void Literal(uint8_t v) {
    PutBit(1);
    PutByte(v);
  }
  void ShortCopy(int32_t distance, int32_t length) {
    PutBit(0);
    PutBit(0);
    PutBit(static_cast<uint32_t>(length - 2) >> 1);
    PutBit(static_cast<uint32_t>(length - 2) & 1u);
    PutByte(static_cast<uint8_t>(256 - distance));
  }
  void LongCopy(int32_t distance, int32_t length) {
    PutBit(0);
    PutBit(1);
    const uint32_t base = static_cast<uint32_t>(8192 - distance) * 8;
    if (length <= 9) {
      const uint32_t w = base + static_cast<uint32_t>(length - 2);
      PutByte(static_cast<uint8_t>(w));
      PutByte(static_cast<uint8_t>(w >> 8));
    } else {
      PutByte(static_cast<uint8_t>(base));
      PutByte(static_cast<uint8_t>(base >> 8));
      PutByte(static_cast<uint8_t>(length - 1));
    }
  }
  void End() {
    PutBit(0);
    PutBit(1);
    PutByte(0);
    PutByte(0);
    PutByte(0);
    for (int k = 0; k < 8; ++k) PutBit(0);
  }
  size_t Length() const { return pos_; }

 private:
  void PutBit(uint32_t b) {
    if (bits_ == 8) Flush();
    control_ = (control_ >> 1) | (b << 7);
    ++bits_;
  }
  void PutByte(uint8_t v) { pending_[pendingCount_++] = v; }
  void Flush() {
    if (out_.size() - pos_ < 1 + pendingCount_) {
      throw Error(ErrorKind::OverCapacity, "compressed data does not fit the " +
                                               std::to_string(out_.size()) + "-byte output buffer");
    }
    out_[pos_++] = static_cast<uint8_t>(control_);
    std::memcpy(out_.data() + pos_, pending_, pendingCount_);
    pos_ += pendingCount_;
    pendingCount_ = 0;
    control_ = 0;
    bits_ = 0;
  }

  std::span<uint8_t> out_;
  size_t pos_ = 0;
  uint32_t control_ = 0;
  int bits_ = 0;
  // Bytes of at most eight commands of up to three bytes each.
  uint8_t pending_[32] = {};
  size_t pendingCount_ = 0;
};

inline Match Accept(int32_t distance, int32_t length) {
  if ((distance <= kMaxShortDistance && length >= 2) || (distance > kMaxShortDistance && length >= 3)) {
    return {distance, length};
  }
  return {};
}

// The plain scan: every candidate from nearest to farthest, a farther one
// replacing the best only when strictly longer.
class ScanFinder {
 public:
  explicit ScanFinder(std::span<const uint8_t> in) : in_(in.data()), n_(static_cast<int32_t>(in.size())) {}

  Match Find(int32_t i) const {
    const int32_t start = std::max(0, i - kWindow);
    int32_t best = 0;
    int32_t bestPos = 0;
    for (int32_t c = i - 1; c >= start; --c) {
      if (in_[c] != in_[i]) continue;
      int32_t k = 1;
      while (i + k < n_ && in_[c + k] == in_[i + k]) {
        if (++k == kMaxCopy) break;
      }
      if (k > best) {
        best = k;
        bestPos = c;
        if (k == kMaxCopy) break;
      }
    }
    return Accept(i - bestPos, best);
  }

 private:
  const uint8_t* in_;
  int32_t n_;
};

// Number of equal leading bytes of a and b, at most `limit`; b + limit must
// lie inside the input (a is always before b).
inline int32_t CommonLength(const uint8_t* a, const uint8_t* b, int32_t limit) {
  int32_t k = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; k + 8 <= limit; k += 8) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a + k, 8);
      std::memcpy(&y, b + k, 8);
      if (x != y) return k + std::countr_zero(x ^ y) / 8;
    }
  }
  while (k < limit && a[k] == b[k]) ++k;
  return k;
}

// Finds the same match as ScanFinder with hash chains.
//
// Every position p < i is in three indexes: the chain of its 3-byte prefix,
// the chain of its 8-byte prefix (when 8 bytes remain), and the table of the
// last position of each 2-byte value. Chains link each position to the
// previous one with the same hash, so walking from the head visits candidates
// nearest first, exactly the scan's order; only their membership differs:
//  - a candidate matching 3 or more bytes is on the 3-byte chain of i;
//  - once the best match reaches 8 bytes, only candidates matching 9 or more
//    can replace it, and those are all on the 8-byte chain, which holds the
//    best position itself, so the walk continues along that chain from there;
//  - when no candidate matches 3 bytes the longest match has 2 bytes at most,
//    and the nearest 2-byte match is the last position of the 2-byte value.
// Hash collisions only add candidates, each measured in full.
class ChainFinder {
 public:
  static constexpr int32_t kLongPrefix = 8;

  // Tables shrink with the input: a few hundred bytes need no 128 KB heads.
  // The link ring holds 8192 positions (more than the window, so a link
  // inside the window is never overwritten) or the whole input if smaller.
  explicit ChainFinder(std::span<const uint8_t> in)
      : in_(in.data()),
        n_(static_cast<int32_t>(in.size())),
        hashShift_(32 - std::clamp(static_cast<int>(std::bit_width(in.size())), 8, 15)),
        ringMask_(static_cast<int32_t>(std::bit_ceil(std::clamp<size_t>(in.size(), 1, 8192))) - 1),
        head3_(size_t{1} << (32 - hashShift_), -1),
        head8_(size_t{1} << (32 - hashShift_), -1),
        last2_(size_t{1} << 16, -1),
        prev3_(static_cast<size_t>(ringMask_) + 1, -1),
        prev8_(static_cast<size_t>(ringMask_) + 1, -1) {}

  Match Find(int32_t i) {
    if (inserted_ < i) InsertUpTo(i);
    const int32_t limit = std::min(kMaxCopy, n_ - i);
    if (limit < 2) return {};
    const uint8_t* in = in_;
    if (limit >= 3) {
      const int32_t start = std::max(0, i - kWindow);
      const uint8_t* here = in + i;
      const int32_t* prev = prev3_.data();
      int32_t best = 0;
      int32_t bestPos = 0;
      int32_t c = head3_[Hash3(in + i)];
      while (c >= start) {
        // A candidate can only win if it also matches at index `best`.
        if (in[c + best] == here[best]) {
          const int32_t k = CommonLength(in + c, here, limit);
          if (k > best && k >= 3) {
            best = k;
            bestPos = c;
            if (k == limit) break;
            if (k >= kLongPrefix) prev = prev8_.data();
          }
        }
        c = prev[c & ringMask_];
      }
      if (best >= 3) return {i - bestPos, best};
    }
    const int32_t p = last2_[Key2(in + i)];
    if (p >= 0 && i - p <= kMaxShortDistance) return {i - p, 2};
    return {};
  }

 private:
  static uint32_t Key2(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }
  uint32_t Hash3(const uint8_t* p) const {
    const uint32_t v = Key2(p) | (static_cast<uint32_t>(p[2]) << 16);
    return (v * 2654435761u) >> hashShift_;
  }
  uint32_t Hash8(const uint8_t* p) const {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return static_cast<uint32_t>((v * 0x9E3779B97F4A7C15ull) >> 32) >> hashShift_;
  }
  // Adds positions inserted_ .. end - 1 to the indexes (locals keep the
  // compiler from reloading members after every store).
  void InsertUpTo(int32_t end) {
    const uint8_t* in = in_;
    const int32_t n = n_;
    int32_t* last2 = last2_.data();
    int32_t* head3 = head3_.data();
    int32_t* prev3 = prev3_.data();
    int32_t* head8 = head8_.data();
    int32_t* prev8 = prev8_.data();
    const int32_t ringMask = ringMask_;
    const int shift = hashShift_;
    int32_t p = inserted_;
    // Where eight bytes remain, one load serves all three indexes (its low
    // bytes are Key2's and Hash3's on a little-endian machine).
    const int32_t full = std::endian::native == std::endian::little ? std::min(end, n - kLongPrefix + 1) : 0;
    for (; p < full; ++p) {
      uint64_t v;
      std::memcpy(&v, in + p, 8);
      last2[static_cast<uint32_t>(v) & 0xFFFFu] = p;
      const int32_t slot = p & ringMask;
      uint32_t h = ((static_cast<uint32_t>(v) & 0xFFFFFFu) * 2654435761u) >> shift;
      prev3[slot] = head3[h];
      head3[h] = p;
      h = static_cast<uint32_t>((v * 0x9E3779B97F4A7C15ull) >> 32) >> shift;
      prev8[slot] = head8[h];
      head8[h] = p;
    }
    for (; p < end; ++p) {
      if (p + 2 > n) break;
      last2[Key2(in + p)] = p;
      if (p + 3 > n) continue;
      const int32_t slot = p & ringMask;
      uint32_t h = Hash3(in + p);
      prev3[slot] = head3[h];
      head3[h] = p;
      if (p + kLongPrefix > n) continue;
      h = Hash8(in + p);
      prev8[slot] = head8[h];
      head8[h] = p;
    }
    inserted_ = end;
  }

  const uint8_t* in_;
  int32_t n_;
  int32_t inserted_ = 0;
  int hashShift_;
  int32_t ringMask_;
  std::vector<int32_t> head3_;
  std::vector<int32_t> head8_;
  std::vector<int32_t> last2_;
  std::vector<int32_t> prev3_;
  std::vector<int32_t> prev8_;
};

template <class Finder>
size_t Encode(std::span<const uint8_t> in, std::span<uint8_t> out, Finder& finder) {
  StreamWriter writer(out);
  const int32_t n = static_cast<int32_t>(in.size());
  int32_t i = 0;
  while (i < n) {
    const Match m = finder.Find(i);
    if (m.length == 0) {
      writer.Literal(in[i]);
      i += 1;
    } else if (m.length == 2) {
      // Cheaper as two literals; the second byte gets no search of its own.
      writer.Literal(in[i]);
      writer.Literal(in[i + 1]);
      i += 2;
    } else if (m.distance <= kMaxShortDistance && m.length <= 5) {
      writer.ShortCopy(m.distance, m.length);
      i += m.length;
    } else {
      writer.LongCopy(m.distance, m.length);
      i += m.length;
    }
  }
  writer.End();
  return writer.Length();
}

template <class Finder>
std::vector<uint8_t> CompressWith(std::span<const uint8_t> in, size_t maxOutput) {
  RequireBufferBytes(static_cast<int64_t>(in.size()), "data to compress");
  std::vector<uint8_t> out(std::min(MaxCompressedSize(in.size()), maxOutput));
  Finder finder(in);
  out.resize(Encode(in, out, finder));
  return out;
}

}  // namespace

size_t MaxCompressedSize(size_t n) {
  // All literals: nine bits a byte, the end command's two bits and three
  // bytes; the eight closing bits push out exactly one more control byte.
  return n + (n + 2 + 7) / 8 + 3;
}

std::vector<uint8_t> Compress(std::span<const uint8_t> in, size_t maxOutput) {
  return CompressWith<ChainFinder>(in, maxOutput);
}

std::vector<uint8_t> CompressReference(std::span<const uint8_t> in, size_t maxOutput) {
  return CompressWith<ScanFinder>(in, maxOutput);
}

int32_t CompressBuffers(ImageStore& store, int32_t length) {
  if (length > kBufferSize) RequireBufferBytes(length, "data to compress");
  const std::span<const uint8_t> in = store.input.First(length > 0 ? static_cast<size_t>(length) : 0);
  ChainFinder finder(in);
  size_t written;
  if (MaxCompressedSize(in.size()) <= static_cast<size_t>(kBufferSize)) {
    written = Encode(in, store.output.Span(), finder);
  } else {
    // Might not fit: compress aside so that a failure leaves the output buffer as it was.
    std::vector<uint8_t> aside(static_cast<size_t>(kBufferSize));
    written = Encode(in, aside, finder);
    std::memcpy(store.output.Data(), aside.data(), written);
  }
  store.readCursor = static_cast<int32_t>(written);
  return static_cast<int32_t>(written);
}

}  // namespace quarrendel::prs
