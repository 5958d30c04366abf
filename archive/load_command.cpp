#include "archive/load_command.h"

#include <cctype>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "archive/package_reader.h"
#include "archive/save_names.h"
#include "archive/texture_archive.h"
#include "archive/texture_file_reader.h"
#include "core/capacity.h"
#include "core/content_hash.h"
#include "core/error.h"
#include "core/mapped_file.h"
#include "prs/prs.h"

namespace quarrendel::archive {

namespace {

enum class Container { Afs, Bml, Xvm, Pvm, Gvm, Texture, Unknown };

// The magic as text: its characters up to the first zero byte, at most 4.
std::string MagicText(std::span<const uint8_t> bytes) {
  std::string magic;
  for (size_t i = 0; i < 4 && i < bytes.size() && bytes[i] != 0; ++i) magic += static_cast<char>(bytes[i]);
  return magic;
}

Container ContainerOf(std::string_view magic) {
  if (magic == "AFS") return Container::Afs;
  if (magic.empty()) return Container::Bml;
  if (magic == "XVMH") return Container::Xvm;
  if (magic == "PVMH") return Container::Pvm;
  if (magic == "GVMH") return Container::Gvm;
  if (IsTextureFileMagic(magic)) return Container::Texture;
  return Container::Unknown;
}

// A whole-file PRS stream fetched into the input buffer and unpacked into the
// output buffer. A stream that ends before its end command, unpacks beyond
// the output buffer or turns corrupt still yields the bytes decoded before
// that, and loading goes on with them; the load is recorded as incomplete.
// The result is a copy: the package readers reuse the output buffer for their members.
std::vector<uint8_t> Unwrap(ImageStore& store, const InputHooks& input, std::span<const uint8_t> packed) {
  RequireBufferBytes(static_cast<int64_t>(packed.size()), "compressed file");
  const prs::DecompressResult r = prs::Decompress(input.Fetch(packed, store.input.Span()), store.output.Span());
  if (r.EndsEarly()) {
    store.NoteShortfall(LoadShortfall::StreamEndsEarly);
  } else if (r.end == prs::StreamEnd::OutputFull) {
    store.NoteShortfall(LoadShortfall::OverBuffer);
  } else if (r.error) {
    store.NoteShortfall(LoadShortfall::Damaged);
  }
  const auto unpacked = store.output.First(r.size);
  return std::vector<uint8_t>(unpacked.begin(), unpacked.end());
}

// Runs the reader of `kind`; a kind without a reader is not supported.
ReadResult ReadContainer(ImageStore& store, Progress& progress, Container kind, std::span<const uint8_t> bytes,
                         const std::string& path, const InputHooks& input) {
  switch (kind) {
    case Container::Afs: return ReadAfs(store, bytes, progress, input);
    case Container::Bml: return ReadBml(store, bytes, progress, input);
    case Container::Xvm: return ReadXvmFile(store, bytes, input);
    case Container::Pvm: return ReadPvmFile(store, bytes, input);
    case Container::Gvm: return ReadGvmFile(store, bytes, input);
    case Container::Texture: return ReadTextureFile(store, bytes, TextureFileImageName(path));
    case Container::Unknown: break;
  }
  ReadResult read;
  read.imageCount = store.imageCount;
  read.outcome = {Status::Unsupported, kNotSupported};
  return read;
}

std::string DirectoryPart(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void ShowCount(const ImageStore& store, FrontEnd& frontEnd) {
  frontEnd.SetLabel(std::to_string(store.imageCount) + " Images");
}

// What a load may change in the store besides the entries: a load refused
// before it read an image puts it back as it was.
struct LoadState {
  int32_t imageCount;
  int32_t currentImage;
  uint8_t pvrFamily;
  uint8_t bmlFlag;
  int32_t packageMode;
  std::string loadDirectory;
  std::string loadedFileName;
  PackageArchiveKind packageArchiveKind;
  LoadedContainer loadedContainer;
  bool loadedFromPrs;
  bool loadIncomplete;
  LoadShortfall shortfall;
  int64_t imagesDeclared;
  LoadedPackage loadedPackage;
  bool unsavedChanges;

  static LoadState Of(const ImageStore& s) {
    return {s.imageCount,     s.currentImage,   s.pvrFamily,          s.bmlFlag,
            s.packageMode,    s.loadDirectory,  s.loadedFileName,     s.packageArchiveKind,
            s.loadedContainer, s.loadedFromPrs, s.loadIncomplete,     s.shortfall,
            s.imagesDeclared, s.loadedPackage,  s.unsavedChanges};
  }
  void RestoreInto(ImageStore& s) const {
    s.imageCount = imageCount;
    s.currentImage = currentImage;
    s.pvrFamily = pvrFamily;
    s.bmlFlag = bmlFlag;
    s.packageMode = packageMode;
    s.loadDirectory = loadDirectory;
    s.loadedFileName = loadedFileName;
    s.packageArchiveKind = packageArchiveKind;
    s.loadedContainer = loadedContainer;
    s.loadedFromPrs = loadedFromPrs;
    s.loadIncomplete = loadIncomplete;
    s.shortfall = shortfall;
    s.imagesDeclared = imagesDeclared;
    s.loadedPackage = loadedPackage;
    s.unsavedChanges = unsavedChanges;
  }
};

// Hides the progress panel however the load ends.
class PanelHidden {
 public:
  explicit PanelHidden(Progress& progress) : progress_(progress) {}
  ~PanelHidden() { progress_.SetProgressVisible(false); }
  PanelHidden(const PanelHidden&) = delete;
  PanelHidden& operator=(const PanelHidden&) = delete;

 private:
  Progress& progress_;
};

// The steps every load shares around `read`, which returns what the reader
// read. A file refused before any image was read leaves the store, the list
// and the picture as they were (the reason told, the label refreshed from the
// count it keeps). Otherwise the picture, the memo and the status line of
// the last file are cleared, the list filled, the reader's message told, the
// label refreshed unless the reader refused the file, the incomplete load
// told. Full block pools end the command once the images filled are listed,
// for the caller's top-level handler. The progress panel is hidden on every path.
template <typename Read>
Outcome RunLoad(ImageStore& store, FrontEnd& frontEnd, const std::string& path, Read read) {
  const PanelHidden panel(frontEnd);
  const LoadState before = LoadState::Of(store);
  store.loadDirectory = DirectoryPart(path);
  store.loadedFileName = path;
  store.pvrFamily = 0;
  store.bmlFlag = 0;
  store.packageMode = 0;
  store.loadedContainer = LoadedContainer::None;
  store.loadedFromPrs = false;
  store.StartLoadRecord();
  // The table is refilled from here on: whatever was changed in it is gone.
  store.ClearChanges();

  // The list is refilled: nothing of the last file stays shown.
  const auto clearShown = [&frontEnd] {
    frontEnd.SetMemo({"Description :"});
    frontEnd.ShowPicture(Picture{});
    frontEnd.ShowStatus(ImageStatus{});
    frontEnd.ListClear();
  };
  ReadResult result;
  try {
    result = read();
  } catch (const Error& e) {
    if (e.Kind() == ErrorKind::PoolFull) {
      store.NoteShortfall(LoadShortfall::Damaged);
      clearShown();
      throw;
    }
    // Refused files, capacity and truncated-header errors: the reader has
    // left the store consistent (nothing changed).
    result.outcome = {Status::Error, e.what()};
    result.imageCount = before.imageCount;
  }
  Outcome outcome = result.outcome;
  if (!outcome.Ok() && result.names.empty() && !result.poolFull) {
    before.RestoreInto(store);
    if (!outcome.message.empty()) frontEnd.ShowInformation(outcome.message);
    if (outcome.status != Status::Refused) ShowCount(store, frontEnd);
    return outcome;
  }
  clearShown();
  store.loadedContainer = result.container;
  store.imagesDeclared = result.expected;
  if (result.stopped != LoadShortfall::None) store.NoteShortfall(result.stopped);
  for (const std::string& name : result.names) frontEnd.ListAdd(name);
  if (result.poolFull) throw *result.poolFull;

  if (!outcome.message.empty()) {
    if (outcome.status == Status::Done) {
      frontEnd.ShowMessage(outcome.message);
    } else {
      frontEnd.ShowInformation(outcome.message);
    }
  }
  frontEnd.SetProgressVisible(false);
  ShowCount(store, frontEnd);
  if (store.loadIncomplete && outcome.status != Status::Error) {
    const std::string text = IncompleteLoadText(store);
    frontEnd.ShowMessage(text);
    if (outcome.status == Status::Done) outcome = {Status::Incomplete, text};
  }
  return outcome;
}

// A BML package's file, once its header was accepted: the rebuild checks
// that the file still holds what was loaded.
void RecordPackage(ImageStore& store, bool throughPrs, std::span<const uint8_t> fileBytes, const InputHooks& input) {
  if (store.bmlFlag == 0) return;
  store.loadedPackage = LoadedPackage{true, throughPrs, fileBytes.size(), ContentHash(fileBytes, input)};
}

ReadResult ReadContents(ImageStore& store, Progress& progress, const std::string& path,
                        std::span<const uint8_t> fileBytes, const InputHooks& input) {
  const bool prs = HasPrsExtension(path);
  store.loadedFromPrs = prs;
  const std::vector<uint8_t> unwrapped = prs ? Unwrap(store, input, fileBytes) : std::vector<uint8_t>();
  const std::span<const uint8_t> contents = prs ? std::span<const uint8_t>(unwrapped) : fileBytes;
  // Unwrapped bytes are ordinary memory.
  const InputHooks inMemory;
  const InputHooks& contentsInput = prs ? inMemory : input;
  const Container kind = ContainerOf(MagicText(contents));
  ReadResult read = ReadContainer(store, progress, kind, contents, path, contentsInput);
  if (kind == Container::Bml) RecordPackage(store, prs, fileBytes, input);
  // The file was cut short while it was read: a damaged file, also where the
  // zeros read in place of its end made a reader refuse it.
  if (input.CutWhileRead()) {
    read.StopShort(LoadShortfall::Damaged);
    if (read.imageCount > 0 && !read.names.empty()) read.outcome = {};
  }
  return read;
}

}  // namespace

std::string IncompleteLoadText(const ImageStore& store) {
  std::string why;
  switch (store.shortfall) {
    case LoadShortfall::StreamEndsEarly:
      why = "the compressed data ends early";
      break;
    case LoadShortfall::OverBuffer:
      why = "the file unpacks to more than " + std::to_string(kBufferSize) + " bytes";
      break;
    default:
      why = "the file is damaged or incomplete";
      break;
  }
  const std::string count = std::to_string(store.imageCount);
  if (store.imagesDeclared > store.imageCount) {
    return "Only " + count + " of " + std::to_string(store.imagesDeclared) + " images could be read: " + why + ".";
  }
  why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
  return why + ": " + count + " images could be read.";
}

Outcome LoadCommand(ImageStore& store, FrontEnd& frontEnd) {
  const auto choice = frontEnd.AskOpenFile(DialogId::OpenDialog1, kOpenDialog1Filter);
  if (!choice) {
    ShowCount(store, frontEnd);
    return {Status::Refused, {}};
  }
  return LoadFile(store, frontEnd, choice->path);
}

Outcome LoadFile(ImageStore& store, FrontEnd& frontEnd, const std::string& path) {
  return RunLoad(store, frontEnd, path, [&] {
    std::optional<MappedFile> file;
    try {
      file.emplace(path);
    } catch (const Error& e) {
      // A file that cannot be opened reads as no bytes, whose empty magic the
      // BML reader rejects; folders, devices, FIFOs and files over 4 GiB are
      // refused with the reason.
      if (e.Kind() != ErrorKind::Io) throw;
    }
    return file ? ReadContents(store, frontEnd, path, file->Bytes(), *file)
                : ReadContents(store, frontEnd, path, {}, InputHooks());
  });
}

Outcome LoadContents(ImageStore& store, FrontEnd& frontEnd, const std::string& path,
                     std::span<const uint8_t> fileBytes, const InputHooks& input) {
  return RunLoad(store, frontEnd, path, [&] { return ReadContents(store, frontEnd, path, fileBytes, input); });
}

}  // namespace quarrendel::archive
