#include "texture/image_selection.h"

#include <algorithm>
#include <cstdio>

#include "core/mip_chain.h"
#include "texture/format_table.h"
#include "texture/gvr_decode.h"
#include "texture/palette.h"
#include "texture/pvr_decode.h"
#include "texture/pvr_rectangle_decode.h"
#include "texture/xvr_decode.h"

namespace quarrendel::texture {

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

namespace {

// A pictureWidth x pictureHeight picture (each clamped to the canvas side) in
// which canvas pixels with x < paintedWidth are blended over the checkerboard
// and the rest is bare checkerboard. With `withDecoded` the picture also
// carries the canvas pixels themselves (0 for columns not painted).
Picture Paint(const Canvas& canvas, int32_t pictureWidth, int32_t pictureHeight, int32_t paintedWidth,
              bool withDecoded = false);

// The width x height pixels `rows` (row by row) blended over the
// checkerboard, with the pixels themselves as the decoded ones.
Picture PaintRows(std::vector<uint32_t> rows, int32_t width, int32_t height) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(rows.size());
  size_t i = 0;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x, ++i) picture.pixels[i] = BlendOverBackground(rows[i], CheckerboardColour(x, y));
  }
  picture.decoded = std::move(rows);
  return picture;
}

int32_t MipOffset(int32_t side) { return static_cast<int32_t>(TwiddledMipOffset(side)); }

// Runs the decoder the dispatch chose on entry's data; the canvas region is
// already cleared and the decoded sides are at most the canvas side. A
// palette decoder records in `use` where its palette came from.
void Decode(ImageStore& store, const TImage_Entry& entry, DecoderKind kind, PaletteUse& use) {
  Canvas& canvas = store.canvas;
  const std::span<const uint8_t> data = entry.Bytes();
  const int32_t w = entry.Width;
  const int32_t h = entry.Height;
  auto palette = [&](PaletteKind paletteKind, int32_t entries) {
    use.fromFile = true;
    use.path = PaletteFilePath(store, entry, paletteKind);
    use.entries = entries;
    PaletteRead read = ReadPaletteFile(use.path, entries, paletteKind);
    use.found = read.fileFound;
    use.entriesRead = read.entriesRead;
    return read.palette;
  };
  int32_t& cursor = store.readCursor;
  switch (kind) {
    case DecoderKind::None: break;
    case DecoderKind::Twiddled: TransferTwiddled16(canvas, data, cursor, 0, 0, h); break;
    case DecoderKind::TwiddledMipmap:
      cursor = 2 * MipOffset(h);
      TransferTwiddled16(canvas, data, cursor, 0, 0, h);
      break;
    case DecoderKind::Tiled565: DecodeTiled565(canvas, data, h); break;
    case DecoderKind::Tiled1555: DecodeTiled1555(canvas, data, h); break;
    case DecoderKind::Vq: DecodeVq(canvas, data, cursor, h, 0); break;
    case DecoderKind::VqMipmap: DecodeVq(canvas, data, cursor, h, MipOffset(h / 2)); break;
    case DecoderKind::Clut4Twiddled:
      if (h <= kMaxPaletteSide) DecodeClut4Twiddled(canvas, data, h, palette(PaletteKind::Pvp, 16));
      break;
    case DecoderKind::Clut8Swizzled:
      if (h <= kMaxPaletteSide) DecodeClut8Swizzled(canvas, data, h, palette(PaletteKind::Pvp, 256));
      break;
    case DecoderKind::Rgb5a3Tiled: DecodeRgb5a3Tiled(canvas, data, h); break;
    case DecoderKind::Dxt1: DecodeDxt1(canvas, h, data); break;
    case DecoderKind::Dxt3: DecodeDxt3(canvas, h, data); break;
    case DecoderKind::Clut8Twiddled:
      if (h <= kMaxPaletteSide) DecodeClut8Twiddled(canvas, data, h, palette(PaletteKind::Pvp, 256));
      break;
    case DecoderKind::Ci4Tiled:
      if (h <= kMaxPaletteSide) DecodeCi4Tiled(canvas, data, h, palette(PaletteKind::Gvp, 16));
      break;
    case DecoderKind::Ci8Tiled:
      if (h <= kMaxPaletteSide) DecodeCi8Tiled(canvas, data, h, palette(PaletteKind::Gvp, 256));
      break;
    case DecoderKind::Rectangle: DecodeRectangle16(canvas, data, cursor, h); break;
    case DecoderKind::Cmpr:
      DecodeCmpr(store.scratch, h, data);
      ReorderCmprTiles(canvas, store.scratch, h);
      break;
    case DecoderKind::SmallVq: DecodeSmallVq(canvas, data, h, 0); break;
    case DecoderKind::SmallVqMipmap: DecodeSmallVq(canvas, data, h, MipOffset(h / 2)); break;
    case DecoderKind::Stride: DecodeRaster16(canvas, data, cursor, w, h); break;
    case DecoderKind::StrideYuv422: DecodeStrideYuv422(canvas, data, w, h); break;
    case DecoderKind::TwiddledRectangle: DecodeTwiddledRectangle16(canvas, data, cursor, w, h); break;
    case DecoderKind::TwiddledMipmapAlias:
      cursor = static_cast<int32_t>(AliasTopLevelOffset(w, h, entry.DataLength));
      DecodeTwiddledRectangle16(canvas, data, cursor, w, h);
      break;
  }
}

}  // namespace

std::optional<std::vector<uint32_t>> TrueSizeRows(const TImage_Entry& entry, bool pvrFamily) {
  const int32_t w = entry.Width;
  const int32_t h = entry.Height;
  if (w == h || w > Canvas::kSide || h > Canvas::kSide) return std::nullopt;
  if (ChooseDecoder(entry.Format, h, entry.DataLength, pvrFamily).decoder != DecoderKind::Rectangle) return std::nullopt;
  return DecodeRectangleRows(entry.Bytes(), w, h, PixelFormatCode(entry.Format));
}

Selection SelectImage(ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  Selection selection;
  std::vector<std::string>& memo = selection.memo;
  memo.emplace_back("Description :");
  memo.push_back("Size : " + std::to_string(entry.Width) + "x" + std::to_string(entry.Height));
  memo.push_back("Format : " + Hex8(entry.Format));
  memo.push_back("Data Length : " + std::to_string(entry.DataLength));
  memo.push_back("PSO ID : " + Hex8(entry.GlobalIndex));
  if (store.packageMode == 1) memo.push_back("In package : " + std::to_string(entry.PackageIndex));

  store.currentImage = index;
  const int32_t w = entry.Width;
  const int32_t h = entry.Height;
  // Every decoder writes the H x H square; clearing it whole (not only W
  // columns) keeps an earlier image out of a narrow or truncated one.
  store.canvas.Clear(std::max(w, h), h);
  store.readCursor = 0;

  const DecoderChoice choice = ChooseDecoder(entry.Format, h, entry.DataLength, store.pvrFamily != 0);
  if (choice.mipCount == MipCountKind::FourBit) {
    memo.push_back("Mipmaps count: " + std::to_string(LevelCount4(w, entry.DataLength)));
  } else if (choice.mipCount == MipCountKind::EightBit) {
    memo.push_back("Mipmaps count: " + std::to_string(LevelCount8(w, entry.DataLength)));
  }

  // Most layouts decode an H x H square; the rectangle layouts decode W x H.
  // A texture whose decoded region exceeds the canvas is not decoded: its
  // picture is the bare checkerboard.
  const int32_t decodedWidth = DecodesTrueSize(choice.decoder) ? w : h;
  if (h <= Canvas::kSide && decodedWidth <= Canvas::kSide) {
    // Texels that the data does not hold (or a decoder that cannot take the
    // side) leave their pixels cleared, not converted from word 0.
    if (choice.converted) FillNoTexel(store.canvas, decodedWidth, h);
    Decode(store, entry, choice.decoder, selection.palette);
    if (choice.converted) ConvertTexels(store.canvas, decodedWidth, h, PixelFormatCode(entry.Format));
  }
  std::optional<std::vector<uint32_t>> rows = TrueSizeRows(entry, store.pvrFamily != 0);
  selection.picture = rows ? PaintRows(std::move(*rows), w, h) : Paint(store.canvas, w, h, w, true);
  selection.description = choice.text;
  memo.push_back(choice.text);
  if (choice.decoder == DecoderKind::None) {
    selection.formatSupported = false;
    memo.emplace_back("Unsupported format");
  }
  return selection;
}

void SelectListedImage(ImageStore& store, FrontEnd& frontEnd) {
  const int32_t index = frontEnd.ListSelectedIndex();
  if (index < 0) return;
  // The list can hold more items than images (an AFS lists its "end" member
  // before the table stops); the entry behind such an item holds whatever an
  // earlier file left there, so nothing is decoded and the window shows no image.
  if (index >= store.imageCount) {
    frontEnd.SetMemo({"Description :"});
    frontEnd.ShowPicture(Picture{});
    frontEnd.ShowStatus(ImageStatus{});
    return;
  }
  Selection selection = SelectImage(store, index);
  frontEnd.SetMemo(selection.memo);
  frontEnd.ShowPicture(selection.picture);
  frontEnd.ShowStatus(StatusOf(store.images[static_cast<size_t>(index)], selection));
}

std::string PaletteNotice(const PaletteUse& use) {
  if (!use.fromFile || use.entriesRead >= use.entries) return {};
  if (use.path.empty()) return "No palette file for an image name that is not a file name: fallback palette";
  if (!use.found) return "Palette file not found: " + use.path + ": fallback palette";
  return "Palette file " + use.path + " holds " + std::to_string(use.entriesRead) + " of " +
         std::to_string(use.entries) + " colours: fallback palette for the rest";
}

ImageStatus StatusOf(const TImage_Entry& entry, const Selection& selection) {
  ImageStatus status;
  status.width = entry.Width;
  status.height = entry.Height;
  status.format = selection.description;
  if (!selection.formatSupported) {
    status.format = status.format.empty() ? "Unsupported format" : status.format + " - Unsupported format";
  }
  status.palette = PaletteNotice(selection.palette);
  status.paletteMissing = !status.palette.empty();
  if (selection.palette.fromFile && !status.paletteMissing) status.palette = "Palette file " + selection.palette.path;
  return status;
}

uint32_t CheckerboardColour(int32_t x, int32_t y) {
  uint32_t colour = 0xFFFFFF;
  if (x & 16) colour ^= 0x505050;
  if (y & 16) colour ^= 0x505050;
  return colour;
}

uint32_t BlendOverBackground(uint32_t v, uint32_t bg) {
  const uint32_t a = v >> 24;
  if (a == 0) return bg;
  if (a == 255) return v & 0xFFFFFF;
  const int32_t keep = 255 - static_cast<int32_t>(a);
  uint32_t out = 0;
  for (int32_t shift = 0; shift < 24; shift += 8) {
    const int32_t vc = static_cast<int32_t>((v >> shift) & 0xFF);
    const int32_t bc = static_cast<int32_t>((bg >> shift) & 0xFF);
    out |= static_cast<uint32_t>(vc + (bc - vc) * keep / 256) << shift;
  }
  return out;
}

namespace {

Picture Paint(const Canvas& canvas, int32_t pictureWidth, int32_t pictureHeight, int32_t paintedWidth,
              bool withDecoded) {
  Picture picture;
  const int32_t width = std::clamp(pictureWidth, 0, Canvas::kSide);
  const int32_t height = std::clamp(pictureHeight, 0, Canvas::kSide);
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  if (withDecoded) picture.decoded.resize(picture.pixels.size());
  const int32_t painted = std::clamp(paintedWidth, 0, width);
  const auto stride = static_cast<size_t>(width);
  // Column-major canvas into a row-major picture through a 16 x 16 tile held
  // locally: canvas columns lie 2049 pixels apart, so walking many of them
  // side by side would keep evicting each other from the cache.
  constexpr int32_t kTile = 16;
  // The decoded pixels go straight to their rows: a tile touches 16 lines of them.
  uint32_t tile[kTile][kTile];
  uint32_t* decoded = withDecoded ? picture.decoded.data() : nullptr;
  for (int32_t x0 = 0; x0 < width; x0 += kTile) {
    const int32_t x1 = std::min(width, x0 + kTile);
    for (int32_t y0 = 0; y0 < height; y0 += kTile) {
      const int32_t y1 = std::min(height, y0 + kTile);
      for (int32_t x = x0; x < x1; ++x) {
        const uint32_t* column = canvas.Column(x);
        for (int32_t y = y0; y < y1; ++y) {
          const uint32_t bg = CheckerboardColour(x, y);
          tile[y - y0][x - x0] = x < painted ? BlendOverBackground(column[y], bg) : bg;
          if (decoded != nullptr) decoded[static_cast<size_t>(y) * stride + static_cast<size_t>(x)] = x < painted ? column[y] : 0;
        }
      }
      for (int32_t y = y0; y < y1; ++y) {
        std::copy(tile[y - y0], tile[y - y0] + (x1 - x0), picture.pixels.data() + static_cast<size_t>(y) * stride + x0);
      }
    }
  }
  return picture;
}

}  // namespace

Picture PaintOverCheckerboard(const Canvas& canvas, int32_t width, int32_t height) {
  return Paint(canvas, width, height, width);
}

Picture PaintSquareOverCheckerboard(const Canvas& canvas, int32_t width, int32_t height) {
  return Paint(canvas, height, height, width);
}

}  // namespace quarrendel::texture
