// Format words of PVR, GVR and XVR textures. Byte 0 of a format word is the
// pixel format (its low three bits name the 16-bit texel layout), byte 1 the
// data format (the layout of the texture data). The data format codes are
// the on-disk values.
#pragma once

#include <cstdint>
#include <string>

namespace quarrendel::texture {

enum class PixelFormat : uint8_t {
  Argb1555 = 0,
  Rgb565 = 1,
  Argb4444 = 2,
  Yuv442 = 3,
  Bump = 4,
};

enum class DataFormat : uint8_t {
  SquareTwiddled = 0x01,
  SquareTwiddledMipmap = 0x02,  // or RGB565 4x4 tiles when L = 2*H*H
  Vq = 0x03,                    // or ARGB1555 4x4 tiles when L = 2*H*H
  VqMipmap = 0x04,
  Palette = 0x05,               // 4-bit CLUT, 8-bit Xbox CLUT or GameCube RGB5A3 by length
  Dxt1 = 0x06,
  Dxt3OrClut8 = 0x07,           // DXT3 for XVR sources, 8-bit twiddled CLUT for PVR ones
  Ci4 = 0x08,
  Rectangle = 0x09,             // or GameCube CI8 with pixel byte 0x0A
  Stride = 0x0B,                // rows of W texels
  TwiddledRectangle = 0x0D,     // min(W, H) squares along the long side
  Cmpr = 0x0E,
  SmallVq = 0x10,
  SmallVqMipmap = 0x11,
  TwiddledMipmapAlias = 0x12,   // top level = the last W x H texels
};

// The GameCube palettised textures carry this whole pixel byte.
inline constexpr uint8_t kGameCubePalettePixelByte = 0x0A;

// Format words this system writes when it creates or re-encodes a texture.
inline constexpr uint32_t kFormatArgb1555Twiddled = 0x0100;
inline constexpr uint32_t kFormatArgb4444Twiddled = 0x0102;
inline constexpr uint32_t kFormatGcRgb5a3 = 0x0508;
inline constexpr uint32_t kFormatDxt1 = 0x0600;
inline constexpr uint32_t kFormatDxt3 = 0x0700;
inline constexpr uint32_t kFormatGcCmpr = 0x0E00;
inline constexpr uint32_t kFormatRgb565Rectangle = 0x0901;
inline constexpr uint32_t kFormatArgb4444Rectangle = 0x0902;

constexpr uint8_t PixelFormatCode(uint32_t format) { return static_cast<uint8_t>(format & 7); }
constexpr uint8_t PixelByte(uint32_t format) { return static_cast<uint8_t>(format & 0xFF); }
constexpr uint8_t DataFormatCode(uint32_t format) { return static_cast<uint8_t>((format >> 8) & 0xFF); }

// The name shown after most descriptions ("ARGB1555", ...); empty for codes 5-7.
const char* PixelFormatName(uint32_t format);

// Which decoder serves a texture, in the order the selection tests the codes.
enum class DecoderKind {
  None,           // no decoder: the canvas stays cleared
  Twiddled,       // code 1
  TwiddledMipmap, // code 2, L != 2*H*H
  Tiled565,       // code 2, L == 2*H*H
  Tiled1555,      // code 3, L == 2*H*H
  Vq,             // code 3
  VqMipmap,       // code 4
  Clut4Twiddled,  // code 5, L < H*H
  Clut8Swizzled,  // code 5, H*H <= L < 2*H*H
  Rgb5a3Tiled,    // code 5, L >= 2*H*H
  Dxt1,           // code 6
  Dxt3,           // code 7, PVR-family flag 0
  Clut8Twiddled,  // code 7, PVR-family flag 1
  Ci4Tiled,       // code 8, pixel byte 0x0A
  Ci8Tiled,       // code 9, pixel byte 0x0A
  Rectangle,      // code 9 otherwise
  Cmpr,           // code 14
  SmallVq,        // code 16
  SmallVqMipmap,  // code 17
  // The layouts below decode the true W x H rectangle, not an H x H square.
  Stride,               // code 11
  StrideYuv422,         // code 11, YUV texels (final pixels)
  TwiddledRectangle,    // code 13
  TwiddledMipmapAlias,  // code 18
};

// True for the decoders that write W x H rather than H x H.
constexpr bool DecodesTrueSize(DecoderKind kind) {
  return kind == DecoderKind::Stride || kind == DecoderKind::StrideYuv422 ||
         kind == DecoderKind::TwiddledRectangle || kind == DecoderKind::TwiddledMipmapAlias;
}

// Which mip-level count the description adds ("Mipmaps count: ").
enum class MipCountKind { None, FourBit, EightBit };

struct DecoderChoice {
  DecoderKind decoder = DecoderKind::None;
  std::string text;                 // the description's last line
  bool converted = false;           // raw 16-bit texels are converted by the pixel format afterwards
  MipCountKind mipCount = MipCountKind::None;
};

// The decode dispatch: format word, H = Height, L = DataLength, and the
// PVR-family flag select the decoder and the description text.
DecoderChoice ChooseDecoder(uint32_t format, int32_t height, int32_t dataLength, bool pvrFamily);

}  // namespace quarrendel::texture
