#include "imagefile/texture_png.h"

#include "core/error.h"
#include "texture/image_selection.h"

namespace quarrendel::imagefile {

namespace {

std::string SizeText(int32_t w, int32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// The PNG picture of a decoded texture: its true-size picture stretched.
RgbaImage PngPicture(const texture::DecodedTexture& decoded) {
  const texture::RgbaRect picture = decoded.TrueSize();
  RgbaImage image{picture.width, picture.height,
                  std::vector<uint8_t>(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4)};
  uint8_t* out = image.pixels.data();
  for (int32_t y = 0; y < picture.height; ++y) {
    const uint32_t* row = picture.Row(y);
    for (int32_t x = 0; x < picture.width; ++x, out += 4) {
      const uint32_t v = texture::StretchPixel(row[x], decoded.depths);
      out[0] = static_cast<uint8_t>(v);
      out[1] = static_cast<uint8_t>(v >> 8);
      out[2] = static_cast<uint8_t>(v >> 16);
      out[3] = static_cast<uint8_t>(v >> 24);
    }
  }
  return image;
}

}  // namespace

void RequirePngSize(const ImageStore& store, int32_t index) {
  const TImage_Entry& entry = store.Entry(index);
  const int32_t w = entry.Width;
  const int32_t h = entry.Height;
  if (w < 1 || h < 1 || w > kMaxPngSide || h > kMaxPngSide) {
    throw Error(ErrorKind::OverCapacity, "image " + std::to_string(index) + " (" + entry.Name + ") is " +
                                             SizeText(w, h) + ": a PNG holds 1x1 to " +
                                             SizeText(kMaxPngSide, kMaxPngSide) + " pixels");
  }
}

texture::RgbaImage PixelsOfPng(const RgbaImage& image) {
  texture::RgbaImage picture{image.width, image.height,
                             std::vector<uint32_t>(static_cast<size_t>(image.width) * static_cast<size_t>(image.height))};
  const uint8_t* in = image.pixels.data();
  for (uint32_t& pixel : picture.pixels) {
    pixel = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
            static_cast<uint32_t>(in[3]) << 24;
    in += 4;
  }
  return picture;
}

RgbaImage TextureImage(const ImageStore& store, int32_t index, TextureImageNotes* notes) {
  RequirePngSize(store, index);
  texture::DecodedTexture decoded = texture::DecodeEntry(store, index, std::move(ThreadDecodeMemory()));
  if (notes != nullptr) *notes = {decoded.Supported(), texture::PaletteNotice(decoded.palette)};
  RgbaImage image = PngPicture(decoded);
  ThreadDecodeMemory() = std::move(decoded.area.pixels);
  return image;
}

std::vector<uint32_t>& ThreadDecodeMemory() {
  thread_local std::vector<uint32_t> memory;
  return memory;
}

}  // namespace quarrendel::imagefile
