// The Save command's choices by name: the save dialog's filter list, what each
// filter index writes, and the extension rules for the written names.
#pragma once

#include <cstdint>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "archive/afs_writer.h"
#include "core/frontend.h"
#include "core/image_store.h"

namespace quarrendel::archive {

inline constexpr const char* kSaveDialog1Filter =
    "PC Format|*.pvm|BB Format|*.xvm|AFS PC Format|*.afs|AFS BB/Xbox Format|*.afs|GC Format|*.gvm|"
    "AFS GC Format|*.afs";

// The kinds of file Save writes; each value is its filter index in
// kSaveDialog1Filter.
enum class SaveKind : int32_t { Pvm = 1, Xvm = 2, AfsPc = 3, AfsXbox = 4, Gvm = 5, AfsGc = 6 };

// The kind filter index `filterIndex` of SaveDialog1 names, or nullopt.
std::optional<SaveKind> SaveKindOf(int32_t filterIndex);

// What one kind writes.
struct SaveTarget {
  bool afs = false;                                      // an AFS file, else a texture archive file
  PackageArchiveKind kind = PackageArchiveKind::None;   // the archive file's kind (texture archive only)
  AfsPlatform platform = AfsPlatform::Pc;                // the AFS file's platform (AFS only)
  std::string_view extension;                            // forced on the name (AFS: in texture mode only)
  TargetFamily family = TargetFamily::DcPc;              // the platform whose textures it holds
};

SaveTarget SaveTargetOf(SaveKind kind);

// The kinds of file the command line names (`--as KIND`).
struct SaveKindName {
  std::string_view name;
  SaveKind kind;
};
inline constexpr std::array<SaveKindName, 6> kSaveKindNames{{{"pvm", SaveKind::Pvm},
                                                             {"xvm", SaveKind::Xvm},
                                                             {"afs-pc", SaveKind::AfsPc},
                                                             {"afs-xbox", SaveKind::AfsXbox},
                                                             {"gvm", SaveKind::Gvm},
                                                             {"afs-gc", SaveKind::AfsGc}}};

// The kind a name of kSaveKindNames (exact, lower case) names, or nullopt.
std::optional<SaveKind> SaveKindOfName(std::string_view name);

// "pvm|xvm|afs-pc|afs-xbox|gvm|afs-gc", for help texts.
std::string SaveKindNameList();

// `name` with the extension of its file name (from the last dot after the
// last '/') replaced by `extension`, or with `extension` appended when the
// file name has no dot.
std::string ForceExtension(std::string_view name, std::string_view extension);

// True when the extension of the file name, lower-cased, is ".prs".
bool HasPrsExtension(std::string_view name);

}  // namespace quarrendel::archive
