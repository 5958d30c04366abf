// Vector quantisation for the VQ layouts (data formats 3, 4, 16 and 17).
// Every 2 x 2 block of a picture is one vector; a codebook entry is the
// four texel words of a block's texels (0, 0), (0, 1), (1, 0), (1, 1) (x, y
// inside the block), in that order, as the VQ decoders read them, and the
// texture holds one index byte per block.
//
// Several pictures share one codebook: a mipmapped VQ texture quantises all
// its levels together. A 1 x 1 picture (the last level of a chain, which
// has one index byte but no whole block) is quantised as a block of four
// copies of its texel, so that every texel of its entry is near it.
//
// Pixel formats: ARGB1555, RGB565, ARGB4444 (words as texel_format.h
// chooses them) and YUV422, whose entry holds two pairs: texels (0, 0) and
// (1, 0) are a pair's left and right words (entry words 0 and 2), texels
// (0, 1) and (1, 1) the other pair (words 1 and 3); the left word is
// Y << 8 | U, the right one Y << 8 | V. The error is measured between the
// source pixels and what the decoders make of the entry (YUV422 by
// YuvToPixel, which the VQ decoders do not apply yet: they leave YUV texels
// raw), over red, green, blue and, where the format has it, alpha.
//
// The clustering is cluster_quantize.h's: a split start, Lloyd passes until
// one improves the error by less than 0.1 % or `maxPasses` have run, the
// same words for every run and every thread count.
//
// Codebook sizes: 256 entries for VQ; SmallVqCodebookBytes(side,
// mipmapped) / 8 for small VQ (16 for sides up to 16, 32 at 32 and 128 at
// 64 without mipmaps; with mipmaps 16, 64 and 256).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "texture/format_table.h"
#include "texture/rgba_image.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::texture {

inline constexpr int32_t kVqMaxPasses = 24;

struct VqResult {
  // codes x 4 texel words; entries no index uses hold any words.
  std::vector<uint16_t> codebook;
  // Per picture, one index per block, blocks in raster order: block (bx, by)
  // of a width x height picture at by * (width / 2) + bx; one index for a
  // 1 x 1 picture.
  std::vector<std::vector<uint8_t>> indices;
  // The squared error summed over every texel of every block (the four
  // copies of a 1 x 1 picture included).
  uint64_t error = 0;
  int32_t passes = 0;  // Lloyd passes run (0 when every block got its own entry)
};

// Quantises the blocks of `pictures` to a codebook of `codes` (1 to 256)
// entries of `format` (ARGB1555, RGB565, ARGB4444 or YUV442). Each picture
// is 1 x 1 or has even sides. With no more distinct blocks than `codes`,
// every block gets the entry nearest to it (the entries left over repeat
// entry 0). Throws Error(Usage) for any
// other format, size or count, before any work. `pool`, when given, runs the
// assignment passes on its workers.
VqResult QuantizeVectors(std::span<const RgbaView> pictures, PixelFormat format, int32_t codes,
                         WorkerPool* pool = nullptr, int32_t maxPasses = kVqMaxPasses);

}  // namespace quarrendel::texture
