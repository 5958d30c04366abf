// Writers of AFS archives, as bytes. The header area is 524,288 bytes: "AFS\0",
// the member count, then (offset, size) per member, zeros after the table.
// Every member starts on a multiple of 2048 from 524,288, zeros filling the gaps.
//  Texture mode: one member per image, a single texture: PC a 12-byte GBIX
//    chunk (length 4, index LE) and the PVRT head; GameCube the same chunk
//    with the index BE and the GVRT head; Xbox the XVRT header alone. The size
//    field is the member rounded up to 2048.
//  Packed mode: the images regrouped into packages (runs of equal
//    PackageIndex), each laid out as a packed archive of the platform's kind
//    (PVM, GVM, XVM) and PRS-compressed; the size field is the exact
//    compressed length. At most 4095 members and 10,000,000 bytes in all.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "core/image_store.h"
#include "core/worker_pool.h"

namespace quarrendel::archive {

enum class AfsPlatform { Pc, Xbox, Gc };

inline constexpr size_t kAfsAlignment = 2048;
inline constexpr int32_t kMaxPackedAfsMembers = 4095;

// The packed archive kind of a platform: PVM for PC, XVM for Xbox, GVM for GameCube.
PackageArchiveKind ArchiveKindOf(AfsPlatform platform);

// "Packing and compressing image in pvm : " (gvm, xvm) followed by `archives`.
std::string PackingCaption(AfsPlatform platform, int32_t archives);

// Texture mode. Throws, before building: Error(OverCapacity) for more images
// than the table holds or a file whose offsets pass 32 bits; Error(Corrupt)
// for an image without its data.
std::vector<uint8_t> BuildAfsOfTextures(AfsPlatform platform, std::span<const TImage_Entry> images);

// Packed mode. The archives are compressed on `pool`, the file assembled in
// table order, so the bytes do not depend on the number of threads. Progress
// goes to frontEnd.SetProgress from the calling thread, in order, at every
// step I = 0 .. images.size(): PackingCaption(platform, k), maximum
// images.size(), position I, where k counts the archives finished before step
// I (the package of images a .. b - 1 finishes at step b). The steps of a
// package are shown once the archives before it are in the file. `best`: the
// smallest PRS streams (see PackStream).
// Throws Error(OverCapacity) before compressing anything for a package of
// more than 120 images (PVM, GVM) or more bytes than the buffers, or more
// than 4095 packages; and when the file would pass 10,000,000 bytes.
std::vector<uint8_t> BuildPackedAfs(AfsPlatform platform, std::span<const TImage_Entry> images, WorkerPool& pool,
                                    FrontEnd& frontEnd, bool best = false);

}  // namespace quarrendel::archive
