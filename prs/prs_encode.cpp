// PRS encoder. Greedy: at each position take the longest match within 8191
// bytes (capped at 256 and at the input's end), the nearest one among equally
// long ones; use it when it is at least 2 bytes long within 255 bytes or at
// least 3 bytes long farther back. A 2-byte match is written as two literals.
#include <algorithm>
#include <cstring>

#include "core/image_store.h"
#include "prs/match_finder.h"
#include "prs/prs.h"
#include "prs/stream_writer.h"

namespace quarrendel::prs {

namespace {

using detail::Match;
using detail::MatchFinder;
using detail::StreamWriter;

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
  return CompressWith<MatchFinder>(in, maxOutput);
}

std::vector<uint8_t> CompressReference(std::span<const uint8_t> in, size_t maxOutput) {
  return CompressWith<ScanFinder>(in, maxOutput);
}

int32_t CompressBuffers(ImageStore& store, int32_t length) {
  if (length > kBufferSize) RequireBufferBytes(length, "data to compress");
  const std::span<const uint8_t> in = store.input.First(length > 0 ? static_cast<size_t>(length) : 0);
  MatchFinder finder(in);
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
