#include "core/content_hash.h"

#include <algorithm>
#include <memory>

namespace quarrendel {

namespace {

constexpr size_t kChunk = size_t{1} << 20;  // a multiple of 8: words never straddle two chunks
constexpr uint64_t kMul1 = 0x9E3779B97F4A7C15u;
constexpr uint64_t kMul2 = 0xBF58476D1CE4E5B9u;
constexpr uint64_t kMul3 = 0x94D049BB133111EBu;

uint64_t Rotl(uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }

// The finaliser of splitmix64: every input bit reaches every output bit.
uint64_t Mix(uint64_t v) {
  v = (v ^ (v >> 30)) * kMul2;
  v = (v ^ (v >> 27)) * kMul3;
  return v ^ (v >> 31);
}

// Up to 8 bytes as a little-endian word.
template <size_t kMax = 8>
uint64_t Word(const uint8_t* p, size_t n = kMax) {
  uint64_t w = 0;
  for (size_t i = 0; i < kMax && i < n; ++i) w |= uint64_t{p[i]} << (8 * i);
  return w;
}

uint64_t Step(uint64_t h, uint64_t word) { return Rotl(h ^ (word * kMul1), 29) * kMul3; }

}  // namespace

uint64_t ContentHash(std::span<const uint8_t> bytes, const InputHooks& input) {
  uint64_t h = kMul1 ^ bytes.size();
  std::unique_ptr<uint8_t[]> buffer;
  for (size_t at = 0; at < bytes.size(); at += kChunk) {
    const size_t n = std::min(kChunk, bytes.size() - at);
    if (!buffer) buffer = std::make_unique_for_overwrite<uint8_t[]>(std::min(kChunk, bytes.size()));
    const auto chunk = input.Fetch(bytes.subspan(at, n), std::span<uint8_t>(buffer.get(), n));
    size_t k = 0;
    for (; k + 8 <= n; k += 8) h = Step(h, Word(chunk.data() + k));
    if (k < n) h = Step(h, Word(chunk.data() + k, n - k));
  }
  return Mix(h);
}

}  // namespace quarrendel
