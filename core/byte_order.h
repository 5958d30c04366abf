// Byte-order conversions between the big-endian GameCube records (GVM, GVR,
// big-endian BML) and the little-endian forms the rest of the system uses.
// Every record conversion is its own inverse.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quarrendel {

constexpr uint32_t Swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
constexpr uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// Reverses each 4-byte word of `bytes` in place; a trailing partial word is left alone.
void SwapDwords(std::span<uint8_t> bytes);

using GvmHeaderRecord = std::array<uint8_t, 12>;  // magic, header length (LE), flags, count
using GvmEntryRecord = std::array<uint8_t, 36>;   // number, 28-byte name, 2 filler, 4-byte slot
using ChunkHeadRecord = std::array<uint8_t, 16>;  // magic, length (LE), 4 format bytes, width, height

// Bytes 0-7 unchanged; the 16-bit values at 8 and 10 byte-swapped.
void ConvertGvmHeader(GvmHeaderRecord& header);
// Bytes 0-1 swapped (entry number), 2-29 unchanged (name), 32-35 reversed
// (slot). Bytes 30-31 are filler that no reader or writer uses; they are left as they are.
void ConvertGvmEntry(GvmEntryRecord& entry);
// GVRT head <-> PVRT head: bytes 0-7 unchanged; new 8, 9, 10, 11 = old 10,
// 11, 8, 9; the 16-bit values at 12 and 14 byte-swapped.
void ConvertGvrtHead(ChunkHeadRecord& head);

}  // namespace quarrendel
