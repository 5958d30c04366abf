// Textures as PNG pictures: the decoded texture at its true Width x Height,
// RGBA without the checkerboard, each channel stretched to the full range by
// the bits it was stored with (texture/full_range.h), so that opaque stays
// opaque and white stays white in an image editor. The description, the
// preview and the other export kinds keep the decoders' values.
#pragma once

#include <cstdint>
#include <string>

#include "core/image_store.h"
#include "imagefile/png_file.h"
#include "texture/texture_decode.h"

namespace quarrendel::imagefile {

// Throws Error(OverCapacity) naming image `index` when a side is outside
// 1..kMaxPngSide.
void RequirePngSize(const ImageStore& store, int32_t index);

// A PNG's bytes as pixels (red in bits 0-7 ... alpha 24-31), row-major, as
// the layout encoders take them.
texture::RgbaImage PixelsOfPng(const RgbaImage& image);

// What decoding a texture for a PNG met.
struct TextureImageNotes {
  bool supported = true;      // false: no decoder serves the format; the picture is transparent
  std::string paletteNotice;  // the fallback palette stood in for a palette file ("" if not)
};

// Image `index` decoded (texture::DecodeEntry) as a PNG picture. The size is
// checked before anything is decoded. Only reads the store.
RgbaImage TextureImage(const ImageStore& store, int32_t index, TextureImageNotes* notes = nullptr);

// Decoding memory the calling thread keeps from one image to the next
// (DecodeEntry's `reuse`; give it back after use): with a fresh buffer per
// image the allocator hands the memory back to the system and faults it in
// again, cleared, for the next one, on every worker of unpack and Export all.
std::vector<uint32_t>& ThreadDecodeMemory();

}  // namespace quarrendel::imagefile
