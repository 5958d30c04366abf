#include "texture/pvr_decode.h"

#include <algorithm>
#include <bit>

#include "texture/texel_read.h"

namespace quarrendel::texture {

using detail::Fits;
using detail::Le16;
using detail::Rgba;

namespace {

constexpr std::array<uint32_t, kTwiddleTableSize> MakeTwiddleTable() {
  std::array<uint32_t, kTwiddleTableSize> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint32_t v = 0;
    for (uint32_t k = 0; k < 11; ++k) v |= ((i >> k) & 1u) << (2 * k);
    table[i] = v;
  }
  return table;
}

constexpr std::array<uint32_t, kTwiddleTableSize> kTwiddle = MakeTwiddleTable();

// One axis of the recursive twiddle walk over a side s: the walk descends
// floor(log2 s) levels, halving with truncation, so it visits `count` =
// 2^levels positions per axis; walk index j lands at offset[j]. For a power
// of two the offsets are 0..s-1.
struct TwiddleWalk {
  explicit TwiddleWalk(int32_t side) {
    const int32_t levels = std::bit_width(static_cast<uint32_t>(side)) - 1;
    count = 1 << levels;
    for (int32_t j = 0; j < count; ++j) {
      int32_t at = 0;
      for (int32_t bit = 0; bit < levels; ++bit) {
        if ((j >> bit) & 1) at += side >> (levels - bit);
      }
      offset[static_cast<size_t>(j)] = static_cast<uint16_t>(at);
    }
  }
  int32_t count = 0;
  std::array<uint16_t, kTwiddleTableSize> offset{};
};

bool SquareFits(int32_t x, int32_t y, int32_t side, int32_t width, int32_t height) {
  return side > 0 && x >= 0 && y >= 0 && x <= width - side && y <= height - side;
}

int32_t AdvanceCursor(int32_t cursor, int64_t bytes) {
  return static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(cursor) + bytes, INT32_MAX));
}

uint32_t Argb1555(uint32_t v) {
  return Rgba(((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3, (v & 0x8000) ? 255 : 0);
}
uint32_t Rgb565(uint32_t v) { return Rgba((v >> 11) << 3, ((v >> 5) & 63) << 2, (v & 31) << 3, 255); }
uint32_t Argb4444(uint32_t v) {
  return Rgba(((v >> 8) & 15) << 4, ((v >> 4) & 15) << 4, (v & 15) << 4, (v >> 12) << 4);
}
uint32_t Bump(uint32_t v) { return Rgba(v >> 8, v >> 8, v >> 8, 255); }

template <typename F>
void ConvertRect(const Plane& plane, int32_t width, int32_t height, F convert) {
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = plane.Row(y);
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t v = row[x];
      row[x] = v > 0xFFFF ? 0 : convert(v);
    }
  }
}

// The shared second half of both VQ decoders: one index byte per 2 x 2 block,
// block (bx, by) at index position table[by] | table[bx] * 2.
void DecodeVqIndices(const Plane& plane, std::span<const uint8_t> data, uint64_t indexBase, int32_t side,
                     const std::array<uint16_t, 1024>& codebook) {
  const int32_t blocks = side / 2;
  const bool whole = blocks == 0 ||
                     Fits(data, indexBase, (kTwiddle[static_cast<size_t>(blocks - 1)] * 3u) + 1u);
  for (int32_t by = 0; by < blocks; ++by) {
    uint32_t* top = plane.Row(2 * by);
    uint32_t* bottom = plane.Row(2 * by + 1);
    const uint32_t ty = kTwiddle[static_cast<size_t>(by)];
    for (int32_t bx = 0; bx < blocks; ++bx) {
      const uint64_t at = indexBase + (ty | kTwiddle[static_cast<size_t>(bx)] << 1);
      if (!whole && at >= data.size()) continue;
      const uint16_t* entry = &codebook[static_cast<size_t>(data[at]) * 4];
      top[2 * bx] = entry[0];
      bottom[2 * bx] = entry[1];
      top[2 * bx + 1] = entry[2];
      bottom[2 * bx + 1] = entry[3];
    }
  }
}

// Reads up to `bytes` bytes of codebook words from data[offset]; entries the
// data does not hold stay 0.
std::array<uint16_t, 1024> ReadCodebook(std::span<const uint8_t> data, uint64_t offset, int64_t bytes) {
  std::array<uint16_t, 1024> codebook{};
  const int64_t words = std::min<int64_t>(bytes / 2, static_cast<int64_t>(codebook.size()));
  for (int64_t i = 0; i < words; ++i) {
    const uint64_t at = offset + static_cast<uint64_t>(i) * 2;
    if (!Fits(data, at, 2)) break;
    codebook[static_cast<size_t>(i)] = Le16(data, at);
  }
  return codebook;
}

// Palette decoders: pixel (x, y) := palette entry of the index that `index`
// returns for the twiddled positions table[y], table[x] (or -1 when missing).
template <typename Index>
void DecodePaletteSquare(const Plane& plane, int32_t side, const Palette& palette, Index index) {
  if (side > kMaxPaletteSide || !plane.Holds(side, side)) return;
  for (int32_t y = 0; y < side; ++y) {
    uint32_t* row = plane.Row(y);
    const uint32_t ty = kTwiddle[static_cast<size_t>(y)];
    for (int32_t x = 0; x < side; ++x) {
      const int32_t i = index(ty, kTwiddle[static_cast<size_t>(x)]);
      if (i >= 0) row[x] = palette[static_cast<size_t>(i)];
    }
  }
}

}  // namespace

const std::array<uint32_t, kTwiddleTableSize>& TwiddleTable() { return kTwiddle; }

uint32_t ConvertTexel(uint16_t texel, uint8_t pixelFormatCode) {
  switch (pixelFormatCode) {
    case 0: return Argb1555(texel);
    case 1: return Rgb565(texel);
    case 2: return Argb4444(texel);
    case 4: return Bump(texel);
    default: return texel;
  }
}

uint16_t PackTexel(uint32_t pixel, uint8_t pixelFormatCode) {
  const uint32_t r = pixel & 0xFF, g = (pixel >> 8) & 0xFF, b = (pixel >> 16) & 0xFF, a = pixel >> 24;
  if (pixelFormatCode == 0) {
    return static_cast<uint16_t>((a >= 0x80 ? 0x8000u : 0u) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
  }
  return static_cast<uint16_t>(((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4));
}

void TransferTwiddled16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t x, int32_t y,
                        int32_t side) {
  if (!SquareFits(x, y, side, plane.Width(), plane.Height())) return;
  const uint64_t start = static_cast<uint64_t>(std::max(cursor, 0));
  if (side >= 2 && std::has_single_bit(static_cast<uint32_t>(side)) &&
      Fits(data, start, 2 * static_cast<uint64_t>(side) * static_cast<uint64_t>(side))) {
    // Whole data, power-of-two side: every 2 x 2 block is four consecutive
    // words (0,0), (0,1), (1,0), (1,1) at block position table[by] | table[bx] * 2.
    const int32_t blocks = side / 2;
    for (int32_t by = 0; by < blocks; ++by) {
      uint32_t* top = plane.Row(y + 2 * by) + x;
      uint32_t* bottom = plane.Row(y + 2 * by + 1) + x;
      const uint32_t ty = kTwiddle[static_cast<size_t>(by)];
      for (int32_t bx = 0; bx < blocks; ++bx) {
        const uint64_t at = start + 8u * (ty | kTwiddle[static_cast<size_t>(bx)] << 1);
        top[2 * bx] = Le16(data, at);
        bottom[2 * bx] = Le16(data, at + 2);
        top[2 * bx + 1] = Le16(data, at + 4);
        bottom[2 * bx + 1] = Le16(data, at + 6);
      }
    }
    cursor = AdvanceCursor(cursor, 2 * static_cast<int64_t>(side) * side);
    return;
  }
  const TwiddleWalk walk(side);
  const uint64_t texels = static_cast<uint64_t>(walk.count) * static_cast<uint64_t>(walk.count);
  const bool whole = Fits(data, start, texels * 2);
  for (int32_t jy = 0; jy < walk.count; ++jy) {
    uint32_t* row = plane.Row(y + walk.offset[static_cast<size_t>(jy)]) + x;
    const uint32_t ty = kTwiddle[static_cast<size_t>(jy)];
    for (int32_t jx = 0; jx < walk.count; ++jx) {
      const uint64_t at = start + 2u * (ty | kTwiddle[static_cast<size_t>(jx)] << 1);
      if (!whole && !Fits(data, at, 2)) continue;
      row[walk.offset[static_cast<size_t>(jx)]] = Le16(data, at);
    }
  }
  cursor = AdvanceCursor(cursor, static_cast<int64_t>(texels * 2));
}

void TransferTwiddled16(const Canvas& canvas, std::span<uint8_t> data, int32_t& cursor, int32_t x, int32_t y,
                        int32_t side, uint8_t pixelFormatCode) {
  if (!SquareFits(x, y, side, Canvas::kSide, Canvas::kSide)) return;
  const TwiddleWalk walk(side);
  const uint64_t start = static_cast<uint64_t>(std::max(cursor, 0));
  const uint64_t texels = static_cast<uint64_t>(walk.count) * static_cast<uint64_t>(walk.count);
  for (int32_t jx = 0; jx < walk.count; ++jx) {
    const uint32_t* column = canvas.Column(x + walk.offset[static_cast<size_t>(jx)]) + y;
    const uint32_t tx = kTwiddle[static_cast<size_t>(jx)] << 1;
    for (int32_t jy = 0; jy < walk.count; ++jy) {
      const uint64_t at = start + 2u * (kTwiddle[static_cast<size_t>(jy)] | tx);
      if (at + 2 > data.size()) continue;
      const uint16_t word = PackTexel(column[walk.offset[static_cast<size_t>(jy)]], pixelFormatCode);
      data[at] = static_cast<uint8_t>(word & 0xFF);
      data[at + 1] = static_cast<uint8_t>(word >> 8);
    }
  }
  cursor = AdvanceCursor(cursor, static_cast<int64_t>(texels * 2));
}

void ConvertTexels(const Plane& plane, int32_t width, int32_t height, uint8_t pixelFormatCode) {
  if (!plane.Holds(width, height)) return;
  switch (pixelFormatCode) {
    case 0: ConvertRect(plane, width, height, Argb1555); break;
    case 1: ConvertRect(plane, width, height, Rgb565); break;
    case 2: ConvertRect(plane, width, height, Argb4444); break;
    case 4: ConvertRect(plane, width, height, Bump); break;
    default: ConvertRect(plane, width, height, [](uint32_t v) { return v; }); break;  // YUV and unnamed codes stay raw
  }
}

void DecodeRectangle16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t side) {
  DecodeRaster16(plane, data, cursor, side, side);
}

void DecodeRaster16(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t width,
                    int32_t height) {
  if (!plane.Holds(width, height)) return;
  const uint64_t start = static_cast<uint64_t>(std::max(cursor, 0));
  const uint64_t texels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  const bool whole = Fits(data, start, texels * 2);
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = plane.Row(y);
    const uint64_t first = start + static_cast<uint64_t>(y) * static_cast<uint64_t>(width) * 2;
    for (int32_t x = 0; x < width; ++x) {
      const uint64_t at = first + static_cast<uint64_t>(x) * 2;
      if (whole || Fits(data, at, 2)) row[x] = Le16(data, at);
    }
  }
  cursor = AdvanceCursor(cursor, static_cast<int64_t>(texels * 2));
}

void DecodeVq(const Plane& plane, std::span<const uint8_t> data, int32_t& cursor, int32_t side, int64_t indexSkip) {
  if (!plane.Holds(side, side)) return;
  const uint64_t start = static_cast<uint64_t>(std::max(cursor, 0));
  const std::array<uint16_t, 1024> codebook = ReadCodebook(data, start, kVqCodebookBytes);
  cursor = AdvanceCursor(cursor, kVqCodebookBytes);
  DecodeVqIndices(plane, data, start + kVqCodebookBytes + static_cast<uint64_t>(std::max<int64_t>(indexSkip, 0)),
                  side, codebook);
}

int64_t SmallVqCodebookBytes(int32_t side, bool mipmapped) {
  const int64_t half = std::max(side, 0) / 2;
  const int64_t bytes = half * half * (mipmapped ? 2 : 1);
  return std::max<int64_t>(bytes, 128);
}

void DecodeSmallVq(const Plane& plane, std::span<const uint8_t> data, int32_t side, int64_t indexSkip) {
  if (!plane.Holds(side, side)) return;
  const int64_t codebookBytes = SmallVqCodebookBytes(side, indexSkip != 0);
  if (codebookBytes > kVqCodebookBytes) return;
  const std::array<uint16_t, 1024> codebook = ReadCodebook(data, 0, codebookBytes);
  DecodeVqIndices(plane, data, static_cast<uint64_t>(codebookBytes + std::max<int64_t>(indexSkip, 0)), side,
                  codebook);
}

void DecodeClut4Twiddled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  DecodePaletteSquare(plane, side, palette, [data](uint32_t ty, uint32_t tx) -> int32_t {
    const uint32_t t = ty | (tx << 1);
    if (t / 2 >= data.size()) return -1;
    const uint8_t b = data[t / 2];
    return (t & 1) ? b >> 4 : b & 15;
  });
}

void DecodeClut8Twiddled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  DecodePaletteSquare(plane, side, palette, [data](uint32_t ty, uint32_t tx) -> int32_t {
    const uint32_t t = ty | (tx << 1);
    return t < data.size() ? data[t] : -1;
  });
}

void DecodeClut8Swizzled(const Plane& plane, std::span<const uint8_t> data, int32_t side, const Palette& palette) {
  DecodePaletteSquare(plane, side, palette, [data](uint32_t ty, uint32_t tx) -> int32_t {
    const uint32_t t = (ty << 1) | tx;
    return t < data.size() ? data[t] : -1;
  });
}

void DecodeTiled565(const Plane& plane, std::span<const uint8_t> data, int32_t side) {
  detail::DecodeTiles16(
      plane, data, side, 4, 4, [data](uint64_t at) { return Le16(data, at); }, Rgb565);
}

void DecodeTiled1555(const Plane& plane, std::span<const uint8_t> data, int32_t side) {
  detail::DecodeTiles16(
      plane, data, side, 4, 4, [data](uint64_t at) { return Le16(data, at); }, Argb1555);
}

}  // namespace quarrendel::texture
