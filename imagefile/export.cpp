#include "imagefile/export.h"

#include <algorithm>

#include "archive/save_names.h"
#include "core/capacity.h"
#include "core/error.h"
#include "core/mip_chain.h"
#include "core/worker_pool.h"
#include "imagefile/png_file.h"
#include "imagefile/texture_pack.h"
#include "imagefile/texture_png.h"
#include "texture/cmpr_order.h"
#include "texture/format_table.h"
#include "texture/image_selection.h"
#include "texture/pvr_decode.h"
#include "texture/s3tc_encode.h"
#include "texture/texture_decode.h"
#include "texture/texture_encode.h"
#include "texture/texture_header.h"

namespace quarrendel::imagefile {

namespace {

using texture::DataFormatCode;
using texture::PixelFormatCode;

constexpr uint8_t kDfDxt1 = static_cast<uint8_t>(texture::DataFormat::Dxt1);
constexpr uint8_t kDfDxt3 = static_cast<uint8_t>(texture::DataFormat::Dxt3OrClut8);
constexpr uint8_t kDfCmpr = static_cast<uint8_t>(texture::DataFormat::Cmpr);

// DDS header fields that every written header shares.
constexpr uint32_t kDdsFlags = 0x81007;  // caps, height, width, pixel format, linear size
constexpr uint32_t kDdsCaps = 0x1000;    // texture
constexpr uint32_t kDdsFourCcFlag = 4;

// The entry's stored data, all DataLength bytes of it.
std::span<const uint8_t> StoredData(const TImage_Entry& entry) {
  if (entry.DataLength < 0 || (entry.DataLength > 0 && entry.Data == nullptr)) {
    throw Error(ErrorKind::Corrupt, "This image holds no texture data to export.");
  }
  return entry.Bytes();
}

std::vector<uint8_t> StoredCopy(const TImage_Entry& entry) {
  const std::span<const uint8_t> stored = StoredData(entry);
  return {stored.begin(), stored.end()};
}

// The file: what `writeHead` writes, then `data`.
template <typename WriteHead>
std::vector<uint8_t> HeadThenData(WriteHead&& writeHead, std::span<const uint8_t> data) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  writeHead(w);
  w.Bytes(data);
  return out;
}

// A copy of the stored data, reordered between DXT1 and CMPR by `convert`.
// The top level of a side x side texture must be there.
std::vector<uint8_t> Reordered(const TImage_Entry& entry, void (*convert)(int32_t, std::span<uint8_t>)) {
  const std::span<const uint8_t> stored = StoredData(entry);
  const int64_t topLevel = int64_t{entry.Width} * entry.Width / 2;
  if (static_cast<int64_t>(stored.size()) < topLevel) {
    throw Error(ErrorKind::Corrupt, "This image's " + std::to_string(stored.size()) + " bytes of data are fewer than the " +
                                        std::to_string(topLevel) + " of its top level.");
  }
  std::vector<uint8_t> data(stored.begin(), stored.end());
  convert(entry.Width, data);
  return data;
}

// Re-encoding and DDS headers take the image as a W x W square.
int32_t SquareSide(const TImage_Entry& entry) {
  if (entry.Width != entry.Height) {
    throw Error(ErrorKind::Unsupported, "This image is " + std::to_string(entry.Width) + " x " +
                                            std::to_string(entry.Height) +
                                            ": only square images can be re-encoded or written as DDS.");
  }
  return entry.Width;
}

// The picture of entry `index` as a W x W square, for the paths that re-encode it.
struct DecodedSquare {
  DecodedSquare(const ImageStore& store, int32_t index) {
    side = SquareSide(store.Entry(index));
    RequireCanvasSide(side, "image");
    decoded = texture::DecodeEntry(store, index, std::move(ThreadDecodeMemory()));
  }
  ~DecodedSquare() { ThreadDecodeMemory() = std::move(decoded.area.pixels); }
  DecodedSquare(const DecodedSquare&) = delete;
  DecodedSquare& operator=(const DecodedSquare&) = delete;
  texture::RgbaView View() const { return {decoded.area.pixels, side, side}; }
  int32_t side = 0;
  texture::DecodedTexture decoded;
};

std::vector<uint8_t> PvrFile(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  std::vector<uint8_t> out;
  ByteWriter w(out);
  texture::WriteGbix(w, entry.GlobalIndex, texture::Endian::Little);
  if (store.pvrFamily != 0) {
    texture::WritePvrtHead(w, texture::HeadOfEntry(entry, "PVRT"));
    w.Bytes(StoredData(entry));
    return out;
  }
  const DecodedSquare square(store, index);
  const int32_t side = square.side;
  texture::TextureHead head = texture::HeadOfEntry(entry, "PVRT");
  head.chunkLength = static_cast<uint32_t>(side * side * 2 + 8);
  head.format = texture::kFormatArgb4444Rectangle;
  texture::WritePvrtHead(w, head);
  const uint8_t argb4444 = PixelFormatCode(texture::kFormatArgb4444Rectangle);
  for (const uint32_t pixel : square.View().pixels) w.U16Le(texture::PackTexel(pixel, argb4444));
  return out;
}

std::vector<uint8_t> XvrFile(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  const uint8_t df = DataFormatCode(entry.Format);
  const uint8_t pixelCode = PixelFormatCode(entry.Format);
  texture::XvrtHead head;
  head.flags = pixelCode;
  head.formatCode = kDfDxt1;
  std::vector<uint8_t> data;
  if (df == kDfDxt1 || df == kDfDxt3) {
    data = StoredCopy(entry);
    head.formatCode = df;
  } else if (df == kDfCmpr) {
    data = Reordered(entry, texture::CmprToDxt1);
  } else {
    const DecodedSquare square(store, index);
    const int32_t side = square.side;
    // DXT1 keeps a one-bit alpha on its transparent index; a picture with
    // graded alpha gets DXT3, as Add chooses.
    if (pixelCode < 2 && !texture::HasGradedAlpha(square.View())) {
      data.resize(static_cast<size_t>(side * side / 2));
      texture::EncodeDxt1(square.View(), data);
    } else {
      data.resize(static_cast<size_t>(side * side));
      texture::EncodeDxt3(square.View(), data);
      head.formatCode = kDfDxt3;
      head.flags = 2;
    }
  }
  head.globalIndex = entry.GlobalIndex;
  head.width = entry.Width;
  head.height = entry.Height;
  head.dataLength = static_cast<uint32_t>(data.size());
  head.chunkLength = head.dataLength + 56;
  return HeadThenData([&](ByteWriter& w) { texture::WriteXvrtHead(w, head); }, data);
}

std::vector<uint8_t> GvrFile(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  const uint8_t df = DataFormatCode(entry.Format);
  texture::TextureHead head = texture::HeadOfEntry(entry, "GVRT");
  std::vector<uint8_t> data;
  if (df == kDfCmpr) {
    data = StoredCopy(entry);
    head.format = entry.Format;
  } else if (df == kDfDxt1) {
    data = Reordered(entry, texture::Dxt1ToCmpr);
    head.format = texture::kFormatGcCmpr;
  } else {
    const DecodedSquare square(store, index);
    data.resize(static_cast<size_t>(square.side * square.side * 2));
    texture::PackRgb5a3Tiles(square.View(), data);
    head.format = texture::kFormatGcRgb5a3;
  }
  head.chunkLength = static_cast<uint32_t>(data.size() + 8);
  return HeadThenData(
      [&](ByteWriter& w) {
        texture::WriteGbix(w, entry.GlobalIndex, texture::Endian::Big);
        texture::WriteGvrtHead(w, head);
      },
      data);
}

std::vector<uint8_t> DdsFile(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  const uint8_t df = DataFormatCode(entry.Format);
  const int32_t side = SquareSide(entry);
  const int64_t area = int64_t{side} * side;
  bool dxt1 = false;
  int64_t linearSize = area;
  int32_t mipCount = 0;
  std::vector<uint8_t> data;
  if (df == kDfDxt1 || (df == kDfDxt3 && store.pvrFamily == 0)) {
    dxt1 = df == kDfDxt1;
    linearSize = dxt1 ? area / 2 : area;
    mipCount = dxt1 ? LevelCount4(side, entry.DataLength) : LevelCount8(side, entry.DataLength);
    data = StoredCopy(entry);
  } else if (df == kDfCmpr) {
    dxt1 = true;
    data = Reordered(entry, texture::CmprToDxt1);
    linearSize = static_cast<int64_t>(data.size());
  } else {
    data.resize(static_cast<size_t>(area));
    texture::EncodeDxt3(DecodedSquare(store, index).View(), data);
  }
  return HeadThenData(
      [&](ByteWriter& w) {
        WriteDdsHeader(w, dxt1, side, static_cast<uint32_t>(linearSize), static_cast<uint32_t>(mipCount));
      },
      data);
}

// ".pvr", ".xvr", ".gvr", ".bmp", ".dds", ".png".
std::string_view ExportExtension(ExportKind kind) {
  switch (kind) {
    case ExportKind::Pvr: return ".pvr";
    case ExportKind::Xvr: return ".xvr";
    case ExportKind::Gvr: return ".gvr";
    case ExportKind::Bitmap: return ".bmp";
    case ExportKind::Dds: return ".dds";
    case ExportKind::Png: return ".png";
  }
  return "";
}

// Writes entry `index` as `kind` under `path`, never over the loaded file.
// `inBatch`: one name of Export all's, derived inside the chosen folder,
// whose stale temporary files were removed for the whole batch and which
// reaches the disk with the batch's one flush of the file system.
void WriteExport(const ImageStore& store, int32_t index, const std::string& path, ExportKind kind, bool inBatch) {
  WriteOptions options;
  if (!store.loadedFileName.empty()) options.inputs.push_back(store.loadedFileName);
  options.derivedName = inBatch;
  options.removeStale = !inBatch;
  options.sync = !inBatch;
  WriteFile(path, ExportBytes(store, index, kind), options);
}

// The folder part of `path` with its trailing slash, or "" for a bare name.
std::string FolderPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::optional<ExportKind> ExportKindOf(int32_t filterIndex) {
  if (filterIndex < 1 || filterIndex > 6) return std::nullopt;
  return static_cast<ExportKind>(filterIndex);
}

std::vector<uint8_t> BitmapFileBytes(const texture::RgbaRect& picture) {
  const int32_t width = picture.width;
  const int32_t height = picture.height;
  RequireCanvasSide(width, "bitmap");
  RequireCanvasSide(height, "bitmap");
  const uint32_t pixelBytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
  std::vector<uint8_t> out;
  out.reserve(kBitmapHeaderSize + pixelBytes);
  ByteWriter w(out);
  w.Magic("BM");
  w.U32Le(pixelBytes + kBitmapHeaderSize);
  w.U32Le(0);
  w.U32Le(kBitmapHeaderSize);
  w.U32Le(40);
  w.U32Le(static_cast<uint32_t>(width));
  w.U32Le(static_cast<uint32_t>(height));
  w.U16Le(1);
  w.U16Le(32);
  w.U32Le(0);
  w.U32Le(pixelBytes);
  w.U32Le(2835);
  w.U32Le(2835);
  w.U32Le(0);
  w.U32Le(0);
  // Rows bottom-up, pixels blue, green, red, alpha.
  out.resize(kBitmapHeaderSize + pixelBytes);
  uint8_t* p = out.data() + kBitmapHeaderSize;
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint32_t* row = picture.Row(y);
    for (int32_t x = 0; x < width; ++x, p += 4) {
      const uint32_t v = row[x];
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      p[3] = static_cast<uint8_t>(v >> 24);
    }
  }
  return out;
}

void WriteDdsHeader(ByteWriter& out, bool dxt1, int32_t side, uint32_t linearSize, uint32_t mipCount) {
  out.Magic("DDS ");
  out.U32Le(124);
  out.U32Le(kDdsFlags);
  out.U32Le(static_cast<uint32_t>(side));
  out.U32Le(static_cast<uint32_t>(side));
  out.U32Le(linearSize);
  out.U32Le(0);
  out.U32Le(mipCount);
  out.Zeros(44);
  out.U32Le(32);
  out.U32Le(kDdsFourCcFlag);
  out.Magic(dxt1 ? "DXT1" : "DXT3");
  out.Zeros(20);
  out.U32Le(kDdsCaps);
  out.Zeros(16);
}

std::vector<uint8_t> ExportBytes(const ImageStore& store, int32_t index, ExportKind kind) {
  const TImage_Entry& entry = store.Entry(index);
  switch (kind) {
    case ExportKind::Pvr: return PvrFile(store, index);
    case ExportKind::Xvr: return XvrFile(store, index);
    case ExportKind::Gvr: return GvrFile(store, index);
    case ExportKind::Bitmap: {
      RequireCanvasSide(entry.Width, "bitmap");
      RequireCanvasSide(entry.Height, "bitmap");
      // The canvas-shaped pixels: the H x H decode of a plain rectangle, not its rows of W.
      texture::DecodedTexture decoded = texture::DecodeEntry(store, index, std::move(ThreadDecodeMemory()));
      std::vector<uint8_t> bytes =
          BitmapFileBytes({decoded.area.pixels.data(), entry.Width, entry.Height, decoded.area.width});
      ThreadDecodeMemory() = std::move(decoded.area.pixels);
      return bytes;
    }
    case ExportKind::Dds: return DdsFile(store, index);
    case ExportKind::Png: return WritePng(TextureImage(store, index));
  }
  return {};
}

std::string ExportImage(const ImageStore& store, int32_t index, const std::string& fileName, ExportKind kind) {
  const std::string path = archive::ForceExtension(fileName, ExportExtension(kind));
  WriteExport(store, index, path, kind, false);
  return path;
}

std::vector<std::string> ExportFileNames(std::span<const TImage_Entry> images, ExportKind kind) {
  return FolderFileNames(images, ExportExtension(kind));
}

std::optional<int32_t> SelectedImage(const ImageStore& store, FrontEnd& frontEnd) {
  const int32_t index = frontEnd.ListSelectedIndex();
  if (index >= 0 && index < store.imageCount) return index;
  frontEnd.ShowMessage(kSelectImageFirst);
  return std::nullopt;
}

Outcome Export1Click(ImageStore& store, FrontEnd& frontEnd, std::string* writtenPath) {
  const std::optional<int32_t> selected = SelectedImage(store, frontEnd);
  if (!selected) return {Status::Refused, std::string(kSelectImageFirst)};
  const int32_t index = *selected;
  frontEnd.SetDialogFileName(DialogId::SaveDialog2, store.images[static_cast<size_t>(index)].Name);
  const std::optional<FileChoice> choice = frontEnd.AskSaveFile(DialogId::SaveDialog2, kSaveDialog2Filter);
  const std::optional<ExportKind> kind = choice ? ExportKindOf(choice->filterIndex) : std::nullopt;
  if (!kind) return {Status::Refused, {}};
  const std::string path = ExportImage(store, index, choice->path, *kind);
  if (writtenPath != nullptr) *writtenPath = path;
  return {};
}

Outcome ExportAll(ImageStore& store, FrontEnd& frontEnd, const std::string& folder, ExportKind kind,
                  WorkerPool& pool, int32_t* written) {
  const int32_t count = std::min(store.imageCount, frontEnd.ListCount());
  std::vector<int32_t> all(static_cast<size_t>(std::max(0, count)));
  for (int32_t i = 0; i < count; ++i) all[static_cast<size_t>(i)] = i;
  return ExportImages(store, frontEnd, folder, kind, pool, all, written);
}

Outcome ExportImages(ImageStore& store, FrontEnd& frontEnd, const std::string& folder, ExportKind kind,
                     WorkerPool& pool, std::span<const int32_t> indices, int32_t* written) {
  if (written != nullptr) *written = 0;
  const int32_t listed = std::min(store.imageCount, frontEnd.ListCount());
  std::vector<int32_t> chosen;
  for (const int32_t i : indices) {
    if (i >= 0 && i < listed) chosen.push_back(i);
  }
  const auto count = static_cast<int32_t>(chosen.size());
  if (count <= 0) return {};
  // The names Export all gives them, so no two images share a file.
  const std::vector<std::string> allNames =
      ExportFileNames(std::span<const TImage_Entry>(store.images.data(), static_cast<size_t>(listed)), kind);
  std::vector<std::string> names;
  for (const int32_t i : chosen) names.push_back(allNames[static_cast<size_t>(i)]);
  // A FIFO, folder or device under one of the names stops the batch before it starts.
  for (const std::string& name : names) CheckDerivedTarget(folder + name);
  RemoveStaleTemporaryFiles(folder, names);
  const size_t extension = ExportExtension(kind).size();
  std::vector<std::string> failures;
  {
    const ProgressShown panel(frontEnd);
    // Decoded, encoded and written on the workers; told here in table order.
    pool.OrderedMap(
        static_cast<size_t>(count), 2 * static_cast<size_t>(pool.Threads()),
        [&](size_t k) -> std::string {
          try {
            WriteExport(store, chosen[k], folder + names[k], kind, true);
          } catch (const Error& e) {
            return e.what();
          }
          return {};
        },
        [&](size_t k, std::string&& failure) {
          const std::string& name = names[k];
          frontEnd.SetProgress("Exporting : " + name, count, static_cast<int32_t>(k) + 1);
          frontEnd.ListSetSelectedIndex(chosen[k]);
          if (!failure.empty()) failures.push_back(name.substr(0, name.size() - extension) + ": " + failure);
        });
  }
  // One flush for the batch (a flush per file costs a disk's seek each);
  // the command is done only once every file is on the disk.
  SyncFileSystem(folder.empty() ? std::string(".") : folder);
  if (written != nullptr) *written = count - static_cast<int32_t>(failures.size());
  // The last image stays selected and shown.
  texture::SelectListedImage(store, frontEnd);
  if (failures.empty()) return {};
  constexpr size_t kListed = 20;
  std::string text = std::to_string(failures.size()) + " of " + std::to_string(count) + " images could not be exported:";
  for (size_t k = 0; k < failures.size() && k < kListed; ++k) text += "\n" + failures[k];
  if (failures.size() > kListed) text += "\n... and " + std::to_string(failures.size() - kListed) + " more.";
  frontEnd.ShowInformation(text);
  return {Status::Error, text};
}

Outcome Exportall1Click(ImageStore& store, FrontEnd& frontEnd) {
  const int32_t count = std::min(store.imageCount, frontEnd.ListCount());
  if (count <= 0) return {};
  frontEnd.SetDialogFileName(DialogId::SaveDialog2, store.images[0].Name);
  const std::optional<FileChoice> choice = frontEnd.AskSaveFile(DialogId::SaveDialog2, kSaveDialog2Filter);
  const std::optional<ExportKind> kind = choice ? ExportKindOf(choice->filterIndex) : std::nullopt;
  if (!kind) return {Status::Refused, {}};
  WorkerPool pool;
  return ExportAll(store, frontEnd, FolderPart(choice->path), *kind, pool);
}

}  // namespace quarrendel::imagefile
