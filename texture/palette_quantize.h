// Colour quantisation for the palettised layouts: 16 colours for 4-bit
// indices, 256 for 8-bit ones. The palette holds texel words of one format:
// ARGB1555, RGB565 or ARGB4444 for the PVR and Xbox ".pvp" files
// (little-endian there), RGB5A3 for the GameCube ".gvp" files (big-endian
// there); the words themselves are values, the writer orders their bytes.
//
// When the picture, each pixel reduced to the format (ReduceTexel), has no
// more colours than the palette holds, the palette is those words in
// ascending order and every pixel keeps its reduced colour. Otherwise the
// distinct source colours, weighted by their pixel counts, are clustered as
// cluster_quantize.h does: a split start (the cluster with the largest error
// cut at its mean across its principal axis, again and again), Lloyd passes until one improves the error by less than 0.1 % or
// `maxPasses` have run, the same words for every run and every thread count.
// The error is squared, over red, green, blue and (but for RGB565) alpha,
// between the source pixels and their decoded palette colours.
#pragma once

#include <cstdint>
#include <vector>

#include "texture/rgba_image.h"
#include "texture/texel_format.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::texture {

inline constexpr int32_t kPaletteMaxPasses = 32;

struct PaletteResult {
  std::vector<uint16_t> palette;  // `colours` words; entries no index uses hold any words
  std::vector<uint8_t> indices;   // one per pixel, row-major like the picture
  uint64_t error = 0;             // squared error summed over the pixels
  int32_t passes = 0;             // Lloyd passes run (0 for an exact palette)
};

// Quantises `picture` (at least 1 x 1) to `colours` (1 to 256) words of
// `format`. Throws Error(Usage) for another count or a picture whose pixel
// count is not width x height, before any work. `pool`, when given, runs the
// assignment passes on its workers.
PaletteResult QuantizePalette(const RgbaView& picture, TexelFormat format, int32_t colours,
                              WorkerPool* pool = nullptr, int32_t maxPasses = kPaletteMaxPasses);

}  // namespace quarrendel::texture
