// PVR layouts (Dreamcast and PC ports), written the way the PVR decoders
// read them. Twiddled order: texel (x, y) of a power-of-two square at
// position table[y] | table[x] << 1 (y takes the even bits). VQ and small
// VQ: a codebook of 2 x 2 blocks, then one index byte per block, blocks in
// twiddled order. Palettised: indices in twiddled order (4-bit: position t
// in byte t / 2, the low nibble for even t), the palette in a ".pvp" file.
#include <algorithm>

#include "texture/layout_encode_detail.h"
#include "texture/palette_quantize.h"
#include "texture/pvr_decode.h"
#include "texture/vector_quantize.h"

namespace quarrendel::texture::layout_detail {

namespace {

// The side x side square at (x0, y0) of row-major `words` (rows `stride`
// long) in twiddled order.
std::vector<uint16_t> Twiddled(std::span<const uint16_t> words, int32_t stride, int32_t x0, int32_t y0, int32_t side) {
  const auto& table = TwiddleTable();
  std::vector<uint16_t> stored(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (int32_t y = 0; y < side; ++y) {
    const size_t row = static_cast<size_t>(y0 + y) * static_cast<size_t>(stride) + static_cast<size_t>(x0);
    const uint32_t ty = table[static_cast<size_t>(y)];
    for (int32_t x = 0; x < side; ++x) stored[ty | table[static_cast<size_t>(x)] << 1] = words[row + static_cast<size_t>(x)];
  }
  return stored;
}

LevelPlace PlaceOf(const RgbaView& level, size_t offset, size_t end) {
  return LevelPlace{level.width, level.height, static_cast<int64_t>(offset), static_cast<int64_t>(end - offset)};
}

// Square twiddled levels smallest first after `padding` zero texels; the
// places are recorded top first.
void TwiddledChain(const LevelChain& chain, uint8_t pixelCode, size_t padding, EncodedLayout& out) {
  ByteWriter writer(out.data);
  writer.Zeros(2 * padding);
  out.levels.resize(chain.Count());
  for (size_t k = chain.Count(); k-- > 0;) {
    const RgbaView& level = chain[k];
    const size_t start = writer.Tell();
    writer.U16LeWords(Twiddled(TexelWords(level, pixelCode), level.width, 0, 0, level.width));
    out.levels[k] = PlaceOf(level, start, writer.Tell());
  }
}

// Squares of the short side, one after another along the long side.
void TwiddledRectangle(const RgbaView& picture, uint8_t pixelCode, EncodedLayout& out) {
  const std::vector<uint16_t> words = TexelWords(picture, pixelCode);
  const int32_t side = std::min(picture.width, picture.height);
  const int32_t squares = std::max(picture.width, picture.height) / side;
  ByteWriter writer(out.data);
  for (int32_t k = 0; k < squares; ++k) {
    const bool across = picture.width > picture.height;
    writer.U16LeWords(Twiddled(words, picture.width, across ? k * side : 0, across ? 0 : k * side, side));
  }
  out.levels = {PlaceOf(picture, 0, writer.Tell())};
}

// Raster order: rows of W texels (rectangle and stride alike).
void Raster(const RgbaView& picture, uint8_t pixelCode, EncodedLayout& out) {
  ByteWriter writer(out.data);
  writer.U16LeWords(TexelWords(picture, pixelCode));
  out.levels = {PlaceOf(picture, 0, writer.Tell())};
}

// A codebook of `codes` entries shared by every level, then the levels'
// index bytes smallest first: the 1 x 1 level's one byte, then each level's
// (side / 2)^2 bytes in twiddled order.
void VqChain(const LevelChain& chain, uint8_t pixelCode, int32_t codes, WorkerPool* pool, EncodedLayout& out) {
  const VqResult vq = QuantizeVectors(chain.Views(), static_cast<PixelFormat>(pixelCode), codes, pool);
  ByteWriter writer(out.data);
  writer.U16LeWords(vq.codebook);
  const auto& table = TwiddleTable();
  out.levels.resize(chain.Count());
  for (size_t k = chain.Count(); k-- > 0;) {
    const RgbaView& level = chain[k];
    const std::vector<uint8_t>& indices = vq.indices[k];
    const size_t start = writer.Tell();
    if (level.width == 1) {
      writer.U8(indices[0]);
    } else {
      const int32_t blocks = level.width / 2;
      std::vector<uint8_t> stored(indices.size());
      for (int32_t by = 0; by < blocks; ++by) {
        for (int32_t bx = 0; bx < blocks; ++bx) {
          stored[table[static_cast<size_t>(by)] | table[static_cast<size_t>(bx)] << 1] =
              indices[static_cast<size_t>(by) * static_cast<size_t>(blocks) + static_cast<size_t>(bx)];
        }
      }
      writer.Bytes(stored);
    }
    out.levels[k] = PlaceOf(level, start, writer.Tell());
  }
}

// 4-bit (16 colours) or 8-bit (256) indices in twiddled order.
void Clut(const RgbaView& picture, uint8_t pixelCode, int32_t colours, WorkerPool* pool, EncodedLayout& out) {
  const PaletteResult palette = QuantizePalette(picture, PaletteTexelFormat(pixelCode), colours, pool);
  const auto& table = TwiddleTable();
  const int32_t side = picture.width;
  const size_t texels = static_cast<size_t>(side) * static_cast<size_t>(side);
  out.data.assign(colours == 16 ? texels / 2 : texels, 0);
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      const uint8_t index = palette.indices[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)];
      const uint32_t t = table[static_cast<size_t>(y)] | table[static_cast<size_t>(x)] << 1;
      if (colours == 16) {
        out.data[t / 2] |= static_cast<uint8_t>((t & 1) ? index << 4 : index);
      } else {
        out.data[t] = index;
      }
    }
  }
  out.levels = {PlaceOf(picture, 0, out.data.size())};
  out.paletteFile = PaletteFileBytes(PaletteKind::Pvp, palette.palette, pixelCode);
  out.paletteExtension = PaletteExtension(PaletteKind::Pvp);
}

}  // namespace

void EncodePvr(const RgbaView& picture, const LayoutChoice& choice, WorkerPool* pool, EncodedLayout& out) {
  const uint8_t p = choice.pixelCode;
  switch (choice.layout) {
    case Layout::Twiddled: TwiddledChain(LevelChain(picture, false), p, 0, out); break;
    // One texel of padding in front of the 1 x 1 level: the top level then
    // starts at 2 x TwiddledMipOffset(H), where the decoder reads it.
    case Layout::TwiddledMipmap: TwiddledChain(LevelChain(picture, true), p, 1, out); break;
    // The alias layout pads with three texels; its decoder reads the last W x H.
    case Layout::TwiddledMipmapAlias: TwiddledChain(LevelChain(picture, true), p, 3, out); break;
    case Layout::Vq:
    case Layout::VqMipmap:
      VqChain(LevelChain(picture, choice.mipmaps), p, static_cast<int32_t>(kVqCodebookBytes / 8), pool, out);
      break;
    case Layout::SmallVq:
    case Layout::SmallVqMipmap:
      VqChain(LevelChain(picture, choice.mipmaps), p,
              static_cast<int32_t>(SmallVqCodebookBytes(picture.width, choice.mipmaps) / 8), pool, out);
      break;
    case Layout::Clut4: Clut(picture, p, 16, pool, out); break;
    case Layout::Clut8: Clut(picture, p, 256, pool, out); break;
    case Layout::Rectangle:
    case Layout::Stride: Raster(picture, p, out); break;
    case Layout::TwiddledRectangle: TwiddledRectangle(picture, p, out); break;
    default: break;
  }
}

}  // namespace quarrendel::texture::layout_detail
