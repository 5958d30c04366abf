#include "imagefile/texture_png.h"

#include "core/error.h"
#include "texture/format_table.h"
#include "texture/full_range.h"
#include "texture/image_selection.h"

namespace quarrendel::imagefile {

namespace {

std::string SizeText(int32_t w, int32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

}  // namespace

void RequirePngSize(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.images.at(static_cast<size_t>(index));
  const int32_t w = entry.Width;
  const int32_t h = entry.Height;
  if (w < 1 || h < 1 || w > kMaxPngSide || h > kMaxPngSide) {
    throw Error(ErrorKind::OverCapacity, "image " + std::to_string(index) + " (" + entry.Name + ") is " +
                                             SizeText(w, h) + ": a PNG holds 1x1 to " +
                                             SizeText(kMaxPngSide, kMaxPngSide) + " pixels");
  }
}

RgbaImage CanvasImage(const ImageStore& store, int32_t index) {
  RequirePngSize(store, index);
  if (store.currentImage != index) {
    throw Error(ErrorKind::Usage, "image " + std::to_string(index) + " is not the one decoded in the canvas");
  }
  const TImage_Entry& entry = store.images[static_cast<size_t>(index)];
  const texture::TexelDepths depths = texture::DecodedTexelDepths(
      texture::ChooseDecoder(entry.Format, entry.Height, entry.DataLength, store.pvrFamily != 0), entry.Format);
  const int32_t w = entry.Width;
  const int32_t h = entry.Height;
  RgbaImage image{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * static_cast<size_t>(h) * 4)};
  const auto put = [&depths](uint8_t* out, uint32_t pixel) {
    const uint32_t v = texture::StretchPixel(pixel, depths);
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v >> 16);
    out[3] = static_cast<uint8_t>(v >> 24);
  };
  if (const auto rows = texture::TrueSizeRows(entry, store.pvrFamily != 0)) {
    for (size_t i = 0; i < rows->size(); ++i) put(image.pixels.data() + 4 * i, (*rows)[i]);
    return image;
  }
  const auto stride = static_cast<size_t>(w) * 4;
  for (int32_t x = 0; x < w; ++x) {
    const uint32_t* column = store.canvas.Column(x);
    uint8_t* out = image.pixels.data() + static_cast<size_t>(x) * 4;
    for (int32_t y = 0; y < h; ++y, out += stride) put(out, column[y]);
  }
  return image;
}

RgbaImage TextureImage(ImageStore& store, int32_t index, TextureImageNotes* notes) {
  RequirePngSize(store, index);
  const texture::Selection selection = texture::SelectImage(store, index);
  if (notes != nullptr) *notes = {selection.formatSupported, texture::PaletteNotice(selection.palette)};
  return CanvasImage(store, index);
}

}  // namespace quarrendel::imagefile
