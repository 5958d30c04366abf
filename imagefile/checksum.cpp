#include "imagefile/checksum.h"

#include <array>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarrendel::imagefile {

namespace {

// kCrcTables[0][b] is the CRC register after byte b is shifted in from zero;
// kCrcTables[k][b] the same followed by k zero bytes, so that eight bytes
// are folded in with eight independent look-ups.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][b] = c;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  }
  return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

constexpr uint32_t kAdlerModulus = 65521;
// The most bytes after which the second sum, starting below the modulus,
// still fits in 32 bits.
constexpr size_t kAdlerRun = 5552;

void AdlerBytes(const uint8_t* p, size_t n, uint32_t& a, uint32_t& b) {
  for (size_t i = 0; i < n; ++i) {
    a += p[i];
    b += a;
  }
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
  uint32_t c = ~crc;
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo = c ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
    c = kCrcTables[7][lo & 0xFF] ^ kCrcTables[6][(lo >> 8) & 0xFF] ^ kCrcTables[5][(lo >> 16) & 0xFF] ^
        kCrcTables[4][lo >> 24] ^ kCrcTables[3][p[4]] ^ kCrcTables[2][p[5]] ^ kCrcTables[1][p[6]] ^
        kCrcTables[0][p[7]];
  }
  for (; n > 0; --n, ++p) c = kCrcTables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t Adler32(std::span<const uint8_t> bytes, uint32_t adler) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
#if defined(__SSE2__)
  // Runs of 16-byte groups. Over a group of bytes x0..x15 the first sum
  // gains x0 + ... + x15 and the second 16 times the first sum before the
  // group plus 16 x0 + 15 x1 + ... + 1 x15.
  const __m128i zero = _mm_setzero_si128();
  const __m128i weightsLow = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i weightsHigh = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  while (n >= 16) {
    const size_t groups = (n < kAdlerRun ? n : kAdlerRun) / 16;
    __m128i sums = zero;     // the bytes' sum, in two 64-bit lanes
    __m128i earlier = zero;  // the sums before each group, added up
    __m128i weighted = zero;
    for (size_t g = 0; g < groups; ++g, p += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      earlier = _mm_add_epi64(earlier, sums);
      sums = _mm_add_epi64(sums, _mm_sad_epu8(x, zero));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(x, zero), weightsLow));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(x, zero), weightsHigh));
    }
    n -= groups * 16;
    const auto lanes64 = [](__m128i v) {
      return static_cast<uint64_t>(_mm_cvtsi128_si64(v)) +
             static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
    };
    const __m128i w = _mm_add_epi32(weighted, _mm_shuffle_epi32(weighted, 0x4E));
    const uint64_t weightedSum = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(w, _mm_shuffle_epi32(w, 0xB1))));
    const uint64_t sum = lanes64(sums);
    b = static_cast<uint32_t>((b + uint64_t{a} * groups * 16 + 16 * lanes64(earlier) + weightedSum) % kAdlerModulus);
    a = static_cast<uint32_t>((a + sum) % kAdlerModulus);
  }
#endif
  while (n > 0) {
    const size_t run = n < kAdlerRun ? n : kAdlerRun;
    AdlerBytes(p, run, a, b);
    a %= kAdlerModulus;
    b %= kAdlerModulus;
    p += run;
    n -= run;
  }
  return b << 16 | a;
}

}  // namespace quarrendel::imagefile
