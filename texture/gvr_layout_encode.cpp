// GameCube layouts, written the way the GVR decoders read them: tiles in
// raster order across the whole width, texels inside a tile row by row,
// words big-endian. RGB5A3 tiles are 4 x 4 texels (32 bytes), CI4 tiles
// 8 x 8 four-bit indices (texel 0 the high nibble), CI8 tiles 8 wide and 4
// tall, CMPR tiles 8 x 8 texels of four blocks (top-left, top-right,
// bottom-left, bottom-right). Mipmap chains store the full level first; each
// level takes whole tiles.
#include "texture/layout_encode_detail.h"
#include "texture/palette_quantize.h"

namespace quarrendel::texture::layout_detail {

namespace {

int32_t Tiles(int32_t side, int32_t tile) { return (side + tile - 1) / tile; }

void Rgb5a3Level(const RgbaView& level, ByteWriter& out) {
  for (int32_t ty = 0; ty < Tiles(level.height, 4); ++ty) {
    for (int32_t tx = 0; tx < Tiles(level.width, 4); ++tx) {
      for (int32_t r = 0; r < 4; ++r) {
        for (int32_t c = 0; c < 4; ++c) {
          out.U16Be(NearestTexel(ClampedPixel(level, 4 * tx + c, 4 * ty + r), TexelFormat::Rgb5a3));
        }
      }
    }
  }
}

void CmprLevel(const RgbaView& level, WorkerPool* pool, ByteWriter& out) {
  const int32_t tilesX = Tiles(level.width, 8);
  AppendRows(out, Tiles(level.height, 8), pool, [&](int32_t ty) {
    std::vector<uint8_t> row(static_cast<size_t>(tilesX) * 32);
    std::span<uint8_t> at(row);
    for (int32_t tx = 0; tx < tilesX; ++tx) {
      for (int32_t b = 0; b < 4; ++b) {
        EncodeS3tcBlock(S3tcKind::Cmpr, BlockAt(level, 8 * tx + 4 * (b & 1), 8 * ty + 4 * (b >> 1)),
                        at.subspan(static_cast<size_t>(4 * tx + b) * 8, 8));
      }
    }
    return row;
  });
}

// CI4 (tile 8 x 8, two indices a byte) or CI8 (tile 8 x 4, one a byte).
void CiTexture(const RgbaView& picture, bool ci4, WorkerPool* pool, EncodedLayout& out) {
  const PaletteResult palette = QuantizePalette(picture, TexelFormat::Rgb5a3, ci4 ? 16 : 256, pool);
  const int32_t tileH = ci4 ? 8 : 4;
  ByteWriter writer(out.data);
  for (int32_t ty = 0; ty < picture.height / tileH; ++ty) {
    for (int32_t tx = 0; tx < picture.width / 8; ++tx) {
      for (int32_t r = 0; r < tileH; ++r) {
        const size_t row = static_cast<size_t>(tileH * ty + r) * static_cast<size_t>(picture.width) +
                           static_cast<size_t>(8 * tx);
        for (size_t c = 0; c < 8; c += ci4 ? 2 : 1) {
          if (ci4) {
            writer.U8(static_cast<uint8_t>(palette.indices[row + c] << 4 | palette.indices[row + c + 1]));
          } else {
            writer.U8(palette.indices[row + c]);
          }
        }
      }
    }
  }
  out.levels = {LevelPlace{picture.width, picture.height, 0, static_cast<int64_t>(writer.Tell())}};
  out.paletteFile = PaletteFileBytes(PaletteKind::Gvp, palette.palette, 0);
  out.paletteExtension = PaletteExtension(PaletteKind::Gvp);
}

}  // namespace

void EncodeGvr(const RgbaView& picture, const LayoutChoice& choice, WorkerPool* pool, EncodedLayout& out) {
  if (choice.layout == Layout::GcCi4 || choice.layout == Layout::GcCi8) {
    CiTexture(picture, choice.layout == Layout::GcCi4, pool, out);
    return;
  }
  const LevelChain chain(picture, choice.mipmaps);
  ByteWriter writer(out.data);
  for (size_t k = 0; k < chain.Count(); ++k) {
    const size_t start = writer.Tell();
    if (choice.layout == Layout::GcRgb5a3) {
      Rgb5a3Level(chain[k], writer);
    } else {
      CmprLevel(chain[k], pool, writer);
    }
    out.levels.push_back(LevelPlace{chain[k].width, chain[k].height, static_cast<int64_t>(start),
                                    static_cast<int64_t>(writer.Tell() - start)});
  }
}

}  // namespace quarrendel::texture::layout_detail
