// Import and Add: an image of the table replaced, or a new one appended, from
// a file of import_source.h's kinds.
//  Bitmap: encoded for the family chosen in the import-options dialog
//    (texture_encode.h), black made transparent on request.
//  PNG: the same as a 32-bit bitmap, alpha kept.
//  PVR, GVR, XVR and (Add only) "4" files: header and data taken as they are.
//  DDS: the dialog offers the file's mipmap count as the level count n.
//    GC: DXT1 becomes CMPR (0x0E00) by block order; DXT3 and DXT5 are
//    decoded and packed as RGB5A3 (0x0508, 2 x linear size bytes). XBox/BB:
//    the first n levels as stored (0x0600 / 0x0700), DXT5 levels turned into
//    DXT3 block by block (colours kept, alpha cut to four bits). DC/PC:
//    decoded and twiddled, ARGB1555 (0x0100) from DXT1, ARGB4444 (0x0102)
//    from DXT3 and DXT5.
// The import-options dialog's "Texture format" list changes this (the
// picture kinds: bitmap, PNG, DDS decoded):
//  "Same format as the replaced image" (Import only): the picture is
//    encoded into the replaced entry's own format word by the layout
//    encoders (layout_encode.h): same pixel and data format, mipmaps
//    generated when the word has them, the picture's own W x H where the
//    layout takes it (else refused naming the layout and the sizes it
//    takes), the palette file of a palettised layout written beside the
//    loaded file as the entry's name + ".pvp" / ".gvp".
//  a layout by its format word: the same, into that word of the family.
//  the family rule: as above; Add gives DC/PC pictures with graded alpha
//    ARGB4444 (0x0102), and pictures of W != H (multiples of 4) take the GC
//    and XBox/BB rule's layout (RGB5A3 or CMPR, DXT3 or DXT1).
// A PVR, GVR or XVR file of another family than the archive's (the texture
// archive's or package's kind, else the replaced or first image's) is
// decoded and re-encoded by the family rule (format_choice.h), and
// "1 images were converted for FAMILY" is shown.
// Bitmap, PNG and DDS results get the Xbox marking (bit 1: transparent
// pixels, bit 0: more than one level; DXT formats only). The result is
// selected and shown, and the store marked as changed. Everything is read
// and checked, and the picture encoded in the scratch canvas, before the
// entry changes: a refused file leaves the table, the list and the shown
// picture as they were. Refusals are Refused outcomes told in an information
// box; damaged files and files that cannot be read raise an Error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/frontend.h"
#include "core/image_store.h"
#include "core/outcome.h"

namespace quarrendel::imagefile {

// PNG pictures come last, so the earlier entries keep their indices.
inline constexpr const char* kOpenDialog2Filter =
    "PC PVR Format|*.pvr|BB/Xbox XVR Format|*.xvr|Windows Bitmap Format|*.bmp|Gamecube GVR format|*.gvr|"
    "All Suported Format|*.bmp;*.pvr;*.xvr;*.gvr;*.dds;*.png|PNG image|*.png";

inline constexpr std::string_view kBmpNotSquare = "BMP Error: Width and height must be the same.";
inline constexpr std::string_view kBmpBadSize = "BMP Error: The size isnt valide.";
inline constexpr std::string_view kPngNotSquare = "PNG Error: Width and height must be the same.";
inline constexpr std::string_view kPngBadSize = "PNG Error: The size isn't valid: the side must be even.";
inline constexpr std::string_view kNotImportable = "This file is not a bitmap, PNG, DDS, PVR, GVR or XVR file.";
inline constexpr std::string_view kNotAddable =
    "This file is not a bitmap, PNG, DDS, PVR, GVR, XVR or RGB565 image file.";
inline constexpr std::string_view kNoAddToBml = "Images cannot be added to a BML package.";
inline constexpr std::string_view kTableFull = "The image table is full: it holds 5001 images.";
// The list item of an added image.
inline constexpr std::string_view kAddedItem = "---";
// Name fields of the archives hold 28 bytes.
inline constexpr size_t kMaxAddedNameBytes = 28;

// How Import and Add get the import-options dialog's answer: from the
// dialog (an empty function: the front end's), or given in advance
// (PresetImportOptions).
using ImportOptionsAnswer = std::function<ImportOptions(const ImportOptionsRequest&)>;

// Image > Import: replaces the selected image from a file chosen in
// OpenDialog2. Done when the image was replaced; Refused when nothing was
// selected (kSelectImageFirst), the dialog was cancelled (no message) or the
// file was refused. Throws Error for files that are damaged or cannot be
// read, the entry as it was.
Outcome import1Click(ImageStore& store, FrontEnd& frontEnd);

// Image > Add: appends an image from a file chosen in OpenDialog2 as entry
// and list item `image count` ("---"), named AddedImageName of the file,
// with the GBIX index as stored (else the XVRT header's, else 0) and package
// index 0; the label shows the new count. Refused while a BML package is
// loaded and when the table is full. Returns and throws as import1Click.
Outcome Add1Click(ImageStore& store, FrontEnd& frontEnd);

// The two on the bytes of the chosen file, with the dialog's answer.
Outcome ImportFile(ImageStore& store, FrontEnd& frontEnd, int32_t index, std::span<const uint8_t> file,
                   const ImportOptionsAnswer& answer = {});
Outcome AddFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file, const std::string& name,
                const ImportOptionsAnswer& answer = {});

// Why Add would refuse now (a BML package is loaded, or the table is full),
// or nullopt.
std::optional<Outcome> AddRefusal(const ImageStore& store);

// Add in the store alone, as texture packs add their pictures: the entry
// filled and counted, nothing shown; refusals returned untold. A raw texture
// re-encoded for the archive's family sets `convertedFor` to it.
Outcome AddImage(ImageStore& store, std::span<const uint8_t> file, const std::string& name,
                 const ImportOptionsAnswer& answer, std::optional<TargetFamily>* convertedFor = nullptr);

// The file name of `path` without folder and extension, cut to at most
// kMaxAddedNameBytes bytes without splitting a UTF-8 character.
std::string AddedImageName(const std::string& path);

}  // namespace quarrendel::imagefile
