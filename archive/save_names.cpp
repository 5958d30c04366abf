#include "archive/save_names.h"

#include <cctype>

namespace quarrendel::archive {

namespace {

// Position of the extension's dot in `name`, or npos when the file name has none.
size_t ExtensionDot(std::string_view name) {
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::string_view::npos;
  return dot;
}

}  // namespace

std::optional<SaveTarget> SaveTargetOf(int32_t filterIndex) {
  switch (filterIndex) {
    case 1: return SaveTarget{false, PackageArchiveKind::Pvm, AfsPlatform::Pc, ".pvm"};
    case 2: return SaveTarget{false, PackageArchiveKind::Xvm, AfsPlatform::Pc, ".xvm"};
    case 3: return SaveTarget{true, PackageArchiveKind::None, AfsPlatform::Pc, ".afs"};
    case 4: return SaveTarget{true, PackageArchiveKind::None, AfsPlatform::Xbox, ".afs"};
    case 5: return SaveTarget{false, PackageArchiveKind::Gvm, AfsPlatform::Pc, ".gvm"};
    case 6: return SaveTarget{true, PackageArchiveKind::None, AfsPlatform::Gc, ".afs"};
    default: return std::nullopt;
  }
}

std::optional<int32_t> FilterIndexOfKindName(std::string_view name) {
  for (const SaveKindName& kind : kSaveKindNames) {
    if (kind.name == name) return kind.filterIndex;
  }
  return std::nullopt;
}

std::string SaveKindNameList() {
  std::string list;
  for (const SaveKindName& kind : kSaveKindNames) list += (list.empty() ? "" : "|") + std::string(kind.name);
  return list;
}

std::string ForceExtension(std::string_view name, std::string_view extension) {
  return std::string(name.substr(0, ExtensionDot(name))) + std::string(extension);
}

bool HasPrsExtension(std::string_view name) {
  const size_t dot = ExtensionDot(name);
  if (dot == std::string_view::npos) return false;
  std::string extension(name.substr(dot));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".prs";
}

}  // namespace quarrendel::archive
