// Which format word a picture is encoded into when it replaces or joins a
// texture, and textures re-encoded for another family.
//
// Families: a texture belongs to the family whose decoder reads it - DC/PC
// for the twiddled, VQ, PVR palette, rectangle and stride layouts, GC for
// the 4 x 4 tiles, RGB5A3, CI4/CI8 and CMPR, XBox/BB for DXT1, DXT3 and the
// swizzled 8-bit palette.
//
// The family rule (what Add gives a picture, and what a texture of another
// family becomes):
//   family   graded alpha  square                 W != H
//   DC/PC    no            0x0100 (0x0200 mips)    0x0D00 twiddled rectangle
//   DC/PC    yes           0x0102 (0x0202 mips)    0x0D02
//   GC       no            0x0E00 CMPR (0x0E01)    the same
//   GC       yes           0x0508 RGB5A3 (0x0509)  the same
//   XBox/BB  no            0x0600 DXT1 (0x0601)    the same
//   XBox/BB  yes           0x0700 DXT3 (0x0701)    the same
// (graded alpha as texture_encode.h tells it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/frontend.h"
#include "core/image_store.h"
#include "texture/format_table.h"
#include "texture/layout_encode.h"
#include "texture/rgba_image.h"
#include "texture/texture_decode.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::texture {

// "DC/PC", "GC" or "XBox/BB", as the import-options dialog names them.
const char* TargetFamilyName(TargetFamily family);

// The family whose textures `kind` decodes; nullopt for DecoderKind::None
// and the bump layouts, which no family encodes.
std::optional<TargetFamily> FamilyOfDecoder(DecoderKind kind, uint32_t format);

// The family of entry `index` as image selection would decode it.
std::optional<TargetFamily> EntryFamily(const ImageStore& store, int32_t index);

// The word to encode into when a texture of `format` keeps its format: the
// word itself, less the Xbox transparency bit (bit 1 of DXT words), which
// the encoder sets again for the new picture.
uint32_t KeptFormatWord(TargetFamily family, uint32_t format);

// True when `family` encodes `format` (KeptFormatWord applied first).
bool FamilyEncodes(TargetFamily family, uint32_t format);

// The family rule's word for `picture` (table above).
uint32_t FamilyRuleFormat(TargetFamily family, const RgbaView& picture, bool mipmaps);

// A format word typed in hexadecimal as `list` prints it ("00000E00"), with
// or without "0x", 1 to 8 digits; nullopt for anything else.
std::optional<uint32_t> ParseFormatWord(std::string_view text);

// A full-range picture (PNG files, textures decoded to convert: channels
// stretched by repeating their bits) brought to the scale the 16-bit texel
// quantisers measure in, the decoders' zero low bits: each channel of d bits
// in the layout's texels becomes s - (s >> d), which takes every stretched
// level back to its texel exactly (5 bits: 255 -> 248, 132 -> 128). RGB5A3
// texels (GameCube tiles and palettes) count as 5-5-5 where alpha is 255,
// else 4-4-4 with 3-bit alpha; ARGB1555 alpha and YUV are left as they are,
// and the S3TC layouts, fitted to the full-range decoder, take the picture as
// it is.
void ToTexelScale(RgbaImage& picture, TargetFamily family, uint32_t format);

// A texture of another family re-encoded for `family` by the family rule:
// its picture, size and (where the target layout has them) mipmaps kept.
// Throws Error(Unsupported) when the texture has no decoder or the target
// layout cannot take its size (the message names the layout and sizes).
EncodedLayout ConvertDecoded(const DecodedTexture& decoded, uint32_t sourceFormat, TargetFamily family,
                             WorkerPool* pool = nullptr);

// One image of the table converted, not yet stored.
struct ConvertedImage {
  int32_t index = 0;
  EncodedLayout texture;
};

// Every image of the store whose family is not `family` (images without a
// decoder are left alone), re-encoded on `pool`; the store is not changed.
// Throws Error(Unsupported, "image N (NAME): reason") for the first image
// the target family cannot take.
std::vector<ConvertedImage> ConvertForFamily(const ImageStore& store, TargetFamily family, WorkerPool& pool);

// Puts converted images into the table (sizes, format words, data) and sets
// the PVR-family flag for `family`; marks the store changed when any was.
void StoreConverted(ImageStore& store, TargetFamily family, std::vector<ConvertedImage>& converted);

// "N images were converted for FAMILY".
std::string ConvertedMessage(size_t count, TargetFamily family);

}  // namespace quarrendel::texture
