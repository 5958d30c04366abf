// Games look textures up by their global index (the GBIX value): when two
// images of one archive carry the same index, one of them can never be found.
// Writing such an archive is allowed; the commands that write one warn.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/image_store.h"

namespace quarrendel::archive {

struct SharedGlobalIndex {
  uint32_t globalIndex = 0;
  std::vector<int32_t> images;  // table indices, ascending; two or more
};

// Every global index held by more than one of `images`, in order of the
// index's first image.
std::vector<SharedGlobalIndex> FindSharedGlobalIndices(std::span<const TImage_Entry> images);

// One line per shared index, for example
// "warning: images 0, 3 and 7 share the global index 4096 (00001000)".
std::vector<std::string> SharedGlobalIndexWarnings(std::span<const TImage_Entry> images);

}  // namespace quarrendel::archive
