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

std::optional<SaveKind> SaveKindOf(int32_t filterIndex) {
  if (filterIndex < 1 || filterIndex > 6) return std::nullopt;
  return static_cast<SaveKind>(filterIndex);
}

SaveTarget SaveTargetOf(SaveKind kind) {
  using enum TargetFamily;
  switch (kind) {
    case SaveKind::Pvm: return {false, PackageArchiveKind::Pvm, AfsPlatform::Pc, ".pvm", DcPc};
    case SaveKind::Xvm: return {false, PackageArchiveKind::Xvm, AfsPlatform::Pc, ".xvm", XboxBb};
    case SaveKind::AfsPc: return {true, PackageArchiveKind::None, AfsPlatform::Pc, ".afs", DcPc};
    case SaveKind::AfsXbox: return {true, PackageArchiveKind::None, AfsPlatform::Xbox, ".afs", XboxBb};
    case SaveKind::Gvm: return {false, PackageArchiveKind::Gvm, AfsPlatform::Pc, ".gvm", Gc};
    case SaveKind::AfsGc: return {true, PackageArchiveKind::None, AfsPlatform::Gc, ".afs", Gc};
  }
  return {};
}

std::optional<SaveKind> SaveKindOfName(std::string_view name) {
  for (const SaveKindName& kind : kSaveKindNames) {
    if (kind.name == name) return kind.kind;
  }
  return std::nullopt;
}

std::string SaveKindNameList() {
  std::string list;
  for (const SaveKindName& kind : kSaveKindNames) {
    if (!list.empty()) list += '|';
    list += kind.name;
  }
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
