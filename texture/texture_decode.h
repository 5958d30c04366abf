// Decoding a texture: from its bytes and the facts the decode dispatch reads
// (format word, width, height, data, the PVR-family flag, the palette) to its
// pixels and description. Nothing of the store is touched, so textures can be
// decoded on many threads at once; image selection, export and the command
// line all decode through here.
//
// The decoded pixels come laid out as the canvas holds them after a
// selection: max(W, H) x H pixels (each side at most the canvas side), the
// decoder's region at the origin - the H x H square for most layouts, W x H
// for the stride, twiddled-rectangle and alias layouts - and every pixel
// beside it, or that the data does not reach, 0. A texture whose region does
// not fit the canvas is not decoded at all.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/image_store.h"
#include "texture/format_table.h"
#include "texture/full_range.h"
#include "texture/palette.h"
#include "texture/rgba_image.h"

namespace quarrendel::texture {

struct TextureBytes {
  uint32_t format = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::span<const uint8_t> data;
  bool pvrFamily = false;  // data format 7 is an 8-bit twiddled palette, not DXT3
};

// Where a palettised texture takes its colours from: the words given, or the
// palette file load directory + name + ".pvp" / ".gvp" (PaletteFilePath),
// whose missing entries take the fallback colours.
struct PaletteSource {
  std::optional<Palette> words;
  std::string loadDirectory;
  std::string name;
};

// Where a palettised texture's colours came from.
struct PaletteUse {
  bool fromFile = false;    // the decoder looked up a palette file
  std::string path;         // the file looked up; empty when the name cannot name a file
  bool found = false;       // the file could be opened
  int32_t entries = 0;      // colours the texture's indices reach (16 or 256)
  int32_t entriesRead = 0;  // of them, read from the file; the rest are fallback colours
};

struct DecodedTexture {
  int32_t width = 0;   // W and H of the texture
  int32_t height = 0;
  DecoderChoice choice;      // the decoder, the description text, the kind of mip count
  int32_t mipmapCount = -1;  // the value of the "Mipmaps count: " line; -1 without that line
  PaletteUse palette;
  TexelDepths depths;        // the bits each channel was stored with (the PNG stretch)
  RgbaImage area;            // the canvas-shaped pixels, see above
  int32_t regionWidth = 0;   // the width of the region decoded (H high); 0 when nothing was
  int32_t cursor = 0;        // where the decoder left the read cursor
  // A plain rectangle (0x09) of W != H: its W x H picture in rows of W texels,
  // which the area's H x H square (rows of H texels) is not. Empty otherwise.
  std::vector<uint32_t> rectangleRows;

  bool Supported() const { return choice.decoder != DecoderKind::None; }
  // The H x H square of the area (each side at most the canvas side).
  RgbaRect Square() const;
  // The W x H picture (each side at most the canvas side) as the window, PNG
  // files and `decode --true-size` show it.
  RgbaRect TrueSize() const;
};

// `reuse`: a buffer whose memory the area may take over.
DecodedTexture DecodeTexture(const TextureBytes& texture, const PaletteSource& palette,
                             std::vector<uint32_t> reuse = {});

// Entry `index` of the store as selection decodes it: the store's PVR-family
// flag, the palette file beside the loaded file. Only reads the store. Throws
// Error(Usage) for an index outside the table.
DecodedTexture DecodeEntry(const ImageStore& store, int32_t index, std::vector<uint32_t> reuse = {});

// canvas(x, y) := rect(x, y) over the rect (which must fit the canvas).
void CopyIntoCanvas(const RgbaRect& rect, Canvas& canvas);

}  // namespace quarrendel::texture
