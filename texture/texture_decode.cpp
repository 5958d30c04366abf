#include "texture/texture_decode.h"

#include <algorithm>

#include "core/capacity.h"
#include "core/mip_chain.h"
#include "texture/gvr_decode.h"
#include "texture/pvr_decode.h"
#include "texture/pvr_rectangle_decode.h"
#include "texture/xvr_decode.h"

namespace quarrendel::texture {

namespace {

int32_t MipOffset(int32_t side) { return static_cast<int32_t>(TwiddledMipOffset(side)); }

// Runs the decoder the dispatch chose on `t`'s data into `plane`, whose
// region is already cleared. A palette decoder records in `use` where its
// palette came from.
void Decode(const Plane& plane, const TextureBytes& t, const PaletteSource& source, DecoderKind kind,
            int32_t& cursor, PaletteUse& use) {
  const std::span<const uint8_t> data = t.data;
  const int32_t w = t.width;
  const int32_t h = t.height;
  auto palette = [&](PaletteKind paletteKind, int32_t entries) {
    if (source.words) return *source.words;
    use.fromFile = true;
    use.path = PaletteFilePath(source.loadDirectory, source.name, paletteKind);
    use.entries = entries;
    PaletteRead read = ReadPaletteFile(use.path, entries, paletteKind);
    use.found = read.fileFound;
    use.entriesRead = read.entriesRead;
    return read.palette;
  };
  // Palette decoders take sides up to kMaxPaletteSide only.
  auto paletted = [&](auto decode, PaletteKind paletteKind, int32_t entries) {
    if (h <= kMaxPaletteSide) decode(plane, data, h, palette(paletteKind, entries));
  };
  switch (kind) {
    case DecoderKind::None: break;
    case DecoderKind::Twiddled: TransferTwiddled16(plane, data, cursor, 0, 0, h); break;
    case DecoderKind::TwiddledMipmap:
      cursor = 2 * MipOffset(h);
      TransferTwiddled16(plane, data, cursor, 0, 0, h);
      break;
    case DecoderKind::Tiled565: DecodeTiled565(plane, data, h); break;
    case DecoderKind::Tiled1555: DecodeTiled1555(plane, data, h); break;
    case DecoderKind::Vq: DecodeVq(plane, data, cursor, h, 0); break;
    case DecoderKind::VqMipmap: DecodeVq(plane, data, cursor, h, MipOffset(h / 2)); break;
    case DecoderKind::Clut4Twiddled: paletted(DecodeClut4Twiddled, PaletteKind::Pvp, 16); break;
    case DecoderKind::Clut8Swizzled: paletted(DecodeClut8Swizzled, PaletteKind::Pvp, 256); break;
    case DecoderKind::Rgb5a3Tiled: DecodeRgb5a3Tiled(plane, data, h); break;
    case DecoderKind::Dxt1: DecodeDxt1(plane, h, data); break;
    case DecoderKind::Dxt3: DecodeDxt3(plane, h, data); break;
    case DecoderKind::Clut8Twiddled: paletted(DecodeClut8Twiddled, PaletteKind::Pvp, 256); break;
    case DecoderKind::Ci4Tiled: paletted(DecodeCi4Tiled, PaletteKind::Gvp, 16); break;
    case DecoderKind::Ci8Tiled: paletted(DecodeCi8Tiled, PaletteKind::Gvp, 256); break;
    case DecoderKind::Rectangle: DecodeRectangle16(plane, data, cursor, h); break;
    case DecoderKind::Cmpr: DecodeCmpr(plane, h, data); break;
    case DecoderKind::SmallVq: DecodeSmallVq(plane, data, h, 0); break;
    case DecoderKind::SmallVqMipmap: DecodeSmallVq(plane, data, h, MipOffset(h / 2)); break;
    case DecoderKind::Stride: DecodeRaster16(plane, data, cursor, w, h); break;
    case DecoderKind::StrideYuv422: DecodeStrideYuv422(plane, data, w, h); break;
    case DecoderKind::TwiddledRectangle: DecodeTwiddledRectangle16(plane, data, cursor, w, h); break;
    case DecoderKind::TwiddledMipmapAlias:
      cursor = static_cast<int32_t>(AliasTopLevelOffset(w, h, static_cast<int64_t>(data.size())));
      DecodeTwiddledRectangle16(plane, data, cursor, w, h);
      break;
  }
}

// Whether the decoder writes every texel of the regionWidth x h region, so
// that none needs the no-texel marker first: raster data holding all its
// words (the rectangle decoder reads an H x H square, the stride one W x H).
bool WritesWholeRegion(DecoderKind kind, int32_t regionWidth, int32_t w, int32_t h, size_t bytes) {
  const int32_t rowTexels = kind == DecoderKind::Rectangle ? h : kind == DecoderKind::Stride ? w : -1;
  return rowTexels == regionWidth && 2 * static_cast<uint64_t>(rowTexels) * static_cast<uint64_t>(h) <= bytes;
}

}  // namespace

RgbaRect DecodedTexture::Square() const {
  return {area.pixels.data(), area.height, area.height, area.width};
}

RgbaRect DecodedTexture::TrueSize() const {
  if (!rectangleRows.empty()) return {rectangleRows.data(), width, height, width};
  return {area.pixels.data(), std::min(width, area.width), area.height, area.width};
}

DecodedTexture DecodeTexture(const TextureBytes& t, const PaletteSource& palette, std::vector<uint32_t> reuse) {
  DecodedTexture d;
  const int32_t w = std::max(t.width, 0);
  const int32_t h = std::max(t.height, 0);
  const auto length = static_cast<int32_t>(t.data.size());
  d.width = w;
  d.height = h;
  d.choice = ChooseDecoder(t.format, h, length, t.pvrFamily);
  if (d.choice.mipCount == MipCountKind::FourBit) d.mipmapCount = LevelCount4(w, length);
  if (d.choice.mipCount == MipCountKind::EightBit) d.mipmapCount = LevelCount8(w, length);
  d.depths = DecodedTexelDepths(d.choice, t.format);

  d.area.width = std::min(std::max(w, h), kCanvasSide);
  d.area.height = std::min(h, kCanvasSide);
  const size_t count = static_cast<size_t>(d.area.width) * static_cast<size_t>(d.area.height);
  const int32_t regionWidth = DecodesTrueSize(d.choice.decoder) ? w : h;
  const bool decodes = h <= kCanvasSide && regionWidth <= kCanvasSide;
  if (decodes && d.choice.converted) {
    // The region is filled with kNoTexel below: only the pixels beside it are cleared here.
    reuse.resize(count);
    for (int32_t y = 0; y < h && regionWidth < d.area.width; ++y) {
      std::fill(reuse.begin() + static_cast<ptrdiff_t>(y) * d.area.width + regionWidth,
                reuse.begin() + static_cast<ptrdiff_t>(y + 1) * d.area.width, 0u);
    }
  } else {
    reuse.assign(count, 0);
  }
  d.area.pixels = std::move(reuse);
  if (!decodes) return d;
  d.regionWidth = regionWidth;
  const Plane plane(d.area);
  const uint8_t code = PixelFormatCode(t.format);
  // Texels that the data does not hold (or a decoder that cannot take the
  // side) leave their pixels cleared, not converted from word 0.
  if (d.choice.converted && !WritesWholeRegion(d.choice.decoder, regionWidth, w, h, t.data.size())) {
    FillNoTexel(plane, regionWidth, h);
  }
  Decode(plane, t, palette, d.choice.decoder, d.cursor, d.palette);
  if (d.choice.converted) ConvertTexels(plane, regionWidth, h, code);
  if (d.choice.decoder == DecoderKind::Rectangle && w != h && w <= kCanvasSide) {
    d.rectangleRows.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    const Plane rows(d.rectangleRows, w, h);
    int32_t cursor = 0;
    FillNoTexel(rows, w, h);
    DecodeRaster16(rows, t.data, cursor, w, h);
    ConvertTexels(rows, w, h, code);
  }
  return d;
}

DecodedTexture DecodeEntry(const ImageStore& store, int32_t index, std::vector<uint32_t> reuse) {
  const TImage_Entry& entry = store.Entry(index);
  const TextureBytes t{entry.Format, entry.Width, entry.Height, entry.Bytes(), store.pvrFamily != 0};
  return DecodeTexture(t, PaletteSource{std::nullopt, store.loadDirectory, entry.Name}, std::move(reuse));
}

void CopyIntoCanvas(const RgbaRect& rect, Canvas& canvas) {
  // Rows in, columns out, in 8 x 8 tiles: each tile reads 8 pieces of rows
  // and writes 8 pieces of columns of 32 bytes, so neither side leaves the
  // cache before it is used up.
  constexpr int32_t kTile = 8;
  const ptrdiff_t stride = rect.stride;
  const auto copy = [&](int32_t x0, int32_t y0, int32_t columns, int32_t rows) {
    const uint32_t* from = rect.first + static_cast<ptrdiff_t>(y0) * stride + x0;
    for (int32_t x = 0; x < columns; ++x) {
      uint32_t* column = canvas.Column(x0 + x) + y0;
      for (int32_t y = 0; y < rows; ++y) column[y] = from[y * stride + x];
    }
  };
  const int32_t fullWidth = rect.width - rect.width % kTile;
  const int32_t fullHeight = rect.height - rect.height % kTile;
  for (int32_t y0 = 0; y0 < fullHeight; y0 += kTile) {
    for (int32_t x0 = 0; x0 < fullWidth; x0 += kTile) {
      const uint32_t* from = rect.first + static_cast<ptrdiff_t>(y0) * stride + x0;
      uint32_t* to = canvas.Column(x0) + y0;
      for (int32_t x = 0; x < kTile; ++x) {
        for (int32_t y = 0; y < kTile; ++y) to[x * ptrdiff_t{Canvas::kSide} + y] = from[y * stride + x];
      }
    }
    copy(fullWidth, y0, rect.width - fullWidth, kTile);
  }
  copy(0, fullHeight, rect.width, rect.height - fullHeight);
}

}  // namespace quarrendel::texture
