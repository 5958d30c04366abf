// Writers of the three texture archive layouts. They build bytes; the Save
// command writes them out.
//  Archive files (all images of the table, in table order):
//    PVM: "PVMH", header length 34 n + 4, flags 0x0109, count; 34-byte entries
//      (number, 28-byte name, global index); PVRT chunks right after the table.
//    GVM: the same with big-endian flags, count, numbers and indices; zeros up
//      to the next multiple of 16 strictly above the table (1 to 16 bytes);
//      GVRT chunks with the format word's halves exchanged.
//    XVM: "XVMH", 56, count, 52 zero bytes; XVRT chunks (64-byte header).
//  Packed archives (the images of one package, laid out for PRS compression):
//    PVM and GVM with a fixed 4096-byte header area, so at most 120 entries;
//    only the low two bytes of the format word are written. XVM as the file.
// Name fields hold the first 28 characters of the name, zero-padded, with no
// terminating zero when the name is 28 characters or longer.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/byte_io.h"
#include "core/file_writer.h"
#include "core/image_store.h"
#include "core/worker_pool.h"

namespace quarrendel::archive {

inline constexpr size_t kPackedHeaderArea = 4096;
inline constexpr int32_t kMaxPackedImages = 120;  // 12 + 34 * 120 = 4092 bytes of header

// The archive file of `kind` (Pvm, Gvm or Xvm) holding `images` in order.
// Throws, before building: Error(OverCapacity) for more images than the table
// holds; Error(Corrupt) for an image whose data length is negative or whose
// data block is missing; Error(Usage) for the kind None.
std::vector<uint8_t> BuildArchiveFile(PackageArchiveKind kind, std::span<const TImage_Entry> images);
// The same file handed to `sink` piece by piece, the checks made before the first byte.
void WriteArchiveFile(PackageArchiveKind kind, std::span<const TImage_Entry> images, FileSink& sink);

// One texture as the archive file of `kind` holds it: PVRT or GVRT head, or
// the XVRT header, then the data. The AFS texture members use the same form.
void WriteFileTexture(ByteWriter& out, PackageArchiveKind kind, const TImage_Entry& image);

// Throws Error(OverCapacity) naming `what` (for example "package of AFS
// member 3") when the packed archive would hold more than 120 images (PVM,
// GVM) or more bytes than the work buffers; Error(Corrupt) for missing data.
void RequirePackedArchiveFits(PackageArchiveKind kind, std::span<const TImage_Entry> images,
                              const std::string& what);

// The packed archive of one package; throws as RequirePackedArchiveFits.
std::vector<uint8_t> BuildPackedArchive(PackageArchiveKind kind, std::span<const TImage_Entry> images);

// One package: `count` images from table index `first`, all with the same
// PackageIndex.
struct PackageRun {
  int32_t first = 0;
  int32_t count = 0;
};

// The maximal runs of consecutive images with equal PackageIndex, in table
// order; an index that comes back after another starts a new package.
std::vector<PackageRun> GroupPackages(std::span<const TImage_Entry> images);

// The PRS stream of a packed archive: the greedy stream (prs::Compress), or
// with `best` the smallest one (prs::CompressBest). Throws as they do.
std::vector<uint8_t> PackStream(std::span<const uint8_t> archive, bool best);

// A package laid out as a packed archive of `length` bytes, PRS-compressed.
struct CompressedPackage {
  int64_t length = 0;
  std::vector<uint8_t> compressed;
};

// Builds and compresses the packed archive of each run on `pool` (a few
// packages per thread ahead of the consumer) and hands them to consume(r,
// package) on the calling thread in run order; `best`: see PackStream. Check
// the runs with RequirePackedArchiveFits first: a failure inside stops the
// whole walk.
void CompressPackages(PackageArchiveKind kind, std::span<const TImage_Entry> images,
                      std::span<const PackageRun> runs, WorkerPool& pool,
                      const std::function<void(size_t, CompressedPackage&&)>& consume, bool best = false);

inline std::span<const TImage_Entry> ImagesOf(std::span<const TImage_Entry> images, const PackageRun& run) {
  return images.subspan(static_cast<size_t>(run.first), static_cast<size_t>(run.count));
}

// Throws Error(Corrupt) naming the image when its data length is negative or
// its data block is missing; `first` is the table index of images[0].
void RequireImageData(std::span<const TImage_Entry> images, int32_t first = 0);

}  // namespace quarrendel::archive
