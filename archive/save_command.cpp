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

namespace quarrendel::archive {

namespace {

constexpr const char* kNotSaved = "The file was not saved:\n";
constexpr const char* kNotRebuilt = "The BML file was not rebuilt:\n";

bool Refuse(FrontEnd& frontEnd, const char* lead, const std::string& reason) {
  frontEnd.ShowMessage(lead + reason);
  return false;
}

// A store whose load stopped short is not written, told with `outcome` ("the file was not saved").
bool RefusedAsIncomplete(const ImageStore& store, FrontEnd& frontEnd, const char* outcome) {
  if (!store.loadIncomplete) return false;
  frontEnd.ShowMessage(IncompleteLoadText(store) + "\nImages are missing, so " + outcome + ".");
  return true;
}

std::span<const TImage_Entry> LoadedImages(const ImageStore& store) {
  RequireImageCount(store.imageCount, "image table");
  return {store.images.data(), static_cast<size_t>(store.imageCount)};
}

std::vector<uint8_t> BuildSaved(ImageStore& store, FrontEnd& frontEnd, const SaveTarget& target, bool packed,
                                bool best) {
  const auto images = LoadedImages(store);
  if (!target.afs) return BuildArchiveFile(target.kind, images);
  if (!packed) return BuildAfsOfTextures(target.platform, images);
  WorkerPool pool;
  const ProgressShown shown(frontEnd);
  return BuildPackedAfs(target.platform, images, pool, frontEnd, best);
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

// Writes `bytes` as the file `path`; false after telling the user when it cannot.
bool WriteOut(FrontEnd& frontEnd, const std::string& path, std::span<const uint8_t> bytes,
              const WriteOptions& options) {
  try {
    WriteFile(path, bytes, options);
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::Io) throw;
    frontEnd.ShowMessage(kCreateFileFailed + path + "\r\n" + e.what());
    return false;
  }
  return true;
}

}  // namespace

void SaveCommand(ImageStore& store, FrontEnd& frontEnd) {
  if (store.bmlFlag != 0) {
    RebuildLoadedBml(store, frontEnd);
    return;
  }
  const std::optional<FileChoice> choice = frontEnd.AskSaveFile(DialogId::SaveDialog1, kSaveDialog1Filter);
  if (!choice) return;
  SaveAs(store, frontEnd, choice->path, choice->filterIndex);
}

bool SaveAs(ImageStore& store, FrontEnd& frontEnd, const std::string& chosenPath, int32_t filterIndex,
            const SaveOptions& options) {
  const std::optional<SaveTarget> target = SaveTargetOf(filterIndex);
  if (!target) {
    return Refuse(frontEnd, kNotSaved, "filter index " + std::to_string(filterIndex) + " names no kind of file");
  }
  if (RefusedAsIncomplete(store, frontEnd, "the file was not saved")) return false;
  // Packed mode keeps the name as chosen and is never wrapped.
  const bool packed = target->afs && store.packageMode != 0;
  const bool wrap = !packed && HasPrsExtension(chosenPath);
  std::string path = packed ? chosenPath : ForceExtension(chosenPath, target->extension);
  if (wrap) path = ForceExtension(path, ".prs");

  std::vector<uint8_t> bytes;
  try {
    bytes = BuildSaved(store, frontEnd, *target, packed, options.best);
    if (wrap) bytes = Wrapped(bytes, options.best);
  } catch (const Error& e) {
    return Refuse(frontEnd, kNotSaved, e.what());
  }
  if (!WriteOut(frontEnd, path, bytes, WriteOptions{options.protectedInputs, false})) return false;
  store.ClearChanges();
  if (options.savedPath != nullptr) *options.savedPath = path;
  return true;
}

bool RebuildLoadedBml(ImageStore& store, FrontEnd& frontEnd, const SaveOptions& options) {
  if (store.bmlFlag == 0) return Refuse(frontEnd, kNotRebuilt, "no BML package is loaded");
  if (store.packageArchiveKind == PackageArchiveKind::None) {
    frontEnd.ShowMessage(kBmlNothingToRebuild);
    return false;
  }
  if (RefusedAsIncomplete(store, frontEnd, "the BML file was not rebuilt")) return false;
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
  if (!WriteOut(frontEnd, path, bytes, WriteOptions{{path}, true})) return false;
  // The next rebuild starts from the file just written.
  store.loadedPackage.size = bytes.size();
  store.loadedPackage.hash = ContentHash(bytes);
  store.ClearChanges();
  frontEnd.ShowMessage(kBmlRebuilt);
  return true;
}

}  // namespace quarrendel::archive
