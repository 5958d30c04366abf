#include "texture/format_table.h"

namespace quarrendel::texture {

const char* PixelFormatName(uint32_t format) {
  switch (PixelFormatCode(format)) {
    case 0: return "ARGB1555";
    case 1: return "RGB565 No transparency";
    case 2: return "ARGB4444";
    case 3: return "YUV442";
    case 4: return "Bump";
    default: return "";
  }
}

DecoderChoice ChooseDecoder(uint32_t format, int32_t height, int32_t dataLength, bool pvrFamily) {
  const std::string p = PixelFormatName(format);
  const int64_t h = height;
  const int64_t l = dataLength;
  const int64_t texels = h * h;
  const bool mipFlag = (format & 1) != 0;
  auto converted = [&](DecoderKind kind, const char* prefix) {
    return DecoderChoice{kind, prefix + p, true, MipCountKind::None};
  };
  auto plain = [](DecoderKind kind, std::string text) {
    return DecoderChoice{kind, std::move(text), false, MipCountKind::None};
  };

  switch (DataFormatCode(format)) {
    case 0x01:
      return converted(DecoderKind::Twiddled, "SQUARE TWIDDLED ");
    case 0x02:
      if (l == 2 * texels) return plain(DecoderKind::Tiled565, "4x4 Title BB ");
      return converted(DecoderKind::TwiddledMipmap, "SQUARE TWIDDLED & MIPMAP ");
    case 0x03:
      if (l == 2 * texels) return plain(DecoderKind::Tiled1555, "4x4 Title BB ");
      return converted(DecoderKind::Vq, "TWIDDLED VQ ");
    case 0x04:
      return converted(DecoderKind::VqMipmap, "TWIDDLED VQ & MIPMAP ");
    case 0x05:
      if (l < texels) return converted(DecoderKind::Clut4Twiddled, "4-BIT CLUT TWIDDLED ");
      if (l < 2 * texels) return converted(DecoderKind::Clut8Swizzled, "8-BIT CLUT TWIDDLED Xbox ");
      return plain(DecoderKind::Rgb5a3Tiled, "4x4 Titles RGB5A3 GameCube");
    case 0x06:
      return DecoderChoice{DecoderKind::Dxt1, mipFlag ? "DXT1 RGBA565 & MIPMAP" : "DXT1 RGBA565", false,
                           MipCountKind::FourBit};
    case 0x07:
      if (!pvrFamily) {
        return DecoderChoice{DecoderKind::Dxt3, mipFlag ? "DXT3 RGBA5654 & MIPMAP" : "DXT3 RGBA5654",
                             false, MipCountKind::EightBit};
      }
      return converted(DecoderKind::Clut8Twiddled, "8-BIT CLUT TWIDDLED ");
    case 0x08:
      if (PixelByte(format) == kGameCubePalettePixelByte) {
        return plain(DecoderKind::Ci4Tiled, "CI4 8x8 Titles GC RGB5A3");
      }
      break;
    case 0x09:
      if (PixelByte(format) == kGameCubePalettePixelByte) {
        return plain(DecoderKind::Ci8Tiled, "CI8 8x4 Titles GC RGB5A3");
      }
      return converted(DecoderKind::Rectangle, "RECTANGLE ");
    case 0x0B:
      if (PixelFormatCode(format) == static_cast<uint8_t>(PixelFormat::Yuv442)) {
        return plain(DecoderKind::StrideYuv422, "STRIDE " + p);
      }
      return converted(DecoderKind::Stride, "STRIDE ");
    case 0x0D:
      return converted(DecoderKind::TwiddledRectangle, "TWIDDLED RECTANGLE ");
    case 0x0E:
      return plain(DecoderKind::Cmpr, "S3TC RGBA565 GC");
    case 0x10:
      return converted(DecoderKind::SmallVq, "SMALL VQ ");
    case 0x11:
      return converted(DecoderKind::SmallVqMipmap, "SMALL VQ & MIPMAP ");
    case 0x12:
      return converted(DecoderKind::TwiddledMipmapAlias, "TWIDDLED & MIPMAP (ALIAS) ");
    default:
      break;
  }
  return plain(DecoderKind::None, p);
}

}  // namespace quarrendel::texture
