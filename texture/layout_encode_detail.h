// What the layout encoders of the three families share: the parsed format
// word, mipmap chains, texel words, and the one S3TC block routine every
// DXT1, DXT3 and CMPR block goes through.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/byte_io.h"
#include "core/worker_pool.h"
#include "texture/layout_encode.h"
#include "texture/s3tc_encode.h"
#include "texture/texel_format.h"

namespace quarrendel::texture::layout_detail {

enum class Layout : uint8_t {
  Twiddled,             // PVR 0x01
  TwiddledMipmap,       // PVR 0x02
  Vq,                   // PVR 0x03
  VqMipmap,             // PVR 0x04
  SmallVq,              // PVR 0x10
  SmallVqMipmap,        // PVR 0x11
  Clut4,                // PVR 0x05
  Clut8,                // PVR 0x07
  Rectangle,            // PVR 0x09
  Stride,               // PVR 0x0B
  TwiddledRectangle,    // PVR 0x0D
  TwiddledMipmapAlias,  // PVR 0x12
  GcRgb5a3,             // GVR 0x05
  GcCmpr,               // GVR 0x0E
  GcCi4,                // GVR 0x08
  GcCi8,                // GVR 0x09
  XboxDxt1,             // XVR 0x06
  XboxDxt3,             // XVR 0x07
  XboxClut8,            // XVR 0x05
};

struct LayoutChoice {
  Layout layout = Layout::Twiddled;
  uint8_t pixelCode = 0;  // PVR and Xbox texel layout (0 ARGB1555, 1 RGB565, 2 ARGB4444, 3 YUV422)
  bool mipmaps = false;
};

// The levels a texture stores, top first; level 0 is the caller's picture.
class LevelChain {
 public:
  LevelChain(const RgbaView& top, bool mipmaps);
  size_t Count() const { return views_.size(); }
  const RgbaView& operator[](size_t level) const { return views_[level]; }
  std::span<const RgbaView> Views() const { return views_; }

 private:
  std::vector<RgbaImage> generated_;
  std::vector<RgbaView> views_;
};

// The palette texel format of a PVR or Xbox pixel format code (0, 1, 2).
TexelFormat PaletteTexelFormat(uint8_t pixelCode);

// The level's texel words, row-major, as `pixelCode` stores them.
std::vector<uint16_t> TexelWords(const RgbaView& level, uint8_t pixelCode);

// Pixel (x, y) with coordinates beyond the picture moved back to its last
// column and row: the padding of levels smaller than their tile or block.
inline uint32_t ClampedPixel(const RgbaView& v, int32_t x, int32_t y) {
  x = x < v.width ? x : v.width - 1;
  y = y < v.height ? y : v.height - 1;
  return v.pixels[static_cast<size_t>(y) * static_cast<size_t>(v.width) + static_cast<size_t>(x)];
}

// The 4 x 4 block at (x0, y0), k = 4 * row + column, padded as ClampedPixel.
PixelBlock BlockAt(const RgbaView& v, int32_t x0, int32_t y0);

enum class S3tcKind { Dxt1, Dxt3, Cmpr };
inline constexpr size_t S3tcBlockBytes(S3tcKind kind) { return kind == S3tcKind::Dxt3 ? 16 : 8; }
// One block: DXT1 (8 bytes), DXT3 (16), or CMPR (the DXT1 block with its
// colours big-endian and each row's index pairs reversed), fitted for the
// consoles' bit-repeating decode (s3tc_fit.h).
void EncodeS3tcBlock(S3tcKind kind, const PixelBlock& block, std::span<uint8_t> out);

// Appends row(0), ..., row(rows - 1) (each a byte vector) to `out` in order;
// with a pool of several threads the rows are made on its workers.
template <class Row>
void AppendRows(ByteWriter& out, int32_t rows, WorkerPool* pool, Row row) {
  if (pool == nullptr || pool->Threads() <= 1 || rows < 2) {
    for (int32_t r = 0; r < rows; ++r) out.Bytes(row(r));
    return;
  }
  pool->OrderedMap(
      static_cast<size_t>(rows), 4 * static_cast<size_t>(pool->Threads()),
      [&](size_t r) { return row(static_cast<int32_t>(r)); },
      [&](size_t, std::vector<uint8_t> bytes) { out.Bytes(bytes); });
}

// The family encoders; `choice` and the picture's size are already checked.
void EncodePvr(const RgbaView& picture, const LayoutChoice& choice, WorkerPool* pool, EncodedLayout& out);
void EncodeGvr(const RgbaView& picture, const LayoutChoice& choice, WorkerPool* pool, EncodedLayout& out);
void EncodeXvr(const RgbaView& picture, const LayoutChoice& choice, WorkerPool* pool, EncodedLayout& out);

}  // namespace quarrendel::texture::layout_detail
