#include "archive/afs_writer.h"

#include <utility>

#include "archive/archive_writer.h"
#include "archive/package_reader.h"
#include "core/byte_io.h"
#include "core/capacity.h"
#include "core/error.h"
#include "texture/texture_header.h"
#include "core/worker_pool.h"

namespace quarrendel::archive {

namespace {

constexpr uint32_t kShortGbixLength = 4;  // the AFS member's GBIX chunk holds only the index
constexpr size_t kShortGbixSize = 12;

size_t Aligned(size_t n) { return (n + kAfsAlignment - 1) / kAfsAlignment * kAfsAlignment; }

size_t TextureMemberLength(AfsPlatform platform, const TImage_Entry& image) {
  const size_t head = platform == AfsPlatform::Xbox ? texture::kXvrtHeadSize : kShortGbixSize + texture::kChunkHeadSize;
  return head + static_cast<size_t>(image.DataLength);
}

void WriteHeaderStart(ByteWriter& out, size_t members) {
  out.Magic("AFS");
  out.U8(0);
  out.U32Le(static_cast<uint32_t>(members));
}

// The packed archive kind of a platform: PVM for PC, XVM for Xbox, GVM for GameCube.
PackageArchiveKind ArchiveKindOf(AfsPlatform platform) {
  switch (platform) {
    case AfsPlatform::Pc: return PackageArchiveKind::Pvm;
    case AfsPlatform::Xbox: return PackageArchiveKind::Xvm;
    case AfsPlatform::Gc: return PackageArchiveKind::Gvm;
  }
  return PackageArchiveKind::None;
}

std::string PackingCaption(AfsPlatform platform, int32_t archives) {
  const char* kind = platform == AfsPlatform::Gc ? "gvm" : platform == AfsPlatform::Xbox ? "xvm" : "pvm";
  return std::string("Packing and compressing image in ") + kind + " : " + std::to_string(archives);
}

}  // namespace

std::vector<uint8_t> BuildAfsOfTextures(AfsPlatform platform, std::span<const TImage_Entry> images) {
  RequireImageCount(static_cast<int64_t>(images.size()), "image table");
  RequireImageData(images);
  size_t total = kAfsHeaderArea;
  for (const TImage_Entry& image : images) total += Aligned(TextureMemberLength(platform, image));
  if (total > kMaxAfsBytes) {
    throw Error(ErrorKind::OverCapacity, "the AFS file would be " + std::to_string(total) +
                                             " bytes; its member offsets are 32-bit");
  }

  std::vector<uint8_t> bytes;
  bytes.reserve(total);
  ByteWriter out(bytes);
  WriteHeaderStart(out, images.size());
  size_t offset = kAfsHeaderArea;
  for (const TImage_Entry& image : images) {
    const size_t size = Aligned(TextureMemberLength(platform, image));
    out.U32Le(static_cast<uint32_t>(offset));
    out.U32Le(static_cast<uint32_t>(size));
    offset += size;
  }
  out.Zeros(kAfsHeaderArea - out.Tell());
  const PackageArchiveKind kind = ArchiveKindOf(platform);
  for (const TImage_Entry& image : images) {
    if (platform != AfsPlatform::Xbox) {
      out.Magic("GBIX");
      out.U32Le(kShortGbixLength);
      if (platform == AfsPlatform::Gc) out.U32Be(image.GlobalIndex);
      else out.U32Le(image.GlobalIndex);
    }
    WriteFileTexture(out, kind, image);
    out.Zeros(Aligned(out.Tell()) - out.Tell());
  }
  return bytes;
}

void WritePackedAfs(AfsPlatform platform, std::span<const TImage_Entry> images, WorkerPool& pool,
                    FrontEnd& frontEnd, FileSink& out, const PackedAfsOptions& options) {
  RequireImageCount(static_cast<int64_t>(images.size()), "image table");
  const PackageArchiveKind kind = ArchiveKindOf(platform);
  const std::vector<PackageRun> runs = GroupPackages(images);
  if (runs.size() > static_cast<size_t>(kMaxPackedAfsMembers)) {
    throw Error(ErrorKind::OverCapacity, "the images form " + std::to_string(runs.size()) +
                                             " packages; a packed AFS holds at most " +
                                             std::to_string(kMaxPackedAfsMembers));
  }
  for (const PackageRun& run : runs) {
    RequirePackedArchiveFits(kind, ImagesOf(images, run),
                             "the package of images " + std::to_string(run.first) + " to " +
                                 std::to_string(run.first + run.count - 1));
  }

  const auto maximum = static_cast<int32_t>(images.size());
  // Steps first + 1 .. first + count of a package show the packages before it as done.
  auto showSteps = [&](int32_t from, int32_t to, size_t done) {
    for (int32_t step = from; step <= to; ++step) {
      frontEnd.SetProgress(PackingCaption(platform, static_cast<int32_t>(done)), maximum, step);
    }
  };
  showSteps(0, runs.empty() ? 0 : runs[0].count, 0);

  // The member table is collected apart and written over the header area at the end.
  std::vector<uint8_t> header;
  ByteWriter table(header);
  WriteHeaderStart(table, runs.size());
  const uint64_t start = out.Size();
  out.Append(std::vector<uint8_t>(kAfsHeaderArea, 0));
  static constexpr uint8_t kPadding[kAfsAlignment] = {};
  CompressPackages(kind, images, runs, pool, [&](size_t r, CompressedPackage&& package) {
    const uint64_t offset = out.Size() - start;
    const uint64_t next = Aligned(offset + package.compressed.size());
    if (next > options.maxBytes) {
      throw Error(ErrorKind::OverCapacity, "the packed AFS would pass " + std::to_string(options.maxBytes) +
                                               " bytes at archive " + std::to_string(r) + "; " +
                                               options.maxBytesReason);
    }
    table.U32Le(static_cast<uint32_t>(offset));
    table.U32Le(static_cast<uint32_t>(package.compressed.size()));
    out.Append(package.compressed);
    out.Append(std::span(kPadding, next - offset - package.compressed.size()));
    if (r + 1 < runs.size()) {
      const PackageRun& following = runs[r + 1];
      showSteps(following.first + 1, following.first + following.count, r + 1);
    }
  }, options.best);
  out.Overwrite(start, header);
}

std::vector<uint8_t> BuildPackedAfs(AfsPlatform platform, std::span<const TImage_Entry> images, WorkerPool& pool,
                                    FrontEnd& frontEnd, const PackedAfsOptions& options) {
  ByteSink sink;
  WritePackedAfs(platform, images, pool, frontEnd, sink, options);
  return std::move(sink.Bytes());
}

}  // namespace quarrendel::archive
