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
// then fields), so the image count always equals the number of entries
// filled, and the names the read returns are exactly those entries'.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/image_store.h"
#include "core/mapped_file.h"
#include "core/outcome.h"

namespace quarrendel::archive {

// Shown for a file whose first bytes name no container this system reads.
inline constexpr const char* kNotSupported = "This file is not suported.";

// What a reader read. Readers fill the image table and the image count and
// talk to nobody; the Load command lists the names and shows the message.
struct ReadResult {
  LoadedContainer container = LoadedContainer::None;
  int32_t imageCount = 0;          // the image count the read left
  int64_t expected = 0;            // the images the headers that were read declare
  std::vector<std::string> names;  // the image list's items, in order
  LoadShortfall stopped = LoadShortfall::None;  // the first reason the read stopped short
  // The message to show: Refused (an information box; the load ends at once,
  // the label and the progress panel as they are), Unsupported (an
  // information box), Done with a message (a plain box).
  Outcome outcome;
  // The block pools ran out: the entries filled before are counted and named,
  // and the Load command passes the error on once it has listed them.
  std::optional<Error> poolFull;

  void StopShort(LoadShortfall why) {
    if (stopped == LoadShortfall::None) stopped = why;
  }
};

// The package reader that runs an in-memory reader. A PVM's entry-table test
// and its "MDLN" skip depend on it; the GVM and XVM readers ignore it.
enum class PackageCaller { Afs, Bml };

// Every reader adds the images its archive declares to `expected` and, when
// it fills fewer, records the read as stopped short (Damaged).

// File readers: fill entries 0 .. n - 1 and name each, set the image count to
// n. The PVM reader sets the PVR-family flag; the GVM and XVM readers leave it
// alone. `input` is told of each texture chunk once its data has been copied
// out. Throw, before anything in the store changes:
//  Error(Truncated) when the 12-byte archive header is incomplete;
//  Error(OverCapacity) when the archive declares more images than the table holds.
ReadResult ReadPvmFile(ImageStore& store, std::span<const uint8_t> file, const InputHooks& input = InputHooks());
ReadResult ReadGvmFile(ImageStore& store, std::span<const uint8_t> file, const InputHooks& input = InputHooks());
ReadResult ReadXvmFile(ImageStore& store, std::span<const uint8_t> file, const InputHooks& input = InputHooks());

// In-memory readers: `archive` is the unpacked archive (the first bytes of the
// output buffer), `packageIndex` the member or entry it came from (stored as
// each image's PackageIndex), `runningIndex` the table index of its first
// image. Fill entries runningIndex, runningIndex + 1, ..., append their names
// to `read` and return the index after the last one filled; the image count
// is set to that index as well. The PVR-family flag is the caller's business.
// Throw, before anything changes: Error(Truncated) for an incomplete 12-byte
// header, Error(OverCapacity) when runningIndex plus the declared count passes
// the table's end, Error(Usage) for a runningIndex outside 0..5001.
int32_t ReadPvmInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t packageIndex,
                        int32_t runningIndex, PackageCaller caller);
int32_t ReadGvmInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t packageIndex,
                        int32_t runningIndex, PackageCaller caller);
int32_t ReadXvmInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t packageIndex,
                        int32_t runningIndex, PackageCaller caller);

}  // namespace quarrendel::archive
