// The zlib stream (RFC 1950) of a PNG's image data: filtered rows, each a
// filter-type byte and the row's residuals. Its deflate encoder (RFC 1951)
// parses each block of about 32 768 symbols first with a fast search for
// repeats where filtered rows have them: runs of one byte, the pixel before
// (4 bytes back), the same place one row up, and the last place a 4-byte
// string was seen (one small hash table, no chains). A denser search (hash
// chains at every position) is tried on a few stretches of the block; where
// it promises clearly fewer bits, the block is parsed again with it and the
// smaller of the two parses kept. Each block gets its own Huffman codes, at
// most 15 bits long, or keeps the fixed codes or is stored when that is
// smaller. The stream depends only on the bytes and the row length: the same
// on every run, machine and thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quarrendel::imagefile {

// Appends the zlib stream of `data` to `out`: the two header bytes, the
// deflate blocks and the Adler-32 of `data`. `rowDistance` is the distance
// from a byte to the same byte of the row above (the row's bytes plus its
// filter byte), 0 when there are no rows.
void AppendZlibStream(std::span<const uint8_t> data, size_t rowDistance, std::vector<uint8_t>& out);

}  // namespace quarrendel::imagefile
