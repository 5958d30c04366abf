// Windows bitmaps (".bmp") as sources of Import and Add: uncompressed 8, 16,
// 24 and 32 bits per pixel, each row padded to a multiple of 4 bytes. Fields,
// little-endian: "BM" at 0, pixel data offset at 10, header size at 14, width
// at 18, height at 22 (signed: positive for rows stored bottom-up, the usual
// form, negative for rows stored top-down), bits per pixel at 28, compression
// at 30.
// - 8 bits: an index into the table of 256 blue, green, red, reserved
//   entries that follows the information header (at 14 + header size: 54,
//   or 122 and 138 behind the V4 and V5 headers); opaque.
// - 16 bits: 1-5-5-5 with an alpha bit when the 16 bits 4 bytes before the
//   pixel data are 0x8000 (the low half of the alpha mask of a bitmap with
//   four colour masks), otherwise 5-6-5 and opaque.
// - 24 bits: blue, green, red; opaque. 32 bits: blue, green, red, alpha,
//   the alpha taken as stored.
// Channels are widened with zero low bits (5-bit 31 -> 248).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "core/image_store.h"

namespace quarrendel::imagefile {

inline constexpr std::string_view kNotBmpMessage = "This file isn't a valide BMP format.";
// Larger bitmaps do not fit the canvas.
inline constexpr int32_t kMaxBitmapSide = 2048;
// Room for a 2048 x 2048 32-bit bitmap and any headers and tables before it.
inline constexpr uint64_t kMaxBitmapFileBytes = 64ull << 20;

struct BitmapSize {
  int32_t width = 0;
  int32_t height = 0;
};

// The signed width at 18 and the size of the signed height at 22 (cut to
// INT32_MAX), whichever way the rows are stored. Throws Error(BadMagic,
// kNotBmpMessage) without "BM", Error(Truncated) when the file ends before
// them.
BitmapSize ReadBitmapSize(std::span<const uint8_t> file);

// Everything LoadBitmapIntoCanvas reads from the header, checked.
struct BitmapHeader {
  uint32_t pixelOffset = 0;
  uint32_t headerSize = 0;  // of the information header: 40, or more for the later forms
  int32_t width = 0;
  int32_t height = 0;     // rows, whichever way they are stored
  bool topDown = false;   // the stored height is negative: the first row is the top one
  uint16_t bitsPerPixel = 0;
  uint16_t maskWord = 0;  // 16-bit bitmaps only
  uint32_t compression = 0;
};

// Reads and checks the header: throws Error(BadMagic, kNotBmpMessage) for
// a wrong signature, and an Error with a message for an OS/2 header, a bit
// depth other than 8, 16, 24 or 32, compression (bit-field masks on 16 and
// 32-bit bitmaps are accepted), no pixels, a side above
// kMaxBitmapSide, pixel data that starts inside the header, and a file that
// ends before the last row.
BitmapHeader ReadBitmapHeader(std::span<const uint8_t> file);

// Checks the file as ReadBitmapHeader does, then writes canvas (x, y) for
// x < width and y < height. On a refusal the canvas is untouched.
void LoadBitmapIntoCanvas(std::span<const uint8_t> file, Canvas& canvas);

// The same reading the file at `path`, a regular file of at most
// kMaxBitmapFileBytes (refused as MappedFile refuses otherwise).
BitmapSize ReadBitmapSizeFromFile(const std::filesystem::path& path);
void LoadBitmapFileIntoCanvas(const std::filesystem::path& path, Canvas& canvas);

}  // namespace quarrendel::imagefile
