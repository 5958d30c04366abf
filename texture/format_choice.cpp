#include "texture/format_choice.h"

#include <cctype>

#include "core/error.h"
#include "core/worker_pool.h"
#include "texture/full_range.h"
#include "texture/texture_encode.h"

namespace quarrendel::texture {

namespace {

bool IsXboxS3tc(uint32_t format) {
  const uint8_t data = DataFormatCode(format);
  return data == 0x06 || data == 0x07;
}

struct ChannelBits {
  uint8_t red = 8, green = 8, blue = 8, alpha = 8;
};

uint32_t Narrow(uint32_t value, uint32_t bits) { return bits >= 8 ? value : value - (value >> bits); }

uint32_t ToScale(uint32_t pixel, const ChannelBits& bits) {
  const uint32_t r = Narrow(pixel & 0xFF, bits.red);
  const uint32_t g = Narrow(pixel >> 8 & 0xFF, bits.green);
  const uint32_t b = Narrow(pixel >> 16 & 0xFF, bits.blue);
  const uint32_t a = Narrow(pixel >> 24, bits.alpha);
  return r | g << 8 | b << 16 | a << 24;
}

// The picture of a decoded texture to encode again: its true W x H, every
// channel stretched to the full range as PNG files get it.
RgbaImage PictureToEncode(const DecodedTexture& decoded) {
  const RgbaRect rect = decoded.TrueSize();
  RgbaImage picture{rect.width, rect.height, std::vector<uint32_t>(static_cast<size_t>(rect.width) * rect.height)};
  for (int32_t y = 0; y < rect.height; ++y) {
    const uint32_t* row = rect.Row(y);
    for (int32_t x = 0; x < rect.width; ++x) {
      picture.pixels[static_cast<size_t>(y) * rect.width + x] = StretchPixel(row[x], decoded.depths);
    }
  }
  return picture;
}

// The mipmap chain the source texture carries: its decoder reads one, or its
// format word says so (the Xbox and GameCube words).
bool SourceHasMipmaps(const DecodedTexture& decoded, uint32_t format) {
  switch (decoded.choice.decoder) {
    case DecoderKind::TwiddledMipmap:
    case DecoderKind::VqMipmap:
    case DecoderKind::SmallVqMipmap:
    case DecoderKind::TwiddledMipmapAlias: return true;
    case DecoderKind::Dxt1:
    case DecoderKind::Dxt3:
    case DecoderKind::Rgb5a3Tiled:
    case DecoderKind::Cmpr: return (format & 1) != 0;
    default: return false;
  }
}

}  // namespace

const char* TargetFamilyName(TargetFamily family) {
  switch (family) {
    case TargetFamily::DcPc: return "DC/PC";
    case TargetFamily::Gc: return "GC";
    case TargetFamily::XboxBb: return "XBox/BB";
  }
  return "";
}

std::optional<TargetFamily> FamilyOfDecoder(DecoderKind kind, uint32_t format) {
  switch (kind) {
    case DecoderKind::None: return std::nullopt;
    case DecoderKind::Tiled565:
    case DecoderKind::Tiled1555:
    case DecoderKind::Rgb5a3Tiled:
    case DecoderKind::Ci4Tiled:
    case DecoderKind::Ci8Tiled:
    case DecoderKind::Cmpr: return TargetFamily::Gc;
    case DecoderKind::Dxt1:
    case DecoderKind::Dxt3:
    case DecoderKind::Clut8Swizzled: return TargetFamily::XboxBb;
    default: break;
  }
  if (PixelFormatCode(format) == static_cast<uint8_t>(PixelFormat::Bump)) return std::nullopt;
  return TargetFamily::DcPc;
}

std::optional<TargetFamily> EntryFamily(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  const DecoderChoice choice = ChooseDecoder(entry.Format, entry.Height, entry.DataLength, store.pvrFamily != 0);
  return FamilyOfDecoder(choice.decoder, entry.Format);
}

uint32_t KeptFormatWord(TargetFamily family, uint32_t format) {
  if (family == TargetFamily::XboxBb && IsXboxS3tc(format)) return format & ~uint32_t{2};
  return format;
}

bool FamilyEncodes(TargetFamily family, uint32_t format) {
  const uint32_t word = KeptFormatWord(family, format);
  for (const EncodableLayout& row : EncodableLayouts(family)) {
    if (row.format == word) return true;
  }
  return false;
}

uint32_t FamilyRuleFormat(TargetFamily family, const RgbaView& picture, bool mipmaps) {
  const bool graded = HasGradedAlpha(picture);
  const uint32_t mip = mipmaps ? 1 : 0;
  switch (family) {
    case TargetFamily::DcPc: {
      const uint32_t pixel = graded ? 0x02 : 0x00;
      if (picture.width != picture.height) return 0x0D00 | pixel;
      return (mipmaps ? 0x0200u : 0x0100u) | pixel;
    }
    case TargetFamily::Gc: return (graded ? 0x0508u : 0x0E00u) | mip;
    case TargetFamily::XboxBb: return (graded ? 0x0700u : 0x0600u) | mip;
  }
  return 0;
}

std::optional<uint32_t> ParseFormatWord(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    const uint32_t digit = c <= '9' ? static_cast<uint32_t>(c - '0')
                                    : static_cast<uint32_t>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    value = value << 4 | digit;
  }
  return value;
}

void ToTexelScale(RgbaImage& picture, TargetFamily family, uint32_t format) {
  const uint8_t data = DataFormatCode(format);
  if (family == TargetFamily::Gc) {
    if (data == 0x0E) return;  // CMPR
    for (uint32_t& pixel : picture.pixels) {
      pixel = (pixel >> 24) == 0xFF ? ToScale(pixel, {5, 5, 5, 8}) : ToScale(pixel, {4, 4, 4, 3});
    }
    return;
  }
  if (family == TargetFamily::XboxBb && IsXboxS3tc(format)) return;
  ChannelBits bits;
  switch (PixelFormatCode(format)) {
    case 0: bits = {5, 5, 5, 8}; break;
    case 1: bits = {5, 6, 5, 8}; break;
    case 2: bits = {4, 4, 4, 4}; break;
    default: return;
  }
  for (uint32_t& pixel : picture.pixels) pixel = ToScale(pixel, bits);
}

EncodedLayout ConvertDecoded(const DecodedTexture& decoded, uint32_t sourceFormat, TargetFamily family,
                             WorkerPool* pool) {
  if (!decoded.Supported()) throw Error(ErrorKind::Unsupported, "Unsupported format: it cannot be converted");
  RgbaImage picture = PictureToEncode(decoded);
  const uint32_t format = FamilyRuleFormat(family, picture.View(), SourceHasMipmaps(decoded, sourceFormat));
  ToTexelScale(picture, family, format);
  return EncodeLayout(picture.View(), family, format, pool);
}

std::vector<ConvertedImage> ConvertForFamily(const ImageStore& store, TargetFamily family, WorkerPool& pool) {
  std::vector<int32_t> foreign;
  for (int32_t i = 0; i < store.imageCount; ++i) {
    const std::optional<TargetFamily> own = EntryFamily(store, i);
    if (own && *own != family) foreign.push_back(i);
  }
  std::vector<ConvertedImage> converted;
  converted.reserve(foreign.size());
  pool.OrderedMap(
      foreign.size(), 2 * static_cast<size_t>(pool.Threads()),
      [&](size_t k) {
        const int32_t i = foreign[k];
        const TImage_Entry& entry = store.images[static_cast<size_t>(i)];
        try {
          return ConvertedImage{i, ConvertDecoded(DecodeEntry(store, i), entry.Format, family, nullptr)};
        } catch (const Error& e) {
          throw Error(e.Kind(), "image " + std::to_string(i) + " (" + entry.Name + "): " + e.what());
        }
      },
      [&](size_t, ConvertedImage&& image) { converted.push_back(std::move(image)); });
  return converted;
}

void StoreConverted(ImageStore& store, TargetFamily family, std::vector<ConvertedImage>& converted) {
  for (ConvertedImage& image : converted) {
    TImage_Entry& entry = store.Entry(image.index);
    store.FillEntryData(entry, image.texture.data);
    entry.Width = static_cast<uint16_t>(image.texture.width);
    entry.Height = static_cast<uint16_t>(image.texture.height);
    entry.Format = image.texture.format;
  }
  if (converted.empty()) return;
  // Data format 7 is DXT3 in Xbox textures, an 8-bit palette in the others.
  store.pvrFamily = family == TargetFamily::XboxBb ? 0 : 1;
  store.MarkChanged();
}

std::string ConvertedMessage(size_t count, TargetFamily family) {
  return std::to_string(count) + " images were converted for " + TargetFamilyName(family);
}

}  // namespace quarrendel::texture
