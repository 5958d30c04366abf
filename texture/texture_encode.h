// Turning the picture in the canvas into texture data for the platform the
// user picked, as Import and Add do for bitmaps:
//
//   family   graded alpha  format  data
//   DC/PC    not tested    0x100   twiddled ARGB1555 (0x102 ARGB4444 on request), side^2 * 2 bytes
//   GC       yes           0x508   RGB5A3 in 4 x 4 tiles, side^2 * 2 bytes
//   GC       no            0xE00   DXT1 blocks in CMPR order, (side/4)^2 * 8 bytes
//   XBox/BB  yes           0x700   DXT3 blocks, (side/4)^2 * 16 bytes
//   XBox/BB  no            0x600   DXT1 blocks, (side/4)^2 * 8 bytes
//
// Graded alpha is an alpha whose top four bits are neither all clear nor all
// set (16..239); a picture whose alpha stays near 0 or 255 gets a one-bit
// alpha format. Encoding always makes one mipmap level.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/frontend.h"
#include "core/image_store.h"
#include "texture/rgba_image.h"

namespace quarrendel::texture {

// The "use black as transparent colour" option: every pixel of the
// side x side square whose red, green and blue are all 0 becomes 0 (alpha 0
// too); other pixels keep their value.
void MakeBlackTransparent(Canvas& canvas, int32_t side);

// Some pixel of the side x side square (of the picture) has an alpha of 16..239.
bool HasGradedAlpha(const Canvas& canvas, int32_t side);
bool HasGradedAlpha(const RgbaView& picture);
// Some pixel of the side x side square has an alpha below 255.
bool HasTransparency(const Canvas& canvas, int32_t side);

// GameCube RGB5A3 words in 4 x 4 tiles (tiles and the texels inside them in
// raster order), high byte first: alpha >= 240 gives 0x8000 | RGB555, other
// alphas 3-bit alpha and RGB444. Writes (side/4)^2 tiles of 32 bytes (none
// below side 4); throws Error(Usage), writing nothing, for a side outside
// 0..2049 or an output shorter than that.
void PackRgb5a3Tiles(const Canvas& canvas, int32_t side, std::span<uint8_t> out);
// The same for a row-major square picture (Error(Usage) when it is not square).
void PackRgb5a3Tiles(const RgbaView& square, std::span<uint8_t> out);

// The texel layout of DC/PC textures: ARGB1555 (0x100) for bitmaps,
// ARGB4444 (0x102) for pictures decoded from DXT3 files.
enum class TwiddledTexels { Argb1555, Argb4444 };

struct EncodedTexture {
  uint32_t format = 0;
  std::vector<uint8_t> data;
};

// Throws what EncodeCanvas throws for a side it cannot take for `family`
// (the CMPR side of 4 aside, which depends on the picture's alpha).
void RequireEncodableSide(int32_t side, TargetFamily family);

// Encodes the side x side picture at the canvas origin for `family`, by the
// table above. Throws Error(Unsupported) for a side that is not a power of
// two (the twiddled and tiled layouts need one) and, for GC and XBox/BB, for
// a side below 4 (tiles and blocks are 4 x 4) or a GC CMPR side of 4 (CMPR
// tiles are 8 x 8); Error(OverCapacity) for a side beyond the canvas.
EncodedTexture EncodeCanvas(const Canvas& canvas, int32_t side, TargetFamily family,
                            TwiddledTexels texels = TwiddledTexels::Argb1555);

// Encodes store.canvas into entry `index`: Width and Height become `side`,
// Format and the data are replaced (the old block released), the entry
// becomes the current image and the read cursor stands after the data
// written by the twiddled walk (0 for GC and XBox/BB). A refusal leaves the
// entry and the store as they were. The caller selects the entry afterwards
// to decode the new data into the canvas.
void EncodeCanvasIntoEntry(ImageStore& store, int32_t index, int32_t side, TargetFamily family,
                           TwiddledTexels texels = TwiddledTexels::Argb1555);

// Marks an Xbox texture (data format 6 or 7) after image selection has
// decoded it into store.canvas: bit 1 of Format when the decoded square
// (side Height) has a pixel with alpha below 255, bit 0 when the data holds
// more than one mipmap level (the DXT1 or DXT3 level count of Width and
// DataLength). Other formats are left alone. Bits are only ever set. The
// caller selects the entry again to show the final format word.
void ApplyXboxMarking(ImageStore& store, int32_t index);

}  // namespace quarrendel::texture
