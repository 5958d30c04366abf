// Selecting an image: the description memo, the decoded texture copied into
// the pixel canvas, and the picture painted over the transparency checkerboard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "core/image_store.h"
#include "texture/texture_decode.h"

namespace quarrendel::texture {

struct Selection {
  std::vector<std::string> memo;  // "Description :", "Size : ...", ..., the description text
  Picture picture;                // W x H (each clamped to the canvas side): the parts asked for of the
                                  // decoded pixels and those painted over the checkerboard
  bool formatSupported = true;    // false: no decoder for the format; the memo ends "Unsupported format"
  std::string description;        // the description text: the format in words
  PaletteUse palette;
  int32_t levels = 1;             // mipmap levels: the "Mipmaps count: " value, 1 without that line
};

// The memo lines of `entry` decoded as `decoded`: "Description :", the size,
// format, data length and "PSO ID : " lines, "In package : " in package mode,
// "Mipmaps count: " where the format counts levels, the description text, and
// "Unsupported format" when no decoder serves the format.
std::vector<std::string> DescriptionMemo(const TImage_Entry& entry, bool packageMode, const DecodedTexture& decoded);

// Decodes entry `index` (DecodeEntry) into store.selectionPixels, fills
// store.canvas over max(W, H) x H with the decoded pixels and zeroes what the
// last selection wrote there beyond them (so the canvas holds nothing of an
// earlier image), sets store.currentImage and store.readCursor, and returns
// the memo lines and the `parts` of the W x H picture. Throws Error(Usage)
// for an index outside the table.
Selection SelectImage(ImageStore& store, int32_t index, PictureParts parts = PictureParts::DecodedAndPainted);

// The list's click handler as a command: with an item selected in the front
// end's list, runs SelectImage on it for the parts of the picture the front
// end shows, shows the memo and hands the picture over, and gives the memory
// it gets back to the store for the next selection; with nothing selected does
// nothing. An item at or beyond the image count shows the bare
// "Description :" memo and no picture, and leaves the store as it is.
void SelectListedImage(ImageStore& store, FrontEnd& frontEnd);

// The notice for a texture shown with the fallback palette in place of its
// palette file, or of the part of it the file lacks; "" when the file gave
// every colour or the format uses none. The window's status line and the
// command line's `info` and `decode` tell the same.
std::string PaletteNotice(const PaletteUse& use);

// `value` as 8 upper-case hexadecimal digits, as the description shows format
// words and global indices.
std::string Hex8(uint32_t value);

// The checkerboard colour of pixel (x, y): 16 x 16 squares of 0xFFFFFF and
// 0xAFAFAF, white at the origin.
uint32_t CheckerboardColour(int32_t x, int32_t y);

// Pixel v (alpha in bits 24-31) over background colour bg: each channel moves
// toward bg by (255 - alpha) / 256 of the signed difference, the division
// truncating; alpha 0 gives bg, alpha 255 the colour itself. Bits 24-31 of
// the result are 0. Inline: the picture view blends every pixel it paints.
inline uint32_t BlendOverBackground(uint32_t v, uint32_t bg) {
  const uint32_t a = v >> 24;
  if (a == 0) return bg;
  if (a == 255) return v & 0xFFFFFF;
  const int32_t keep = 255 - static_cast<int32_t>(a);
  uint32_t out = 0;
  for (int32_t shift = 0; shift < 24; shift += 8) {
    const int32_t vc = static_cast<int32_t>((v >> shift) & 0xFF);
    const int32_t bc = static_cast<int32_t>((bg >> shift) & 0xFF);
    out |= static_cast<uint32_t>(vc + (bc - vc) * keep / 256) << shift;
  }
  return out;
}

// `rect` painted over the checkerboard into a picture of its size, with its
// pixels as the decoded ones beside the painted ones when `withDecoded`;
// pixels with x >= paintedWidth are bare checkerboard (and 0 as decoded ones).
Picture PaintOverCheckerboard(const RgbaRect& rect, bool withDecoded = false, int32_t paintedWidth = INT32_MAX);

}  // namespace quarrendel::texture
