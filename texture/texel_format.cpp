#include "texture/texel_format.h"

#include <algorithm>
#include <cmath>

#include "texture/gvr_decode.h"
#include "texture/pvr_decode.h"
#include "texture/pvr_rectangle_decode.h"

namespace quarrendel::texture {

namespace {

// The level q of a channel stored with `bits` bits (widened q << (8 - bits))
// nearest to sum / weight: floor(mean / step + 1/2), at most the top level.
uint32_t Level(uint64_t sum, uint64_t weight, uint32_t bits) {
  const uint64_t step = uint64_t{1} << (8 - bits);
  const uint64_t q = (2 * sum + weight * step) / (2 * weight * step);
  return static_cast<uint32_t>(std::min<uint64_t>(q, (uint64_t{1} << bits) - 1));
}

uint32_t Channel(uint32_t pixel, int32_t shift) { return (pixel >> shift) & 0xFF; }

// Squared distance of a widened pixel from the mean sums / weight, over the
// first `channels` channels.
double MeanDistance(uint32_t pixel, const double* mean, int32_t channels) {
  double sum = 0;
  for (int32_t c = 0; c < channels; ++c) {
    const double d = static_cast<double>(Channel(pixel, 8 * c)) - mean[c];
    sum += d * d;
  }
  return sum;
}

// The pair's chroma for one side: the Y nearest to the mean colour `mean`
// (red, green, blue) for fixed U, V, and the squared error it leaves.
struct FittedY {
  int32_t y = 0;
  double error = 0;
};

FittedY FitY(const double* mean, int32_t u, int32_t v) {
  // Unclamped, the decoder adds (359 v' - 88 u' - 183 v' + 454 u') / 256 to
  // 3 Y over the three channels; start there and walk to the best integer.
  const double chroma = (359.0 * (v - 128) - 88.0 * (u - 128) - 183.0 * (v - 128) + 454.0 * (u - 128)) / 768.0;
  const double start = (mean[0] + mean[1] + mean[2]) / 3.0 - chroma;
  FittedY best;
  best.y = static_cast<int32_t>(std::clamp(std::floor(start + 0.5), 0.0, 255.0));
  best.error = MeanDistance(YuvToPixel(best.y, u, v), mean, 3);
  for (const int32_t step : {-1, 1}) {
    while (best.y + step >= 0 && best.y + step <= 255) {
      const double error = MeanDistance(YuvToPixel(best.y + step, u, v), mean, 3);
      if (error >= best.error) break;
      best.y += step;
      best.error = error;
    }
  }
  return best;
}

double PairError(const double* left, const double* right, int32_t u, int32_t v) {
  return FitY(left, u, v).error + FitY(right, u, v).error;
}

}  // namespace

uint32_t WidenTexel(uint16_t word, TexelFormat format) {
  switch (format) {
    case TexelFormat::Argb1555: return ConvertTexel(word, 0);
    case TexelFormat::Rgb565: return ConvertTexel(word, 1);
    case TexelFormat::Argb4444: return ConvertTexel(word, 2);
    case TexelFormat::Rgb5a3: return Rgb5a3ToPixel(word);
  }
  return 0;
}

uint16_t NearestTexel(const ChannelSums& sums, uint64_t weight, TexelFormat format) {
  if (weight == 0) return 0;
  const auto r5 = Level(sums[0], weight, 5), g5 = Level(sums[1], weight, 5), b5 = Level(sums[2], weight, 5);
  switch (format) {
    case TexelFormat::Argb1555: {
      const uint32_t a = 2 * sums[3] >= 255 * weight ? 0x8000u : 0u;
      return static_cast<uint16_t>(a | (r5 << 10) | (g5 << 5) | b5);
    }
    case TexelFormat::Rgb565:
      return static_cast<uint16_t>((r5 << 11) | (Level(sums[1], weight, 6) << 5) | b5);
    case TexelFormat::Argb4444:
      return static_cast<uint16_t>((Level(sums[3], weight, 4) << 12) | (Level(sums[0], weight, 4) << 8) |
                                   (Level(sums[1], weight, 4) << 4) | Level(sums[2], weight, 4));
    case TexelFormat::Rgb5a3: {
      const auto opaque = static_cast<uint16_t>(0x8000u | (r5 << 10) | (g5 << 5) | b5);
      const auto translucent =
          static_cast<uint16_t>((Level(sums[3], weight, 3) << 12) | (Level(sums[0], weight, 4) << 8) |
                                (Level(sums[1], weight, 4) << 4) | Level(sums[2], weight, 4));
      double mean[4];
      for (int32_t c = 0; c < 4; ++c) {
        mean[c] = static_cast<double>(sums[static_cast<size_t>(c)]) / static_cast<double>(weight);
      }
      return MeanDistance(Rgb5a3ToPixel(opaque), mean, 4) <= MeanDistance(Rgb5a3ToPixel(translucent), mean, 4)
                 ? opaque
                 : translucent;
    }
  }
  return 0;
}

uint16_t NearestTexel(uint32_t pixel, TexelFormat format) {
  return NearestTexel(ChannelSums{Channel(pixel, 0), Channel(pixel, 8), Channel(pixel, 16), Channel(pixel, 24)}, 1,
                      format);
}

std::array<uint32_t, 2> WidenYuvPair(YuvPair pair) {
  const int32_t u = pair.left & 0xFF, v = pair.right & 0xFF;
  return {YuvToPixel(pair.left >> 8, u, v), YuvToPixel(pair.right >> 8, u, v)};
}

YuvPair NearestYuvPair(const PairSums& sums, uint64_t weight) {
  if (weight == 0) return YuvPair{0x0080, 0x0080};
  double left[3], right[3], mid[3];
  for (size_t c = 0; c < 3; ++c) {
    left[c] = static_cast<double>(sums[c]) / static_cast<double>(weight);
    right[c] = static_cast<double>(sums[c + 3]) / static_cast<double>(weight);
    mid[c] = (left[c] + right[c]) / 2.0;
  }
  // Each side's Y is free, so only the chroma's part across (1, 1, 1) counts:
  // least squares for U' and V' on the projections of the decoder's
  // chroma columns (0, -88, 454) / 256 and (359, -183, 0) / 256.
  const double a[3] = {0.0, -88.0 / 256.0, 454.0 / 256.0};
  const double b[3] = {359.0 / 256.0, -183.0 / 256.0, 0.0};
  const double aMean = (a[0] + a[1] + a[2]) / 3.0, bMean = (b[0] + b[1] + b[2]) / 3.0;
  const double cMean = (mid[0] + mid[1] + mid[2]) / 3.0;
  double aa = 0, ab = 0, bb = 0, ac = 0, bc = 0;
  for (size_t c = 0; c < 3; ++c) {
    const double pa = a[c] - aMean, pb = b[c] - bMean, pc = mid[c] - cMean;
    aa += pa * pa;
    ab += pa * pb;
    bb += pb * pb;
    ac += pa * pc;
    bc += pb * pc;
  }
  const double det = aa * bb - ab * ab;
  const double uPrime = (ac * bb - bc * ab) / det, vPrime = (bc * aa - ac * ab) / det;
  int32_t u = static_cast<int32_t>(std::clamp(std::floor(uPrime + 128.5), 0.0, 255.0));
  int32_t v = static_cast<int32_t>(std::clamp(std::floor(vPrime + 128.5), 0.0, 255.0));
  // Rounding and the decoder's clamping move the optimum: walk to the best
  // neighbour while one is better.
  double best = PairError(left, right, u, v);
  for (int32_t steps = 0; steps < 512; ++steps) {
    int32_t bestU = u, bestV = v;
    for (int32_t du = -1; du <= 1; ++du) {
      for (int32_t dv = -1; dv <= 1; ++dv) {
        const int32_t nu = u + du, nv = v + dv;
        if ((du == 0 && dv == 0) || nu < 0 || nu > 255 || nv < 0 || nv > 255) continue;
        const double error = PairError(left, right, nu, nv);
        if (error < best) {
          best = error;
          bestU = nu;
          bestV = nv;
        }
      }
    }
    if (bestU == u && bestV == v) break;
    u = bestU;
    v = bestV;
  }
  const int32_t y0 = FitY(left, u, v).y, y1 = FitY(right, u, v).y;
  return YuvPair{static_cast<uint16_t>((y0 << 8) | u), static_cast<uint16_t>((y1 << 8) | v)};
}

YuvPair NearestYuvPair(uint32_t left, uint32_t right) {
  return NearestYuvPair(PairSums{Channel(left, 0), Channel(left, 8), Channel(left, 16), Channel(right, 0),
                                 Channel(right, 8), Channel(right, 16)},
                        1);
}

}  // namespace quarrendel::texture
