// Readers of the two package containers.
//  AFS: "AFS\0", member count M (LE), then M pairs of offset and size (LE)
//    inside a 524,288-byte header area; members are single textures (GBIX +
//    PVRT/GVRT, or XVRT) or PRS streams holding a PVM, GVM, XVM or a single
//    GBIX + PVRT texture; a member starting "end\0" ends the walk.
//  BML: a zero word, entry count C (1..255; LE, or BE when the count's upper
//    16 bits are set), the byte 0x50 at offset 8, 64-byte entries from offset
//    64, data from 64 * (C + 1) rounded up to 2048. Each entry's file data (S1
//    bytes) is followed by an optional PRS-compressed texture archive (S2
//    bytes), both padded to 32 bytes.
#pragma once

#include <cstdint>
#include <span>

#include "archive/texture_archive.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "core/mapped_file.h"

namespace quarrendel::archive {

inline constexpr const char* kUnsupportedMember =
    "Unsuported file are include in this package, Can't load this file. ";
inline constexpr const char* kInvalidBml = "Unsuported or invalide BML file";
inline constexpr const char* kBmlWithoutImages = "This BML does'nt contain any images";

inline constexpr size_t kAfsHeaderArea = 524'288;
inline constexpr int64_t kAfsMaxMembers = (kAfsHeaderArea - 8) / 8;  // 65,534 table entries

// Both readers count the images the archives they meet declare, and record a
// read that stops short: a member's PRS stream that ends before its end
// command is unpacked as far as it goes. Full block pools end the read with
// the image count set to the entries filled (ReadResult::poolFull).
// Compressed data is fetched through `input` into the input buffer, and
// `input` is told of each member or entry once it has been read. The progress
// panel appears with the first packed archive and tells each one unpacked.

// Reads an AFS archive (the whole file). Sets the image count, the PVR-family
// and package mode flags. A member whose bytes lie beyond the end of the file
// (a file cut short) ends the walk with the members read before it kept and
// the read stopped short (Damaged); a packed member the file cuts short is
// unpacked as far as it goes first. A member the reader cannot take
// otherwise - an unsupported kind, a table outside the file, a corrupt PRS
// stream, an unpacked member too large for the buffers, more images than the
// table holds - refuses the file with kUnsupportedMember, the members read
// before it kept.
ReadResult ReadAfs(ImageStore& store, std::span<const uint8_t> file, Progress& progress,
                   const InputHooks& input = InputHooks());

// Reads a BML package (the whole file). Sets the image count, the BML flag,
// the package mode flag and the package archive kind. An invalid header is
// refused with kInvalidBml. Sizes beyond the file, corrupt PRS streams and
// archives too large for the buffers or the table stop the walk with the
// images read so far. No images at all: the plain message kBmlWithoutImages.
ReadResult ReadBml(ImageStore& store, std::span<const uint8_t> file, Progress& progress,
                   const InputHooks& input = InputHooks());

}  // namespace quarrendel::archive
