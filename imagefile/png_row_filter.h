// The PNG row filter an encoder gives each row of 8-bit RGBA pixels: the one
// of the five (0 none, 1 sub, 2 up, 3 average, 4 Paeth) whose residual bytes,
// read as signed, have the smallest sum of absolute values, the lowest type
// on a tie. Picking the filter here lets the deflate stream be written with
// run-length matching only, which is where the time of a PNG goes; the sum is
// worked out 16 bytes at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrendel::imagefile {

// `row` and `above` hold `bytes` bytes (4 per pixel); `above` is all zero for
// the first row.
int32_t ChoosePngRowFilter(const uint8_t* above, const uint8_t* row, size_t bytes);

// Writes the residuals of `filter` (0..4) for the row to `out` (`bytes`
// bytes, not overlapping `row` or `above`).
void ApplyPngRowFilter(int32_t filter, const uint8_t* above, const uint8_t* row, size_t bytes, uint8_t* out);

}  // namespace quarrendel::imagefile
