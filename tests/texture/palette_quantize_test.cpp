#include "texture/palette_quantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "core/error.h"
#include "core/worker_pool.h"

namespace quarrendel::texture {
namespace {

const TexelFormat kFormats[] = {TexelFormat::Argb1555, TexelFormat::Rgb565, TexelFormat::Argb4444,
                                TexelFormat::Rgb5a3};

int64_t Distance(uint32_t a, uint32_t b, TexelFormat format) {
  int64_t sum = 0;
  for (int32_t shift = 0; shift < (TexelHasAlpha(format) ? 32 : 24); shift += 8) {
    const int64_t d = static_cast<int64_t>((a >> shift) & 0xFF) - static_cast<int64_t>((b >> shift) & 0xFF);
    sum += d * d;
  }
  return sum;
}

// Pixels whose reduced colours are exactly `colours` distinct words: random
// words, widened, each channel moved by up to 1 (many distinct source
// colours per word; a moved pixel that no longer reduces to its word is
// drawn again).
std::vector<uint32_t> PixelsOfReducedColours(TexelFormat format, size_t colours, size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::set<uint16_t> chosen;
  while (chosen.size() < colours) chosen.insert(NearestTexel(WidenTexel(static_cast<uint16_t>(random()), format), format));
  const std::vector<uint16_t> words(chosen.begin(), chosen.end());
  std::vector<uint32_t> pixels;
  while (pixels.size() < count) {
    const uint16_t word = words[random() % words.size()];
    const uint32_t widened = WidenTexel(word, format);
    uint32_t pixel = 0;
    for (int32_t shift = 0; shift < 32; shift += 8) {
      const int32_t c = static_cast<int32_t>((widened >> shift) & 0xFF) + static_cast<int32_t>(random() % 3) - 1;
      pixel |= static_cast<uint32_t>(std::clamp(c, 0, 255)) << shift;
    }
    if (NearestTexel(pixel, format) == word) pixels.push_back(pixel);
  }
  return pixels;
}

TEST(PaletteQuantizeTest, ExactWhenTheReducedColoursFit) {
  for (const TexelFormat format : kFormats) {
    for (const size_t colours : {size_t{16}, size_t{256}}) {
      SCOPED_TRACE(static_cast<int>(format) * 1000 + static_cast<int>(colours));
      const std::vector<uint32_t> pixels = PixelsOfReducedColours(format, colours, 64 * 64, 11);
      const PaletteResult result = QuantizePalette(RgbaView{pixels, 64, 64}, format, static_cast<int32_t>(colours));
      EXPECT_EQ(result.passes, 0);
      ASSERT_EQ(result.palette.size(), colours);
      ASSERT_EQ(result.indices.size(), pixels.size());
      EXPECT_TRUE(std::is_sorted(result.palette.begin(), result.palette.end()));
      int64_t error = 0;
      for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t shown = WidenTexel(result.palette[result.indices[i]], format);
        ASSERT_EQ(shown, ReduceTexel(pixels[i], format)) << i;
        error += Distance(pixels[i], shown, format);
      }
      EXPECT_EQ(result.error, static_cast<uint64_t>(error));
    }
  }
}

TEST(PaletteQuantizeTest, OneColourMoreEveryPixelTakesANearestEntry) {
  // 17 reduced colours into 16 entries: the clustering runs, every index is
  // in range and names an entry nearest to its pixel, and the error is the
  // sum of those distances.
  for (const TexelFormat format : kFormats) {
    SCOPED_TRACE(static_cast<int>(format));
    const std::vector<uint32_t> pixels = PixelsOfReducedColours(format, 17, 32 * 32, 12);
    const PaletteResult result = QuantizePalette(RgbaView{pixels, 32, 32}, format, 16);
    EXPECT_GT(result.passes, 0);
    ASSERT_EQ(result.palette.size(), 16u);
    int64_t error = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
      ASSERT_LT(result.indices[i], 16);
      const int64_t d = Distance(pixels[i], WidenTexel(result.palette[result.indices[i]], format), format);
      for (const uint16_t word : result.palette) ASSERT_LE(d, Distance(pixels[i], WidenTexel(word, format), format));
      error += d;
    }
    EXPECT_EQ(result.error, static_cast<uint64_t>(error));
  }
}

TEST(PaletteQuantizeTest, FindsWellSeparatedColoursWithTheirAlpha) {
  // Sixteen colours at the corners of a colour-and-alpha cube, each pixel
  // jittered by up to 3 per channel: the sixteen entries land on them, so
  // no channel is further off than the jitter plus half a 5-bit step, and
  // alpha keeps its side of the 1-bit threshold.
  std::mt19937 random(13);
  std::vector<uint32_t> pixels(64 * 64);
  for (uint32_t& v : pixels) {
    const uint32_t k = random() % 16;
    v = 0;
    for (uint32_t c = 0; c < 4; ++c) {
      const uint32_t base = ((k >> c) & 1) ? 210 : 40;
      v |= (base + random() % 7 - 3) << (8 * c);
    }
  }
  const PaletteResult result = QuantizePalette(RgbaView{pixels, 64, 64}, TexelFormat::Argb1555, 16);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const uint32_t shown = WidenTexel(result.palette[result.indices[i]], TexelFormat::Argb1555);
    for (int32_t shift = 0; shift < 24; shift += 8) {
      const int32_t d = static_cast<int32_t>((pixels[i] >> shift) & 0xFF) - static_cast<int32_t>((shown >> shift) & 0xFF);
      ASSERT_LE(std::abs(d), 7) << i;
    }
    ASSERT_EQ(shown >> 31, pixels[i] >> 31) << i;
  }
}

TEST(PaletteQuantizeTest, TheSameWordsForEveryThreadCount) {
  // A smooth gradient with grain: over 10000 distinct colours, several
  // assignment chunks.
  std::mt19937 random(14);
  std::vector<uint32_t> pixels(128 * 128);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const auto x = static_cast<uint32_t>(i % 128) * 2, y = static_cast<uint32_t>(i / 128) * 2;
    pixels[i] = (x ^ (random() & 15)) | ((y ^ (random() & 15)) << 8) | (((x + y) / 2) << 16) | 0xFF000000u;
  }
  const RgbaView view{pixels, 128, 128};
  const PaletteResult alone = QuantizePalette(view, TexelFormat::Rgb565, 256);
  EXPECT_GT(alone.passes, 0);
  for (const int32_t threads : {1, 2, 3}) {
    WorkerPool pool(threads);
    const PaletteResult pooled = QuantizePalette(view, TexelFormat::Rgb565, 256, &pool);
    EXPECT_EQ(pooled.palette, alone.palette) << threads;
    EXPECT_EQ(pooled.indices, alone.indices) << threads;
  }
}

TEST(PaletteQuantizeTest, RefusesCountsAndShortPictures) {
  const std::vector<uint32_t> pixels(16, 0);
  const struct {
    RgbaView view;
    int32_t colours;
  } refused[] = {{{pixels, 4, 4}, 0}, {{pixels, 4, 4}, 257}, {{pixels, 4, 5}, 16}, {{{}, 0, 0}, 16}};
  for (const auto& r : refused) {
    EXPECT_THROW(QuantizePalette(r.view, TexelFormat::Argb4444, r.colours), Error) << r.colours;
  }
  EXPECT_THROW(QuantizePalette(RgbaView{pixels, 4, 4}, TexelFormat::Argb4444, 16, nullptr, 0), Error);
}

}  // namespace
}  // namespace quarrendel::texture
