// Texture packs: every texture of an archive as a PNG file in one folder,
// with index.txt listing them in table order, one line per texture:
//   GLOBALINDEX,FILE.png,WIDTHxHEIGHT,FORMAT
// (global index in decimal, the texture's true size, its format word in hex
// as `list` prints it; lines without the fourth field are read too). A pack
// can be edited in any image editor and built into a new archive again, or
// put back onto the archive it came from.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/save_names.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "core/outcome.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::imagefile {

inline constexpr std::string_view kPackIndexName = "index.txt";
// index.txt of 5001 lines takes well under 1 MiB.
inline constexpr uint64_t kMaxPackIndexBytes = 4ull << 20;

// The file names that `unpack` and Export all give `images` in one folder, in
// order: each image's whole name, then `extension` (".png"). A name is kept
// when it is safe everywhere: printable ASCII without / \ : * ? " < > | or a
// comma, not starting with a dot, not ending with a dot or a space, not a
// Windows device name (CON, NUL, COM1 ...), at most 64 characters. Other
// characters become '_', an empty name becomes "image". A name already taken,
// compared without regard to case, gets "~2", "~3", ... appended.
std::vector<std::string> FolderFileNames(std::span<const TImage_Entry> images, std::string_view extension);
// The PNG file names of a pack: FolderFileNames with ".png".
std::vector<std::string> PackFileNames(std::span<const TImage_Entry> images);

struct PackLine {
  uint32_t globalIndex = 0;
  std::string fileName;  // "NAME.png"
  int32_t width = 0;
  int32_t height = 0;
  size_t lineNumber = 0;  // in index.txt, from 1 (0 for lines not read from a file)
  std::optional<uint32_t> format{};  // the fourth field
};

// index.txt for `lines`, each ended by "\n".
std::string FormatPackIndex(std::span<const PackLine> lines);

// Parses index.txt (named `source` in messages). A UTF-8 byte-order mark at
// the start is skipped, empty lines are skipped and a "\r" before each "\n"
// is dropped. The global index runs to the first
// comma, the size follows the last one, and the file name lies between: a
// name that ends in ".png" (any case) and holds no path separator or NUL,
// and is not "." or "..". Text quoted from the line in messages is shown as
// PrintableText shows it. The size is not checked against the picture: a pack may hold edited
// pictures of another size. A fourth field is the format word when it is 1 to
// 8 hexadecimal digits (a name may hold commas, a size holds an 'x'). Throws Error(Corrupt, "index.txt line N: reason")
// for the first malformed line, Error(OverCapacity) for more lines than the
// image table holds.
std::vector<PackLine> ParsePackIndex(std::string_view text, std::string_view source = kPackIndexName);

struct UnpackResult {
  Outcome outcome;  // Done, or Unsupported when a format has no decoder
  int32_t written = 0;
  std::vector<int32_t> unsupported;  // images whose format has no decoder: written transparent
  // In table order: "image N: Unsupported format: its PNG is transparent",
  // "image N: " + the palette notice; then, by name, for each .png file in
  // the folder that index.txt does not list (left from an earlier pack, not
  // removed): "FOLDER/NAME.png: not listed in index.txt".
  std::vector<std::string> notices;
};

// Writes every image of the store into `folder` (created when missing) as
// folder/NAME.png, then folder/index.txt, each through the file writer as
// derived names, with `inputs` as the files that must not be overwritten.
// Textures are decoded, their PNG files encoded and written on `pool`, the
// same files for any number of threads. Progress goes to the front end's
// panel, in table order.
// Throws, before anything is written, Error(OverCapacity) naming the image
// for one that does not fit a PNG and Error(Io) for a name whose entry in the
// folder is not a regular file or a symlink (CheckDerivedTarget); then the
// writer's Error(Io); index.txt is written only when every picture was.
UnpackResult UnpackTextures(const ImageStore& store, FrontEnd& frontEnd, const std::string& folder,
                            const std::vector<std::string>& inputs, WorkerPool& pool);

struct PackRequest {
  std::string index;  // the pack's index.txt; the PNG files lie beside it
  std::string out;    // the archive's name as chosen (the save rules force its extension)
  archive::SaveKind kind = archive::SaveKind::Pvm;
  bool blackTransparent = false;
  int32_t threads = 0;  // of the worker pool; 0: one per core
};

// The palette file of a palettised texture made from a pack, to be written
// beside the archive as NAME + extension once the archive is.
struct PendingPalette {
  std::string name;
  std::string extension;  // ".pvp" or ".gvp"
  std::vector<uint8_t> bytes;
};

// Writes `palettes` into `folder` through the file writer (derived names),
// never over `inputs`. Throws Error(Unsupported) for a name that names no
// file there, then the writer's errors.
void WritePalettes(const std::string& folder, const std::vector<PendingPalette>& palettes,
                   const std::vector<std::string>& inputs);

struct PackResult {
  Outcome outcome;                    // the save's: refused or failed, it said why through the front end
  std::string path;                   // the file written
  int32_t textures = 0;
  std::vector<std::string> warnings;  // global indices shared by several textures
};

// Builds a new archive from a pack: each line's PNG encoded for the family
// of the chosen kind (DC/PC for PVM and AFS PC, XBox/BB for XVM and AFS
// Xbox, GC for GVM and AFS GC) by the layout encoders (layout_encode.h,
// S3TC fitted to the consoles' decoder): in the line's format when that
// family has it, else by the family rule (format_choice.h: W != H takes the
// family's rectangle, tiles or blocks); named after its file, with the
// line's global index; then saved as the Save command saves that kind, never
// over the index or a picture, and the palette files of palettised textures
// written beside it. The pictures are read, decoded and encoded on a worker
// pool: the same archive for every thread count. Only regular files inside the
// index's folder are read: a picture that is a symlink leading out of it, or
// not a regular file, is refused. Everything is read and encoded before the
// file is written: a missing or unreadable file, a malformed line or a
// refused picture throws an Error naming the line ("index.txt line 3
// (wall.png): ...") and writes nothing.
PackResult PackTextures(const PackRequest& request, FrontEnd& frontEnd);

struct PackUpdate {
  std::vector<int32_t> updated;          // the images whose picture was edited, in table order
  std::vector<PendingPalette> palettes;  // of the updated palettised images
  std::vector<std::string> inputs;       // index.txt and the pictures read
};

// Puts a pack back onto the loaded archive it was unpacked from: line i
// belongs to image i and must name the file unpack gives it (PackFileNames,
// without regard to case), and the pack lists every image, else
// Error(Corrupt) naming the line, before any picture is read. Each picture
// that differs from what unpack writes for the stored texture (decoded and
// stretched, compared pixel for pixel) is encoded into that image's own
// format word (KeptFormatWord): mipmaps generated where it has them, its
// new size where the layout takes it. The others keep their data byte for
// byte. Everything is read and encoded on a worker pool before the table
// changes; a picture that cannot be read or encoded throws naming the line,
// the table as it was. The caller writes the palettes.
PackUpdate UpdateFromPack(ImageStore& store, const std::string& index, Progress& progress, int32_t threads = 0);

// The filter list of PackDialog: a pack is chosen by its index.txt.
inline constexpr const char* kPackDialogFilter = "PNG pack index (index.txt)|index.txt";

// File > Export all as PNG pack: asks PackDialog where index.txt goes and
// unpacks every image into that folder, then tells how many files were
// written, with the notices.
// Does nothing without images or when the dialog is cancelled. Returns true
// when the pack was written; errors are raised as UnpackTextures raises them.
bool ExportAllAsPngPack(ImageStore& store, FrontEnd& frontEnd);

// File > New archive from PNG pack: asks PackDialog for a pack's index.txt
// and SaveDialog1 for the archive's name and kind, builds the archive as
// PackTextures does, tells the shared global indices, and loads the new
// archive. Does nothing when a dialog is cancelled. Returns true when the
// archive was written; errors are raised as PackTextures raises them.
bool NewArchiveFromPngPack(ImageStore& store, FrontEnd& frontEnd);

// File > Update from PNG pack: asks PackDialog for the pack's index.txt and
// updates the loaded images from it as UpdateFromPack does, writes the
// palette files beside the loaded file as Import does, shows the selected
// image again and tells how many images were updated ("N images were
// updated from index.txt"). Save or Rebuild writes the archive. Does
// nothing without images or when the dialog is cancelled; errors are raised
// as UpdateFromPack raises them.
bool UpdateFromPngPack(ImageStore& store, FrontEnd& frontEnd);

}  // namespace quarrendel::imagefile
