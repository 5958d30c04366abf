// Random small pictures through the encoders' building blocks. Byte 0: the
// picture is (1 << bits 0-1) x (1 << bits 2-3); byte 1: bits 0-1 the VQ
// pixel format (ARGB1555, RGB565, ARGB4444, YUV422), bits 2-3 the palette
// format (ARGB1555, RGB565, ARGB4444, RGB5A3); byte 2 + 1 the VQ codes,
// byte 3 + 1 the palette colours; the rest are pixels (red, green, blue,
// alpha), repeated to fill the picture. Checks:
// - mipmaps: the full chain, each side halved down to 1; every level texel
//   within its box's range of alpha, and of colour over the box texels that
//   count (those with alpha, or all when none has);
// - VQ over the picture and its chain sharing one codebook: an index per
//   block, each naming an entry nearest to its block, the error their sum,
//   and with no more distinct blocks than codes (not YUV) each block's error
//   that of its texels as the format keeps them;
// - palette: an index per pixel naming an entry nearest to it, the error
//   their sum, and exact when the reduced colours fit.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "texture/mipmap_generate.h"
#include "texture/palette_quantize.h"
#include "texture/texel_format.h"
#include "texture/vector_quantize.h"

namespace {

using namespace quarrendel;
using namespace quarrendel::texture;

// Aborts naming the check's line, so a crash input tells which invariant broke.
#define Require(condition) RequireAt((condition), __LINE__)
void RequireAt(bool condition, int line) {
  if (!condition) {
    std::fprintf(stderr, "quantize: check at line %d failed\n", line);
    std::abort();
  }
}

uint32_t Channel(uint32_t pixel, int32_t c) { return (pixel >> (8 * c)) & 0xFF; }

int64_t Distance(uint32_t a, uint32_t b, bool alpha) {
  int64_t sum = 0;
  for (int32_t c = 0; c < (alpha ? 4 : 3); ++c) {
    const int64_t d = static_cast<int64_t>(Channel(a, c)) - static_cast<int64_t>(Channel(b, c));
    sum += d * d;
  }
  return sum;
}

void CheckLevel(const RgbaImage& above, const RgbaImage& level) {
  Require(level.width == std::max(above.width / 2, 1) && level.height == std::max(above.height / 2, 1));
  const int32_t spanX = above.width > 1 ? 2 : 1, spanY = above.height > 1 ? 2 : 1;
  for (int32_t y = 0; y < level.height; ++y) {
    for (int32_t x = 0; x < level.width; ++x) {
      std::vector<uint32_t> box;
      bool anyAlpha = false;
      for (int32_t dy = 0; dy < spanY; ++dy) {
        for (int32_t dx = 0; dx < spanX; ++dx) {
          box.push_back(above.pixels[static_cast<size_t>((spanY * y + dy) * above.width + spanX * x + dx)]);
          anyAlpha |= (box.back() >> 24) != 0;
        }
      }
      const uint32_t out = level.pixels[static_cast<size_t>(y * level.width + x)];
      for (int32_t c = 0; c < 4; ++c) {
        uint32_t lo = 255, hi = 0;
        for (const uint32_t p : box) {
          if (c < 3 && anyAlpha && (p >> 24) == 0) continue;
          lo = std::min(lo, Channel(p, c));
          hi = std::max(hi, Channel(p, c));
        }
        Require(Channel(out, c) >= lo && Channel(out, c) <= hi);
      }
    }
  }
}

// The four pixels entry `e` decodes to, texel t at (t / 2, t % 2).
std::array<uint32_t, 4> EntryPixels(const VqResult& vq, size_t e, PixelFormat format) {
  const uint16_t* w = &vq.codebook[4 * e];
  if (format == PixelFormat::Yuv442) {
    const auto top = WidenYuvPair(YuvPair{w[0], w[2]}), bottom = WidenYuvPair(YuvPair{w[1], w[3]});
    return {top[0], bottom[0], top[1], bottom[1]};
  }
  const TexelFormat texel = format == PixelFormat::Argb1555 ? TexelFormat::Argb1555
                            : format == PixelFormat::Rgb565 ? TexelFormat::Rgb565
                                                            : TexelFormat::Argb4444;
  return {WidenTexel(w[0], texel), WidenTexel(w[1], texel), WidenTexel(w[2], texel), WidenTexel(w[3], texel)};
}

void CheckVq(const std::vector<RgbaImage>& pictures, PixelFormat format, int32_t codes) {
  std::vector<RgbaView> views;
  for (const RgbaImage& p : pictures) views.push_back(p.View());
  const VqResult vq = QuantizeVectors(views, format, codes);
  Require(vq.codebook.size() == 4 * static_cast<size_t>(codes) && vq.indices.size() == pictures.size());
  const bool alpha = format == PixelFormat::Argb1555 || format == PixelFormat::Argb4444;
  std::vector<std::array<uint32_t, 4>> entries;
  for (size_t e = 0; e < static_cast<size_t>(codes); ++e) entries.push_back(EntryPixels(vq, e, format));
  std::set<std::array<uint32_t, 4>> distinct;
  std::vector<std::pair<std::array<uint32_t, 4>, size_t>> blocks;
  for (size_t p = 0; p < pictures.size(); ++p) {
    const RgbaImage& picture = pictures[p];
    const int32_t blocksX = std::max(picture.width / 2, 1), blocksY = std::max(picture.height / 2, 1);
    Require(vq.indices[p].size() == static_cast<size_t>(blocksX * blocksY));
    for (int32_t by = 0; by < blocksY; ++by) {
      for (int32_t bx = 0; bx < blocksX; ++bx) {
        std::array<uint32_t, 4> block{};
        for (int32_t t = 0; t < 4; ++t) {
          const int32_t x = picture.width == 1 ? 0 : 2 * bx + t / 2, y = picture.height == 1 ? 0 : 2 * by + t % 2;
          block[static_cast<size_t>(t)] = picture.pixels[static_cast<size_t>(y * picture.width + x)];
          if (!alpha) block[static_cast<size_t>(t)] &= 0xFFFFFF;
        }
        distinct.insert(block);
        const size_t index = vq.indices[p][static_cast<size_t>(by * blocksX + bx)];
        Require(index < static_cast<size_t>(codes));
        blocks.emplace_back(block, index);
      }
    }
  }
  uint64_t total = 0;
  for (const auto& entry : blocks) {
    const std::array<uint32_t, 4>& block = entry.first;
    const size_t index = entry.second;
    const auto error = [&](size_t e) {
      int64_t sum = 0;
      for (size_t t = 0; t < 4; ++t) sum += Distance(block[t], entries[e][t], alpha);
      return sum;
    };
    const int64_t chosen = error(index);
    for (size_t e = 0; e < entries.size(); ++e) Require(chosen <= error(e));
    total += static_cast<uint64_t>(chosen);
    if (format != PixelFormat::Yuv442 && distinct.size() <= static_cast<size_t>(codes)) {
      const TexelFormat texel = format == PixelFormat::Argb1555 ? TexelFormat::Argb1555
                                : format == PixelFormat::Rgb565 ? TexelFormat::Rgb565
                                                                : TexelFormat::Argb4444;
      // As near as the format allows (another entry may tie with its own).
      int64_t kept = 0;
      for (size_t t = 0; t < 4; ++t) kept += Distance(block[t], ReduceTexel(block[t], texel), alpha);
      Require(chosen == kept);
    }
  }
  Require(vq.error == total);
}

void CheckPalette(const RgbaImage& picture, TexelFormat format, int32_t colours) {
  const PaletteResult result = QuantizePalette(picture.View(), format, colours);
  Require(result.palette.size() == static_cast<size_t>(colours) && result.indices.size() == picture.pixels.size());
  std::set<uint16_t> reduced;
  for (const uint32_t p : picture.pixels) reduced.insert(NearestTexel(p, format));
  const bool exact = reduced.size() <= static_cast<size_t>(colours);
  const bool alpha = TexelHasAlpha(format);
  uint64_t total = 0;
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    Require(result.indices[i] < colours);
    const uint32_t shown = WidenTexel(result.palette[result.indices[i]], format);
    const int64_t d = Distance(picture.pixels[i], shown, alpha);
    for (const uint16_t word : result.palette) Require(d <= Distance(picture.pixels[i], WidenTexel(word, format), alpha));
    if (exact) Require(shown == ReduceTexel(picture.pixels[i], format));
    total += static_cast<uint64_t>(d);
  }
  Require(result.error == total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const int32_t width = 1 << (data[0] & 3), height = 1 << ((data[0] >> 2) & 3);
  const auto vqFormat = static_cast<PixelFormat>(data[1] & 3);
  const auto paletteFormat = static_cast<TexelFormat>((data[1] >> 2) & 3);
  const int32_t codes = data[2] + 1, colours = data[3] + 1;
  const size_t available = (size - 4) / 4;
  RgbaImage picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width * height))};
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const uint8_t* p = data + 4 + 4 * (i % available);
    picture.pixels[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }

  const std::vector<RgbaImage> chain = GenerateMipmaps(picture.View(), MipLevelCount(width, height));
  Require(chain.size() == static_cast<size_t>(std::max(data[0] & 3, (data[0] >> 2) & 3) + 1));
  Require(chain.front().pixels == picture.pixels && chain.back().width == 1 && chain.back().height == 1);
  for (size_t k = 1; k < chain.size(); ++k) CheckLevel(chain[k - 1], chain[k]);

  // VQ takes even sides and 1 x 1, the levels of a square chain.
  if (width == height) {
    CheckVq(chain, vqFormat, codes);
  } else if (width > 1 && height > 1) {
    CheckVq({picture}, vqFormat, codes);
  }
  CheckPalette(picture, paletteFormat, colours);
  return 0;
}
