// Xbox layouts, written the way the XVR decoders read them: DXT1 and DXT3
// blocks in raster order, the full level first and each level in whole 4 x 4
// blocks; the 8-bit palette layout with its indices in the Xbox swizzle
// (position table[y] << 1 | table[x]: x takes the even bits) and its palette
// in a ".pvp" file.
#include "core/byte_io.h"
#include "texture/layout_encode_detail.h"
#include "texture/palette_quantize.h"
#include "texture/pvr_decode.h"

namespace quarrendel::texture::layout_detail {

namespace {

constexpr uint32_t kMipmapFlag = 1;
constexpr uint32_t kTransparencyFlag = 2;

int32_t Blocks(int32_t side) { return (side + 3) / 4; }

void S3tcLevel(const RgbaView& level, S3tcKind kind, WorkerPool* pool, ByteWriter& out) {
  const int32_t blocksX = Blocks(level.width);
  const size_t blockBytes = S3tcBlockBytes(kind);
  AppendRows(out, Blocks(level.height), pool, [&](int32_t by) {
    std::vector<uint8_t> row(static_cast<size_t>(blocksX) * blockBytes);
    std::span<uint8_t> at(row);
    for (int32_t bx = 0; bx < blocksX; ++bx) {
      EncodeS3tcBlock(kind, BlockAt(level, 4 * bx, 4 * by), at.subspan(static_cast<size_t>(bx) * blockBytes, blockBytes));
    }
    return row;
  });
}

// A DXT1 block decodes a pixel as transparent black when it is in
// three-colour mode (c0 <= c1) and a pixel takes index 3.
bool AnyTransparentDxt1Block(std::span<const uint8_t> blocks) {
  ByteReader reader(blocks);
  while (reader.Has(8)) {
    const uint16_t c0 = reader.U16Le();
    const uint16_t c1 = reader.U16Le();
    const uint32_t indices = reader.U32Le();
    if (c0 > c1) continue;
    for (int32_t k = 0; k < 16; ++k) {
      if (((indices >> (2 * k)) & 3) == 3) return true;
    }
  }
  return false;
}

void XboxClut(const RgbaView& picture, uint8_t pixelCode, WorkerPool* pool, EncodedLayout& out) {
  const PaletteResult palette = QuantizePalette(picture, PaletteTexelFormat(pixelCode), 256, pool);
  const auto& table = TwiddleTable();
  const int32_t side = picture.width;
  out.data.assign(static_cast<size_t>(side) * static_cast<size_t>(side), 0);
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      out.data[table[static_cast<size_t>(y)] << 1 | table[static_cast<size_t>(x)]] =
          palette.indices[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)];
    }
  }
  out.levels = {LevelPlace{side, side, 0, static_cast<int64_t>(out.data.size())}};
  out.paletteFile = PaletteFileBytes(PaletteKind::Pvp, palette.palette, pixelCode);
  out.paletteExtension = PaletteExtension(PaletteKind::Pvp);
}

}  // namespace

void EncodeXvr(const RgbaView& picture, const LayoutChoice& choice, WorkerPool* pool, EncodedLayout& out) {
  if (choice.layout == Layout::XboxClut8) {
    XboxClut(picture, choice.pixelCode, pool, out);
    return;
  }
  const S3tcKind kind = choice.layout == Layout::XboxDxt3 ? S3tcKind::Dxt3 : S3tcKind::Dxt1;
  const LevelChain chain(picture, choice.mipmaps);
  ByteWriter writer(out.data);
  for (size_t k = 0; k < chain.Count(); ++k) {
    const size_t start = writer.Tell();
    S3tcLevel(chain[k], kind, pool, writer);
    out.levels.push_back(LevelPlace{chain[k].width, chain[k].height, static_cast<int64_t>(start),
                                    static_cast<int64_t>(writer.Tell() - start)});
  }
  // The flags the Xbox marking gives the texture once it is decoded: the
  // chain flag, and transparency for any decoded alpha below 255 (every
  // DXT3 texture: its largest alpha, nibble 15, decodes to 240).
  out.format &= ~(kMipmapFlag | kTransparencyFlag);
  if (chain.Count() > 1) out.format |= kMipmapFlag;
  const auto top = std::span<const uint8_t>(out.data).first(static_cast<size_t>(out.levels[0].bytes));
  if (kind == S3tcKind::Dxt3 || AnyTransparentDxt1Block(top)) out.format |= kTransparencyFlag;
}

}  // namespace quarrendel::texture::layout_detail
