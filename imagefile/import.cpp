#include "imagefile/import.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

#include "core/error.h"
#include "core/file_writer.h"
#include "core/mapped_file.h"
#include "core/mip_chain.h"
#include "imagefile/bmp_read.h"
#include "imagefile/export.h"
#include "imagefile/import_source.h"
#include "imagefile/png_file.h"
#include "imagefile/texture_png.h"
#include "texture/cmpr_order.h"
#include "texture/format_choice.h"
#include "texture/format_table.h"
#include "texture/layout_encode.h"
#include "texture/image_selection.h"
#include "texture/texture_decode.h"
#include "texture/texture_encode.h"
#include "texture/xvr_decode.h"

namespace quarrendel::imagefile {

namespace {

// A texture read and encoded from a file, not yet in the table.
struct Prepared {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t format = 0;
  std::vector<uint8_t> data;
  std::optional<uint32_t> globalIndex;
  bool xboxMarking = false;  // a bitmap or DDS source
  // The palette file of a palettised layout, written beside the loaded file
  // as the entry's name + extension.
  std::vector<uint8_t> paletteFile;
  std::string paletteExtension;
  // A raw texture of another family than the archive's, re-encoded for it.
  std::optional<TargetFamily> convertedFor;
};

// A texture from the layout encoders: the format word, size and palette as
// they made them (the Xbox flags included, so no marking follows).
Prepared FromLayout(texture::EncodedLayout encoded) {
  Prepared p;
  p.width = static_cast<uint16_t>(encoded.width);
  p.height = static_cast<uint16_t>(encoded.height);
  p.format = encoded.format;
  p.data = std::move(encoded.data);
  p.paletteFile = std::move(encoded.paletteFile);
  p.paletteExtension = std::move(encoded.paletteExtension);
  return p;
}

Prepared Square(int32_t side, uint32_t format, std::vector<uint8_t> data) {
  Prepared p;
  p.width = static_cast<uint16_t>(side);
  p.height = static_cast<uint16_t>(side);
  p.format = format;
  p.data = std::move(data);
  p.xboxMarking = true;
  return p;
}

// A picture kind's refusals of its size.
struct PictureMessages {
  std::string_view notSquare;
  std::string_view badSize;
  bool fullRange = false;  // PNG pictures: channels stretched to the full range
};

// A refusal: the outcome and its message, not yet told.
using Refusal = std::optional<Outcome>;

Refusal Refused(std::string_view message) { return Outcome{Status::Refused, std::string(message)}; }

// Where the picture goes: `replacing` is the index of the image it replaces,
// -1 for Add.
struct Target {
  int32_t replacing = -1;
  bool adding = false;
};

// The family and format word a picture is encoded into when the options
// choose a layout (the replaced image's or one by its word); nullopt for the
// family rule.
std::optional<std::pair<TargetFamily, uint32_t>> ChosenLayout(const ImageStore& store, const ImportOptions& options,
                                                              const Target& target, Refusal& refusal) {
  if (options.formatChoice == FormatChoice::Word) return std::pair{options.family, options.format};
  if (options.formatChoice != FormatChoice::SameAsReplaced || target.replacing < 0) return std::nullopt;
  const TImage_Entry& entry = store.Entry(target.replacing);
  const std::optional<TargetFamily> family = texture::EntryFamily(store, target.replacing);
  if (!family || !texture::FamilyEncodes(*family, entry.Format)) {
    refusal = Refused("The replaced image's format " + texture::Hex8(entry.Format) +
                      " has no encoder: choose a texture format for the picture.");
    return std::nullopt;
  }
  return std::pair{*family, texture::KeptFormatWord(*family, entry.Format)};
}

// The row-major picture of the canvas's width x height corner.
texture::RgbaImage PictureOfCanvas(const Canvas& canvas, int32_t width, int32_t height) {
  texture::RgbaImage picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) picture.pixels[static_cast<size_t>(y) * width + x] = canvas(x, y);
  }
  return picture;
}

void MakeBlackTransparent(texture::RgbaImage& picture) {
  for (uint32_t& pixel : picture.pixels) {
    if ((pixel & 0xFFFFFF) == 0) pixel = 0;
  }
}

// Encodes `picture` into `format` of `family`; a size the layout cannot take
// is refused with the encoder's message.
std::optional<Prepared> EncodeChosen(texture::RgbaImage picture, TargetFamily family, uint32_t format,
                                     Refusal& refusal, bool fullRange = false) {
  try {
    texture::RequireEncodableSize(family, format, picture.width, picture.height);
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::Unsupported) throw;
    refusal = Refused(e.what());
    return std::nullopt;
  }
  // PNG pictures hold full-range channels, where bitmaps and DDS files hold the decoders' values.
  if (fullRange) texture::ToTexelScale(picture, family, format);
  return FromLayout(texture::EncodeLayout(picture.View(), family, format));
}

// What bitmaps and PNG pictures share: `check` runs before the options
// dialog, then `load` gives the picture. By the family rule a square of even
// side is encoded into the canvas, and a picture of another size takes the
// rule's layout where it allows the size (else the kind's message); a layout
// chosen in the dialog takes what its encoder takes. Black is made
// transparent on request.
template <typename Check, typename Load>
std::optional<Prepared> PreparePicture(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                       const Target& target, int32_t width, int32_t height,
                                       const PictureMessages& messages, Check check, Load load) {
  const bool evenSquare = width == height && width % 2 == 0;
  check();
  const ImportOptions options = answer(ImportOptionsRequest{0, 1, 1, !target.adding});
  const std::optional<std::pair<TargetFamily, uint32_t>> chosen = ChosenLayout(store, options, target, refusal);
  if (refusal) return std::nullopt;
  if (chosen || !evenSquare) {
    // The family rule's GameCube and Xbox layouts take W != H.
    if (!chosen && (options.family == TargetFamily::DcPc || width % 4 != 0 || height % 4 != 0)) {
      refusal = Refused(width != height ? messages.notSquare : messages.badSize);
      return std::nullopt;
    }
    texture::RgbaImage picture = load(store.scratch);
    if (options.blackTransparent) MakeBlackTransparent(picture);
    const TargetFamily family = chosen ? chosen->first : options.family;
    const uint32_t format = chosen ? chosen->second : texture::FamilyRuleFormat(family, picture.View(), false);
    return EncodeChosen(picture, family, format, refusal, messages.fullRange);
  }
  const int32_t side = width;
  texture::RequireEncodableSide(side, options.family);
  load(store.scratch);
  if (options.blackTransparent) texture::MakeBlackTransparent(store.scratch, side);
  // Add makes DC/PC pictures with graded alpha ARGB4444: ARGB1555 would cut their alpha to 0 or 255.
  const texture::TwiddledTexels texels =
      target.adding && options.family == TargetFamily::DcPc && texture::HasGradedAlpha(store.scratch, side)
          ? texture::TwiddledTexels::Argb4444
          : texture::TwiddledTexels::Argb1555;
  texture::EncodedTexture t = texture::EncodeCanvas(store.scratch, side, options.family, texels);
  return Square(side, t.format, std::move(t.data));
}

std::optional<Prepared> PrepareBitmap(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                      const Target& target, std::span<const uint8_t> file, const SourceFile& source) {
  // The bitmap reader reads the file from its start, where a GBIX chunk is no bitmap.
  if (source.at != 0) throw Error(ErrorKind::BadMagic, std::string(kNotBmpMessage), 0);
  const BitmapSize size = ReadBitmapSize(file);
  return PreparePicture(
      store, answer, refusal, target, size.width, size.height, {kBmpNotSquare, kBmpBadSize},
      [file] { ReadBitmapHeader(file); },  // everything the reader refuses, before the dialog
      [file, size](Canvas& canvas) {
        LoadBitmapIntoCanvas(file, canvas);
        return PictureOfCanvas(canvas, size.width, size.height);
      });
}

// A PNG takes the bitmap's path with its alpha. The whole picture is decoded
// before the dialog, so a damaged file is refused first.
std::optional<Prepared> PreparePng(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                   const Target& target, std::span<const uint8_t> file, const SourceFile& source) {
  const RgbaImage picture = ReadPng(file.subspan(source.at));
  return PreparePicture(store, answer, refusal, target, picture.width, picture.height, {kPngNotSquare, kPngBadSize, true},
                        [] {}, [&picture](Canvas& canvas) {
                          CopyIntoCanvas(picture, canvas);
                          return PixelsOfPng(picture);
                        });
}

// The DDS file's top level, row-major.
texture::RgbaImage DdsTopLevel(const DdsSource& dds) {
  texture::RgbaImage top{dds.side, dds.side, std::vector<uint32_t>(static_cast<size_t>(dds.side) * dds.side)};
  const texture::Plane plane(top);
  switch (dds.blocks) {
    case DdsBlocks::Dxt1: texture::DecodeDxt1(plane, dds.side, dds.TopLevel()); break;
    case DdsBlocks::Dxt3: texture::DecodeDxt3(plane, dds.side, dds.TopLevel()); break;
    case DdsBlocks::Dxt5: texture::DecodeDxt5(plane, dds.side, dds.TopLevel()); break;
  }
  return top;
}

std::optional<Prepared> PrepareDds(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                   const Target& target, std::span<const uint8_t> file, const SourceFile& source) {
  const DdsSource dds = ReadDdsSource(file, source.at);
  const auto count = static_cast<int32_t>(std::min<uint32_t>(dds.mipCount, std::numeric_limits<int32_t>::max()));
  const ImportOptions options = answer(ImportOptionsRequest{0, count, count, !target.adding});
  const std::optional<std::pair<TargetFamily, uint32_t>> chosen = ChosenLayout(store, options, target, refusal);
  if (refusal) return std::nullopt;
  if (chosen) return EncodeChosen(DdsTopLevel(dds), chosen->first, chosen->second, refusal);
  const int32_t side = dds.side;
  texture::RequireEncodableSide(side, options.family);
  const bool dxt1 = dds.blocks == DdsBlocks::Dxt1;
  switch (options.family) {
    case TargetFamily::Gc: {
      if (dxt1) {
        const std::span<const uint8_t> top = dds.TopLevel();
        std::vector<uint8_t> data(top.begin(), top.end());
        texture::Dxt1ToCmpr(side, data);
        return Square(side, texture::kFormatGcCmpr, std::move(data));
      }
      std::vector<uint8_t> data(size_t{2} * dds.linearSize, 0);
      texture::CopyIntoCanvas(DdsTopLevel(dds).Rect(), store.scratch);
      texture::PackRgb5a3Tiles(store.scratch, side, data);
      return Square(side, texture::kFormatGcRgb5a3, std::move(data));
    }
    case TargetFamily::XboxBb: {
      const int32_t levels = std::max(options.levels, 1);
      const int64_t length = dxt1 ? ChainSize4(side, levels) : ChainSize8(side, levels);
      if (static_cast<int64_t>(dds.data.size()) < length) {
        throw Error(ErrorKind::Truncated, "This DDS file holds " + std::to_string(dds.data.size()) +
                                              " bytes of texture data, fewer than the " + std::to_string(length) +
                                              " of the " + std::to_string(levels) + " levels to load.");
      }
      const std::span<const uint8_t> chain = dds.data.first(static_cast<size_t>(length));
      std::vector<uint8_t> data(chain.begin(), chain.end());
      // Xbox textures have no DXT5: every level becomes DXT3 with the decoded alpha.
      if (dds.blocks == DdsBlocks::Dxt5) texture::Dxt5ToDxt3(chain, data);
      return Square(side, dxt1 ? texture::kFormatDxt1 : texture::kFormatDxt3, std::move(data));
    }
    case TargetFamily::DcPc: break;
  }
  texture::CopyIntoCanvas(DdsTopLevel(dds).Rect(), store.scratch);
  texture::EncodedTexture t = texture::EncodeCanvas(
      store.scratch, side, TargetFamily::DcPc, dxt1 ? texture::TwiddledTexels::Argb1555 : texture::TwiddledTexels::Argb4444);
  return Square(side, t.format, std::move(t.data));
}

// The family of the archive an image joins: the texture archive's, the
// package's archives', for AFS files and single textures the replaced
// image's or the first image's; nullopt when nothing was loaded from a file.
std::optional<TargetFamily> ArchiveFamily(const ImageStore& store, const Target& target) {
  switch (store.loadedContainer) {
    case LoadedContainer::Pvm: return TargetFamily::DcPc;
    case LoadedContainer::Gvm: return TargetFamily::Gc;
    case LoadedContainer::Xvm: return TargetFamily::XboxBb;
    case LoadedContainer::Bml:
      switch (store.packageArchiveKind) {
        case PackageArchiveKind::Pvm: return TargetFamily::DcPc;
        case PackageArchiveKind::Gvm: return TargetFamily::Gc;
        case PackageArchiveKind::Xvm: return TargetFamily::XboxBb;
        case PackageArchiveKind::None: break;
      }
      break;
    case LoadedContainer::Afs:
    case LoadedContainer::TextureFile: {
      const int32_t known = target.replacing >= 0 ? target.replacing : store.imageCount > 0 ? 0 : -1;
      if (known >= 0 && known < store.imageCount) return texture::EntryFamily(store, known);
      break;
    }
    default: break;
  }
  return std::nullopt;
}

// A PVR, GVR, XVR or "4" texture: taken as it is, or re-encoded by the
// family rule when it belongs to another family than the archive.
Prepared PrepareRaw(const ImageStore& store, std::span<const uint8_t> file, const SourceFile& source,
                    const Target& target) {
  const RawTexture t = ReadRawTexture(file, source);
  Prepared p;
  p.width = t.width;
  p.height = t.height;
  p.format = t.format;
  p.data.assign(t.data.begin(), t.data.end());
  p.globalIndex = t.globalIndex;
  const std::optional<TargetFamily> archive = ArchiveFamily(store, target);
  if (!archive) return p;
  const texture::TextureBytes bytes{t.format, t.width, t.height, t.data, source.kind != SourceKind::Xvr};
  const texture::DecodedTexture decoded = texture::DecodeTexture(bytes, texture::PaletteSource{});
  const std::optional<TargetFamily> own = texture::FamilyOfDecoder(decoded.choice.decoder, t.format);
  if (!own || *own == *archive) return p;
  Prepared converted = FromLayout(texture::ConvertDecoded(decoded, t.format, *archive));
  converted.globalIndex = t.globalIndex;
  converted.convertedFor = archive;
  return converted;
}

// Reads `file` into a texture for the table; nullopt, with `refusal` set,
// when it is refused.
std::optional<Prepared> Prepare(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                std::span<const uint8_t> file, const Target& target) {
  const bool adding = target.adding;
  const SourceFile source = IdentifySource(file, adding);
  std::optional<Prepared> p;
  switch (source.kind) {
    case SourceKind::Unknown:
      refusal = Refused(adding ? kNotAddable : kNotImportable);
      return std::nullopt;
    case SourceKind::Bitmap: p = PrepareBitmap(store, answer, refusal, target, file, source); break;
    case SourceKind::Dds: p = PrepareDds(store, answer, refusal, target, file, source); break;
    case SourceKind::Png: p = PreparePng(store, answer, refusal, target, file, source); break;
    case SourceKind::Pvr:
    case SourceKind::Raw565:
    case SourceKind::Gvr:
    case SourceKind::Xvr: p = PrepareRaw(store, file, source, target); break;
  }
  if (p && source.gbixIndex) p->globalIndex = source.gbixIndex;
  return p;
}

// Writes the palette file of a palettised texture beside the loaded file,
// where selection looks it up, before the entry changes.
void WritePalette(const ImageStore& store, const std::string& name, const Prepared& p) {
  if (p.paletteFile.empty()) return;
  const texture::PaletteKind kind =
      p.paletteExtension == texture::PaletteExtension(texture::PaletteKind::Gvp) ? texture::PaletteKind::Gvp
                                                                                 : texture::PaletteKind::Pvp;
  const std::string path = texture::PaletteFilePath(store.loadDirectory, name, kind);
  if (path.empty()) {
    throw Error(ErrorKind::Unsupported, "The palette file of the image \"" + name +
                                            "\" cannot be written: its name is no file name.");
  }
  WriteOptions options;
  options.inputs = {store.loadedFileName};
  options.derivedName = true;
  WriteFile(path, p.paletteFile, options);
}

// Puts the prepared texture's header fields and data into entry `index`.
void Fill(ImageStore& store, int32_t index, const Prepared& p) {
  TImage_Entry& entry = store.Entry(index);
  store.FillEntryData(entry, p.data);
  entry.Width = p.width;
  entry.Height = p.height;
  entry.Format = p.format;
  store.currentImage = index;
  store.readCursor = 0;
  store.MarkChanged();
}

// The Xbox marking of entry `index`, which reads the canvas as selection
// leaves it.
void Mark(ImageStore& store, int32_t index) {
  texture::CopyIntoCanvas(texture::DecodeEntry(store, index).area.Rect(), store.canvas);
  texture::ApplyXboxMarking(store, index);
}

// Selects and shows the new texture.
Outcome Show(ImageStore& store, FrontEnd& frontEnd, int32_t index) {
  frontEnd.ListSetSelectedIndex(index);
  texture::SelectListedImage(store, frontEnd);
  return {};
}

// Tells a refusal in an information box.
Outcome Tell(FrontEnd& frontEnd, Outcome outcome) {
  if (!outcome.message.empty()) frontEnd.ShowInformation(outcome.message);
  return outcome;
}

ImportOptionsAnswer OrDialog(const ImportOptionsAnswer& answer, FrontEnd& frontEnd) {
  if (answer) return answer;
  return [&frontEnd](const ImportOptionsRequest& request) { return frontEnd.RunImportOptions(request); };
}

std::optional<std::string> ChooseFile(FrontEnd& frontEnd) {
  const std::optional<FileChoice> choice = frontEnd.AskOpenFile(DialogId::OpenDialog2, kOpenDialog2Filter);
  if (!choice) return std::nullopt;
  return choice->path;
}

}  // namespace

Outcome ImportFile(ImageStore& store, FrontEnd& frontEnd, int32_t index, std::span<const uint8_t> file,
                   const ImportOptionsAnswer& answer) {
  store.Entry(index);  // an index outside the table throws before anything is read
  Refusal refusal;
  const std::optional<Prepared> p = Prepare(store, OrDialog(answer, frontEnd), refusal, file, Target{index, false});
  if (!p) return Tell(frontEnd, *refusal);
  WritePalette(store, store.Entry(index).Name, *p);
  Fill(store, index, *p);
  if (p->convertedFor) frontEnd.ShowMessage(texture::ConvertedMessage(1, *p->convertedFor));
  if (p->xboxMarking) Mark(store, index);
  return Show(store, frontEnd, index);
}

std::optional<Outcome> AddRefusal(const ImageStore& store) {
  if (store.bmlFlag != 0) return Refused(kNoAddToBml);
  if (store.imageCount >= kMaxImages) return Refused(kTableFull);
  return std::nullopt;
}

Outcome AddImage(ImageStore& store, std::span<const uint8_t> file, const std::string& name,
                 const ImportOptionsAnswer& answer, std::optional<TargetFamily>* convertedFor) {
  if (Refusal refused = AddRefusal(store)) return *refused;
  Refusal refusal;
  const std::optional<Prepared> p = Prepare(store, answer, refusal, file, Target{-1, true});
  if (!p) return *refusal;
  WritePalette(store, name, *p);
  if (convertedFor != nullptr) *convertedFor = p->convertedFor;
  const int32_t added = store.imageCount;
  Fill(store, added, *p);
  TImage_Entry& entry = store.images[static_cast<size_t>(added)];
  entry.Name = name;
  entry.GlobalIndex = p->globalIndex.value_or(0);
  entry.PackageIndex = 0;
  store.imageCount = added + 1;
  if (p->xboxMarking) Mark(store, added);
  return {};
}

Outcome AddFile(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> file, const std::string& name,
                const ImportOptionsAnswer& answer) {
  const int32_t added = store.imageCount;
  std::optional<TargetFamily> convertedFor;
  if (Outcome outcome = AddImage(store, file, name, OrDialog(answer, frontEnd), &convertedFor); !outcome) {
    return Tell(frontEnd, outcome);
  }
  if (convertedFor) frontEnd.ShowMessage(texture::ConvertedMessage(1, *convertedFor));
  // Items from `added` on name no image (an AFS lists its end member): the
  // new image takes the item of its own index.
  while (frontEnd.ListCount() > added) frontEnd.ListDelete(frontEnd.ListCount() - 1);
  frontEnd.ListAdd(kAddedItem);
  frontEnd.SetLabel(std::to_string(store.imageCount) + " Images");
  return Show(store, frontEnd, added);
}

Outcome import1Click(ImageStore& store, FrontEnd& frontEnd) {
  const std::optional<int32_t> index = SelectedImage(store, frontEnd);
  if (!index) return {Status::Refused, std::string(kSelectImageFirst)};
  const std::optional<std::string> path = ChooseFile(frontEnd);
  if (!path) return {Status::Refused, {}};
  const MappedFile file(*path);
  return ImportFile(store, frontEnd, *index, file.Bytes());
}

Outcome Add1Click(ImageStore& store, FrontEnd& frontEnd) {
  if (Refusal refused = AddRefusal(store)) return Tell(frontEnd, *refused);
  const std::optional<std::string> path = ChooseFile(frontEnd);
  if (!path) return {Status::Refused, {}};
  const MappedFile file(*path);
  return AddFile(store, frontEnd, file.Bytes(), AddedImageName(*path));
}

std::string AddedImageName(const std::string& path) {
  std::string name = std::filesystem::path(path).stem().string();
  if (name.size() <= kMaxAddedNameBytes) return name;
  size_t cut = kMaxAddedNameBytes;
  // Back to the start of the character the cut falls in (continuation bytes are 10xxxxxx).
  while (cut > 0 && (static_cast<uint8_t>(name[cut]) & 0xC0) == 0x80) --cut;
  name.resize(cut);
  return name;
}

}  // namespace quarrendel::imagefile
