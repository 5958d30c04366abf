// GameCube CMPR and DXT1 carry the same 8-byte colour blocks in a different
// order. DXT1: blocks in raster order, colours little-endian, each row's
// index byte with the leftmost pixel in bits 0-1. CMPR: 8 x 8-pixel tiles in
// raster order, each holding its four blocks top-left, top-right,
// bottom-left, bottom-right; colours big-endian; the leftmost pixel in bits
// 6-7. The conversions move whole blocks without decoding them.
#pragma once

#include <cstdint>
#include <span>

namespace quarrendel::texture {

// The four 2-bit fields of `b` in reverse order (0xE4 <-> 0x1B).
uint8_t ReverseIndexPairs(uint8_t b);

// Rewrite the top level of a side x side texture held in `data` from DXT1
// to CMPR order, or back. Only the top level is converted: every byte after
// it becomes zero, and a side below 4 (no whole block) leaves all of `data`
// zero. The two are exact inverses on a one-level texture.
// Throws Error(Unsupported) for a side of 4 or more that is not a multiple
// of 8 (CMPR tiles are 8 x 8), Error(Usage) for a negative side or data
// shorter than the top level (side * side / 2 bytes); `data` is then left
// as it was.
void Dxt1ToCmpr(int32_t side, std::span<uint8_t> data);
void CmprToDxt1(int32_t side, std::span<uint8_t> data);

}  // namespace quarrendel::texture
