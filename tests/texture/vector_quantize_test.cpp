#include "texture/vector_quantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "core/error.h"
#include "core/image_store.h"
#include "core/worker_pool.h"
#include "texture/pvr_decode.h"
#include "texture/texel_format.h"
#include "texture/texture_decode.h"

namespace quarrendel::texture {
namespace {

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  RgbaView View() const { return RgbaView{pixels, width, height}; }
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

Picture Random(int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 random(seed);
  Picture p{width, height, std::vector<uint32_t>(static_cast<size_t>(width * height))};
  for (uint32_t& v : p.pixels) v = static_cast<uint32_t>(random());
  return p;
}

// Smooth colours with a little grain: many distinct blocks, near neighbours.
Picture Smooth(int32_t side, uint32_t seed) {
  std::mt19937 random(seed);
  Picture p{side, side, std::vector<uint32_t>(static_cast<size_t>(side * side))};
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      const uint32_t r = static_cast<uint32_t>(x * 255 / side) ^ (random() & 7);
      const uint32_t g = static_cast<uint32_t>(y * 255 / side) ^ (random() & 7);
      const uint32_t b = static_cast<uint32_t>((x + y) * 127 / side);
      p.pixels[static_cast<size_t>(y * side + x)] = r | (g << 8) | (b << 16) | 0xFF000000u;
    }
  }
  return p;
}

VqResult Quantize(const Picture& p, PixelFormat format, int32_t codes, WorkerPool* pool = nullptr) {
  const RgbaView view = p.View();
  return QuantizeVectors(std::span<const RgbaView>(&view, 1), format, codes, pool);
}

TexelFormat TexelOf(PixelFormat format) {
  return format == PixelFormat::Argb1555 ? TexelFormat::Argb1555
         : format == PixelFormat::Rgb565 ? TexelFormat::Rgb565
                                         : TexelFormat::Argb4444;
}

int64_t Distance(uint32_t a, uint32_t b, bool alpha) {
  int64_t sum = 0;
  for (int32_t shift = 0; shift < (alpha ? 32 : 24); shift += 8) {
    const int64_t d = static_cast<int64_t>((a >> shift) & 0xFF) - static_cast<int64_t>((b >> shift) & 0xFF);
    sum += d * d;
  }
  return sum;
}

// Squared error of block (bx, by) against codebook entry `e`: the entry's
// word t is texel (t / 2, t % 2) of the block.
int64_t BlockError(const Picture& p, int32_t bx, int32_t by, const VqResult& vq, size_t e, PixelFormat format) {
  int64_t sum = 0;
  for (int32_t t = 0; t < 4; ++t) {
    const uint32_t decoded = WidenTexel(vq.codebook[4 * e + static_cast<size_t>(t)], TexelOf(format));
    sum += Distance(p.At(2 * bx + t / 2, 2 * by + t % 2), decoded, format != PixelFormat::Rgb565);
  }
  return sum;
}

// The data format 3 texture of a side x side result, decoded as the
// selection decodes it.
DecodedTexture DecodeAsVqTexture(const VqResult& vq, int32_t side, PixelFormat format) {
  std::vector<uint8_t> data(static_cast<size_t>(kVqCodebookBytes) + static_cast<size_t>(side * side / 4));
  for (size_t i = 0; i < vq.codebook.size(); ++i) {
    data[2 * i] = static_cast<uint8_t>(vq.codebook[i] & 0xFF);
    data[2 * i + 1] = static_cast<uint8_t>(vq.codebook[i] >> 8);
  }
  const auto& twiddle = TwiddleTable();
  const int32_t blocks = side / 2;
  for (int32_t by = 0; by < blocks; ++by) {
    for (int32_t bx = 0; bx < blocks; ++bx) {
      data[static_cast<size_t>(kVqCodebookBytes) + (twiddle[static_cast<size_t>(by)] | (twiddle[static_cast<size_t>(bx)] << 1))] =
          vq.indices[0][static_cast<size_t>(by * blocks + bx)];
    }
  }
  return DecodeTexture(TextureBytes{0x0300u | static_cast<uint8_t>(format), side, side, data, false}, {});
}

const PixelFormat kRgbFormats[] = {PixelFormat::Argb1555, PixelFormat::Rgb565, PixelFormat::Argb4444};

TEST(VectorQuantizeTest, FewBlocksDecodeAsTheirReducedPixels) {
  // 16 distinct blocks and 16 or 256 codes: every block gets its own entry,
  // and the VQ decoder shows every pixel as the format keeps it.
  const Picture p = Random(8, 8, 1);
  for (const PixelFormat format : kRgbFormats) {
    for (const int32_t codes : {16, 256}) {
      SCOPED_TRACE(static_cast<int>(format) * 1000 + codes);
      const VqResult vq = Quantize(p, format, codes);
      ASSERT_EQ(vq.codebook.size(), static_cast<size_t>(4 * codes));
      ASSERT_EQ(vq.indices.size(), 1u);
      EXPECT_EQ(vq.passes, 0);
      const auto canvas = DecodeAsVqTexture(vq, 8, format);
      int64_t error = 0;
      for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
          const uint32_t kept = ReduceTexel(p.At(x, y), TexelOf(format));
          ASSERT_EQ(canvas.Square()(x, y), kept) << x << "," << y;
          error += Distance(p.At(x, y), kept, format != PixelFormat::Rgb565);
        }
      }
      EXPECT_EQ(vq.error, static_cast<uint64_t>(error));
    }
  }
}

TEST(VectorQuantizeTest, MipLevelsShareOneCodebookAndA1x1LevelIsFourCopies) {
  const Picture top = Random(4, 4, 2), middle = Random(2, 2, 3), last = Random(1, 1, 4);
  const RgbaView views[] = {top.View(), middle.View(), last.View()};
  const VqResult vq = QuantizeVectors(views, PixelFormat::Argb4444, 256);
  ASSERT_EQ(vq.indices.size(), 3u);
  EXPECT_EQ(vq.indices[0].size(), 4u);
  EXPECT_EQ(vq.indices[1].size(), 1u);
  ASSERT_EQ(vq.indices[2].size(), 1u);
  std::set<uint8_t> used(vq.indices[0].begin(), vq.indices[0].end());
  used.insert(vq.indices[1][0]);
  used.insert(vq.indices[2][0]);
  EXPECT_EQ(used.size(), 6u);  // six distinct blocks, six entries of one codebook
  const size_t e = vq.indices[2][0];
  const uint32_t kept = ReduceTexel(last.pixels[0], TexelFormat::Argb4444);
  for (size_t t = 0; t < 4; ++t) EXPECT_EQ(WidenTexel(vq.codebook[4 * e + t], TexelFormat::Argb4444), kept);
  const uint32_t topRight = ReduceTexel(top.At(3, 1), TexelFormat::Argb4444);  // block (1, 0), texel (1, 1)
  EXPECT_EQ(WidenTexel(vq.codebook[4 * vq.indices[0][1] + 3], TexelFormat::Argb4444), topRight);
}

TEST(VectorQuantizeTest, EveryBlockTakesANearestEntry) {
  // 256 blocks of noise into 16 entries: each block's index is an entry
  // nearest to it (checked against every entry), and the error reported is
  // their sum.
  const Picture p = Random(32, 32, 5);
  for (const PixelFormat format : kRgbFormats) {
    SCOPED_TRACE(static_cast<int>(format));
    const VqResult vq = Quantize(p, format, 16);
    EXPECT_GT(vq.passes, 0);
    int64_t total = 0;
    for (int32_t by = 0; by < 16; ++by) {
      for (int32_t bx = 0; bx < 16; ++bx) {
        const size_t chosen = vq.indices[0][static_cast<size_t>(by * 16 + bx)];
        ASSERT_LT(chosen, 16u);
        const int64_t error = BlockError(p, bx, by, vq, chosen, format);
        for (size_t e = 0; e < 16; ++e) ASSERT_LE(error, BlockError(p, bx, by, vq, e, format)) << e;
        total += error;
      }
    }
    EXPECT_EQ(vq.error, static_cast<uint64_t>(total));
  }
}

TEST(VectorQuantizeTest, FindsWellSeparatedBlockKinds) {
  // Eight kinds of block, far apart, each texel jittered by up to 2: eight
  // entries land on the kinds, so no texel is further off than the jitter
  // plus half a 5-bit step.
  std::mt19937 random(6);
  std::array<std::array<uint32_t, 4>, 8> kinds{};
  for (size_t k = 0; k < kinds.size(); ++k) {
    for (size_t t = 0; t < 4; ++t) {
      kinds[k][t] = ((k & 1) ? 200u : 40u) | (((k & 2) ? 210u : 30u) << 8) | (((k & 4) ? 190u : 50u) << 16) |
                    (static_cast<uint32_t>(t) * 9u) | 0xFF000000u;
    }
  }
  Picture p{64, 64, std::vector<uint32_t>(64 * 64)};
  for (int32_t by = 0; by < 32; ++by) {
    for (int32_t bx = 0; bx < 32; ++bx) {
      const auto& kind = kinds[random() % 8];
      for (int32_t t = 0; t < 4; ++t) {
        uint32_t v = kind[static_cast<size_t>(t)];
        for (int32_t shift = 0; shift < 24; shift += 8) {
          const uint32_t c = ((v >> shift) & 0xFF) + static_cast<uint32_t>(random() % 5) - 2;
          v = (v & ~(0xFFu << shift)) | (c << shift);
        }
        p.pixels[static_cast<size_t>((2 * by + t % 2) * 64 + 2 * bx + t / 2)] = v;
      }
    }
  }
  const VqResult vq = Quantize(p, PixelFormat::Rgb565, 8);
  const auto canvas = DecodeAsVqTexture(vq, 64, PixelFormat::Rgb565);
  for (int32_t y = 0; y < 64; ++y) {
    for (int32_t x = 0; x < 64; ++x) {
      for (int32_t shift = 0; shift < 24; shift += 8) {
        const int32_t d = static_cast<int32_t>((p.At(x, y) >> shift) & 0xFF) -
                          static_cast<int32_t>((canvas.Square()(x, y) >> shift) & 0xFF);
        ASSERT_LE(std::abs(d), 7) << x << "," << y;
      }
    }
  }
}

TEST(VectorQuantizeTest, EntriesLeftEmptyTakeTheWorstServedBlocks) {
  // 4000 distinct blocks of values 0..7, which ARGB4444 keeps as 0, and five
  // far blocks of 40 .. 200. The split start cuts the big cloud into entries
  // that all round to 0; the duplicates lose their blocks and must move to
  // the far blocks, which then decode exactly as the format keeps them.
  std::mt19937 random(9);
  Picture p{128, 128, std::vector<uint32_t>(128 * 128)};
  for (uint32_t& v : p.pixels) v = static_cast<uint32_t>(random()) & 0x07070707u;
  for (int32_t k = 0; k < 5; ++k) {
    const uint32_t c = static_cast<uint32_t>(40 + 40 * k) * 0x01010101u;
    for (int32_t t = 0; t < 4; ++t) p.pixels[static_cast<size_t>((t % 2) * 128 + 2 * k + t / 2)] = c;
  }
  const VqResult vq = Quantize(p, PixelFormat::Argb4444, 8);
  for (int32_t k = 0; k < 5; ++k) {
    const size_t e = vq.indices[0][static_cast<size_t>(k)];
    for (size_t t = 0; t < 4; ++t) {
      EXPECT_EQ(WidenTexel(vq.codebook[4 * e + t], TexelFormat::Argb4444),
                ReduceTexel(static_cast<uint32_t>(40 + 40 * k) * 0x01010101u, TexelFormat::Argb4444))
          << k;
    }
  }
}

TEST(VectorQuantizeTest, TheSameBytesForEveryThreadCount) {
  // 16384 blocks: four assignment chunks.
  const Picture p = Smooth(256, 7);
  const VqResult alone = Quantize(p, PixelFormat::Argb1555, 64);
  for (const int32_t threads : {1, 2, 3}) {
    WorkerPool pool(threads);
    const VqResult pooled = Quantize(p, PixelFormat::Argb1555, 64, &pool);
    EXPECT_EQ(pooled.codebook, alone.codebook) << threads;
    EXPECT_EQ(pooled.indices, alone.indices) << threads;
    EXPECT_EQ(pooled.error, alone.error) << threads;
  }
}

TEST(VectorQuantizeTest, Yuv422PairsAreTheRowsOfABlock) {
  // Top row red, bottom row blue: words 0 and 2 are the top pair, 1 and 3 the
  // bottom one; a pairing by columns would mix the chroma of both.
  const uint32_t red = 0xFF0000FF, blue = 0xFFFF0000;
  const Picture p{2, 2, {red, red, blue, blue}};
  const VqResult vq = Quantize(p, PixelFormat::Yuv442, 1);
  const auto top = WidenYuvPair(YuvPair{vq.codebook[0], vq.codebook[2]});
  const auto bottom = WidenYuvPair(YuvPair{vq.codebook[1], vq.codebook[3]});
  for (const auto& [decoded, source] : {std::pair{top[0], red}, {top[1], red}, {bottom[0], blue}, {bottom[1], blue}}) {
    EXPECT_LE(Distance(decoded, source, false), 3 * 3 * 3) << std::hex << decoded;
  }
}

TEST(VectorQuantizeTest, RefusesWhatNoVqTextureHolds) {
  const Picture square = Random(4, 4, 8), odd = Random(3, 2, 8), thin = Random(2, 1, 8);
  const RgbaView missing{std::span<const uint32_t>(square.pixels).first(15), 4, 4};
  const struct {
    RgbaView view;
    PixelFormat format;
    int32_t codes;
  } refused[] = {
      {square.View(), PixelFormat::Bump, 256}, {square.View(), PixelFormat::Argb1555, 0},
      {square.View(), PixelFormat::Argb1555, 257}, {odd.View(), PixelFormat::Rgb565, 16},
      {thin.View(), PixelFormat::Rgb565, 16}, {missing, PixelFormat::Rgb565, 16},
  };
  for (const auto& r : refused) {
    EXPECT_THROW(QuantizeVectors(std::span<const RgbaView>(&r.view, 1), r.format, r.codes), Error)
        << r.view.width << " x " << r.view.height << " codes " << r.codes;
  }
  const RgbaView view = square.View();
  EXPECT_THROW(QuantizeVectors(std::span<const RgbaView>(&view, 1), PixelFormat::Rgb565, 16, nullptr, 0), Error);
}

}  // namespace
}  // namespace quarrendel::texture
