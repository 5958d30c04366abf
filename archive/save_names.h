// The Save command's choices by name: the save dialog's filter list, what each
// filter index writes, and the extension rules for the written names.
#pragma once

#include <cstdint>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "archive/afs_writer.h"
#include "core/image_store.h"

namespace quarrendel::archive {

inline constexpr const char* kSaveDialog1Filter =
    "PC Format|*.pvm|BB Format|*.xvm|AFS PC Format|*.afs|AFS BB/Xbox Format|*.afs|GC Format|*.gvm|"
    "AFS GC Format|*.afs";

// What one filter index of kSaveDialog1Filter writes.
struct SaveTarget {
  bool afs = false;                                      // an AFS file, else a texture archive file
  PackageArchiveKind kind = PackageArchiveKind::None;   // the archive file's kind (texture archive only)
  AfsPlatform platform = AfsPlatform::Pc;                // the AFS file's platform (AFS only)
  std::string_view extension;                            // forced on the name (AFS: in texture mode only)
};

// Filter index 1 PVM, 2 XVM, 3 AFS PC, 4 AFS Xbox, 5 GVM, 6 AFS GameCube;
// nullopt for any other index.
std::optional<SaveTarget> SaveTargetOf(int32_t filterIndex);

// The kinds of file the command line names (`--as KIND`), by filter index.
struct SaveKindName {
  std::string_view name;
  int32_t filterIndex;
};
inline constexpr std::array<SaveKindName, 6> kSaveKindNames{{
    {"pvm", 1}, {"xvm", 2}, {"afs-pc", 3}, {"afs-xbox", 4}, {"gvm", 5}, {"afs-gc", 6}}};

// The filter index of a kind name of kSaveKindNames (exact, lower case), or nullopt.
std::optional<int32_t> FilterIndexOfKindName(std::string_view name);

// "pvm|xvm|afs-pc|afs-xbox|gvm|afs-gc", for help texts.
std::string SaveKindNameList();

// `name` with the extension of its file name (from the last dot after the
// last '/') replaced by `extension`, or with `extension` appended when the
// file name has no dot.
std::string ForceExtension(std::string_view name, std::string_view extension);

// True when the extension of the file name, lower-cased, is ".prs".
bool HasPrsExtension(std::string_view name);

}  // namespace quarrendel::archive
