#include "imagefile/png_row_filter.h"

#include <array>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarrendel::imagefile {

namespace {

constexpr size_t kPixelBytes = 4;

uint32_t SignedMagnitude(uint8_t residual) { return static_cast<uint32_t>(std::abs(static_cast<int8_t>(residual))); }

// Of left (a), above (b) and upper left (c), the one nearest to a + b - c;
// a before b before c on a tie.
uint8_t Paeth(int32_t a, int32_t b, int32_t c) {
  const int32_t pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Adds the residuals of bytes [from, to) to the five sums, one byte at a time.
void AddBytes(const uint8_t* above, const uint8_t* row, size_t from, size_t to, std::array<uint64_t, 5>& sums) {
  for (size_t i = from; i < to; ++i) {
    const uint8_t x = row[i], b = above[i];
    const uint8_t a = i >= kPixelBytes ? row[i - kPixelBytes] : 0;
    const uint8_t c = i >= kPixelBytes ? above[i - kPixelBytes] : 0;
    sums[0] += SignedMagnitude(x);
    sums[1] += SignedMagnitude(static_cast<uint8_t>(x - a));
    sums[2] += SignedMagnitude(static_cast<uint8_t>(x - b));
    sums[3] += SignedMagnitude(static_cast<uint8_t>(x - ((a + b) >> 1)));
    sums[4] += SignedMagnitude(static_cast<uint8_t>(x - Paeth(a, b, c)));
  }
}

#if defined(__SSE2__)
// (a + b) >> 1 of 16 bytes: the rounded-up average less the bit it rounded up.
[[gnu::always_inline]] inline __m128i AveragePrediction(__m128i a, __m128i b) {
  return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// Paeth's choice for 16 bytes, worked out in 16-bit lanes.
[[gnu::always_inline]] inline __m128i PaethPrediction(__m128i a, __m128i b, __m128i c) {
  const __m128i zero = _mm_setzero_si128();
  const auto abs16 = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  __m128i predicted[2];
  for (int half = 0; half < 2; ++half) {
    const __m128i a16 = half == 0 ? _mm_unpacklo_epi8(a, zero) : _mm_unpackhi_epi8(a, zero);
    const __m128i b16 = half == 0 ? _mm_unpacklo_epi8(b, zero) : _mm_unpackhi_epi8(b, zero);
    const __m128i c16 = half == 0 ? _mm_unpacklo_epi8(c, zero) : _mm_unpackhi_epi8(c, zero);
    const __m128i pa = abs16(_mm_sub_epi16(b16, c16));
    const __m128i pb = abs16(_mm_sub_epi16(a16, c16));
    const __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a16, b16), _mm_add_epi16(c16, c16)));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i notB = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(notB, c16), _mm_andnot_si128(notB, b16));
    predicted[half] = _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a16));
  }
  return _mm_packus_epi16(predicted[0], predicted[1]);
}

// Bytes [16, 16 k) of the row, 16 at a time: every byte there has its left
// neighbour inside the row.
size_t AddBlocks(const uint8_t* above, const uint8_t* row, size_t bytes, std::array<uint64_t, 5>& sums) {
  const __m128i zero = _mm_setzero_si128();
  // |r| of a signed byte is the smaller of r and -r read unsigned.
  const auto magnitudes = [&](__m128i r) { return _mm_sad_epu8(_mm_min_epu8(r, _mm_sub_epi8(zero, r)), zero); };
  __m128i acc[5] = {zero, zero, zero, zero, zero};
  size_t i = 16;
  for (; i + 16 <= bytes; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - kPixelBytes));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i - kPixelBytes));
    acc[0] = _mm_add_epi64(acc[0], magnitudes(x));
    acc[1] = _mm_add_epi64(acc[1], magnitudes(_mm_sub_epi8(x, a)));
    acc[2] = _mm_add_epi64(acc[2], magnitudes(_mm_sub_epi8(x, b)));
    acc[3] = _mm_add_epi64(acc[3], magnitudes(_mm_sub_epi8(x, AveragePrediction(a, b))));
    acc[4] = _mm_add_epi64(acc[4], magnitudes(_mm_sub_epi8(x, PaethPrediction(a, b, c))));
  }
  for (size_t f = 0; f < 5; ++f) {
    sums[f] += static_cast<uint64_t>(_mm_cvtsi128_si64(acc[f])) +
               static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc[f], acc[f])));
  }
  return i;
}
#endif

}  // namespace

int32_t ChoosePngRowFilter(const uint8_t* above, const uint8_t* row, size_t bytes) {
  std::array<uint64_t, 5> sums{};
  size_t done = 0;
#if defined(__SSE2__)
  if (bytes >= 32) {
    AddBytes(above, row, 0, 16, sums);
    done = AddBlocks(above, row, bytes, sums);
  }
#endif
  AddBytes(above, row, done, bytes, sums);
  int32_t best = 0;
  for (int32_t f = 1; f < 5; ++f) {
    if (sums[static_cast<size_t>(f)] < sums[static_cast<size_t>(best)]) best = f;
  }
  return best;
}

void ApplyPngRowFilter(int32_t filter, const uint8_t* above, const uint8_t* row, size_t bytes, uint8_t* out) {
  if (filter == 0) {
    std::memcpy(out, row, bytes);
    return;
  }
  const size_t head = bytes < kPixelBytes ? bytes : kPixelBytes;
  // The first pixel has no left neighbour: a and c are zero.
  for (size_t i = 0; i < head; ++i) {
    const uint8_t predictions[5] = {0, 0, above[i], static_cast<uint8_t>(above[i] >> 1), above[i]};
    out[i] = static_cast<uint8_t>(row[i] - predictions[filter]);
  }
  size_t i = head;
#if defined(__SSE2__)
  const auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  for (; i + 16 <= bytes; i += 16) {
    const __m128i x = load(row + i), a = load(row + i - kPixelBytes), b = load(above + i);
    const __m128i predicted = filter == 1   ? a
                              : filter == 2 ? b
                              : filter == 3 ? AveragePrediction(a, b)
                                            : PaethPrediction(a, b, load(above + i - kPixelBytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(x, predicted));
  }
#endif
  for (; i < bytes; ++i) {
    const uint8_t a = row[i - kPixelBytes], b = above[i], c = above[i - kPixelBytes];
    const uint8_t predictions[5] = {0, a, b, static_cast<uint8_t>((a + b) >> 1), Paeth(a, b, c)};
    out[i] = static_cast<uint8_t>(row[i] - predictions[filter]);
  }
}

}  // namespace quarrendel::imagefile
