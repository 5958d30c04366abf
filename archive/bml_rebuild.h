// The BML rebuild: a loaded package written again with every texture archive
// rebuilt from the image table. Header, entry table and every entry's file
// data are carried over byte for byte; the k-th package of images (a run of
// equal PackageIndex) becomes the k-th entry's texture archive, laid out as a
// packed archive of the package's kind and PRS-compressed; that entry's S2
// (entry + 44) and decompressed size (entry + 48) are rewritten, big-endian
// for a GameCube package. File data (S1) and archives (S2) each take a
// multiple of 32 bytes from the data start 64 * (C + 1) rounded up to 2048.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/image_store.h"
#include "core/worker_pool.h"

namespace quarrendel::archive {

inline constexpr const char* kBmlNothingToRebuild =
    "Selected BML file does'nt contain any images,\r\nFile was not rebuild";
inline constexpr const char* kCreateFileFailed = "Failled to create file\r\n";  // followed by the path
inline constexpr const char* kBmlRebuilt = "BML have been rebuild succefully";

// The rebuilt package. `package` is the file's bytes as loaded, `kind` the
// package archive kind the load left (1 PVM, 2 XVM, 3 GVM), `images` the
// image table's images. The archives are compressed on `pool`; the bytes do
// not depend on the number of threads. `best`: the smallest PRS streams (see
// PackStream). `progress`, when given, hears how many of the archives are
// done, from the calling thread: 0 before the first, then after each.
// Throws, before compressing anything:
//  Error(Unsupported, kBmlNothingToRebuild) for the kind None;
//  Error(Corrupt) when the header, entry table or an entry's data lies
//    outside `package`, the entry count is outside 1..255, or the images do
//    not match the entries with a texture archive: more packages than such
//    entries, a package whose PackageIndex is not the entry it would go to,
//    or an entry with an archive that contributed no image;
//  Error(OverCapacity) for a package of more than 120 images (PVM, GVM) or
//    more bytes than the buffers;
// and while assembling: Error(OverCapacity) when the result would pass ten
// times the package's size.
std::vector<uint8_t> RebuildBml(std::span<const uint8_t> package, PackageArchiveKind kind,
                                std::span<const TImage_Entry> images, WorkerPool& pool, bool best = false,
                                const std::function<void(size_t done, size_t total)>& progress = {});

}  // namespace quarrendel::archive
