// Readers of the three texture archive layouts:
//  PVM: "PVMH", header length H (LE), flags (LE; byte 8 examined), entry count
//    (LE), entries of a 2-byte number, a 28-byte name and a 4-byte global
//    index (38 bytes with a trailing 4-byte index when the flags byte is 0x0F),
//    then from H + 8 chunks of magic, LE length and payload; "PVRT" chunks are
//    the textures in entry order.
//  GVM: the same with big-endian flags (byte 9 examined), count, entry fields
//    and texture dimensions; "GVRT" chunks. The header length and every chunk
//    length stay little-endian.
//  XVM: "XVMH", header length H, texture count; from H + 8 consecutive XVRT
//    chunks with a 64-byte header.
//
// The file readers take the whole file; the in-memory readers take an archive
// just unpacked from an AFS member or a BML entry and append its images at a
// running index. Every reader stops at the end of the data: a texture whose
// header or data is cut short, a texture chunk shorter than its own 8 bytes of
// format and size, or a chunk that lies beyond the data ends the walk, and the
// images filled before it stay loaded. Entries are filled one at a time (data,
// fields, then the list item), so the image count always equals the number of
// entries filled, and the list shows exactly those entries.
#pragma once

#include <cstdint>
#include <span>

#include "core/frontend.h"
#include "core/image_store.h"
#include "core/mapped_file.h"

namespace quarrendel::archive {

// The package reader that runs an in-memory reader. A PVM's entry-table test
// and its "MDLN" skip depend on it; the GVM and XVM readers ignore it.
enum class PackageCaller { Afs, Bml };

// Every reader adds the images its archive declares to store.imagesDeclared
// and, when it fills fewer, records the load as incomplete (Damaged).

// File readers: fill entries 0 .. n - 1 and one list item each, set the image
// count to n and return it. The PVM reader sets the PVR-family flag; the GVM
// and XVM readers leave it alone. `input` is told of each texture chunk once
// its data has been copied out.
// Throw, before anything in the store or the list changes:
//  Error(Truncated) when the 12-byte archive header is incomplete;
//  Error(OverCapacity) when the archive declares more images than the table holds.
// Error(PoolFull) from the block pools ends the read with the image count set
// to the entries filled before it.
int32_t ReadPvmFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file, const InputHooks& input);
int32_t ReadGvmFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file, const InputHooks& input);
int32_t ReadXvmFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file, const InputHooks& input);
// The same for bytes in ordinary memory.
int32_t ReadPvmFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file);
int32_t ReadGvmFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file);
int32_t ReadXvmFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file);

// In-memory readers: `archive` is the unpacked archive (the first bytes of the
// output buffer), `packageIndex` the member or entry it came from (stored as
// each image's PackageIndex), `runningIndex` the table index of its first
// image. Fill entries runningIndex, runningIndex + 1, ... with one list item
// each and return the index after the last one filled; the image count is set
// to that index as well. The PVR-family flag is the caller's business.
// Throw, before anything changes: Error(Truncated) for an incomplete 12-byte
// header, Error(OverCapacity) when runningIndex plus the declared count passes
// the table's end, Error(Usage) for a runningIndex outside 0..5001.
int32_t ReadPvmInMemory(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> archive,
                        int32_t packageIndex, int32_t runningIndex, PackageCaller caller);
int32_t ReadGvmInMemory(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> archive,
                        int32_t packageIndex, int32_t runningIndex, PackageCaller caller);
int32_t ReadXvmInMemory(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> archive,
                        int32_t packageIndex, int32_t runningIndex, PackageCaller caller);

}  // namespace quarrendel::archive
