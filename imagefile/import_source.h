// The files Import and Add take, recognised by their first bytes. A file that
// starts with "GBIX" has a 16-byte GBIX chunk first (its index at 8, taken
// as stored: read little-endian whatever the texture's byte order); the
// texture's own signature is then read at 16 and every offset below counts
// from there. Little-endian unless said otherwise.
//  "BM"    Windows bitmap, the whole file (see bmp_read.h).
//  "PVRT"  PVR texture: chunk length (= data length + 8) at 4, format word at
//          8, width at 12, height at 14 (16-bit), data from 16.
//  "4"     (Add only) RGB565 picture: width at 4, height at 8 (16-bit), data
//          length at 20, data from 52; format word 0x0901.
//  "GVRT"  GVR texture: the PVRT layout with the format word's bytes as 2, 3,
//          0, 1 and big-endian width and height.
//  "XVRT"  XVR texture: flags at 8, format code at 12 (format word = code *
//          256 + flags), global index at 16, width 20, height 22, data length
//          24, data from 64.
//  "DDS "  DDS file: height at 12, width at 16, linear size (bytes of the top
//          level) at 20, mipmap count at 28, FourCC at 84 ("DXT1", "DXT3" or
//          "DXT5"; any other, uncompressed files included, is refused); data
//          from 128, largest level first.
//  "\x89PNG\r\n\x1a\n"  PNG picture (see png_file.h), from there to the end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace quarrendel::imagefile {

enum class SourceKind { Unknown, Bitmap, Pvr, Raw565, Gvr, Xvr, Dds, Png };

struct SourceFile {
  SourceKind kind = SourceKind::Unknown;
  std::optional<uint32_t> gbixIndex;  // the GBIX chunk's index, as stored
  size_t at = 0;                      // where the texture starts: 0, or 16 behind a GBIX chunk
};

// The kind of `file` by its signature; the "4" kind only when `raw565`
// (Add) is set. Reads nothing beyond the signatures.
SourceFile IdentifySource(std::span<const uint8_t> file, bool raw565);

// A PVR, GVR, XVR or "4" texture, taken as it is.
struct RawTexture {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t format = 0;
  std::optional<uint32_t> globalIndex;  // the XVRT header's
  std::span<const uint8_t> data;
};

// Reads the texture `source` found. Throws Error(Truncated) when the header
// or the data runs past the end of the file, Error(Corrupt) for a chunk
// length below 8, Error(OverCapacity) for data beyond the work buffers.
RawTexture ReadRawTexture(std::span<const uint8_t> file, const SourceFile& source);

inline constexpr int32_t kMaxDdsSide = 2048;

// The block kind of a DDS file by its FourCC.
enum class DdsBlocks { Dxt1, Dxt3, Dxt5 };

struct DdsSource {
  int32_t side = 0;           // width = height
  DdsBlocks blocks = DdsBlocks::Dxt3;
  uint32_t linearSize = 0;    // at least the top level's bytes
  uint32_t mipCount = 0;      // as the header says
  std::span<const uint8_t> data;  // everything after the header

  std::span<const uint8_t> TopLevel() const { return data.first(linearSize); }
};

// Reads and checks the header of the DDS file at `at`. Throws
// Error(Truncated) for a file shorter than the header or than its linear
// size, Error(Unsupported) for a width other than the height or a FourCC
// other than DXT1, DXT3 and DXT5 (named in the message),
// Error(OverCapacity) for sides above kMaxDdsSide, Error(Corrupt) for a side
// of 0 or a linear size below the top level's bytes.
DdsSource ReadDdsSource(std::span<const uint8_t> file, size_t at);

}  // namespace quarrendel::imagefile
