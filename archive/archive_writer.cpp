#include "archive/archive_writer.h"

#include "core/capacity.h"
#include "core/error.h"
#include "core/file_writer.h"
#include "prs/prs.h"
#include "texture/texture_header.h"
#include "core/worker_pool.h"

namespace quarrendel::archive {

namespace {

constexpr size_t kNameSize = 28;
constexpr uint32_t kEntrySize = 34;
constexpr uint16_t kFlags = 0x0109;
constexpr uint32_t kXvmHeaderLength = 56;  // the first XVRT chunk at 64
// Packages compressed ahead of the one being written, per thread.
constexpr size_t kLookAheadPerThread = 4;

void RequireArchiveKind(PackageArchiveKind kind) {
  if (kind == PackageArchiveKind::None) throw Error(ErrorKind::Usage, "no texture archive kind given");
}

texture::XvrtHead XvrtHeadOf(const TImage_Entry& image) {
  texture::XvrtHead head;
  head.dataLength = static_cast<uint32_t>(image.DataLength);
  head.chunkLength = head.dataLength + 56;
  head.flags = image.Format & 0xFFu;
  head.formatCode = image.Format >> 8;
  head.globalIndex = image.GlobalIndex;
  head.width = image.Width;
  head.height = image.Height;
  return head;
}

void WriteXvmHeader(ByteWriter& out, size_t count) {
  out.Magic("XVMH");
  out.U32Le(kXvmHeaderLength);
  out.U32Le(static_cast<uint32_t>(count));
  out.Zeros(52);
}

// The 12-byte PVM or GVM header: magic, header length (LE in both), flags and
// count in the archive's order.
void WriteEntryArchiveHeader(ByteWriter& out, bool gvm, uint32_t headerLength, uint32_t count) {
  out.Magic(gvm ? "GVMH" : "PVMH");
  out.U32Le(headerLength);
  if (gvm) {
    out.U16Be(kFlags);
    out.U16Be(static_cast<uint16_t>(count));
  } else {
    out.U16Le(kFlags);
    out.U16Le(static_cast<uint16_t>(count));
  }
}

// A PVM or GVM entry: number, name field, global index, in the archive's order.
void WriteEntry(ByteWriter& out, bool big, uint16_t number, const TImage_Entry& image) {
  if (big) {
    out.U16Be(number);
    out.FixedText(image.Name, kNameSize);
    out.U32Be(image.GlobalIndex);
  } else {
    out.U16Le(number);
    out.FixedText(image.Name, kNameSize);
    out.U32Le(image.GlobalIndex);
  }
}

// Texture head; `format` stands for the image's format word.
void WriteTextureHead(ByteWriter& out, PackageArchiveKind kind, const TImage_Entry& image, uint32_t format) {
  texture::TextureHead head;
  switch (kind) {
    case PackageArchiveKind::Pvm:
      head = texture::HeadOfEntry(image, "PVRT");
      head.format = format;
      texture::WritePvrtHead(out, head);
      break;
    case PackageArchiveKind::Gvm:
      // Format bytes 2, 3, 0, 1 and big-endian dimensions; the length stays little-endian.
      head = texture::HeadOfEntry(image, "GVRT");
      head.format = format;
      texture::WriteGvrtHead(out, head);
      break;
    case PackageArchiveKind::Xvm:
      texture::WriteXvrtHead(out, XvrtHeadOf(image));
      break;
    case PackageArchiveKind::None:
      RequireArchiveKind(kind);
  }
}

// Texture head and data.
void WriteTexture(ByteWriter& out, PackageArchiveKind kind, const TImage_Entry& image, uint32_t format) {
  WriteTextureHead(out, kind, image, format);
  out.Bytes(image.Bytes());
}

int64_t DataBytes(std::span<const TImage_Entry> images) {
  int64_t total = 0;
  for (const TImage_Entry& image : images) total += image.DataLength;
  return total;
}

// Bytes of the packed archive of `kind` for `images` (no check of capacities).
int64_t PackedArchiveLength(PackageArchiveKind kind, std::span<const TImage_Entry> images) {
  const bool xvm = kind == PackageArchiveKind::Xvm;
  const auto head = static_cast<int64_t>(xvm ? texture::kXvrtHeadSize : texture::kChunkHeadSize);
  return (xvm ? 64 : static_cast<int64_t>(kPackedHeaderArea)) + static_cast<int64_t>(images.size()) * head +
         DataBytes(images);
}

}  // namespace

void RequireImageData(std::span<const TImage_Entry> images, int32_t first) {
  for (size_t i = 0; i < images.size(); ++i) {
    const TImage_Entry& image = images[i];
    if (image.DataLength < 0 || (image.DataLength > 0 && image.Data == nullptr)) {
      throw Error(ErrorKind::Corrupt, "image " + std::to_string(first + static_cast<int64_t>(i)) + " declares " +
                                          std::to_string(image.DataLength) + " bytes of data but holds none");
    }
  }
}

void WriteFileTexture(ByteWriter& out, PackageArchiveKind kind, const TImage_Entry& image) {
  WriteTexture(out, kind, image, image.Format);
}

void WriteArchiveFile(PackageArchiveKind kind, std::span<const TImage_Entry> images, FileSink& sink) {
  RequireArchiveKind(kind);
  RequireImageCount(static_cast<int64_t>(images.size()), "image table");
  RequireImageData(images);
  const auto count = static_cast<uint32_t>(images.size());
  std::vector<uint8_t> head;
  ByteWriter out(head);
  if (kind == PackageArchiveKind::Xvm) {
    WriteXvmHeader(out, count);
  } else {
    const bool gvm = kind == PackageArchiveKind::Gvm;
    const uint32_t tableEnd = 12 + kEntrySize * count;
    // GVM: the first texture on the next multiple of 16 strictly above the table.
    const uint32_t textures = gvm ? (tableEnd / 16 + 1) * 16 : tableEnd;
    WriteEntryArchiveHeader(out, gvm, textures - 8, count);
    for (uint32_t i = 0; i < count; ++i) WriteEntry(out, gvm, static_cast<uint16_t>(i), images[i]);
    out.Zeros(textures - tableEnd);
  }
  sink.Append(head);
  // Each texture's data goes to the sink from its own block, never copied into one buffer.
  for (const TImage_Entry& image : images) {
    head.clear();
    ByteWriter textureHead(head);
    WriteTextureHead(textureHead, kind, image, image.Format);
    sink.Append(head);
    sink.Append(image.Bytes());
  }
}

std::vector<uint8_t> BuildArchiveFile(PackageArchiveKind kind, std::span<const TImage_Entry> images) {
  ByteSink sink;
  sink.Bytes().reserve(kXvmHeaderLength + 24 + (kEntrySize + 64) * images.size() + static_cast<size_t>(DataBytes(images)));
  WriteArchiveFile(kind, images, sink);
  return std::move(sink.Bytes());
}

void RequirePackedArchiveFits(PackageArchiveKind kind, std::span<const TImage_Entry> images,
                              const std::string& what) {
  RequireArchiveKind(kind);
  if (kind != PackageArchiveKind::Xvm && images.size() > static_cast<size_t>(kMaxPackedImages)) {
    throw Error(ErrorKind::OverCapacity, what + " holds " + std::to_string(images.size()) +
                                             " images; a packed archive holds at most " +
                                             std::to_string(kMaxPackedImages));
  }
  RequireImageData(images);
  RequireBufferBytes(PackedArchiveLength(kind, images), what);
}

std::vector<uint8_t> BuildPackedArchive(PackageArchiveKind kind, std::span<const TImage_Entry> images) {
  RequirePackedArchiveFits(kind, images, "package");
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(PackedArchiveLength(kind, images)));
  ByteWriter out(bytes);
  const auto n = static_cast<uint32_t>(images.size());
  if (kind == PackageArchiveKind::Xvm) {
    WriteXvmHeader(out, n);
    for (const TImage_Entry& image : images) WriteFileTexture(out, kind, image);
    return bytes;
  }
  const bool gvm = kind == PackageArchiveKind::Gvm;
  WriteEntryArchiveHeader(out, gvm, kPackedHeaderArea - 8, n);
  for (uint32_t j = 0; j < n; ++j) WriteEntry(out, gvm, static_cast<uint16_t>(j), images[j]);
  out.Zeros(kPackedHeaderArea - out.Tell());
  // The chunk length fits three bytes (a package is at most 10,000,000
  // bytes), so its fourth byte is the zero the packed form calls for; of the
  // format word only the pixel and data format bytes are kept.
  for (const TImage_Entry& image : images) WriteTexture(out, kind, image, image.Format & 0xFFFFu);
  return bytes;
}

std::vector<PackageRun> GroupPackages(std::span<const TImage_Entry> images) {
  std::vector<PackageRun> runs;
  for (size_t i = 0; i < images.size(); ++i) {
    if (i == 0 || images[i].PackageIndex != images[i - 1].PackageIndex) {
      runs.push_back({static_cast<int32_t>(i), 0});
    }
    ++runs.back().count;
  }
  return runs;
}

std::vector<uint8_t> PackStream(std::span<const uint8_t> archive, bool best) {
  return best ? prs::CompressBest(archive) : prs::Compress(archive);
}

void CompressPackages(PackageArchiveKind kind, std::span<const TImage_Entry> images,
                      std::span<const PackageRun> runs, WorkerPool& pool,
                      const std::function<void(size_t, CompressedPackage&&)>& consume, bool best) {
  pool.OrderedMap(
      runs.size(), kLookAheadPerThread * static_cast<size_t>(pool.Threads()),
      [&](size_t r) {
        const std::vector<uint8_t> archive = BuildPackedArchive(kind, ImagesOf(images, runs[r]));
        return CompressedPackage{static_cast<int64_t>(archive.size()), PackStream(archive, best)};
      },
      consume);
}

}  // namespace quarrendel::archive
