// Selecting an image: the description memo, the decode dispatch into the
// pixel canvas, and the picture painted over the transparency checkerboard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "core/image_store.h"

namespace quarrendel::texture {

// Where a palettised texture's colours came from.
struct PaletteUse {
  bool fromFile = false;    // the decoder looked up a palette file
  std::string path;         // the file looked up; empty when the name cannot name a file
  bool found = false;       // the file could be opened
  int32_t entries = 0;      // colours the texture's indices reach (16 or 256)
  int32_t entriesRead = 0;  // of them, read from the file; the rest are fallback colours
};

struct Selection {
  std::vector<std::string> memo;  // "Description :", "Size : ...", ..., the description text
  Picture picture;                // W x H (each clamped to the canvas side), painted over the checkerboard,
                                  // with the decoded pixels beside the painted ones
  bool formatSupported = true;    // false: no decoder for the format; the memo ends "Unsupported format"
  std::string description;        // the description text: the format in words
  PaletteUse palette;
};

// The W x H pixels of `entry` row by row when they are not the canvas's W x H
// rectangle: a plain rectangle (data format 0x09, pixel byte not 0x0A) whose
// width and height differ decodes into the canvas as an H x H square with rows
// H texels wide, while its picture has rows of W texels. nullopt for every
// other entry, and for sides beyond the canvas.
std::optional<std::vector<uint32_t>> TrueSizeRows(const TImage_Entry& entry, bool pvrFamily);

// Decodes entry `index` into store.canvas (CMPR also uses store.scratch), sets
// store.currentImage and store.readCursor, and returns the memo lines and the
// painted picture (from TrueSizeRows where it gives pixels). Before decoding, the canvas is cleared over max(W, H) x H,
// so neither the H x H square nor the W x H rectangle shows anything of an
// earlier image. Throws Error(Usage) for an index outside the table.
Selection SelectImage(ImageStore& store, int32_t index);

// The list's click handler as a command: with an item selected in the front
// end's list, runs SelectImage on it and shows the memo and the picture;
// with nothing selected does nothing. An item at or beyond the image count
// shows the bare "Description :" memo and no picture, and leaves the store as
// it is.
void SelectListedImage(ImageStore& store, FrontEnd& frontEnd);

// The notice for a texture shown with the fallback palette in place of its
// palette file, or of the part of it the file lacks; "" when the file gave
// every colour or the format uses none. The window's status line and the
// command line's `info` and `decode` tell the same.
std::string PaletteNotice(const PaletteUse& use);

// The status line of a selected entry: its size, its format in words, and its
// palette file found or the notice.
ImageStatus StatusOf(const TImage_Entry& entry, const Selection& selection);

// `value` as 8 upper-case hexadecimal digits, as the description shows format
// words and global indices.
std::string Hex8(uint32_t value);

// The checkerboard colour of pixel (x, y): 16 x 16 squares of 0xFFFFFF and
// 0xAFAFAF, white at the origin.
uint32_t CheckerboardColour(int32_t x, int32_t y);

// Pixel v (alpha in bits 24-31) over background colour bg: each channel moves
// toward bg by (255 - alpha) / 256 of the signed difference, the division
// truncating; alpha 0 gives bg, alpha 255 the colour itself. Bits 24-31 of
// the result are 0.
uint32_t BlendOverBackground(uint32_t v, uint32_t bg);

// Paints the canvas's width x height rectangle over the checkerboard into a
// width x height picture (each side clamped to 0..canvas side).
Picture PaintOverCheckerboard(const Canvas& canvas, int32_t width, int32_t height);

// The square form: a height x height picture in which canvas pixels with
// x < width are painted; columns x >= height are dropped, columns
// width..height-1 are bare checkerboard.
Picture PaintSquareOverCheckerboard(const Canvas& canvas, int32_t width, int32_t height);

}  // namespace quarrendel::texture
