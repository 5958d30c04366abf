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
//    compressed length. The members go to a FileSink as they are compressed,
//    the table over the header area at the end, so the file may take up to
//    the 4 GiB its 32-bit offsets reach.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/file_writer.h"
#include "core/frontend.h"
#include "core/image_store.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::archive {

enum class AfsPlatform { Pc, Xbox, Gc };

inline constexpr size_t kAfsAlignment = 2048;
// Member offsets and sizes are 32-bit: no AFS file passes this many bytes.
inline constexpr uint64_t kMaxAfsBytes = UINT32_MAX;
// Table entries the 524,288-byte header area holds after "AFS\0" and the count.
inline constexpr int32_t kMaxPackedAfsMembers = (524'288 - 8) / 8;

// Texture mode. Throws, before building: Error(OverCapacity) for more images
// than the table holds or a file whose offsets pass 32 bits; Error(Corrupt)
// for an image without its data.
std::vector<uint8_t> BuildAfsOfTextures(AfsPlatform platform, std::span<const TImage_Entry> images);

struct PackedAfsOptions {
  // The smallest PRS streams (see PackStream).
  bool best = false;
  // The most bytes the file may take, and why, for the refusal beyond it.
  uint64_t maxBytes = kMaxAfsBytes;
  std::string maxBytesReason = "its member offsets are 32-bit";
};

// Packed mode, written to `out` from its start as the archives are
// compressed on `pool` (a few ahead of the one being written): the zero
// header area, each member in table order with its padding, and at the end
// the member table over the header area's start. The bytes do not depend on
// the number of threads. Progress
// goes to frontEnd.SetProgress from the calling thread, in order, at every
// step I = 0 .. images.size(): "Packing and compressing image in pvm : k"
// (gvm for GameCube, xvm for Xbox), maximum
// images.size(), position I, where k counts the archives finished before step
// I (the package of images a .. b - 1 finishes at step b). The steps of a
// package are shown once the archives before it are in the file.
// Throws Error(OverCapacity) before writing anything for a package of more
// than 120 images (PVM, GVM) or more bytes than the buffers, or more
// packages than the table holds; and, when the member that would pass
// options.maxBytes comes, "the packed AFS would pass N bytes at archive R; "
// followed by options.maxBytesReason. Errors of `out` propagate.
void WritePackedAfs(AfsPlatform platform, std::span<const TImage_Entry> images, WorkerPool& pool,
                    FrontEnd& frontEnd, FileSink& out, const PackedAfsOptions& options = {});

// The same into memory.
std::vector<uint8_t> BuildPackedAfs(AfsPlatform platform, std::span<const TImage_Entry> images, WorkerPool& pool,
                                    FrontEnd& frontEnd, const PackedAfsOptions& options = {});

}  // namespace quarrendel::archive
