// Export: one image, or every image, written as a texture file, a bitmap or
// a DDS file. The pixel format code below is Format & 7, the data format
// code (df) Format byte 1.
//  PVR: GBIX (index little-endian) + PVRT head + data: the stored data for
//    images of the PVR family, else the decoded picture as an ARGB4444
//    rectangle (0x0902), rows from the top.
//  XVR: XVRT head (flags = pixel format code, format code = df; no GBIX) +
//    data: stored DXT1/DXT3 (df 6, 7), CMPR moved into DXT1 order (df 14),
//    else the picture encoded as DXT1 (pixel format codes 0, 1, and no
//    graded alpha: alphas below 0x80 take the transparent index) or DXT3
//    (flags 2).
//  GVR: GBIX (index big-endian) + GVRT head + data: stored CMPR, DXT1 moved
//    into CMPR order (0x0E00), else the picture packed as RGB5A3 tiles (0x0508).
//  Bitmap: 54-byte header, 32 bits per pixel (blue, green, red, alpha), rows
//    bottom-up, W x H.
//  DDS: 128-byte header, then the stored DXT1/DXT3 chain (df 6, or df 7 of an
//    Xbox source) with its mipmap count, CMPR as DXT1, else the picture
//    encoded as DXT3. Height and width are both W.
//  PNG: the decoded picture at W x H, RGBA, channels stretched to the full
//    range (texture_png.h); any size from 1 x 1 to 2048 x 2048.
// The picture is the texture decoded (texture_decode.h) as a selection
// decodes it. Re-encoding and DDS treat the image as a W x W square, so
// non-square images are refused there. Every conversion works on a copy.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_io.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "core/outcome.h"
#include "texture/rgba_image.h"

namespace quarrendel {
class WorkerPool;
}

namespace quarrendel::imagefile {

// PNG pictures come last, so the earlier entries keep their indices.
inline constexpr const char* kSaveDialog2Filter =
    "PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr|GC GVR format|*.gvr|Windows Bitmap Format|*.bmp|"
    "Direct Draw Surface (DDS)|*.dds|PNG image|*.png";
inline constexpr std::string_view kSelectImageFirst = "Please select an image first.";

// The filter index of kSaveDialog2Filter.
enum class ExportKind : int32_t { Pvr = 1, Xvr = 2, Gvr = 3, Bitmap = 4, Dds = 5, Png = 6 };

// nullopt for an index that names no kind (nothing is written then).
std::optional<ExportKind> ExportKindOf(int32_t filterIndex);

inline constexpr size_t kBitmapHeaderSize = 54;

// A 32-bit bitmap of `picture`. Throws Error(OverCapacity) for a side beyond
// the canvas.
std::vector<uint8_t> BitmapFileBytes(const texture::RgbaRect& picture);

// The DXT1 (or DXT3) header template with height and width `side`, the
// linear size and the mipmap count filled in.
void WriteDdsHeader(ByteWriter& out, bool dxt1, int32_t side, uint32_t linearSize, uint32_t mipCount);

// The file of `kind` for entry `index`. Only reads the store. Throws
// Error(Unsupported) for a non-square image on the re-encoding and DDS paths
// and for CMPR/DXT1 reordering of a side that is not a multiple of 8;
// Error(Corrupt) when the stored data the file needs is missing or too short.
std::vector<uint8_t> ExportBytes(const ImageStore& store, int32_t index, ExportKind kind);

// Writes entry `index` as `kind` under `fileName` with the kind's extension
// forced (replacing the file name's extension, or appended), never over the
// loaded file. Returns the name written. Throws as ExportBytes and WriteFile.
std::string ExportImage(const ImageStore& store, int32_t index, const std::string& fileName, ExportKind kind);

// The file names Export all gives `images` inside the chosen folder, in
// order: as `unpack` names its pictures (FolderFileNames), with the kind's
// extension after the whole image name ("wall.001" -> "wall.001.png"), so no
// two images share a file and none reaches outside the folder.
std::vector<std::string> ExportFileNames(std::span<const TImage_Entry> images, ExportKind kind);

// The index of the list's selected image; nullopt, after telling
// kSelectImageFirst in a plain box, when no item or an item without an image
// is selected.
std::optional<int32_t> SelectedImage(const ImageStore& store, FrontEnd& frontEnd);

// Image > Export: the selected image, under the name and kind chosen in
// SaveDialog2 (which offers the image's name). Done when a file was written;
// Refused when nothing is selected, the dialog is cancelled (no message) or
// its filter index names no kind. Throws as ExportImage. `writtenPath`, when
// set, receives the name of the file written.
Outcome Export1Click(ImageStore& store, FrontEnd& frontEnd, std::string* writtenPath = nullptr);

// Writes every listed image into `folder` (with its trailing separator) as
// `kind` under its name from ExportFileNames, as a derived name
// (WriteOptions::derivedName): decoded, encoded and written on `pool`, the
// same files for any number of threads; the list's selection and the panel's
// progress follow the images in table order, and the last image is shown at
// the end. Throws Error(Io) before anything is written when an entry of the
// folder under one of those names is not a regular file or a symlink. An
// image that cannot be written does not stop the others; they are told, by
// file name without the extension, in one information box at the end (an
// Error outcome). The files reach the disk with one flush of the folder's
// file system after the last (Error(Io) when that fails). Done when every
// image was written. `written`, when set, receives the number of files
// written.
Outcome ExportAll(ImageStore& store, FrontEnd& frontEnd, const std::string& folder, ExportKind kind,
                  WorkerPool& pool, int32_t* written = nullptr);

// ExportAll for the listed images `indices` only (in table order, each
// below the list's length and the image count; others are skipped), under
// the names Export all gives them.
Outcome ExportImages(ImageStore& store, FrontEnd& frontEnd, const std::string& folder, ExportKind kind,
                     WorkerPool& pool, std::span<const int32_t> indices, int32_t* written = nullptr);
// Image > Export all: ExportAll into the folder of the name chosen in
// SaveDialog2, as the kind its filter index names (Refused, writing nothing,
// when cancelled or for an index that names none).
Outcome Exportall1Click(ImageStore& store, FrontEnd& frontEnd);

}  // namespace quarrendel::imagefile
