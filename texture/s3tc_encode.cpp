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
F4 Select(I4 mask, F4 a, F4 b) {
  return reinterpret_cast<F4>((reinterpret_cast<I4>(a) & mask) | (reinterpret_cast<I4>(b) & ~mask));
}
F4 Min(F4 a, F4 b) { return Select(a < b, a, b); }
F4 Max(F4 a, F4 b) { return Select(a > b, a, b); }
// Exact for the integer-valued vectors here, in any order.
float Sum(F4 v) { return (v[0] + v[1]) + (v[2] + v[3]); }
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

Extremes PrincipalPixels(const Block& blk) {
  const F4 sumR = (blk.r[0] + blk.r[1]) + (blk.r[2] + blk.r[3]);
  const F4 sumG = (blk.g[0] + blk.g[1]) + (blk.g[2] + blk.g[3]);
  const F4 sumB = (blk.b[0] + blk.b[1]) + (blk.b[2] + blk.b[3]);
  auto mean = [](F4 sum) { return static_cast<float>((static_cast<int32_t>(Sum(sum)) + 8) >> 4); };
  auto range = [](const F4* v) {
    return Highest(Max(Max(v[0], v[1]), Max(v[2], v[3]))) - Lowest(Min(Min(v[0], v[1]), Min(v[2], v[3])));
  };
  const F4 meanR = Splat(mean(sumR)), meanG = Splat(mean(sumG)), meanB = Splat(mean(sumB));
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
  // The covariance matrix, each sum divided by 255 in single precision.
  const float crr = Sum(rr) / 255.0f, crg = Sum(rg) / 255.0f, crb = Sum(rb) / 255.0f;
  const float cgg = Sum(gg) / 255.0f, cgb = Sum(gb) / 255.0f, cbb = Sum(bb) / 255.0f;

  // Four power iterations from the channel ranges.
  float vr = range(blk.r), vg = range(blk.g), vb = range(blk.b);
  for (int i = 0; i < 4; ++i) {
    const float r = vr * crr + vg * crg + vb * crb;
    const float g = vr * crg + vg * cgg + vb * cgb;
    const float b = vr * crb + vg * cgb + vb * cbb;
    vr = r;
    vg = g;
    vb = b;
  }
  vr = std::fabs(vr);
  vg = std::fabs(vg);
  vb = std::fabs(vb);
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
  const int32_t n = transparency ? 3 : 4;
  F4 tr[4], tg[4], tb[4];
  for (int32_t j = 0; j < n; ++j) {
    tr[j] = Splat(static_cast<float>(table[static_cast<size_t>(j)].r));
    tg[j] = Splat(static_cast<float>(table[static_cast<size_t>(j)].g));
    tb[j] = Splat(static_cast<float>(table[static_cast<size_t>(j)].b));
  }
  // Lane r: the index byte of row r.
  I4 rows{};
  for (int c = 0; c < 4; ++c) {
    F4 best{};
    I4 index{};
    for (int32_t j = 0; j < n; ++j) {
      const F4 dr = blk.r[c] - tr[j], dg = blk.g[c] - tg[j], db = blk.b[c] - tb[j];
      const F4 d = dr * dr + dg * dg + db * db;
      if (j == 0) {
        best = d;
        continue;
      }
      const I4 closer = d < best;
      best = Select(closer, d, best);
      index = (index & ~closer) | (I4{j, j, j, j} & closer);
    }
    if (transparency) index |= blk.transparent[c] & 3;
    rows |= index << (2 * c);
  }
  return static_cast<uint32_t>(rows[0]) | (static_cast<uint32_t>(rows[1]) << 8) |
         (static_cast<uint32_t>(rows[2]) << 16) | (static_cast<uint32_t>(rows[3]) << 24);
}

void Refine(const Block& blk, uint32_t mask, uint16_t& c0, uint16_t& c1) {
  // Weight w0 of c0 per pixel: 3, 0, 2, 1 for indices 0..3; c1 weighs
  // w1 = 3 - w0. xx, yy and xy are the three fields of the packed products
  // 0x090000, 0x000900, 0x040102, 0x010402 (w0^2, w1^2, w0 w1) summed over
  // the block; none of them carries into the next (yy <= 144, xy <= 32).
  const U4 rowMasks{mask, mask >> 8, mask >> 16, mask >> 24};
  F4 xx{}, yy{}, xy{}, at1r{}, at1g{}, at1b{}, sumR{}, sumG{}, sumB{};
  for (int c = 0; c < 4; ++c) {
    const I4 index = reinterpret_cast<I4>((rowMasks >> (2 * c)) & 3);
    I4 weight = 4 - index;
    weight = (weight & ~(index == 0)) | (I4{3, 3, 3, 3} & (index == 0));
    weight &= ~(index == 1);
    const F4 w0 = __builtin_convertvector(weight, F4);
    const F4 w1 = 3.0f - w0;
    xx += w0 * w0;
    yy += w1 * w1;
    xy += w0 * w1;
    at1r += w0 * blk.r[c];
    at1g += w0 * blk.g[c];
    at1b += w0 * blk.b[c];
    sumR += blk.r[c];
    sumG += blk.g[c];
    sumB += blk.b[c];
  }
  const auto toInt = [](F4 v) { return static_cast<int32_t>(Sum(v)); };
  const int32_t at1[3] = {toInt(at1r), toInt(at1g), toInt(at1b)};
  const int32_t at2[3] = {3 * toInt(sumR) - at1[0], 3 * toInt(sumG) - at1[1], 3 * toInt(sumB) - at1[2]};
  const int32_t sxx = toInt(xx), syy = toInt(yy), sxy = toInt(xy);
  const int32_t det = sxx * syy - sxy * sxy;
  if (det == 0) return;  // every index the same: keep the end points
  const float frb = kRefitScale / static_cast<float>(det);
  const float fg = frb * 63.0f / 31.0f;
  auto field = [](int32_t numerator, float scale, int32_t top) {
    return std::clamp(RoundHalfEven(static_cast<float>(numerator) * scale + 0.5f), 0, top);
  };
  c0 = static_cast<uint16_t>((field(at1[0] * syy - at2[0] * sxy, frb, 31) << 11) |
                             (field(at1[1] * syy - at2[1] * sxy, fg, 63) << 5) |
                             field(at1[2] * syy - at2[2] * sxy, frb, 31));
  c1 = static_cast<uint16_t>((field(at2[0] * sxx - at1[0] * sxy, frb, 31) << 11) |
                             (field(at2[1] * sxx - at1[1] * sxy, fg, 63) << 5) |
                             field(at2[2] * sxx - at1[2] * sxy, frb, 31));
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
  const Extremes e = PrincipalPixels(blk);
  std::array<Colour, 4> slot{PixelColour(blk, e.high), PixelColour(blk, e.low), Colour{}, Colour{}};
  OrderSlots(slot);
  uint16_t c0 = PackRgb565(slot[0]);
  uint16_t c1 = PackRgb565(slot[1]);
  FillTable(slot, transparency);
  uint32_t mask = IndexMaskOf(blk, slot, transparency);
  if (c0 != c1) Refine(blk, mask, c0, c1);

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

template <typename EncodeBlock>
void EncodeBlocks(const Canvas& canvas, int32_t side, std::span<uint8_t> out, int64_t blockBytes,
                  EncodeBlock encode) {
  if (side < 0 || side > Canvas::kSide) {
    throw Error(ErrorKind::Usage, "cannot encode a " + std::to_string(side) + " pixel side into S3TC blocks");
  }
  const int32_t blocks = side / 4;
  const int64_t need = static_cast<int64_t>(blocks) * blocks * blockBytes;
  if (static_cast<int64_t>(out.size()) < need) {
    throw Error(ErrorKind::Usage, "S3TC output of " + std::to_string(out.size()) + " bytes is shorter than the " +
                                      std::to_string(need) + " the blocks need");
  }
  Block blk;
  for (int32_t bx = 0; bx < blocks; ++bx) {
    const uint32_t* column[4] = {canvas.Column(4 * bx), canvas.Column(4 * bx + 1), canvas.Column(4 * bx + 2),
                                 canvas.Column(4 * bx + 3)};
    for (int32_t by = 0; by < blocks; ++by) {
      for (int c = 0; c < 4; ++c) std::memcpy(&blk.pixel[c], column[c] + 4 * by, sizeof(U4));
      Split(blk);
      encode(blk, out.data() + (static_cast<int64_t>(by) * blocks + bx) * blockBytes);
    }
  }
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
  const Extremes e = PrincipalPixels(blk);
  return {PixelColour(blk, e.high), PixelColour(blk, e.low)};
}

void RefineEndpoints(const PixelBlock& block, uint32_t mask, uint16_t& c0, uint16_t& c1) {
  Refine(FromPixels(block), mask, c0, c1);
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
  EncodeBlocks(canvas, side, out, 8, Dxt1Block);
}

void EncodeDxt3(const Canvas& canvas, int32_t side, std::span<uint8_t> out) {
  EncodeBlocks(canvas, side, out, 16, Dxt3Block);
}

namespace detail {

uint32_t IndexMask(const PixelBlock& block, const std::array<Colour, 4>& table, bool transparency) {
  return IndexMaskOf(FromPixels(block), table, transparency);
}

}  // namespace detail

}  // namespace quarrendel::texture
