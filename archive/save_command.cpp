#include "archive/save_command.h"

#include <optional>
#include <span>
#include <utility>

#include "archive/afs_writer.h"
#include "archive/archive_writer.h"
#include "archive/bml_rebuild.h"
#include "archive/load_command.h"
#include "archive/save_names.h"
#include "core/capacity.h"
#include "core/content_hash.h"
#include "core/error.h"
#include "core/file_writer.h"
#include "core/mapped_file.h"
#include "core/worker_pool.h"
#include "texture/format_choice.h"

namespace quarrendel::archive {

namespace {

constexpr const char* kNotSaved = "The file was not saved:\n";
constexpr const char* kNotRebuilt = "The BML file was not rebuilt:\n";

// Tells the user `text` in a plain box and ends the command with `status`.
Outcome Told(FrontEnd& frontEnd, Status status, std::string text) {
  frontEnd.ShowMessage(text);
  return {status, std::move(text)};
}

Outcome Refuse(FrontEnd& frontEnd, const char* lead, const std::string& reason) {
  return Told(frontEnd, Status::Refused, lead + reason);
}

// A store whose load stopped short is not written, told with `outcome` ("the file was not saved").
std::optional<Outcome> RefusedAsIncomplete(const ImageStore& store, FrontEnd& frontEnd, const char* outcome) {
  if (!store.loadIncomplete) return std::nullopt;
  return Told(frontEnd, Status::Refused, IncompleteLoadText(store) + "\nImages are missing, so " + outcome + ".");
}

std::span<const TImage_Entry> LoadedImages(const ImageStore& store) {
  RequireImageCount(store.imageCount, "image table");
  return {store.images.data(), static_cast<size_t>(store.imageCount)};
}

// The file of a texture archive, or an AFS file of textures, in memory.
std::vector<uint8_t> BuildSaved(const ImageStore& store, const SaveTarget& target) {
  const auto images = LoadedImages(store);
  if (!target.afs) return BuildArchiveFile(target.kind, images);
  return BuildAfsOfTextures(target.platform, images);
}

// A packed AFS in memory, for the .prs wrapping: no larger than a .prs file
// can unpack to when it is loaded.
std::vector<uint8_t> BuildPackedForWrapping(const ImageStore& store, FrontEnd& frontEnd, const SaveTarget& target,
                                            bool best) {
  WorkerPool pool;
  const ProgressShown shown(frontEnd);
  PackedAfsOptions options;
  options.best = best;
  options.maxBytes = static_cast<uint64_t>(kBufferSize);
  options.maxBytesReason = "a .prs file unpacks to at most " + std::to_string(kBufferSize) +
                           " bytes; save it under a name without .prs";
  return BuildPackedAfs(target.platform, LoadedImages(store), pool, frontEnd, options);
}

// The ".prs" form of a whole archive, as compressing it from the input buffer gives.
std::vector<uint8_t> Wrapped(std::span<const uint8_t> archive, bool best) {
  if (archive.size() > static_cast<size_t>(kBufferSize)) {
    throw Error(ErrorKind::OverCapacity, "the archive is " + std::to_string(archive.size()) +
                                             " bytes; the .prs wrapping compresses at most " +
                                             std::to_string(kBufferSize));
  }
  return PackStream(archive, best);
}

// Runs `write`, which writes the file `path`, telling the user when it
// cannot be written (kCreateFileFailed, Error) or was refused (kNotSaved).
template <typename Write>
Outcome WriteOut(FrontEnd& frontEnd, const std::string& path, Write&& write) {
  try {
    write();
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::Io) return Refuse(frontEnd, kNotSaved, e.what());
    return Told(frontEnd, Status::Error, kCreateFileFailed + path + "\r\n" + e.what());
  }
  return {};
}

Outcome WriteOut(FrontEnd& frontEnd, const std::string& path, std::span<const uint8_t> bytes,
                 const WriteOptions& options) {
  return WriteOut(frontEnd, path, [&] { WriteFile(path, bytes, options); });
}

}  // namespace

Outcome SaveCommand(ImageStore& store, FrontEnd& frontEnd, const SaveOptions& options) {
  if (store.bmlFlag != 0) return RebuildLoadedBml(store, frontEnd, options);
  const std::optional<FileChoice> choice = frontEnd.AskSaveFile(DialogId::SaveDialog1, kSaveDialog1Filter);
  if (!choice) return {Status::Refused, {}};
  const std::optional<SaveKind> kind = SaveKindOf(choice->filterIndex);
  if (!kind) {
    return Refuse(frontEnd, kNotSaved, "filter index " + std::to_string(choice->filterIndex) + " names no kind of file");
  }
  return SaveAs(store, frontEnd, choice->path, *kind, options);
}

Outcome SaveAs(ImageStore& store, FrontEnd& frontEnd, const std::string& chosenPath, SaveKind kind,
               const SaveOptions& options) {
  const SaveTarget target = SaveTargetOf(kind);
  if (auto refused = RefusedAsIncomplete(store, frontEnd, "the file was not saved")) return *refused;
  // Images of another family than the kind's are re-encoded for it, never
  // written under its headers; they are put back as they were when the file
  // is not written.
  std::vector<texture::ConvertedImage> converted;
  try {
    WorkerPool pool;
    converted = texture::ConvertForFamily(store, target.family, pool);
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::Unsupported) throw;
    return Refuse(frontEnd, kNotSaved, e.what());
  }
  std::vector<texture::ConvertedImage> originals;
  for (const texture::ConvertedImage& image : converted) {
    const TImage_Entry& entry = store.images[static_cast<size_t>(image.index)];
    texture::ConvertedImage original{image.index, {}};
    original.texture.format = entry.Format;
    original.texture.width = entry.Width;
    original.texture.height = entry.Height;
    original.texture.data.assign(entry.Bytes().begin(), entry.Bytes().end());
    originals.push_back(std::move(original));
  }
  const uint8_t pvrFamily = store.pvrFamily;
  const bool changed = store.unsavedChanges;
  texture::StoreConverted(store, target.family, converted);
  struct PutBack {
    ImageStore& store;
    std::vector<texture::ConvertedImage>& originals;
    uint8_t pvrFamily;
    bool changed;
    bool done = false;
    ~PutBack() {
      if (done || originals.empty()) return;
      texture::StoreConverted(store, TargetFamily::DcPc, originals);
      store.pvrFamily = pvrFamily;
      store.unsavedChanges = changed;
    }
  } putBack{store, originals, pvrFamily, changed};
  // Packed mode keeps the name as chosen; any kind is wrapped under a name ending in .prs.
  const bool packed = target.afs && store.packageMode != 0;
  const bool wrap = HasPrsExtension(chosenPath);
  std::string path = packed ? chosenPath : ForceExtension(chosenPath, target.extension);
  if (wrap) path = ForceExtension(path, ".prs");
  const WriteOptions writeOptions{options.protectedInputs, false};

  Outcome written;
  if (packed && !wrap) {
    // Written as the archives are compressed: the file may be far larger than the buffers.
    WorkerPool pool;
    PackedAfsOptions packedOptions;
    packedOptions.best = options.best;
    written = WriteOut(frontEnd, path, [&] {
      WriteFileInPieces(
          path,
          [&](FileSink& out) {
            const ProgressShown shown(frontEnd);
            WritePackedAfs(target.platform, LoadedImages(store), pool, frontEnd, out, packedOptions);
          },
          writeOptions);
    });
  } else if (!packed && !wrap && !target.afs) {
    // Each texture written from its own block: the file is never copied whole into memory.
    written = WriteOut(frontEnd, path, [&] {
      WriteFileInPieces(
          path, [&](FileSink& out) { WriteArchiveFile(target.kind, LoadedImages(store), out); }, writeOptions);
    });
  } else {
    std::vector<uint8_t> bytes;
    try {
      bytes = packed ? BuildPackedForWrapping(store, frontEnd, target, options.best) : BuildSaved(store, target);
      if (wrap) bytes = Wrapped(bytes, options.best);
    } catch (const Error& e) {
      return Refuse(frontEnd, kNotSaved, e.what());
    }
    written = WriteOut(frontEnd, path, bytes, writeOptions);
  }
  if (!written) return written;
  putBack.done = true;
  store.ClearChanges();
  if (options.savedPath != nullptr) *options.savedPath = path;
  if (!converted.empty()) frontEnd.ShowMessage(texture::ConvertedMessage(converted.size(), target.family));
  return {};
}

Outcome RebuildLoadedBml(ImageStore& store, FrontEnd& frontEnd, const SaveOptions& options) {
  if (store.bmlFlag == 0) return Refuse(frontEnd, kNotRebuilt, "no BML package is loaded");
  if (store.packageArchiveKind == PackageArchiveKind::None) return Told(frontEnd, Status::Refused, kBmlNothingToRebuild);
  if (auto refused = RefusedAsIncomplete(store, frontEnd, "the BML file was not rebuilt")) return *refused;
  const LoadedPackage& loaded = store.loadedPackage;
  const std::string& path = store.loadedFileName;
  if (!loaded.recorded) return Refuse(frontEnd, kNotRebuilt, "the package was not loaded from a file");
  if (loaded.throughPrs) {
    return Refuse(frontEnd, kNotRebuilt,
                  path + " is PRS-compressed; the package inside it cannot be rebuilt in place");
  }

  std::vector<uint8_t> bytes;
  try {
    const MappedFile file(path);
    if (file.Bytes().size() != loaded.size || ContentHash(file.Bytes(), file) != loaded.hash) {
      return Refuse(frontEnd, kNotRebuilt, path + " has changed since it was loaded; load it again first");
    }
    WorkerPool pool;
    const ProgressShown shown(frontEnd);
    bytes = RebuildBml(file.Bytes(), store.packageArchiveKind, LoadedImages(store), pool, options.best,
                       [&frontEnd](size_t done, size_t total) {
                         frontEnd.SetProgress("Rebuilding BML : archive " + std::to_string(done) + " / " +
                                                  std::to_string(total),
                                              static_cast<int32_t>(total), static_cast<int32_t>(done));
                       });
  } catch (const Error& e) {
    return Refuse(frontEnd, kNotRebuilt, e.what());
  }
  // Whatever the package's size, the result must stay loadable.
  if (bytes.size() > MappedFile::kMaxBytes) {
    return Refuse(frontEnd, kNotRebuilt, "the rebuilt package would be " + std::to_string(bytes.size()) +
                                             " bytes, more than a file that can be loaded");
  }
  if (Outcome written = WriteOut(frontEnd, path, bytes, WriteOptions{{path}, true}); !written) return written;
  // The next rebuild starts from the file just written.
  store.loadedPackage.size = bytes.size();
  store.loadedPackage.hash = ContentHash(bytes);
  store.ClearChanges();
  return Told(frontEnd, Status::Done, kBmlRebuilt);
}

}  // namespace quarrendel::archive
