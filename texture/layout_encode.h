// Encoders for every texture layout the decoders read, each the inverse of
// its decoder: a row-major RGBA picture of W x H and a format word in, the
// texture data (and the palette file of a palettised layout) out.
//
//   DC/PC (PVR), pixel format p = 0 ARGB1555, 1 RGB565, 2 ARGB4444, 3 YUV422:
//     0x01pp square twiddled          0x02pp twiddled, mipmaps
//     0x03pp VQ, 256 codes            0x04pp VQ, mipmaps
//     0x10pp small VQ                 0x11pp small VQ, mipmaps
//     0x05pp 4-bit palette, twiddled  0x07pp 8-bit palette, twiddled (p < 3)
//     0x09pp rectangle (raster)       0x0Bpp stride (raster, W a multiple of 32)
//     0x0Dpp twiddled rectangle       0x12pp twiddled, mipmaps, alias layout
//   GC (GVR): 0x0508 RGB5A3 tiles, 0x0509 with mipmaps; 0x0E00 CMPR, 0x0E01
//     with mipmaps (bit 0 of the pixel byte asks for them; the decoders
//     read the full level first whatever the pixel byte); 0x080A CI4 and
//     0x090A CI8 (RGB5A3 palette).
//   XBox/BB (XVR): 0x0600 DXT1, 0x0700 DXT3 (bit 0: mipmaps; bit 1 is set on
//     the way out when the texture decodes with transparent pixels, as the
//     Xbox marking sets it: any DXT1 block that uses its transparent index,
//     every DXT3 texture, whose top alpha nibble decodes to 240); 0x05pp
//     8-bit palette in the Xbox swizzle (p < 3).
//
// Texel words are the nearest the format holds to each pixel (texel_format.h:
// rounding to nearest, where the Import/Add packer truncates). YUV422 texels
// pair horizontally, (2i, y) with (2i + 1, y), in every layout; a texel
// without a partner (a side of 1) is the left word of the pair fitted to two
// copies of it. Mipmap levels come from GenerateMipmaps, top level first in
// what is returned, and are stored where the decoders skip to them:
//   - twiddled (0x02): the levels smallest first, one texel of padding in
//     front of the 1 x 1 level (the top level at 2 x TwiddledMipOffset(H));
//   - alias (0x12): as 0x02 with three texels of padding;
//   - VQ (0x04, 0x11): one codebook for every level, then each level's index
//     bytes smallest first, the 1 x 1 level's byte first (its entry four
//     copies of the texel);
//   - GVR and XVR: the full level first, each level in whole tiles or blocks
//     (a level smaller than its tile fills the tile's first texels; the rest
//     repeat the level's last row and column).
// Palettes are written as ".pvp" (PVR and Xbox, little-endian words) or
// ".gvp" (GameCube, big-endian RGB5A3 words) files: a 16-byte header that
// the palette reader skips, then the entries:
//   PVPL: "PVPL", u32 LE bytes after these 8 (8 + 2 x entries),
//         u32 LE pixel format code, u32 LE entry count;
//   GVPL: "GVPL", u32 LE bytes after these 8 (chunk lengths are little-endian
//         in every chunk), u32 BE palette format 2 (the GameCube TLUT code of
//         RGB5A3), u32 BE entry count.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "texture/palette.h"
#include "texture/rgba_image.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::texture {

// Where one mipmap level lies in the data: its texels, or for the VQ layouts
// its index bytes (the codebook before them serves every level).
struct LevelPlace {
  int32_t width = 0;
  int32_t height = 0;
  int64_t offset = 0;
  int64_t bytes = 0;
};

struct EncodedLayout {
  uint32_t format = 0;  // the format word written (with the Xbox flags)
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> data;
  std::vector<LevelPlace> levels;  // top level first; one for layouts without mipmaps
  // The palette file to write as load directory + Name + paletteExtension;
  // both empty for layouts without a palette.
  std::vector<uint8_t> paletteFile;
  std::string paletteExtension;
};

// One row of the list of layouts a family can encode.
struct EncodableLayout {
  uint32_t format = 0;
  std::string description;  // what image selection shows for such a texture
  bool mipmapped = false;
  bool lossless = false;    // decodes to the picture reduced to the format (palettes: with few enough colours)
  std::string sizes;        // the sizes it takes, in words
};

// The layouts of `family`, in the order above.
const std::vector<EncodableLayout>& EncodableLayouts(TargetFamily family);

// The list's name for a layout: its description, with " & MIPMAP" for the
// GameCube words whose description does not tell the chain.
std::string LayoutListName(const EncodableLayout& layout);

// Throws Error(Unsupported) naming the layout and the sizes it takes when
// `family` has no layout with `format` or the layout cannot take
// width x height.
void RequireEncodableSize(TargetFamily family, uint32_t format, int32_t width, int32_t height);

// Encodes `picture` into the layout `format` of `family`. Refuses, before
// any work, what RequireEncodableSize refuses, and a picture whose pixel
// count is not width x height (Error(Usage)). `pool`, when given, runs the
// quantisers' passes and the S3TC blocks on its workers; the bytes are the
// same for every thread count.
EncodedLayout EncodeLayout(const RgbaView& picture, TargetFamily family, uint32_t format, WorkerPool* pool = nullptr);

// A palette file of `words` (16 or 256 texel words) for `kind`: the header
// above, then the words. `pixelFormatCode` goes into a ".pvp" header; a
// ".gvp" one always names RGB5A3.
std::vector<uint8_t> PaletteFileBytes(PaletteKind kind, std::span<const uint16_t> words, uint8_t pixelFormatCode);

}  // namespace quarrendel::texture
