#include "texture/texture_encode.h"

#include <algorithm>
#include <bit>
#include <string>

#include "core/error.h"
#include "core/mip_chain.h"
#include "texture/cmpr_order.h"
#include "texture/format_choice.h"
#include "texture/format_table.h"
#include "texture/pvr_decode.h"
#include "texture/s3tc_encode.h"

namespace quarrendel::texture {

namespace {

// Calls `visit` (pixel) for every pixel of the side x side square until it
// returns true; returns whether one did.
template <typename Visit>
bool AnyPixel(const Canvas& canvas, int32_t side, Visit visit) {
  side = std::clamp(side, 0, Canvas::kSide);
  for (int32_t x = 0; x < side; ++x) {
    const uint32_t* column = canvas.Column(x);
    if (std::any_of(column, column + side, visit)) return true;
  }
  return false;
}

uint16_t Rgb5a3(uint32_t pixel) {
  const uint32_t r = pixel & 0xFF, g = (pixel >> 8) & 0xFF, b = (pixel >> 16) & 0xFF, a = pixel >> 24;
  if (a >= 240) return static_cast<uint16_t>(0x8000 | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
  return static_cast<uint16_t>(((a >> 5) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4));
}

bool IsGraded(uint32_t p) {
  const uint32_t top = p >> 28;
  return top != 0 && top != 15;
}

// `pixel` (x, y) of a side x side picture as 4 x 4 tiles of RGB5A3 words.
template <typename Pixel>
void PackTiles(int32_t side, int32_t maxSide, std::span<uint8_t> out, Pixel pixel) {
  if (side < 0 || side > maxSide) {
    throw Error(ErrorKind::Usage, "cannot pack a " + std::to_string(side) + " pixel side into RGB5A3 tiles");
  }
  const int32_t tiles = side / 4;
  const int64_t need = int64_t{tiles} * tiles * 32;
  if (static_cast<int64_t>(out.size()) < need) {
    throw Error(ErrorKind::Usage, "RGB5A3 output of " + std::to_string(out.size()) + " bytes is shorter than the " +
                                      std::to_string(need) + " the tiles need");
  }
  size_t at = 0;
  for (int32_t ty = 0; ty < tiles; ++ty) {
    for (int32_t tx = 0; tx < tiles; ++tx) {
      for (int32_t r = 0; r < 4; ++r) {
        for (int32_t c = 0; c < 4; ++c) {
          const uint16_t word = Rgb5a3(pixel(4 * tx + c, 4 * ty + r));
          out[at++] = static_cast<uint8_t>(word >> 8);
          out[at++] = static_cast<uint8_t>(word & 0xFF);
        }
      }
    }
  }
}

}  // namespace

void RequireEncodableSide(int32_t side, TargetFamily family) {
  const std::string pixels = std::to_string(side) + " x " + std::to_string(side);
  if (side > Canvas::kSide) {
    throw Error(ErrorKind::OverCapacity, "A " + pixels + " picture does not fit the canvas.");
  }
  if (side <= 0 || !std::has_single_bit(static_cast<uint32_t>(side))) {
    throw Error(ErrorKind::Unsupported,
                "Textures are encoded with a side that is a power of two; this picture is " + pixels + ".");
  }
  if (family != TargetFamily::DcPc && side < 4) {
    throw Error(ErrorKind::Unsupported, std::string(TargetFamilyName(family)) +
                                            " textures are made of 4 x 4 tiles or blocks; this picture is only " +
                                            pixels + ".");
  }
}

void MakeBlackTransparent(Canvas& canvas, int32_t side) {
  side = std::clamp(side, 0, Canvas::kSide);
  for (int32_t x = 0; x < side; ++x) {
    uint32_t* column = canvas.Column(x);
    std::replace_if(column, column + side, [](uint32_t p) { return (p & 0xFFFFFF) == 0; }, 0u);
  }
}

bool HasGradedAlpha(const Canvas& canvas, int32_t side) { return AnyPixel(canvas, side, IsGraded); }

bool HasGradedAlpha(const RgbaView& picture) {
  return std::any_of(picture.pixels.begin(), picture.pixels.end(), IsGraded);
}

bool HasTransparency(const Canvas& canvas, int32_t side) {
  return AnyPixel(canvas, side, [](uint32_t p) { return (p >> 24) != 255; });
}

void PackRgb5a3Tiles(const Canvas& canvas, int32_t side, std::span<uint8_t> out) {
  PackTiles(side, Canvas::kSide, out, [&canvas](int32_t x, int32_t y) { return canvas(x, y); });
}

void PackRgb5a3Tiles(const RgbaView& square, std::span<uint8_t> out) {
  if (square.width != square.height) {
    throw Error(ErrorKind::Usage, "cannot pack a " + std::to_string(square.width) + " x " +
                                      std::to_string(square.height) + " picture into square RGB5A3 tiles");
  }
  PackTiles(square.width, square.width, out,
            [&square](int32_t x, int32_t y) { return square.pixels[static_cast<size_t>(y) * square.width + x]; });
}

EncodedTexture EncodeCanvas(const Canvas& canvas, int32_t side, TargetFamily family, TwiddledTexels texels) {
  RequireEncodableSide(side, family);
  EncodedTexture t;
  const auto texelBytes = static_cast<size_t>(side) * static_cast<size_t>(side) * 2;
  if (family == TargetFamily::DcPc) {
    const bool argb4444 = texels == TwiddledTexels::Argb4444;
    t.format = argb4444 ? kFormatArgb4444Twiddled : kFormatArgb1555Twiddled;
    t.data.resize(texelBytes);
    int32_t cursor = 0;
    TransferTwiddled16(canvas, t.data, cursor, 0, 0, side, PixelFormatCode(t.format));
    return t;
  }
  const bool graded = HasGradedAlpha(canvas, side);
  if (family == TargetFamily::Gc) {
    if (graded) {
      t.format = kFormatGcRgb5a3;
      t.data.resize(texelBytes);
      PackRgb5a3Tiles(canvas, side, t.data);
    } else {
      t.format = kFormatGcCmpr;
      t.data.resize(static_cast<size_t>(Dxt1Bytes(side)));
      EncodeDxt1(canvas, side, t.data);
      Dxt1ToCmpr(side, t.data);
    }
    return t;
  }
  if (graded) {
    t.format = kFormatDxt3;
    t.data.resize(static_cast<size_t>(Dxt3Bytes(side)));
    EncodeDxt3(canvas, side, t.data);
  } else {
    t.format = kFormatDxt1;
    t.data.resize(static_cast<size_t>(Dxt1Bytes(side)));
    EncodeDxt1(canvas, side, t.data);
  }
  return t;
}

void EncodeCanvasIntoEntry(ImageStore& store, int32_t index, int32_t side, TargetFamily family,
                           TwiddledTexels texels) {
  TImage_Entry& entry = store.Entry(index);
  const EncodedTexture t = EncodeCanvas(store.canvas, side, family, texels);
  store.FillEntryData(entry, t.data);
  entry.Width = static_cast<uint16_t>(side);
  entry.Height = static_cast<uint16_t>(side);
  entry.Format = t.format;
  store.currentImage = index;
  store.readCursor = family == TargetFamily::DcPc ? static_cast<int32_t>(t.data.size()) : 0;
}

void ApplyXboxMarking(ImageStore& store, int32_t index) {
  TImage_Entry& entry = store.Entry(index);
  const uint8_t dataFormat = DataFormatCode(entry.Format);
  int32_t levels = 0;
  if (dataFormat == static_cast<uint8_t>(DataFormat::Dxt1)) {
    levels = LevelCount4(entry.Width, entry.DataLength);
  } else if (dataFormat == static_cast<uint8_t>(DataFormat::Dxt3OrClut8)) {
    levels = LevelCount8(entry.Width, entry.DataLength);
  } else {
    return;
  }
  if (HasTransparency(store.canvas, entry.Height)) entry.Format |= 2;
  if (levels > 1) entry.Format |= 1;
}

}  // namespace quarrendel::texture
