// Built with -ffp-contract=off (see CMakeLists.txt): a fused multiply-add
// rounds once where the encoder rounds twice, which would change end points
// between machines.
#include "texture/s3tc_encode.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "core/error.h"

static_assert(FLT_EVAL_METHOD == 0, "the encoder needs float arithmetic without excess precision");
#ifdef __FAST_MATH__
#error "the encoder's rounding needs IEEE arithmetic: build it without -ffast-math"
#endif

namespace quarrendel::texture {

namespace detail {

int32_t RoundHalfEven(float x) {
  // Adding 1.5 * 2^23 moves |x| < 2^22 into [2^23, 2^24), where floats are
  // whole numbers: the addition itself rounds, to nearest with ties to even.
  constexpr float kShift = 12582912.0f;
  const float rounded = (x + kShift) - kShift;
  return static_cast<int32_t>(rounded);
}

}  // namespace detail

namespace {

using detail::RoundHalfEven;

// 3 * 31 / 255 in single precision: scales the refit's solution (in thirds
// of 8-bit units) to a 5-bit channel.
constexpr float kRefitScale = 0.36470588235294116f;
static_assert(kRefitScale == 93.0f / 255.0f);

// A block as four columns of four pixels (lane r of column c is pixel
// 4r + c), which is how the canvas holds it, with its channels as floats
// holding integers 0..255. Every sum and product the encoder forms from them
// (distances up to 3 * 255^2, covariance sums up to 16 * 255^2, projections
// up to 3 * 255 * 512, times 16 with the pixel number added) is an integer
// below 2^24, so float arithmetic on them is exact and runs four pixels at a
// time.
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using U4 = uint32_t __attribute__((vector_size(16)));

struct Block {
  U4 pixel[4];
  F4 r[4], g[4], b[4];
  I4 transparent[4];  // all bits set where alpha is below 0x80
  bool anyTransparent;
};

constexpr F4 Splat(float v) { return F4{v, v, v, v}; }
F4 Min(F4 a, F4 b) { return a < b ? a : b; }
F4 Max(F4 a, F4 b) { return a > b ? a : b; }
// Lane i: the four lanes of argument i added (or reduced by min / max).
// Exact for the integer-valued vectors here, in any order.
template <typename Op>
F4 Across(F4 a, F4 b, F4 c, F4 d, Op op) {
  const F4 ab = op(__builtin_shufflevector(a, b, 0, 4, 1, 5), __builtin_shufflevector(a, b, 2, 6, 3, 7));
  const F4 cd = op(__builtin_shufflevector(c, d, 0, 4, 1, 5), __builtin_shufflevector(c, d, 2, 6, 3, 7));
  return op(__builtin_shufflevector(ab, cd, 0, 1, 4, 5), __builtin_shufflevector(ab, cd, 2, 3, 6, 7));
}
F4 Sums(F4 a, F4 b, F4 c, F4 d) { return Across(a, b, c, d, [](F4 x, F4 y) { return x + y; }); }
float Lowest(F4 v) { return std::min(std::min(v[0], v[1]), std::min(v[2], v[3])); }
float Highest(F4 v) { return std::max(std::max(v[0], v[1]), std::max(v[2], v[3])); }
F4 ToFloat(U4 v) { return __builtin_convertvector(reinterpret_cast<I4>(v), F4); }

void Split(Block& blk) {
  blk.anyTransparent = false;
  for (int c = 0; c < 4; ++c) {
    const U4 p = blk.pixel[c];
    blk.r[c] = ToFloat(p & 0xFF);
    blk.g[c] = ToFloat((p >> 8) & 0xFF);
    blk.b[c] = ToFloat((p >> 16) & 0xFF);
    blk.transparent[c] = reinterpret_cast<I4>((p >> 31) == 0);
    const I4 t = blk.transparent[c];
    blk.anyTransparent |= (t[0] | t[1] | t[2] | t[3]) != 0;
  }
}

Block FromPixels(const PixelBlock& block) {
  Block blk;
  for (int c = 0; c < 4; ++c) {
    blk.pixel[c] = U4{block[static_cast<size_t>(c)], block[static_cast<size_t>(4 + c)],
                      block[static_cast<size_t>(8 + c)], block[static_cast<size_t>(12 + c)]};
  }
  Split(blk);
  return blk;
}

Colour PixelColour(const Block& blk, int k) {
  const int r = k / 4, c = k % 4;
  return {static_cast<int32_t>(blk.r[c][r]), static_cast<int32_t>(blk.g[c][r]), static_cast<int32_t>(blk.b[c][r])};
}

Colour Expand565(uint16_t c) { return {(c >> 11) << 3, ((c >> 5) & 63) << 2, (c & 31) << 3}; }

// Pixel number k = 4r + c in each lane of column c.
constexpr F4 kPixelNumber[4] = {{0, 4, 8, 12}, {1, 5, 9, 13}, {2, 6, 10, 14}, {3, 7, 11, 15}};

struct Extremes {
  int high;
  int low;
};

// Channel sums of a block, as whole numbers.
struct ChannelSums {
  int32_t r, g, b;
};

ChannelSums SumChannels(const Block& blk) {
  const F4 sums = Sums((blk.r[0] + blk.r[1]) + (blk.r[2] + blk.r[3]), (blk.g[0] + blk.g[1]) + (blk.g[2] + blk.g[3]),
                       (blk.b[0] + blk.b[1]) + (blk.b[2] + blk.b[3]), F4{});
  return {static_cast<int32_t>(sums[0]), static_cast<int32_t>(sums[1]), static_cast<int32_t>(sums[2])};
}

Extremes PrincipalPixels(const Block& blk, const ChannelSums& sums) {
  const auto mean = [](int32_t sum) { return Splat(static_cast<float>((sum + 8) >> 4)); };
  const F4 meanR = mean(sums.r), meanG = mean(sums.g), meanB = mean(sums.b);
  F4 rr{}, rg{}, rb{}, gg{}, gb{}, bb{};
  for (int c = 0; c < 4; ++c) {
    const F4 dr = blk.r[c] - meanR, dg = blk.g[c] - meanG, db = blk.b[c] - meanB;
    rr += dr * dr;
    rg += dr * dg;
    rb += dr * db;
    gg += dg * dg;
    gb += dg * db;
    bb += db * db;
  }
  // The covariance matrix, each sum divided by 255 in single precision. Its
  // columns (= rows) with a zero fourth lane.
  const F4 first = Sums(rr, rg, rb, gg) / 255.0f;
  const F4 second = Sums(gb, bb, F4{}, F4{}) / 255.0f;
  const F4 columnR{first[0], first[1], first[2], 0.0f};
  const F4 columnG{first[1], first[3], second[0], 0.0f};
  const F4 columnB{first[2], second[0], second[1], 0.0f};

  // Four power iterations from the channel ranges: component i of C v is
  // (C_i0 v_r + C_i1 v_g) + C_i2 v_b, each step rounded to single precision.
  const auto max = [](F4 x, F4 y) { return Max(x, y); };
  const auto min = [](F4 x, F4 y) { return Min(x, y); };
  const F4 highs = Across(Max(Max(blk.r[0], blk.r[1]), Max(blk.r[2], blk.r[3])),
                          Max(Max(blk.g[0], blk.g[1]), Max(blk.g[2], blk.g[3])),
                          Max(Max(blk.b[0], blk.b[1]), Max(blk.b[2], blk.b[3])), F4{}, max);
  const F4 lows = Across(Min(Min(blk.r[0], blk.r[1]), Min(blk.r[2], blk.r[3])),
                         Min(Min(blk.g[0], blk.g[1]), Min(blk.g[2], blk.g[3])),
                         Min(Min(blk.b[0], blk.b[1]), Min(blk.b[2], blk.b[3])), F4{}, min);
  F4 v = highs - lows;
  for (int i = 0; i < 4; ++i) v = (Splat(v[0]) * columnR + Splat(v[1]) * columnG) + Splat(v[2]) * columnB;
  const float vr = std::fabs(v[0]), vg = std::fabs(v[1]), vb = std::fabs(v[2]);
  const float magnitude = std::max(std::max(vr, vg), vb);
  float wr = 58, wg = 300, wb = 148;
  if (magnitude >= 4.0f) {
    const float f = 512.0f / magnitude;
    wr = static_cast<float>(RoundHalfEven(vr * f));
    wg = static_cast<float>(RoundHalfEven(vg * f));
    wb = static_cast<float>(RoundHalfEven(vb * f));
  }

  // Projection p times 16 plus the pixel number (or 15 minus it): the
  // smallest key is the first pixel of smallest p, the largest key the first
  // pixel of largest p.
  F4 low = Splat(16777216.0f), high = Splat(-1.0f);
  for (int c = 0; c < 4; ++c) {
    const F4 p16 = (blk.r[c] * wr + blk.g[c] * wg + blk.b[c] * wb) * 16.0f;
    low = Min(low, p16 + kPixelNumber[c]);
    high = Max(high, p16 + (15.0f - kPixelNumber[c]));
  }
  return {15 - (static_cast<int32_t>(Highest(high)) & 15), static_cast<int32_t>(Lowest(low)) & 15};
}

uint32_t IndexMaskOf(const Block& blk, const std::array<Colour, 4>& table, bool transparency) {
  // |p - t|^2 = |p|^2 + (|t|^2 - 2 p.t): across the table colours t only the
  // bracket changes, so it orders them exactly as the distance does, ties
  // included. Without a fourth colour its bracket is made too large to win.
  F4 tr[4], tg[4], tb[4], tt[4];
  for (size_t j = 0; j < 4; ++j) {
    const Colour& t = table[j];
    tr[j] = Splat(static_cast<float>(-2 * t.r));
    tg[j] = Splat(static_cast<float>(-2 * t.g));
    tb[j] = Splat(static_cast<float>(-2 * t.b));
    tt[j] = Splat(static_cast<float>(t.r * t.r + t.g * t.g + t.b * t.b));
  }
  if (transparency) tt[3] = Splat(1e9f);
  // Lane r: the index byte of row r.
  I4 rows{};
  for (int c = 0; c < 4; ++c) {
    F4 e[4];
    for (size_t j = 0; j < 4; ++j) e[j] = tt[j] + blk.r[c] * tr[j] + blk.g[c] * tg[j] + blk.b[c] * tb[j];
    const F4 best = Min(Min(e[0], e[1]), Min(e[2], e[3]));
    // The index of the first colour at the minimum: the number of colours
    // before it (masks are -1 where true).
    const I4 before1 = ~(e[0] == best);
    const I4 before2 = before1 & ~(e[1] == best);
    const I4 before3 = before2 & ~(e[2] == best);
    I4 index = -(before1 + before2 + before3);
    if (transparency) index |= blk.transparent[c] & 3;
    rows |= index << (2 * c);
  }
  return static_cast<uint32_t>(rows[0]) | (static_cast<uint32_t>(rows[1]) << 8) |
         (static_cast<uint32_t>(rows[2]) << 16) | (static_cast<uint32_t>(rows[3]) << 24);
}

void Refine(const Block& blk, const ChannelSums& sums, uint32_t mask, uint16_t& c0, uint16_t& c1) {
  // Weight w0 of c0 per pixel: 3, 0, 2, 1 for indices 0..3; c1 weighs
  // w1 = 3 - w0. Field by field: w0 bit 1 = not index bit 0, w0 bit 0 =
  // not (index bit 0 xor index bit 1).
  const uint32_t low = mask & 0x55555555u, high = (mask >> 1) & 0x55555555u;
  const uint32_t weights = ((~low & 0x55555555u) << 1) | (~(low ^ high) & 0x55555555u);
  const U4 rowWeights{weights, weights >> 8, weights >> 16, weights >> 24};
  F4 sumW{}, sumWW{}, at1r{}, at1g{}, at1b{};
  for (int c = 0; c < 4; ++c) {
    const F4 w0 = ToFloat((rowWeights >> (2 * c)) & 3);
    sumW += w0;
    sumWW += w0 * w0;
    at1r += w0 * blk.r[c];
    at1g += w0 * blk.g[c];
    at1b += w0 * blk.b[c];
  }
  const F4 totals = Sums(at1r, at1g, at1b, sumW);
  // xx, yy and xy are the three fields of the packed products 0x090000,
  // 0x000900, 0x040102, 0x010402 (w0^2, w1^2, w0 w1) summed over the block.
  const auto s1 = static_cast<int32_t>(totals[3]);
  const int32_t xx = static_cast<int32_t>((sumWW[0] + sumWW[1]) + (sumWW[2] + sumWW[3]));
  const int32_t yy = 144 - 6 * s1 + xx;
  const int32_t xy = 3 * s1 - xx;
  const int32_t at1[3] = {static_cast<int32_t>(totals[0]), static_cast<int32_t>(totals[1]),
                          static_cast<int32_t>(totals[2])};
  const int32_t at2[3] = {3 * sums.r - at1[0], 3 * sums.g - at1[1], 3 * sums.b - at1[2]};
  const int32_t det = xx * yy - xy * xy;
  if (det == 0) return;  // every index the same: keep the end points
  const float frb = kRefitScale / static_cast<float>(det);
  const float fg = frb * 63.0f / 31.0f;
  auto field = [](int32_t numerator, float scale, int32_t top) {
    return std::clamp(RoundHalfEven(static_cast<float>(numerator) * scale + 0.5f), 0, top);
  };
  c0 = static_cast<uint16_t>((field(at1[0] * yy - at2[0] * xy, frb, 31) << 11) |
                             (field(at1[1] * yy - at2[1] * xy, fg, 63) << 5) |
                             field(at1[2] * yy - at2[2] * xy, frb, 31));
  c1 = static_cast<uint16_t>((field(at2[0] * xx - at1[0] * xy, frb, 31) << 11) |
                             (field(at2[1] * xx - at1[1] * xy, fg, 63) << 5) |
                             field(at2[2] * xx - at1[2] * xy, frb, 31));
}

// Slots 0 and 1 hold the end points; the rest of the palette follows. With
// transparency the end points swap places and slot 2 is their mean.
void FillTable(std::array<Colour, 4>& slot, bool transparency) {
  if (transparency) {
    std::swap(slot[0], slot[1]);
    slot[2] = {(slot[0].r + slot[1].r) >> 1, (slot[0].g + slot[1].g) >> 1, (slot[0].b + slot[1].b) >> 1};
    return;
  }
  slot[2] = {(2 * slot[0].r + slot[1].r + 1) / 3, (2 * slot[0].g + slot[1].g + 1) / 3,
             (2 * slot[0].b + slot[1].b + 1) / 3};
  slot[3] = {(slot[0].r + 2 * slot[1].r + 1) / 3, (slot[0].g + 2 * slot[1].g + 1) / 3,
             (slot[0].b + 2 * slot[1].b + 1) / 3};
}

void OrderSlots(std::array<Colour, 4>& slot) {
  if (PackRgb565(slot[0]) < PackRgb565(slot[1])) std::swap(slot[0], slot[1]);
}

void PutLe16(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v & 0xFF);
  out[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// The 8-byte colour part of a block; `transparency` selects three colours
// and index 3 for the pixels with alpha below 0x80 (never for DXT3).
void EncodeColours(const Block& blk, bool transparency, uint8_t* out) {
  const ChannelSums sums = SumChannels(blk);
  const Extremes e = PrincipalPixels(blk, sums);
  std::array<Colour, 4> slot{PixelColour(blk, e.high), PixelColour(blk, e.low), Colour{}, Colour{}};
  OrderSlots(slot);
  uint16_t c0 = PackRgb565(slot[0]);
  uint16_t c1 = PackRgb565(slot[1]);
  FillTable(slot, transparency);
  uint32_t mask = IndexMaskOf(blk, slot, transparency);
  if (c0 != c1) Refine(blk, sums, mask, c0, c1);

  slot[0] = Expand565(c0);
  slot[1] = Expand565(c1);
  OrderSlots(slot);
  FillTable(slot, transparency);
  c0 = PackRgb565(slot[0]);
  c1 = PackRgb565(slot[1]);
  mask = IndexMaskOf(blk, slot, transparency);
  PutLe16(out, c0);
  PutLe16(out + 2, c1);
  PutLe16(out + 4, mask & 0xFFFF);
  PutLe16(out + 6, mask >> 16);
}

void Dxt1Block(const Block& blk, uint8_t* out) { EncodeColours(blk, blk.anyTransparent, out); }

void Dxt3Block(const Block& blk, uint8_t* out) {
  // Lane r: the alpha word of row r, column c in bits 4c+3..4c.
  const U4 words = (blk.pixel[0] >> 28) | ((blk.pixel[1] >> 28) << 4) | ((blk.pixel[2] >> 28) << 8) |
                   ((blk.pixel[3] >> 28) << 12);
  for (int r = 0; r < 4; ++r) PutLe16(out + 2 * r, words[r]);
  EncodeColours(blk, false, out + 8);
}

// Block (bx, by) of a side x side picture: `gather` (bx, by, blk) sets
// blk.pixel[c] to lane r = pixel (4 bx + c, 4 by + r).
template <typename Gather, typename EncodeBlock>
void EncodeBlocks(int32_t side, int32_t maxSide, std::span<uint8_t> out, int64_t blockBytes, Gather gather,
                  EncodeBlock encode) {
  if (side < 0 || side > maxSide) {
    throw Error(ErrorKind::Usage, "cannot encode a " + std::to_string(side) + " pixel side into S3TC blocks");
  }
  const int32_t blocks = side / 4;
  const int64_t need = static_cast<int64_t>(blocks) * blocks * blockBytes;
  if (static_cast<int64_t>(out.size()) < need) {
    throw Error(ErrorKind::Usage, "S3TC output of " + std::to_string(out.size()) + " bytes is shorter than the " +
                                      std::to_string(need) + " the blocks need");
  }
  Block blk;
  for (int32_t by = 0; by < blocks; ++by) {
    for (int32_t bx = 0; bx < blocks; ++bx) {
      gather(bx, by, blk);
      Split(blk);
      encode(blk, out.data() + (static_cast<int64_t>(by) * blocks + bx) * blockBytes);
    }
  }
}

template <typename EncodeBlock>
void EncodeCanvasBlocks(const Canvas& canvas, int32_t side, std::span<uint8_t> out, int64_t blockBytes,
                        EncodeBlock encode) {
  EncodeBlocks(side, Canvas::kSide, out, blockBytes, [&canvas](int32_t bx, int32_t by, Block& blk) {
    for (int c = 0; c < 4; ++c) std::memcpy(&blk.pixel[c], canvas.Column(4 * bx + c) + 4 * by, sizeof(U4));
  }, encode);
}

template <typename EncodeBlock>
void EncodeSquareBlocks(const RgbaView& square, std::span<uint8_t> out, int64_t blockBytes, EncodeBlock encode) {
  if (square.width != square.height) {
    throw Error(ErrorKind::Usage, "cannot encode a " + std::to_string(square.width) + " x " +
                                      std::to_string(square.height) + " picture as a square");
  }
  EncodeBlocks(square.width, square.width, out, blockBytes, [&square](int32_t bx, int32_t by, Block& blk) {
    const auto at = [&](int32_t x, int32_t y) { return square.pixels[static_cast<size_t>(y) * square.width + x]; };
    for (int c = 0; c < 4; ++c) {
      blk.pixel[c] = U4{at(4 * bx + c, 4 * by), at(4 * bx + c, 4 * by + 1), at(4 * bx + c, 4 * by + 2),
                        at(4 * bx + c, 4 * by + 3)};
    }
  }, encode);
}

}  // namespace

uint16_t PackRgb565(int32_t r, int32_t g, int32_t b) {
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

int32_t ColourDistance(Colour a, Colour b) {
  const int32_t dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

int32_t NearestColour(Colour pixel, const std::array<Colour, 4>& table, int32_t n) {
  int32_t chosen = 0;
  int32_t best = ColourDistance(pixel, table[0]);
  for (int32_t j = 1; j < n; ++j) {
    const int32_t d = ColourDistance(pixel, table[static_cast<size_t>(j)]);
    if (d < best) {
      best = d;
      chosen = j;
    }
  }
  return chosen;
}

EndPoints PrincipalEndpoints(const PixelBlock& block) {
  const Block blk = FromPixels(block);
  const Extremes e = PrincipalPixels(blk, SumChannels(blk));
  return {PixelColour(blk, e.high), PixelColour(blk, e.low)};
}

void RefineEndpoints(const PixelBlock& block, uint32_t mask, uint16_t& c0, uint16_t& c1) {
  const Block blk = FromPixels(block);
  Refine(blk, SumChannels(blk), mask, c0, c1);
}

void EncodeDxt1Block(const PixelBlock& block, std::span<uint8_t, 8> out) { Dxt1Block(FromPixels(block), out.data()); }
void EncodeDxt3Block(const PixelBlock& block, std::span<uint8_t, 16> out) {
  Dxt3Block(FromPixels(block), out.data());
}

int64_t Dxt1Bytes(int32_t side) {
  const int64_t blocks = std::max(side, 0) / 4;
  return blocks * blocks * 8;
}

int64_t Dxt3Bytes(int32_t side) { return 2 * Dxt1Bytes(side); }

void EncodeDxt1(const Canvas& canvas, int32_t side, std::span<uint8_t> out) {
  EncodeCanvasBlocks(canvas, side, out, 8, Dxt1Block);
}

void EncodeDxt3(const Canvas& canvas, int32_t side, std::span<uint8_t> out) {
  EncodeCanvasBlocks(canvas, side, out, 16, Dxt3Block);
}

void EncodeDxt1(const RgbaView& square, std::span<uint8_t> out) { EncodeSquareBlocks(square, out, 8, Dxt1Block); }

void EncodeDxt3(const RgbaView& square, std::span<uint8_t> out) { EncodeSquareBlocks(square, out, 16, Dxt3Block); }

namespace detail {

uint32_t IndexMask(const PixelBlock& block, const std::array<Colour, 4>& table, bool transparency) {
  return IndexMaskOf(FromPixels(block), table, transparency);
}

}  // namespace detail

}  // namespace quarrendel::texture
