#include "texture/layout_encode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

#include "core/error.h"
#include "texture/cmpr_order.h"
#include "texture/format_choice.h"
#include "texture/format_table.h"
#include "texture/image_selection.h"
#include "texture/layout_encode_detail.h"
#include "texture/mipmap_generate.h"
#include "texture/s3tc_fit.h"

namespace quarrendel::texture {

using layout_detail::Layout;
using layout_detail::LayoutChoice;

namespace {

constexpr int32_t kMaxSide = 2048;         // the largest side the canvas decodes
constexpr int32_t kMaxPaletteSide = 1024;  // palette decoders index by a 1024-entry table
constexpr int32_t kMaxSmallVqSide = 64;    // larger small-VQ codebooks pass the 2048-byte buffer
constexpr int32_t kStrideStep = 32;

// The sides a layout takes. Sides are powers of two, except stride textures,
// whose width is a multiple of 32 and whose height is any.
struct SizeRule {
  int32_t minWidth = 1;
  int32_t minHeight = 1;
  int32_t maxSide = kMaxSide;
  bool square = false;
  bool stride = false;
  bool widthAtLeastHeight = false;
};

SizeRule RuleOf(Layout layout) {
  switch (layout) {
    case Layout::Twiddled:
    case Layout::TwiddledMipmap:
    case Layout::TwiddledMipmapAlias: return {1, 1, kMaxSide, true};
    case Layout::Vq:
    case Layout::VqMipmap: return {2, 2, kMaxSide, true};
    case Layout::SmallVq:
    case Layout::SmallVqMipmap: return {2, 2, kMaxSmallVqSide, true};
    // One texel would take a whole byte of 4-bit indices: the length would
    // no longer tell it from the 8-bit layouts.
    case Layout::Clut4: return {2, 2, kMaxPaletteSide, true};
    case Layout::Clut8:
    case Layout::XboxClut8: return {1, 1, kMaxPaletteSide, true};
    case Layout::Rectangle:
    case Layout::TwiddledRectangle: return {1, 1, kMaxSide};
    case Layout::Stride: return {kStrideStep, 1, kMaxSide, false, true};
    // Data format 5 is told from the palette layouts by a length of at least
    // 2 H H bytes, which W x H RGB5A3 texels reach only when W >= H.
    case Layout::GcRgb5a3: return {4, 4, kMaxSide, false, false, true};
    case Layout::GcCmpr: return {8, 8, kMaxSide};
    case Layout::GcCi4: return {8, 8, kMaxPaletteSide};
    case Layout::GcCi8: return {8, 4, kMaxPaletteSide};
    case Layout::XboxDxt1:
    case Layout::XboxDxt3: return {4, 4, kMaxSide};
  }
  return {};
}

bool Fits(const SizeRule& rule, int32_t w, int32_t h) {
  if (w < rule.minWidth || h < rule.minHeight || w > rule.maxSide || h > rule.maxSide) return false;
  if (rule.stride) return w % kStrideStep == 0;
  if (!std::has_single_bit(static_cast<uint32_t>(w)) || !std::has_single_bit(static_cast<uint32_t>(h))) return false;
  if (rule.square && w != h) return false;
  return !rule.widthAtLeastHeight || w >= h;
}

std::string SizesText(const SizeRule& rule) {
  const std::string max = std::to_string(rule.maxSide);
  if (rule.stride) {
    return "widths that are multiples of " + std::to_string(kStrideStep) + " up to " + max + " and heights from 1 to " + max;
  }
  if (rule.square) {
    return "square sides that are powers of two from " + std::to_string(rule.minWidth) + " to " + max;
  }
  if (rule.minWidth == rule.minHeight) {
    return "sides that are powers of two from " + std::to_string(rule.minWidth) + " to " + max +
           (rule.widthAtLeastHeight ? ", the width at least the height" : "");
  }
  return "sides that are powers of two up to " + max + ", widths from " + std::to_string(rule.minWidth) +
         " and heights from " + std::to_string(rule.minHeight);
}

std::optional<LayoutChoice> ParsePvr(uint32_t format) {
  const uint8_t p = PixelByte(format);
  if ((format >> 16) != 0 || p > 3) return std::nullopt;
  auto choice = [p](Layout layout, bool mipmaps = false) { return LayoutChoice{layout, p, mipmaps}; };
  switch (DataFormatCode(format)) {
    case 0x01: return choice(Layout::Twiddled);
    case 0x02: return choice(Layout::TwiddledMipmap, true);
    case 0x03: return choice(Layout::Vq);
    case 0x04: return choice(Layout::VqMipmap, true);
    case 0x05:
      if (p == 3) break;  // a palette holds single texels, YUV422 pairs
      return choice(Layout::Clut4);
    case 0x07:
      if (p == 3) break;
      return choice(Layout::Clut8);
    case 0x09: return choice(Layout::Rectangle);
    case 0x0B: return choice(Layout::Stride);
    case 0x0D: return choice(Layout::TwiddledRectangle);
    case 0x10: return choice(Layout::SmallVq);
    case 0x11: return choice(Layout::SmallVqMipmap, true);
    case 0x12: return choice(Layout::TwiddledMipmapAlias, true);
    default: break;
  }
  return std::nullopt;
}

std::optional<LayoutChoice> ParseGvr(uint32_t format) {
  switch (format) {
    case 0x0508: return LayoutChoice{Layout::GcRgb5a3, 0, false};
    case 0x0509: return LayoutChoice{Layout::GcRgb5a3, 0, true};
    case 0x0E00: return LayoutChoice{Layout::GcCmpr, 0, false};
    case 0x0E01: return LayoutChoice{Layout::GcCmpr, 0, true};
    case 0x080A: return LayoutChoice{Layout::GcCi4, 0, false};
    case 0x090A: return LayoutChoice{Layout::GcCi8, 0, false};
    default: return std::nullopt;
  }
}

std::optional<LayoutChoice> ParseXvr(uint32_t format) {
  const uint8_t flags = PixelByte(format);
  if ((format >> 16) != 0) return std::nullopt;
  switch (DataFormatCode(format)) {
    case 0x06:
      if (flags > 3) break;
      return LayoutChoice{Layout::XboxDxt1, 0, (flags & 1) != 0};
    case 0x07:
      if (flags > 3) break;
      return LayoutChoice{Layout::XboxDxt3, 0, (flags & 1) != 0};
    case 0x05:
      if (flags > 2) break;
      return LayoutChoice{Layout::XboxClut8, flags, false};
    default: break;
  }
  return std::nullopt;
}

std::optional<LayoutChoice> Parse(TargetFamily family, uint32_t format) {
  switch (family) {
    case TargetFamily::DcPc: return ParsePvr(format);
    case TargetFamily::Gc: return ParseGvr(format);
    case TargetFamily::XboxBb: return ParseXvr(format);
  }
  return std::nullopt;
}

bool IsLossless(Layout layout) {
  switch (layout) {
    case Layout::Vq:
    case Layout::VqMipmap:
    case Layout::SmallVq:
    case Layout::SmallVqMipmap:
    case Layout::GcCmpr:
    case Layout::XboxDxt1:
    case Layout::XboxDxt3: return false;
    default: return true;
  }
}

// The description image selection gives a texture of this layout. The
// dispatch looks at the data length only for data formats 2, 3 and 5; the
// length given is one that the layout's own data has at side 64.
std::string DescriptionOf(TargetFamily family, uint32_t format, Layout layout) {
  constexpr int32_t kSide = 64;
  constexpr int32_t kTexels = kSide * kSide;
  int32_t length = 2 * kTexels + 2;  // data formats 2 and 3: not the 4 x 4 tiled length
  if (layout == Layout::Clut4) length = kTexels / 2;
  if (layout == Layout::XboxClut8) length = kTexels;
  if (layout == Layout::GcRgb5a3) length = 2 * kTexels;
  return ChooseDecoder(format, kSide, length, family == TargetFamily::DcPc).text;
}

std::vector<EncodableLayout> MakeTable(TargetFamily family) {
  std::vector<uint32_t> words;
  if (family == TargetFamily::DcPc) {
    for (const uint32_t data : {0x01u, 0x02u, 0x03u, 0x04u, 0x10u, 0x11u, 0x05u, 0x07u, 0x09u, 0x0Bu, 0x0Du, 0x12u}) {
      for (uint32_t p = 0; p < 4; ++p) {
        if (ParsePvr(data << 8 | p)) words.push_back(data << 8 | p);
      }
    }
  } else if (family == TargetFamily::Gc) {
    words = {0x0508, 0x0509, 0x0E00, 0x0E01, 0x080A, 0x090A};
  } else {
    words = {0x0600, 0x0601, 0x0700, 0x0701, 0x0500, 0x0501, 0x0502};
  }
  std::vector<EncodableLayout> table;
  for (const uint32_t format : words) {
    const LayoutChoice choice = *Parse(family, format);
    table.push_back(EncodableLayout{format, DescriptionOf(family, format, choice.layout), choice.mipmaps,
                                    IsLossless(choice.layout), SizesText(RuleOf(choice.layout))});
  }
  return table;
}

// NearestTexel of ARGB1555, RGB565 and ARGB4444 picks each channel's level
// on its own (and gives black with alpha 0 the word 0), so a pixel's word is
// the OR of one table entry per channel: entry v of channel c is the word of
// the pixel whose channel c is v and whose other channels are 0.
class SeparableTexels {
 public:
  explicit SeparableTexels(TexelFormat format) {
    for (uint32_t c = 0; c < 4; ++c) {
      for (uint32_t v = 0; v < 256; ++v) fields_[c][v] = NearestTexel(v << (8 * c), format);
    }
  }
  uint16_t operator()(uint32_t p) const {
    return fields_[0][p & 0xFF] | fields_[1][(p >> 8) & 0xFF] | fields_[2][(p >> 16) & 0xFF] | fields_[3][p >> 24];
  }

 private:
  std::array<std::array<uint16_t, 256>, 4> fields_{};
};

const SeparableTexels& TexelsOf(TexelFormat format) {
  static const SeparableTexels kArgb1555(TexelFormat::Argb1555);
  static const SeparableTexels kRgb565(TexelFormat::Rgb565);
  static const SeparableTexels kArgb4444(TexelFormat::Argb4444);
  return format == TexelFormat::Rgb565 ? kRgb565 : format == TexelFormat::Argb4444 ? kArgb4444 : kArgb1555;
}

}  // namespace

const std::vector<EncodableLayout>& EncodableLayouts(TargetFamily family) {
  static const std::vector<EncodableLayout> kDcPc = MakeTable(TargetFamily::DcPc);
  static const std::vector<EncodableLayout> kGc = MakeTable(TargetFamily::Gc);
  static const std::vector<EncodableLayout> kXbox = MakeTable(TargetFamily::XboxBb);
  switch (family) {
    case TargetFamily::Gc: return kGc;
    case TargetFamily::XboxBb: return kXbox;
    default: return kDcPc;
  }
}

std::string LayoutListName(const EncodableLayout& layout) {
  if (layout.mipmapped && layout.description.find("MIPMAP") == std::string::npos) {
    return layout.description + " & MIPMAP";
  }
  return layout.description;
}

void RequireEncodableSize(TargetFamily family, uint32_t format, int32_t width, int32_t height) {
  const std::optional<LayoutChoice> choice = Parse(family, format);
  if (!choice) {
    throw Error(ErrorKind::Unsupported,
                std::string("No ") + TargetFamilyName(family) + " texture layout has the format word " + Hex8(format) + ".");
  }
  const SizeRule rule = RuleOf(choice->layout);
  if (Fits(rule, width, height)) return;
  std::string name;
  for (const EncodableLayout& row : EncodableLayouts(family)) {
    if (row.format == format) name = LayoutListName(row);
  }
  if (name.empty()) name = DescriptionOf(family, format, choice->layout);  // an Xbox word with its bit 1 set
  throw Error(ErrorKind::Unsupported, name + " takes " + SizesText(rule) + "; this picture is " +
                                          std::to_string(width) + " x " + std::to_string(height) + ".");
}

EncodedLayout EncodeLayout(const RgbaView& picture, TargetFamily family, uint32_t format, WorkerPool* pool) {
  RequireEncodableSize(family, format, picture.width, picture.height);
  if (picture.pixels.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height)) {
    throw Error(ErrorKind::Usage, "a " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                                      " picture with " + std::to_string(picture.pixels.size()) + " pixels");
  }
  const LayoutChoice choice = *Parse(family, format);
  EncodedLayout out;
  out.format = format;
  out.width = picture.width;
  out.height = picture.height;
  switch (family) {
    case TargetFamily::DcPc: layout_detail::EncodePvr(picture, choice, pool, out); break;
    case TargetFamily::Gc: layout_detail::EncodeGvr(picture, choice, pool, out); break;
    case TargetFamily::XboxBb: layout_detail::EncodeXvr(picture, choice, pool, out); break;
  }
  return out;
}

std::vector<uint8_t> PaletteFileBytes(PaletteKind kind, std::span<const uint16_t> words, uint8_t pixelFormatCode) {
  constexpr uint32_t kGameCubeRgb5a3Tlut = 2;
  std::vector<uint8_t> bytes;
  ByteWriter out(bytes);
  const auto count = static_cast<uint32_t>(words.size());
  if (kind == PaletteKind::Pvp) {
    out.Magic("PVPL");
    out.U32Le(8 + 2 * count);
    out.U32Le(pixelFormatCode);
    out.U32Le(count);
    out.U16LeWords(words);
  } else {
    out.Magic("GVPL");
    out.U32Le(8 + 2 * count);
    out.U32Be(kGameCubeRgb5a3Tlut);
    out.U32Be(count);
    for (const uint16_t w : words) out.U16Be(w);
  }
  return bytes;
}

namespace layout_detail {

LevelChain::LevelChain(const RgbaView& top, bool mipmaps) {
  if (mipmaps) generated_ = GenerateMipmaps(top, MipLevelCount(top.width, top.height));
  views_.push_back(top);
  for (size_t k = 1; k < generated_.size(); ++k) views_.push_back(generated_[k].View());
}

TexelFormat PaletteTexelFormat(uint8_t pixelCode) {
  switch (pixelCode) {
    case 1: return TexelFormat::Rgb565;
    case 2: return TexelFormat::Argb4444;
    default: return TexelFormat::Argb1555;
  }
}

std::vector<uint16_t> TexelWords(const RgbaView& level, uint8_t pixelCode) {
  std::vector<uint16_t> words(level.pixels.size());
  if (pixelCode != static_cast<uint8_t>(PixelFormat::Yuv442)) {
    const SeparableTexels& texels = TexelsOf(PaletteTexelFormat(pixelCode));
    std::transform(level.pixels.begin(), level.pixels.end(), words.begin(), texels);
    return words;
  }
  const auto w = static_cast<size_t>(level.width);
  for (size_t row = 0; row < static_cast<size_t>(level.height); ++row) {
    const size_t at = row * w;
    for (size_t x = 0; x < w; x += 2) {
      if (x + 1 < w) {
        const YuvPair pair = NearestYuvPair(level.pixels[at + x], level.pixels[at + x + 1]);
        words[at + x] = pair.left;
        words[at + x + 1] = pair.right;
      } else {
        words[at + x] = NearestYuvPair(level.pixels[at + x], level.pixels[at + x]).left;
      }
    }
  }
  return words;
}

PixelBlock BlockAt(const RgbaView& v, int32_t x0, int32_t y0) {
  PixelBlock block{};
  for (int32_t r = 0; r < 4; ++r) {
    for (int32_t c = 0; c < 4; ++c) block[static_cast<size_t>(4 * r + c)] = ClampedPixel(v, x0 + c, y0 + r);
  }
  return block;
}

void EncodeS3tcBlock(S3tcKind kind, const PixelBlock& block, std::span<uint8_t> out) {
  if (kind == S3tcKind::Dxt3) {
    FitDxt3Block(block, out.first<16>());
    return;
  }
  FitDxt1Block(block, out.first<8>());
  if (kind == S3tcKind::Cmpr) {
    std::swap(out[0], out[1]);
    std::swap(out[2], out[3]);
    for (size_t row = 4; row < 8; ++row) out[row] = ReverseIndexPairs(out[row]);
  }
}

}  // namespace layout_detail

}  // namespace quarrendel::texture
