// Built with -ffp-contract=off (see CMakeLists.txt): the principal axis
// and the least-squares end points are rounded floats, and a fused
// multiply-add would round them differently on machines that have one.
#include "texture/s3tc_fit.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cstring>
#include <string>

#include "core/error.h"
#include "texture/cmpr_order.h"

static_assert(FLT_EVAL_METHOD == 0, "the encoder needs float arithmetic without excess precision");
#ifdef __FAST_MATH__
#error "the encoder's least squares need IEEE arithmetic: build it without -ffast-math"
#endif

namespace quarrendel::texture {

namespace {

// Four-lane vectors. A block is four rows of four pixels (lane c of row r is
// pixel 4r + c); a colour, a code pair's end or a sum over pixels has red,
// green and blue in lanes 0-2. Channels, codes and their products are floats
// holding integers: every distance, error and sum formed from them is below
// 2^24 in size, so that arithmetic is exact, whatever its order.
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using U4 = uint32_t __attribute__((vector_size(16)));

constexpr F4 Splat(float v) { return F4{v, v, v, v}; }
F4 Min(F4 a, F4 b) { return a < b ? a : b; }
F4 Max(F4 a, F4 b) { return a > b ? a : b; }
F4 Select(I4 mask, F4 yes, F4 no) {
  return reinterpret_cast<F4>((reinterpret_cast<I4>(yes) & mask) | (reinterpret_cast<I4>(no) & ~mask));
}
template <int Lane>
F4 Broadcast(F4 v) {
  return __builtin_shufflevector(v, v, Lane, Lane, Lane, Lane);
}
// Lane i: the four lanes of argument i added (exact for integer values).
F4 Sums(F4 a, F4 b, F4 c, F4 d) {
  const F4 ab = __builtin_shufflevector(a, b, 0, 4, 1, 5) + __builtin_shufflevector(a, b, 2, 6, 3, 7);
  const F4 cd = __builtin_shufflevector(c, d, 0, 4, 1, 5) + __builtin_shufflevector(c, d, 2, 6, 3, 7);
  return __builtin_shufflevector(ab, cd, 0, 1, 4, 5) + __builtin_shufflevector(ab, cd, 2, 3, 6, 7);
}
float Lowest(F4 v) { return std::min(std::min(v[0], v[1]), std::min(v[2], v[3])); }
float Highest(F4 v) { return std::max(std::max(v[0], v[1]), std::max(v[2], v[3])); }
F4 ToFloat(U4 v) { return __builtin_convertvector(reinterpret_cast<I4>(v), F4); }
// Whole part of a non-negative value.
F4 Truncate(F4 v) { return __builtin_convertvector(__builtin_convertvector(v, I4), F4); }

// Largest code per channel (5-6-5 bits), and code -> 8 bits by repeating
// the top bits: 5-bit c * 33 / 4 = c << 3 | c >> 2, 6-bit c * 65 / 16 =
// c << 2 | c >> 4, both products exact in single precision.
constexpr F4 kTopCode{31.0f, 63.0f, 31.0f, 0.0f};
constexpr F4 kWiden{8.25f, 4.0625f, 8.25f, 0.0f};
constexpr F4 kToCode{31.0f / 255.0f, 63.0f / 255.0f, 31.0f / 255.0f, 0.0f};
// (2a + b) * fl(1/3), truncated, is (2a + b) / 3 for every sum up to 765:
// fl(1/3) is above 1/3 by less than 1 / 2^25.
constexpr F4 kThird = Splat(1.0f / 3.0f);
constexpr F4 kHalf = Splat(0.5f);

F4 Widen(F4 code) { return Truncate(code * kWiden); }

// The two colours a block can add between its end points.
enum class Mode { Four, Three };

struct Block {
  F4 ch[3][4];   // red, green, blue; [channel][row]
  F4 square[4];  // r^2 + g^2 + b^2
  I4 used[4];    // all bits set on the pixels the colours must fit
  U4 pixel[4];
  F4 total;  // red, green and blue sums and (lane 3) the count of the used pixels
  int32_t usedCount = 0;
  float spread = 0;  // the used pixels' summed squared distance from their mean
};

struct Fit {
  F4 code[2];         // the end points' codes
  I4 index[4];        // per row, lane = column
  int32_t error = 0;  // summed squared RGB error over the used pixels
};

uint16_t Pack(F4 code) {
  return static_cast<uint16_t>((static_cast<int32_t>(code[0]) << 11) | (static_cast<int32_t>(code[1]) << 5) |
                               static_cast<int32_t>(code[2]));
}

// Codes nearest to 8-bit values (clamped to 0..255).
F4 Quantise(F4 value) { return Truncate(Min(Max(value, F4{}), Splat(255.0f)) * kToCode + kHalf); }

// Channels of the pixels the colours need not fit are set to 0, so that
// sums over all 16 are sums over the used ones.
void Load(Block& blk, const U4 rows[4], bool transparency) {
  F4 sr{}, sg{}, sb{}, n{}, squares{};
  for (int r = 0; r < 4; ++r) {
    const U4 p = rows[r];
    blk.pixel[r] = p;
    const I4 used = transparency ? reinterpret_cast<I4>((p >> 31) != 0) : I4{-1, -1, -1, -1};
    const U4 kept = p & reinterpret_cast<U4>(used);
    const F4 red = ToFloat(kept & 0xFF), green = ToFloat((kept >> 8) & 0xFF), blue = ToFloat((kept >> 16) & 0xFF);
    blk.ch[0][r] = red;
    blk.ch[1][r] = green;
    blk.ch[2][r] = blue;
    blk.square[r] = red * red + green * green + blue * blue;
    squares += blk.square[r];
    blk.used[r] = used;
    sr += red;
    sg += green;
    sb += blue;
    n += Select(used, Splat(1.0f), F4{});
  }
  blk.total = Sums(sr, sg, sb, n);
  blk.usedCount = static_cast<int32_t>(blk.total[3]);
  // Sum of |p|^2 - |sum of p|^2 / n, both sums integers below 2^24.
  const F4 t2 = blk.total * blk.total;
  blk.spread = Sums(squares, F4{}, F4{}, F4{})[0] - ((t2[0] + t2[1]) + t2[2]) / blk.total[3];
}

// The palette decoded from the codes, the best index per pixel (the lower
// one on a tie) and the error over the used pixels.
template <Mode kMode>
void AssignIn(const Block& blk, Fit& fit) {
  constexpr int kColours = kMode == Mode::Four ? 4 : 3;
  const F4 a = Widen(fit.code[0]), b = Widen(fit.code[1]);
  F4 colour[4] = {a, b, F4{}, F4{}};
  if constexpr (kMode == Mode::Four) {
    colour[2] = Truncate(((a + a) + b) * kThird);
    colour[3] = Truncate((a + (b + b)) * kThird);
  } else {
    colour[2] = Truncate((a + b) * kHalf);
  }
  // |p - t|^2 = |p|^2 + (|t|^2 - 2 p.t): only the bracket depends on t.
  const F4 norms = Sums(colour[0] * colour[0], colour[1] * colour[1], colour[2] * colour[2], colour[3] * colour[3]);
  const F4 tt[4] = {Broadcast<0>(norms), Broadcast<1>(norms), Broadcast<2>(norms), Broadcast<3>(norms)};
  F4 tr[4], tg[4], tb[4];
  for (int j = 0; j < kColours; ++j) {
    const F4 twice = colour[j] * Splat(-2.0f);
    tr[j] = Broadcast<0>(twice);
    tg[j] = Broadcast<1>(twice);
    tb[j] = Broadcast<2>(twice);
  }
  F4 error{};
  for (int r = 0; r < 4; ++r) {
    F4 d[4];
    for (int j = 0; j < kColours; ++j) {
      d[j] = tt[j] + ((blk.ch[0][r] * tr[j] + blk.ch[1][r] * tg[j]) + blk.ch[2][r] * tb[j]);
    }
    // The first colour at the minimum: the count of colours before it.
    F4 best = Min(Min(d[0], d[1]), d[2]);
    if constexpr (kMode == Mode::Four) best = Min(best, d[3]);
    const I4 before1 = ~(d[0] == best);
    const I4 before2 = before1 & ~(d[1] == best);
    I4 index = -(before1 + before2);
    if constexpr (kMode == Mode::Four) index -= before2 & ~(d[2] == best);
    fit.index[r] = index;
    error += Select(blk.used[r], blk.square[r] + best, F4{});
  }
  const F4 total = Sums(error, F4{}, F4{}, F4{});
  fit.error = static_cast<int32_t>(total[0]);
}

void Assign(const Block& blk, Mode mode, Fit& fit) {
  if (mode == Mode::Four) {
    AssignIn<Mode::Four>(blk, fit);
  } else {
    AssignIn<Mode::Three>(blk, fit);
  }
}

// Per index: the channel sums (lanes 0-2) and count (lane 3) of the used
// pixels that take it.
struct IndexStats {
  F4 sum[4];
};

IndexStats Stats(const Block& blk, const Fit& fit) {
  IndexStats s;
  const F4 one = Splat(1.0f);
  F4 rest = blk.total;
  for (int j = 0; j < 3; ++j) {
    F4 n{}, sr{}, sg{}, sb{};
    for (int r = 0; r < 4; ++r) {
      const I4 m = (fit.index[r] == j) & blk.used[r];
      n += Select(m, one, F4{});
      sr += Select(m, blk.ch[0][r], F4{});
      sg += Select(m, blk.ch[1][r], F4{});
      sb += Select(m, blk.ch[2][r], F4{});
    }
    s.sum[j] = Sums(sr, sg, sb, n);
    rest -= s.sum[j];
  }
  s.sum[3] = rest;
  return s;
}

// Weights of end 0 and end 1 per index, in units of 1/scale.
struct Weights {
  float w0[4], w1[4], scale;
};
constexpr Weights kFourWeights{{3, 0, 2, 1}, {0, 3, 1, 2}, 3};
constexpr Weights kThreeWeights{{2, 0, 1, 0}, {0, 2, 1, 0}, 2};

// End points that minimise the squared error of the pixels at their current
// indices, taken to the nearest codes; unchanged when every used pixel has
// the same index (no unique solution).
void LeastSquares(const IndexStats& s, Mode mode, F4 code[2]) {
  const Weights& w = mode == Mode::Four ? kFourWeights : kThreeWeights;
  float xx = 0, yy = 0, xy = 0;
  F4 at0{}, at1{};
  for (int j = 0; j < 4; ++j) {
    const float n = s.sum[j][3];
    xx += n * (w.w0[j] * w.w0[j]);
    yy += n * (w.w1[j] * w.w1[j]);
    xy += n * (w.w0[j] * w.w1[j]);
    at0 += s.sum[j] * w.w0[j];
    at1 += s.sum[j] * w.w1[j];
  }
  const float det = xx * yy - xy * xy;
  if (det == 0.0f) return;
  const F4 f = Splat(w.scale / det);
  code[0] = Quantise((at0 * yy - at1 * xy) * f);
  code[1] = Quantise((at1 * xx - at0 * xy) * f);
}

// For each channel alone, the pair of codes within one step of `code` that
// decodes the pixels at their current indices with the least error:
// sum over indices j of p_j (count_j p_j - 2 sum_j), the pixels' own squares
// not depending on the codes. The first pair in the search order wins a tie.
void SearchCodes(const IndexStats& s, Mode mode, F4 code[2]) {
  F4 n[4], twoSum[4];
  for (int j = 0; j < 4; ++j) {
    n[j] = Broadcast<3>(s.sum[j]);
    twoSum[j] = s.sum[j] + s.sum[j];
  }
  // Candidates: each end's code one below, at and one above its value.
  F4 step[2][3], widened[2][3], term[2][3];
  for (int e = 0; e < 2; ++e) {
    for (int i = 0; i < 3; ++i) {
      step[e][i] = Min(Max(code[e] + Splat(static_cast<float>(i - 1)), F4{}), kTopCode);
      const F4 w = Widen(step[e][i]);
      widened[e][i] = w;
      term[e][i] = w * (n[e] * w - twoSum[e]);
    }
  }
  F4 best = Splat(FLT_MAX), bestPair{};
  for (int i = 0; i < 3; ++i) {
    const F4 a = widened[0][i];
    for (int k = 0; k < 3; ++k) {
      const F4 b = widened[1][k];
      F4 middle;
      if (mode == Mode::Four) {
        const F4 p2 = Truncate(((a + a) + b) * kThird);
        const F4 p3 = Truncate((a + (b + b)) * kThird);
        middle = p2 * (n[2] * p2 - twoSum[2]) + p3 * (n[3] * p3 - twoSum[3]);
      } else {
        const F4 p2 = Truncate((a + b) * kHalf);
        middle = p2 * (n[2] * p2 - twoSum[2]);
      }
      const F4 error = (term[0][i] + term[1][k]) + middle;
      bestPair = Select(error < best, Splat(static_cast<float>(3 * i + k)), bestPair);
      best = Min(error, best);
    }
  }
  for (int c = 0; c < 3; ++c) {
    const auto pair = static_cast<int32_t>(bestPair[c]);
    code[0][c] = step[0][pair / 3][c];
    code[1][c] = step[1][pair % 3][c];
  }
}

// Limits, all per used pixel, chosen by measurement on photos, drawings and
// icons (bench_s3tc_encode) so as to skip work that bought little there:
// a block that four colours fit with a squared error above kThreeColourFloor
// also tries three colours; a fit with an error above kRefineFloor gets up to
// kRounds rounds of refinement; a block whose squared distance from its mean
// is at most kFlatSpread takes its mean colour without trying the axis.
constexpr int32_t kThreeColourFloor = 16;
constexpr int32_t kRefineFloor = 4;
constexpr float kFlatSpread = 2.0f;
constexpr int kRounds = 2;

// Rounds of refinement of `fit` (codes set, indices and error assigned):
// least squares from its indices, the best codes around them for those
// indices, new indices; kept while the error falls.
void Refine(const Block& blk, Mode mode, Fit& fit) {
  for (int round = 0; round < kRounds && fit.error > kRefineFloor * blk.usedCount; ++round) {
    const IndexStats s = Stats(blk, fit);
    Fit next = fit;
    LeastSquares(s, mode, next.code);
    SearchCodes(s, mode, next.code);
    Assign(blk, mode, next);
    if (next.error >= fit.error) break;
    fit = next;
  }
}

// Codes for the points of the used pixels' colours on their principal axis
// with the largest and the smallest projection.
void AxisCodes(const Block& blk, F4 code[2]) {
  const F4 count = Broadcast<3>(blk.total);
  const F4 mean = blk.total / count;
  // Sums of products over the pixels (the unused ones are 0), then the
  // covariance: sum xy - (sum x)(sum y) / n, the sums and products being
  // integers below 2^24.
  F4 rr{}, rg{}, rb{}, gg{}, gb{}, bb{};
  for (int r = 0; r < 4; ++r) {
    const F4 red = blk.ch[0][r], green = blk.ch[1][r], blue = blk.ch[2][r];
    rr += red * red;
    rg += red * green;
    rb += red * blue;
    gg += green * green;
    gb += green * blue;
    bb += blue * blue;
  }
  const F4 total = blk.total;
  const F4 first = Sums(rr, rg, rb, gg) -
                   F4{total[0] * total[0], total[0] * total[1], total[0] * total[2], total[1] * total[1]} / count;
  const F4 second = Sums(gb, bb, F4{}, F4{}) - F4{total[1] * total[2], total[2] * total[2], 0.0f, 0.0f} / count;
  // The covariance matrix by columns (= rows), lane 3 zero.
  const F4 colR{first[0], first[1], first[2], 0.0f};
  const F4 colG{first[1], first[3], second[0], 0.0f};
  const F4 colB{first[2], second[0], second[1], 0.0f};
  // Power iteration from the column of the widest channel. Each step
  // grows v by at most the trace (3 * 16 * 255^2), so four steps stay far
  // inside the float range and v is scaled once at the end.
  F4 v = colR;
  float widest = colR[0];
  if (colG[1] > widest) {
    v = colG;
    widest = colG[1];
  }
  if (colB[2] > widest) v = colB;
  for (int i = 0; i < 4; ++i) v = (colR * Broadcast<0>(v) + colG * Broadcast<1>(v)) + colB * Broadcast<2>(v);
  const F4 size = Max(v, -v);
  const float largest = std::max(std::max(size[0], size[1]), size[2]);
  v = largest > 0.0f ? v / Splat(largest) : F4{};
  const F4 vr = Broadcast<0>(v), vg = Broadcast<1>(v), vb = Broadcast<2>(v);
  const F4 square = v * v;
  const float length2 = (square[0] + square[1]) + square[2];
  // Projections of the colours (not of their distance from the mean, which
  // only shifts them all by the mean's projection).
  const F4 centre = mean * v;
  const float offset = (centre[0] + centre[1]) + centre[2];
  F4 low = Splat(FLT_MAX), high = Splat(-FLT_MAX);
  for (int r = 0; r < 4; ++r) {
    const F4 t = (blk.ch[0][r] * vr + blk.ch[1][r] * vg) + blk.ch[2][r] * vb;
    low = Min(low, Select(blk.used[r], t, Splat(FLT_MAX)));
    high = Max(high, Select(blk.used[r], t, Splat(-FLT_MAX)));
  }
  const float lowest = Lowest(low), highest = Highest(high);
  const float tHigh = length2 > 0.0f ? (highest - offset) / length2 : 0.0f;
  const float tLow = length2 > 0.0f ? (lowest - offset) / length2 : 0.0f;
  code[0] = Quantise(mean + v * tHigh);
  code[1] = Quantise(mean + v * tLow);
}

// For each 8-bit value, the codes whose colour 2 decodes nearest to it (at
// 1/3 between them with four colours, halfway with three) and that colour:
// a block of one colour takes index 2 everywhere.
struct CodePair {
  uint8_t first, second, decoded;
};
using SolidTable = std::array<CodePair, 256>;

constexpr int32_t WidenCode(int32_t code, int bits) {
  return bits == 5 ? (code << 3) | (code >> 2) : (code << 2) | (code >> 4);
}

constexpr SolidTable MakeSolidTable(int bits, Mode mode) {
  const int32_t top = (1 << bits) - 1;
  std::array<int32_t, 256> pairOf{};
  for (auto& p : pairOf) p = -1;
  for (int32_t a = 0; a <= top; ++a) {
    for (int32_t b = 0; b <= top; ++b) {
      const int32_t ea = WidenCode(a, bits), eb = WidenCode(b, bits);
      const int32_t v = mode == Mode::Four ? (2 * ea + eb) / 3 : (ea + eb) >> 1;
      if (pairOf[static_cast<size_t>(v)] < 0) pairOf[static_cast<size_t>(v)] = a * 64 + b;
    }
  }
  SolidTable table{};
  for (int32_t v = 0; v < 256; ++v) {
    // The nearest value some pair decodes to, the lower one on a tie.
    for (int32_t step = 0; step < 256; ++step) {
      int32_t at = -1;
      if (v - step >= 0 && pairOf[static_cast<size_t>(v - step)] >= 0) {
        at = v - step;
      } else if (v + step < 256 && pairOf[static_cast<size_t>(v + step)] >= 0) {
        at = v + step;
      }
      if (at >= 0) {
        const int32_t pair = pairOf[static_cast<size_t>(at)];
        table[static_cast<size_t>(v)] = {static_cast<uint8_t>(pair / 64), static_cast<uint8_t>(pair % 64),
                                         static_cast<uint8_t>(at)};
        break;
      }
    }
  }
  return table;
}

constexpr SolidTable kSolid5Four = MakeSolidTable(5, Mode::Four);
constexpr SolidTable kSolid6Four = MakeSolidTable(6, Mode::Four);
constexpr SolidTable kSolid5Three = MakeSolidTable(5, Mode::Three);
constexpr SolidTable kSolid6Three = MakeSolidTable(6, Mode::Three);

// Codes for a block of one colour (red bits 0-7 ...) and the colour they
// decode to at index 2.
void SolidCodes(uint32_t colour, Mode mode, F4 code[2], F4& decoded) {
  const SolidTable& five = mode == Mode::Four ? kSolid5Four : kSolid5Three;
  const SolidTable& six = mode == Mode::Four ? kSolid6Four : kSolid6Three;
  const CodePair& r = five[colour & 0xFF];
  const CodePair& g = six[(colour >> 8) & 0xFF];
  const CodePair& b = five[(colour >> 16) & 0xFF];
  code[0] = F4{static_cast<float>(r.first), static_cast<float>(g.first), static_cast<float>(b.first), 0.0f};
  code[1] = F4{static_cast<float>(r.second), static_cast<float>(g.second), static_cast<float>(b.second), 0.0f};
  decoded = F4{static_cast<float>(r.decoded), static_cast<float>(g.decoded), static_cast<float>(b.decoded), 0.0f};
}

// A block whose `usedCount` used pixels all have `colour`: index 2 on all.
Fit SolidFit(uint32_t colour, Mode mode, int32_t usedCount) {
  Fit fit;
  F4 decoded;
  SolidCodes(colour, mode, fit.code, decoded);
  const U4 v{colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, 0};
  const F4 d = ToFloat(v) - decoded;
  const F4 square = d * d;
  fit.error = static_cast<int32_t>((square[0] + square[1]) + square[2]) * usedCount;
  for (I4& row : fit.index) row = I4{2, 2, 2, 2};
  return fit;
}

// The block's mean colour fitted as one colour, and a bound on its error:
// with every pixel at the one decoded colour d the error would be the
// pixels' spread about their mean m plus n |m - d|^2, and the palette's other
// colours can only lower it.
Fit FlatFit(const Block& blk, Mode mode, float& bound) {
  const F4 mean = blk.total / Broadcast<3>(blk.total);
  const U4 rounded = __builtin_convertvector(mean + kHalf, U4);
  Fit flat;
  F4 decoded;
  SolidCodes(rounded[0] | (rounded[1] << 8) | (rounded[2] << 16), mode, flat.code, decoded);
  const F4 d = Select(I4{-1, -1, -1, 0}, mean - decoded, F4{});
  const F4 square = d * d;
  bound = blk.spread + blk.total[3] * ((square[0] + square[1]) + square[2]);
  return flat;
}

// The fit for one mode. A block of little variation (a mean squared
// distance from its mean of at most kFlatSpread per pixel) takes its mean
// colour; any other starts from the principal axis, is refined, and takes
// its mean colour where that is better (the axis end points overshoot
// blocks of small variation), which is worked out only when the bound beats
// the refined fit.
Fit FitMode(const Block& blk, Mode mode) {
  float bound = 0;
  Fit flat = FlatFit(blk, mode, bound);
  if (blk.spread <= kFlatSpread * static_cast<float>(blk.usedCount)) {
    Assign(blk, mode, flat);
    return flat;
  }
  Fit fit;
  AxisCodes(blk, fit.code);
  Assign(blk, mode, fit);
  Refine(blk, mode, fit);
  if (bound < static_cast<float>(fit.error)) {
    Assign(blk, mode, flat);
    if (flat.error < fit.error) return flat;
  }
  return fit;
}

void PutLe16(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v & 0xFF);
  out[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// The 8 colour bytes of `fit`, its end points ordered for `mode`: c0 > c1
// for four colours (c0 = c1 decodes as three, so then every index is 0, the
// one colour all four entries had), c0 <= c1 for three. `used` marks the
// pixels that keep their index; the others get 3, transparent.
void WriteColours(const Fit& fit, Mode mode, const I4 used[4], uint8_t* out) {
  I4 index[4];
  for (int r = 0; r < 4; ++r) index[r] = (fit.index[r] & used[r]) | (3 & ~used[r]);
  const U4 rows = reinterpret_cast<U4>(index[0] | (index[1] << 8) | (index[2] << 16) | (index[3] << 24));
  uint32_t mask = rows[0] | (rows[1] << 2) | (rows[2] << 4) | (rows[3] << 6);
  uint16_t c0 = Pack(fit.code[0]), c1 = Pack(fit.code[1]);
  if (mode == Mode::Four) {
    if (c0 < c1) {
      std::swap(c0, c1);
      mask ^= 0x55555555u;  // 0 <-> 1, 2 <-> 3
    } else if (c0 == c1) {
      mask = 0;
    }
  } else if (c0 > c1) {
    std::swap(c0, c1);
    mask ^= ~(mask >> 1) & 0x55555555u;  // 0 <-> 1; 2 and 3 stay
  }
  PutLe16(out, c0);
  PutLe16(out + 2, c1);
  PutLe16(out + 4, mask & 0xFFFF);
  PutLe16(out + 6, mask >> 16);
}

// The colour of the used pixels when they all have one, else false.
bool OneColour(const Block& blk, uint32_t& colour) {
  int first = 0;
  while (blk.used[first / 4][first % 4] == 0) ++first;
  colour = blk.pixel[first / 4][first % 4] & 0xFFFFFF;
  const U4 rgb = U4{colour, colour, colour, colour};
  I4 differ{};
  for (int r = 0; r < 4; ++r) differ |= reinterpret_cast<I4>((blk.pixel[r] & 0xFFFFFF) != rgb) & blk.used[r];
  return (differ[0] | differ[1] | differ[2] | differ[3]) == 0;
}

// The colour part of a block from its four rows: four colours only (DXT3),
// or DXT1's choice, where pixels with alpha below 128 force three colours
// and take index 3.
void EncodeColours(const U4 rows[4], bool dxt1, uint8_t* out) {
  const I4 all{-1, -1, -1, -1};
  const I4 allUsed[4] = {all, all, all, all};
  // One colour, all opaque (or any alpha for DXT3): straight from the tables.
  const uint32_t first = rows[0][0] & 0xFFFFFF;
  const U4 splat{first, first, first, first};
  const U4 differ = ((rows[0] ^ splat) | (rows[1] ^ splat) | (rows[2] ^ splat) | (rows[3] ^ splat)) & 0xFFFFFF;
  const U4 alphaBits = rows[0] & rows[1] & rows[2] & rows[3];
  const bool opaque = !dxt1 || ((alphaBits[0] & alphaBits[1] & alphaBits[2] & alphaBits[3]) >> 31) != 0;
  if (opaque && (differ[0] | differ[1] | differ[2] | differ[3]) == 0) {
    const Fit four = SolidFit(first, Mode::Four, 16);
    if (!dxt1 || four.error == 0) return WriteColours(four, Mode::Four, allUsed, out);
    const Fit three = SolidFit(first, Mode::Three, 16);
    if (four.error <= three.error) return WriteColours(four, Mode::Four, allUsed, out);
    return WriteColours(three, Mode::Three, allUsed, out);
  }

  Block blk;
  Load(blk, rows, dxt1);
  if (blk.usedCount == 0) {  // every pixel transparent
    PutLe16(out, 0);
    PutLe16(out + 2, 0);
    PutLe16(out + 4, 0xFFFF);
    PutLe16(out + 6, 0xFFFF);
    return;
  }
  const bool transparency = blk.usedCount < 16;
  uint32_t colour = 0;
  if (OneColour(blk, colour)) {  // the opaque pixels of a block with transparency
    return WriteColours(SolidFit(colour, Mode::Three, blk.usedCount), Mode::Three, blk.used, out);
  }
  Fit four;
  if (!transparency) {
    four = FitMode(blk, Mode::Four);
    if (!dxt1 || four.error <= kThreeColourFloor * 16) return WriteColours(four, Mode::Four, blk.used, out);
  }
  const Fit three = FitMode(blk, Mode::Three);
  if (!transparency && four.error <= three.error) return WriteColours(four, Mode::Four, blk.used, out);
  WriteColours(three, Mode::Three, blk.used, out);
}

void LoadRows(const uint32_t* const rows[4], U4 out[4]) {
  for (int r = 0; r < 4; ++r) std::memcpy(&out[r], rows[r], sizeof(U4));
}

void Dxt1Block(const uint32_t* const rows[4], uint8_t* out) {
  U4 pixels[4];
  LoadRows(rows, pixels);
  EncodeColours(pixels, true, out);
}

void Dxt3Block(const uint32_t* const rows[4], uint8_t* out) {
  U4 pixels[4];
  LoadRows(rows, pixels);
  // Alpha to the nearest of n * 17: n = (a + 8) / 17, here (a + 8) * 241 >> 12,
  // exact for a up to 255.
  for (int r = 0; r < 4; ++r) {
    const U4 n = (((pixels[r] >> 24) + 8) * 241) >> 12;
    PutLe16(out + 2 * r, n[0] | (n[1] << 4) | (n[2] << 8) | (n[3] << 12));
  }
  EncodeColours(pixels, false, out + 8);
}

void CmprBlock(const uint32_t* const rows[4], uint8_t* out) {
  uint8_t dxt1[8];
  Dxt1Block(rows, dxt1);
  out[0] = dxt1[1];
  out[1] = dxt1[0];
  out[2] = dxt1[3];
  out[3] = dxt1[2];
  for (int i = 4; i < 8; ++i) out[i] = ReverseIndexPairs(dxt1[i]);
}

int32_t Granule(FitLayout layout) { return layout == FitLayout::Cmpr ? 8 : 4; }
int64_t BlockBytes(FitLayout layout) { return layout == FitLayout::Dxt3 ? 16 : 8; }

const char* FitLayoutName(FitLayout layout) {
  switch (layout) {
    case FitLayout::Dxt1: return "DXT1";
    case FitLayout::Dxt3: return "DXT3";
    case FitLayout::Cmpr: return "CMPR";
  }
  return "S3TC";
}

}  // namespace

int64_t FitBytes(FitLayout layout, int32_t width, int32_t height) {
  if (width < 0 || height < 0) return 0;
  const int32_t g = Granule(layout);
  return static_cast<int64_t>(width / g * g / 4) * (height / g * g / 4) * BlockBytes(layout);
}

void FitS3tc(FitLayout layout, std::span<const uint32_t> picture, int32_t width, int32_t height,
             std::span<uint8_t> out) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 0 || height < 0) throw Error(ErrorKind::Usage, "cannot encode a picture of " + size + " pixels");
  const int32_t g = Granule(layout);
  if (width % g != 0 || height % g != 0) {
    throw Error(ErrorKind::Unsupported, std::string(FitLayoutName(layout)) + " takes widths and heights that are " +
                                            "multiples of " + std::to_string(g) + ", not " + size + " pixels");
  }
  if (static_cast<int64_t>(picture.size()) != static_cast<int64_t>(width) * height) {
    throw Error(ErrorKind::Usage, "a picture of " + size + " pixels cannot hold " + std::to_string(picture.size()));
  }
  const int64_t need = FitBytes(layout, width, height);
  if (static_cast<int64_t>(out.size()) < need) {
    throw Error(ErrorKind::Usage, std::string(FitLayoutName(layout)) + " output of " + std::to_string(out.size()) +
                                      " bytes is shorter than the " + std::to_string(need) + " the blocks need");
  }
  const int64_t blocksX = width / 4, blocksY = height / 4;
  const int64_t stride = BlockBytes(layout);
  for (int64_t by = 0; by < blocksY; ++by) {
    for (int64_t bx = 0; bx < blocksX; ++bx) {
      const uint32_t* rows[4];
      for (int r = 0; r < 4; ++r) rows[r] = picture.data() + (4 * by + r) * width + 4 * bx;
      if (layout == FitLayout::Cmpr) {
        const int64_t tile = (by / 2) * (blocksX / 2) + bx / 2;
        CmprBlock(rows, out.data() + (tile * 4 + (by % 2) * 2 + bx % 2) * 8);
      } else if (layout == FitLayout::Dxt3) {
        Dxt3Block(rows, out.data() + (by * blocksX + bx) * stride);
      } else {
        Dxt1Block(rows, out.data() + (by * blocksX + bx) * stride);
      }
    }
  }
}

std::vector<uint8_t> FitS3tc(FitLayout layout, std::span<const uint32_t> picture, int32_t width, int32_t height) {
  std::vector<uint8_t> out(static_cast<size_t>(std::max<int64_t>(FitBytes(layout, width, height), 0)));
  FitS3tc(layout, picture, width, height, out);
  return out;
}

void FitDxt1Block(const PixelBlock& block, std::span<uint8_t, 8> out) {
  const uint32_t* rows[4] = {&block[0], &block[4], &block[8], &block[12]};
  Dxt1Block(rows, out.data());
}

void FitDxt3Block(const PixelBlock& block, std::span<uint8_t, 16> out) {
  const uint32_t* rows[4] = {&block[0], &block[4], &block[8], &block[12]};
  Dxt3Block(rows, out.data());
}

}  // namespace quarrendel::texture
