#include "imagefile/import.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

#include "core/error.h"
#include "core/mapped_file.h"
#include "core/mip_chain.h"
#include "imagefile/bmp_read.h"
#include "imagefile/export.h"
#include "imagefile/import_source.h"
#include "imagefile/png_file.h"
#include "texture/cmpr_order.h"
#include "texture/format_table.h"
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
};

Prepared Square(int32_t side, uint32_t format, std::vector<uint8_t> data) {
  Prepared p;
  p.width = static_cast<uint16_t>(side);
  p.height = static_cast<uint16_t>(side);
  p.format = format;
  p.data = std::move(data);
  p.xboxMarking = true;
  return p;
}

// What bitmaps and PNG pictures share: a square of even side (else the
// kind's message and nullopt), `check` run before the options dialog, then
// `load` puts the picture into the scratch canvas and it is encoded for the
// chosen family, black made transparent on request.
struct PictureMessages {
  std::string_view notSquare;
  std::string_view badSize;
};

// A refusal: the outcome and its message, not yet told.
using Refusal = std::optional<Outcome>;

Refusal Refused(std::string_view message) { return Outcome{Status::Refused, std::string(message)}; }

template <typename Check, typename Load>
std::optional<Prepared> PrepareSquarePicture(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                             int32_t width, int32_t height, const PictureMessages& messages,
                                             Check check, Load load) {
  if (width != height || width % 2 != 0) {
    refusal = Refused(width != height ? messages.notSquare : messages.badSize);
    return std::nullopt;
  }
  check();
  const ImportOptions options = answer(ImportOptionsRequest{});
  const int32_t side = width;
  texture::RequireEncodableSide(side, options.family);
  load(store.scratch);
  if (options.blackTransparent) texture::MakeBlackTransparent(store.scratch, side);
  texture::EncodedTexture t = texture::EncodeCanvas(store.scratch, side, options.family);
  return Square(side, t.format, std::move(t.data));
}

std::optional<Prepared> PrepareBitmap(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                      std::span<const uint8_t> file, const SourceFile& source) {
  // The bitmap reader reads the file from its start, where a GBIX chunk is no bitmap.
  if (source.at != 0) throw Error(ErrorKind::BadMagic, std::string(kNotBmpMessage), 0);
  const BitmapSize size = ReadBitmapSize(file);
  return PrepareSquarePicture(
      store, answer, refusal, size.width, size.height, {kBmpNotSquare, kBmpBadSize},
      [file] { ReadBitmapHeader(file); },  // everything the reader refuses, before the dialog
      [file](Canvas& canvas) { LoadBitmapIntoCanvas(file, canvas); });
}

// A PNG takes the bitmap's path with its alpha. The whole picture is decoded
// before the dialog, so a damaged file is refused first.
std::optional<Prepared> PreparePng(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                   std::span<const uint8_t> file, const SourceFile& source) {
  const RgbaImage picture = ReadPng(file.subspan(source.at));
  return PrepareSquarePicture(
      store, answer, refusal, picture.width, picture.height, {kPngNotSquare, kPngBadSize}, [] {},
      [&picture](Canvas& canvas) { CopyIntoCanvas(picture, canvas); });
}

// Decodes the DDS file's top level into `canvas`.
void DecodeDdsTopLevel(Canvas& canvas, const DdsSource& dds) {
  texture::RgbaImage top{dds.side, dds.side, std::vector<uint32_t>(static_cast<size_t>(dds.side) * dds.side)};
  const texture::Plane plane(top);
  switch (dds.blocks) {
    case DdsBlocks::Dxt1: texture::DecodeDxt1(plane, dds.side, dds.TopLevel()); break;
    case DdsBlocks::Dxt3: texture::DecodeDxt3(plane, dds.side, dds.TopLevel()); break;
    case DdsBlocks::Dxt5: texture::DecodeDxt5(plane, dds.side, dds.TopLevel()); break;
  }
  texture::CopyIntoCanvas({top.pixels.data(), dds.side, dds.side, dds.side}, canvas);
}

Prepared PrepareDds(ImageStore& store, const ImportOptionsAnswer& answer, std::span<const uint8_t> file,
                    const SourceFile& source) {
  const DdsSource dds = ReadDdsSource(file, source.at);
  const auto count = static_cast<int32_t>(std::min<uint32_t>(dds.mipCount, std::numeric_limits<int32_t>::max()));
  const ImportOptions options = answer(ImportOptionsRequest{0, count, count});
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
      DecodeDdsTopLevel(store.scratch, dds);
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
  DecodeDdsTopLevel(store.scratch, dds);
  texture::EncodedTexture t = texture::EncodeCanvas(
      store.scratch, side, TargetFamily::DcPc, dxt1 ? texture::TwiddledTexels::Argb1555 : texture::TwiddledTexels::Argb4444);
  return Square(side, t.format, std::move(t.data));
}

// Reads `file` into a texture for the table; nullopt, with `refusal` set,
// when it is refused.
std::optional<Prepared> Prepare(ImageStore& store, const ImportOptionsAnswer& answer, Refusal& refusal,
                                std::span<const uint8_t> file, bool adding) {
  const SourceFile source = IdentifySource(file, adding);
  std::optional<Prepared> p;
  switch (source.kind) {
    case SourceKind::Unknown:
      refusal = Refused(adding ? kNotAddable : kNotImportable);
      return std::nullopt;
    case SourceKind::Bitmap: p = PrepareBitmap(store, answer, refusal, file, source); break;
    case SourceKind::Dds: p = PrepareDds(store, answer, file, source); break;
    case SourceKind::Png: p = PreparePng(store, answer, refusal, file, source); break;
    case SourceKind::Pvr:
    case SourceKind::Raw565:
    case SourceKind::Gvr:
    case SourceKind::Xvr: {
      const RawTexture t = ReadRawTexture(file, source);
      p.emplace();
      p->width = t.width;
      p->height = t.height;
      p->format = t.format;
      p->data.assign(t.data.begin(), t.data.end());
      p->globalIndex = t.globalIndex;
      break;
    }
  }
  if (p && source.gbixIndex) p->globalIndex = source.gbixIndex;
  return p;
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
  const std::optional<Prepared> p = Prepare(store, OrDialog(answer, frontEnd), refusal, file, false);
  if (!p) return Tell(frontEnd, *refusal);
  Fill(store, index, *p);
  if (p->xboxMarking) Mark(store, index);
  return Show(store, frontEnd, index);
}

std::optional<Outcome> AddRefusal(const ImageStore& store) {
  if (store.bmlFlag != 0) return Refused(kNoAddToBml);
  if (store.imageCount >= kMaxImages) return Refused(kTableFull);
  return std::nullopt;
}

Outcome AddImage(ImageStore& store, std::span<const uint8_t> file, const std::string& name,
                 const ImportOptionsAnswer& answer) {
  if (Refusal refused = AddRefusal(store)) return *refused;
  Refusal refusal;
  const std::optional<Prepared> p = Prepare(store, answer, refusal, file, true);
  if (!p) return *refusal;
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
  if (Outcome outcome = AddImage(store, file, name, OrDialog(answer, frontEnd)); !outcome) {
    return Tell(frontEnd, outcome);
  }
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
