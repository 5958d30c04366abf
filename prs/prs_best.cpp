// The smallest PRS stream: an optimal parse. Every command the format allows
// is an edge in a graph over input positions, priced in output bits (a data
// byte is 8, a control bit 1):
//   literal                                      1 + 8      =  9
//   short copy, 2-5 bytes, distance 1-256        4 + 8      = 12
//   long copy, 3-9 bytes, distance 1-8191        2 + 16     = 18
//   long copy, 1-256 bytes, distance 1-8191      2 + 24     = 26
// The format would let the two-byte long form reach 8192 back, but its
// offset field (w >> 3) is then 0, and the decoders of the game clients and
// servers take a long copy with a zero offset field for the end of the
// stream: neither long form goes farther than 8191. A stream's size is its
// bits rounded up to whole control bytes, so the cheapest path from the
// first position to the last gives the smallest stream.
//
// A copy's price depends only on its form, so at each position two lengths
// say every edge there is: the longest match within 256 bytes (at most 5)
// and within 8191 (at most 256); every shorter copy of the same match is an
// edge too. The three-byte form is never the cheapest below 10 bytes (the
// two-byte form covers those lengths).
//
// The parse runs forward: when position i is reached its price is final, and
// it offers its edges to the positions ahead. The three-byte form offers one
// price to the whole range i + 10 .. i + longest. Those ranges start and end
// in rising order (a match at i still matches one byte shorter at i + 1), and
// prices never fall along the input (the command that crosses a position can
// be cut short there at no extra cost), so the oldest offer still in range is
// the cheapest: a queue of offers serves every position. Only each position's
// best incoming command is kept.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/capacity.h"
#include "prs/match_finder.h"
#include "prs/prs.h"
#include "prs/stream_writer.h"

namespace quarrendel::prs {

namespace {

using detail::Match;
using detail::MatchFinder;
using detail::StreamWriter;

constexpr uint32_t kLiteralBits = 9;
constexpr uint32_t kShortBits = 12;
constexpr uint32_t kLongBits = 18;
constexpr uint32_t kLongestBits = 26;
constexpr int32_t kLongMaxLength = 9;
constexpr int32_t kShortMaxLength = 5;
constexpr int32_t kShortReach = 256;

// The command that reaches a position: its length (1 for a literal) and
// distance (0 for a literal), packed as distance << 9 | length.
using Step = uint32_t;
constexpr Step MakeStep(int32_t length, int32_t distance) {
  return static_cast<uint32_t>(distance) << 9 | static_cast<uint32_t>(length);
}
constexpr int32_t StepLength(Step s) { return static_cast<int32_t>(s & 0x1FF); }
constexpr int32_t StepDistance(Step s) { return static_cast<int32_t>(s >> 9); }

// A three-byte copy offered from `from` to the positions from + 10 .. last.
struct Offer {
  uint32_t bits;
  int32_t from;
  int32_t last;
  int32_t distance;
};

// The cheapest way to reach every position, as the step that arrives there.
// (Prices fit 32 bits: 9 bits a byte for 10,000,000 bytes at most.)
std::vector<Step> Parse(std::span<const uint8_t> in) {
  const int32_t n = static_cast<int32_t>(in.size());
  std::vector<Step> step(static_cast<size_t>(n) + 1, 0);
  // Prices of the next positions: apart from the three-byte offers, edges
  // reach at most kLongMaxLength ahead.
  constexpr uint32_t kAhead = 16;
  uint32_t price[kAhead];
  std::fill(std::begin(price), std::end(price), UINT32_MAX);
  price[0] = 0;
  // Offers by source, so by price and by range end. An offer lives at most
  // 256 positions past its source, so the queue never holds more.
  constexpr uint32_t kQueue = 512;
  std::vector<Offer> queue(kQueue);
  uint32_t first = 0;
  uint32_t end = 0;
  MatchFinder finder(in);
  Match previous;
  Match previousNear;

  const auto relax = [&](int32_t to, uint32_t bits, Step s) {
    uint32_t& p = price[static_cast<uint32_t>(to) % kAhead];
    Step& arrive = step[static_cast<size_t>(to)];
    const bool better = bits < p;
    arrive = better ? s : arrive;
    p = better ? bits : p;
  };

  for (int32_t i = 0; i <= n; ++i) {
    while (first != end && queue[first % kQueue].last < i) ++first;
    if (first != end && queue[first % kQueue].from + 10 <= i) {
      const Offer& o = queue[first % kQueue];
      relax(i, o.bits, MakeStep(i - o.from, o.distance));
    }
    if (i == n) break;

    uint32_t& slot = price[static_cast<uint32_t>(i) % kAhead];
    const uint32_t here = slot;
    slot = UINT32_MAX;  // it now serves position i + kAhead
    relax(i + 1, here + kLiteralBits, MakeStep(1, 0));

    // A match at i - 1 still matches one byte shorter at i.
    const Match longest = finder.FindLongest(i, previous.distance, previous.length - 1);
    previous = longest;
    const int32_t u = longest.length >= 3 ? longest.length : 0;
    const Match mid{longest.distance, std::min(u, kLongMaxLength)};
    const Match near = longest.distance <= kShortReach && longest.length >= 2
                           ? Match{longest.distance, std::min(longest.length, kShortMaxLength)}
                           : finder.FindNear(i, kShortReach, kShortMaxLength, previousNear);
    previousNear = near;

    for (int32_t len = 2; len <= near.length; ++len) relax(i + len, here + kShortBits, MakeStep(len, near.distance));
    for (int32_t len = 3; len <= mid.length; ++len) relax(i + len, here + kLongBits, MakeStep(len, mid.distance));
    if (u > kLongMaxLength) queue[end++ % kQueue] = Offer{here + kLongestBits, i, i + u, longest.distance};
  }
  return step;
}

}  // namespace

std::vector<uint8_t> CompressBest(std::span<const uint8_t> in, size_t maxOutput) {
  RequireBufferBytes(static_cast<int64_t>(in.size()), "data to compress");
  std::vector<Step> step = Parse(in);
  // Mark the ends of the chosen commands, walking back from the last byte;
  // then each marked position closes the command that started at the last.
  constexpr Step kChosen = Step{1} << 31;
  for (size_t at = in.size(); at > 0; at -= static_cast<size_t>(StepLength(step[at]))) step[at] |= kChosen;

  std::vector<uint8_t> out(std::min(MaxCompressedSize(in.size()), maxOutput));
  StreamWriter writer(out);
  size_t from = 0;
  for (size_t at = 1; at <= in.size(); ++at) {
    if ((step[at] & kChosen) == 0) continue;
    const int32_t length = StepLength(step[at]);
    const int32_t distance = StepDistance(step[at] & ~kChosen);
    if (distance == 0) {
      writer.Literal(in[from]);
    } else if (length <= kShortMaxLength && distance <= kShortReach) {
      writer.ShortCopy(distance, length);
    } else {
      writer.LongCopy(distance, length);
    }
    from = at;
  }
  writer.End();
  out.resize(writer.Length());
  return out;
}

}  // namespace quarrendel::prs
