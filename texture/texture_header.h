// The headers in front of texture data.
//  GBIX (16 bytes): "GBIX", length 8 (LE), global index (LE in PVR files, BE
//    in GVR files), 4 zero bytes.
//  PVRT (16 bytes, LE): "PVRT", chunk length = data length + 8, format word
//    bytes 8-11 (pixel format, data format, two bytes of zero), width, height.
//  GVRT (16 bytes): "GVRT", chunk length LE, two zero bytes, pixel format byte,
//    data format byte, width BE, height BE. Its PVRT form is the same head
//    with bytes 8-11 as 10, 11, 8, 9 and width and height swapped.
//  XVRT (64 bytes, LE): "XVRT", chunk length = data length + 56, flags
//    (bit 0 mipmaps, bit 1 transparency), format code, global index, width,
//    height, data length, 36 reserved bytes.
#pragma once

#include <cstdint>

#include "core/byte_io.h"
#include "core/image_store.h"

namespace quarrendel::texture {

enum class Endian { Little, Big };

inline constexpr size_t kChunkHeadSize = 16;  // PVRT and GVRT
inline constexpr size_t kXvrtHeadSize = 64;

struct GbixChunk {
  uint32_t length = 8;
  uint32_t globalIndex = 0;  // machine order
};

// A PVRT or GVRT head in its PVRT (little-endian) form.
struct TextureHead {
  char magic[4] = {'P', 'V', 'R', 'T'};
  uint32_t chunkLength = 0;
  uint32_t format = 0;  // bytes 8-11 of the PVRT form as a LE word
  uint16_t width = 0;
  uint16_t height = 0;

  int64_t DataLength() const { return static_cast<int64_t>(chunkLength) - 8; }
  bool HasMagic(const char (&m)[5]) const {
    return magic[0] == m[0] && magic[1] == m[1] && magic[2] == m[2] && magic[3] == m[3];
  }
};

struct XvrtHead {
  uint32_t chunkLength = 0;
  uint32_t flags = 0;
  uint32_t formatCode = 0;
  uint32_t globalIndex = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t dataLength = 0;

  // Flags are added, not masked, into the entry's format word.
  uint32_t EntryFormat() const { return formatCode * 256u + flags; }
};

// Readers consume exactly the header bytes; they throw Error(Truncated) when
// the data ends first. Magics are returned, not checked.
GbixChunk ReadGbix(ByteReader& in, Endian indexOrder);
TextureHead ReadPvrtHead(ByteReader& in);
// Reads a GVRT head and converts it to the PVRT form: format = byte 10 + 256 *
// byte 11 + 65536 * byte 8 + 16777216 * byte 9, width and height from BE.
TextureHead ReadGvrtHead(ByteReader& in);
XvrtHead ReadXvrtHead(ByteReader& in);

void WriteGbix(ByteWriter& out, uint32_t globalIndex, Endian indexOrder);
void WritePvrtHead(ByteWriter& out, const TextureHead& head);
// Writes the head in GVRT form: the PVRT record converted byte for byte, the
// chunk length staying little-endian.
void WriteGvrtHead(ByteWriter& out, const TextureHead& head);
void WriteXvrtHead(ByteWriter& out, const XvrtHead& head);

// The head of an entry as the writers store it: chunk length DataLength + 8.
TextureHead HeadOfEntry(const TImage_Entry& entry, const char (&magic)[5]);
// Copies Width, Height and Format of a head into an entry (not its data).
void ApplyHead(const TextureHead& head, TImage_Entry& entry);
void ApplyHead(const XvrtHead& head, TImage_Entry& entry);

}  // namespace quarrendel::texture
