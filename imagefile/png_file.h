// PNG files, read with libspng and written by our own encoder (png_deflate.h).
// Reading takes every colour type and bit depth (palette, grey, grey + alpha,
// RGB, RGBA; 1 to 16 bits; interlaced or not), applies a tRNS chunk, and
// gives 8-bit RGBA: 16-bit samples keep their high byte, grey levels below 8
// bits are scaled to the full range, gamma and colour profiles are ignored.
// Writing makes 8-bit RGBA with one IDAT chunk, each row filtered as
// ChoosePngRowFilter picks.
//
// A PNG is untrusted input: its header is checked before any pixel memory is
// allocated (at most kMaxPngSide in each direction), ancillary chunks are
// capped (kMaxPngChunkBytes each, kMaxPngChunkCache together), and CRCs and
// the zlib checksum are verified. Every refusal is an Error whose message
// starts "PNG Error: ".
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "core/image_store.h"

namespace quarrendel::imagefile {

// The first 8 bytes of every PNG file.
inline constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

// Larger pictures do not fit the canvas.
inline constexpr int32_t kMaxPngSide = 2048;
// A 2048 x 2048 RGBA picture stored without compression takes about 16 MiB.
inline constexpr uint64_t kMaxPngFileBytes = 64ull << 20;
inline constexpr size_t kMaxPngChunkBytes = 1u << 20;
inline constexpr size_t kMaxPngChunkCache = 4u << 20;

// A picture as rows top to bottom, each pixel 4 bytes: red, green, blue, alpha.
struct RgbaImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;

  uint32_t Pixel(int32_t x, int32_t y) const;  // red in bits 0-7 ... alpha 24-31, as the canvas holds it
};

struct PngSize {
  int32_t width = 0;
  int32_t height = 0;
};

// The size in the header. Throws Error(BadMagic) when the file is no PNG,
// Error(Truncated) or Error(Corrupt) for a damaged header, and
// Error(OverCapacity) for a side above kMaxPngSide.
PngSize ReadPngSize(std::span<const uint8_t> file);

// The whole picture, checked to its last chunk. Throws as ReadPngSize, and
// Error(Truncated) or Error(Corrupt) for damaged image data or chunks.
RgbaImage ReadPng(std::span<const uint8_t> file);

// An 8-bit RGBA PNG of `image`. Throws Error(Usage) for a side outside
// 1..kMaxPngSide or a pixel buffer that does not hold width x height pixels.
std::vector<uint8_t> WritePng(const RgbaImage& image);

// Writes canvas (x, y) for x < width and y < height of `image`.
void CopyIntoCanvas(const RgbaImage& image, Canvas& canvas);

// ReadPng of the file at `path` (at most kMaxPngFileBytes, a regular file;
// refused as MappedFile refuses otherwise).
RgbaImage ReadPngFile(const std::filesystem::path& path);

}  // namespace quarrendel::imagefile
