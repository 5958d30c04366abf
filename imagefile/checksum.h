// The two checksums a PNG file carries: CRC-32 over each chunk's type and
// data (the reflected polynomial 0xEDB88320 of ISO 3309, as zlib and gzip
// use it), worked out eight bytes at a time with sliced tables; and Adler-32
// at the end of the zlib stream of the image data (two sums modulo 65521),
// worked out 16 bytes at a time with SSE2 where the machine has it. Both
// give the same value on every machine.
#pragma once

#include <cstdint>
#include <span>

namespace quarrendel::imagefile {

// The CRC-32 of `bytes` following bytes whose CRC-32 was `crc` (0 for none).
uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

// The Adler-32 of `bytes` following bytes whose Adler-32 was `adler` (1 for
// none).
uint32_t Adler32(std::span<const uint8_t> bytes, uint32_t adler = 1);

}  // namespace quarrendel::imagefile
