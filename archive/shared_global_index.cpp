#include "archive/shared_global_index.h"

#include <unordered_map>

#include "texture/image_selection.h"

namespace quarrendel::archive {

std::vector<SharedGlobalIndex> FindSharedGlobalIndices(std::span<const TImage_Entry> images) {
  std::vector<SharedGlobalIndex> groups;
  std::unordered_map<uint32_t, size_t> groupOf;
  for (size_t i = 0; i < images.size(); ++i) {
    const auto [it, fresh] = groupOf.try_emplace(images[i].GlobalIndex, groups.size());
    if (fresh) groups.push_back({images[i].GlobalIndex, {}});
    groups[it->second].images.push_back(static_cast<int32_t>(i));
  }
  std::erase_if(groups, [](const SharedGlobalIndex& g) { return g.images.size() < 2; });
  return groups;
}

std::vector<std::string> SharedGlobalIndexWarnings(std::span<const TImage_Entry> images) {
  std::vector<std::string> lines;
  for (const SharedGlobalIndex& group : FindSharedGlobalIndices(images)) {
    std::string list;
    for (size_t k = 0; k < group.images.size(); ++k) {
      if (k > 0) list += k + 1 == group.images.size() ? " and " : ", ";
      list += std::to_string(group.images[k]);
    }
    lines.push_back("warning: images " + list + " share the global index " + std::to_string(group.globalIndex) +
                    " (" + texture::Hex8(group.globalIndex) + ")");
  }
  return lines;
}

}  // namespace quarrendel::archive
