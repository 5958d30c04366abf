// A PRS decoder as the game clients and a widely used server have it: a long
// copy command whose offset field (the top 13 bits of its word) is 0 ends the
// stream, whatever its low three bits say. The format itself would read a
// word of 1 to 7 as a copy from 8192 bytes back; a stream for the games must
// never hold one. Header-only, for the unit tests and the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quarrendel::test {

struct ZeroOffsetDecoded {
  std::vector<uint8_t> out;
  bool ended = false;  // stopped at a long command with a zero offset field
};

// Decodes `stream` until a long command with a zero offset field, the end of
// the stream, a copy from before the output's start or more than `maxOutput`
// bytes (these three leave `ended` false).
inline ZeroOffsetDecoded DecodeStoppingAtZeroOffset(std::span<const uint8_t> stream, size_t maxOutput) {
  ZeroOffsetDecoded d;
  size_t pos = 0;
  unsigned control = 0;
  int left = 0;
  bool cut = false;
  const auto byte = [&]() -> unsigned {
    if (pos >= stream.size()) {
      cut = true;
      return 0;
    }
    return stream[pos++];
  };
  const auto bit = [&]() -> unsigned {
    if (left == 0) {
      control = byte();
      left = 8;
    }
    const unsigned b = control & 1u;
    control >>= 1;
    --left;
    return b;
  };
  while (!cut) {
    size_t length = 0;
    size_t distance = 0;
    if (bit() == 1) {
      const unsigned v = byte();
      if (cut || d.out.size() >= maxOutput) return d;
      d.out.push_back(static_cast<uint8_t>(v));
      continue;
    }
    if (bit() == 1) {
      const unsigned lo = byte();
      const unsigned hi = byte();
      const unsigned word = lo | hi << 8;
      if (cut) return d;
      if ((word >> 3) == 0) {
        d.ended = true;
        return d;
      }
      distance = 8192 - (word >> 3);
      length = (word & 7u) != 0 ? (word & 7u) + 2 : byte() + 1u;
    } else {
      const unsigned h = bit();
      const unsigned l = bit();
      length = 2 * h + l + 2;
      distance = 256 - byte();
    }
    if (cut || distance > d.out.size() || d.out.size() + length > maxOutput) return d;
    for (size_t k = 0; k < length; ++k) d.out.push_back(d.out[d.out.size() - distance]);
  }
  return d;
}

}  // namespace quarrendel::test
