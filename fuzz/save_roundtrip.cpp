// Loads arbitrary bytes as a file (byte 0, bit 0: named ".prs"), saves its
// images as every kind into a temporary folder (bit 1: under a name ending in
// ".prs", so wrapped unless packed) and loads each file written back; a loaded BML package is rebuilt in place and loaded again instead. A
// save may refuse, with a message; what it writes must load completely, to
// the same images: data, sizes and global indices, and the format word as far
// as the kind keeps it (a packed PVM or GVM keeps its low two bytes).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "archive/load_command.h"
#include "archive/save_command.h"
#include "archive/save_names.h"
#include "core/error.h"
#include "tests/support/recording_frontend.h"
#include "texture/format_choice.h"

using namespace quarrendel;
namespace fs = std::filesystem;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A folder of this process's own under the temporary folder, removed at exit.
struct Folder {
  fs::path path;
  Folder() {
    std::string name = (fs::temp_directory_path() / "quarrendel-fuzz-XXXXXX").string();
    Check(::mkdtemp(name.data()) != nullptr);
    path = name;
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  void Clear() const {
    for (const auto& item : fs::directory_iterator(path)) fs::remove_all(item.path());
  }
};

struct Image {
  std::vector<uint8_t> data;
  uint16_t width;
  uint16_t height;
  uint32_t format;
  uint32_t globalIndex;
  std::optional<TargetFamily> family;
};

std::vector<Image> Snapshot(const ImageStore& store) {
  std::vector<Image> images;
  for (int32_t i = 0; i < store.imageCount; ++i) {
    const TImage_Entry& e = store.images[static_cast<size_t>(i)];
    const auto bytes = e.Bytes();
    images.push_back({{bytes.begin(), bytes.end()}, e.Width, e.Height, e.Format, e.GlobalIndex,
                      texture::EntryFamily(store, i)});
  }
  return images;
}

// Loads `path` into `store`; false when the block pools ran out, which only
// says that the pools were too small for this input.
bool Load(ImageStore& store, const fs::path& path) {
  RecordingFrontEnd ui;
  try {
    archive::LoadFile(store, ui, path.string());
  } catch (const Error& e) {
    Check(e.Kind() == ErrorKind::PoolFull);
    return false;
  }
  return true;
}

void CheckLoadedAs(ImageStore& store, const fs::path& path, const std::vector<Image>& images, uint32_t formatMask,
                   std::optional<TargetFamily> family = std::nullopt) {
  if (!Load(store, path)) return;
  Check(!store.loadIncomplete);
  Check(store.imageCount == static_cast<int32_t>(images.size()));
  const std::vector<Image> again = Snapshot(store);
  for (size_t i = 0; i < images.size(); ++i) {
    Check(again[i].width == images[i].width && again[i].height == images[i].height);
    Check(again[i].globalIndex == images[i].globalIndex);
    if (family && images[i].family && *images[i].family != *family) {
      Check(again[i].family == family);  // converted
      continue;
    }
    Check(again[i].data == images[i].data);
    Check((again[i].format & formatMask) == (images[i].format & formatMask));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const Folder folder;
  static ImageStore* const store = new ImageStore();
  static ImageStore* const again = new ImageStore();
  folder.Clear();
  const fs::path input = folder.path / ((data[0] & 1) != 0 ? "in.prs" : "in.bin");
  std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(data + 1),
                                               static_cast<std::streamsize>(size - 1));
  if (!Load(*store, input)) return 0;
  const std::vector<Image> images = Snapshot(*store);
  RecordingFrontEnd ui;

  if (store->bmlFlag != 0) {
    if (archive::RebuildLoadedBml(*store, ui)) CheckLoadedAs(*again, input, images, 0xFFFFFFFFu);
    return 0;
  }
  const std::string chosen = (folder.path / ((data[0] & 2) != 0 ? "out.prs" : "out")).string();
  for (const archive::SaveKindName& kind : archive::kSaveKindNames) {
    if (!Load(*store, input)) return 0;
    std::string written;
    archive::SaveOptions options;
    options.savedPath = &written;
    if (!archive::SaveAs(*store, ui, chosen, kind.kind, options)) continue;
    const archive::SaveTarget target = archive::SaveTargetOf(kind.kind);
    const bool packed = target.afs && store->packageMode != 0;
    // Every kind is wrapped under a .prs name; only a packed AFS keeps other names as they are.
    const std::string expected = archive::HasPrsExtension(chosen) ? archive::ForceExtension(chosen, ".prs")
                                 : packed                         ? chosen
                                                                  : archive::ForceExtension(chosen, target.extension);
    Check(written == expected);
    const bool keepsFormat = !packed || target.platform == archive::AfsPlatform::Xbox;
    CheckLoadedAs(*again, written, images, keepsFormat ? 0xFFFFFFFFu : 0xFFFFu, target.family);
    fs::remove(written);
  }
  return 0;
}
