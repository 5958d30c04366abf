// Decoding what the layout encoders wrote, through the system's own image
// selection, for the layout tests, the layout fuzz target and the layout
// benchmark. A palette file is written into a folder and found there as
// load directory + Name + extension, as beside a loaded archive.
//
// The GameCube and Xbox decoders take a texture as an H x H square. Their
// tiles and blocks lie in raster order across the texture's whole width, so
// a W x H texture (W > H) is the top H rows of a W x W one whose data is
// padded with zeros, and one with W < H is H / W squares of side W, one
// after another in the data. A level smaller than its tile decodes as one
// tile.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/file_writer.h"
#include "core/image_store.h"
#include "texture/format_table.h"
#include "texture/image_selection.h"
#include "texture/layout_encode.h"
#include "texture/pvr_rectangle_decode.h"
#include "texture/texel_format.h"

namespace quarrendel::test {

using texture::EncodedLayout;

// Row-major pixels of a width x height picture.
struct Pixels {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

class LayoutDecoder {
 public:
  // `folder` (with no trailing separator) receives the palette files.
  LayoutDecoder(ImageStore& store, std::string folder) : store_(store), folder_(std::move(folder)) {
    store_.loadDirectory = folder_ + "/";
  }

  // The top level of `encoded` as image selection decodes it.
  Pixels Top(TargetFamily family, const EncodedLayout& encoded) {
    WritePalette(encoded);
    const std::span<const uint8_t> data(encoded.data);
    if (encoded.width == encoded.height) return Select(family, encoded.format, encoded.width, encoded.height, data);
    return Blocked(family, encoded.format, encoded.width, encoded.height,
                   data.first(static_cast<size_t>(encoded.levels.at(0).bytes)));
  }

  // Level k of `encoded`, decoded from an entry pointed at it: the chain's
  // prefix for the twiddled PVR chains (itself a chain of the level's side),
  // the codebook and the index prefix for VQ, the level's tiles or blocks
  // for GameCube and Xbox textures.
  Pixels Level(TargetFamily family, const EncodedLayout& encoded, size_t k) {
    if (encoded.levels.size() == 1) return Top(family, encoded);
    const texture::LevelPlace& place = encoded.levels.at(k);
    const std::span<const uint8_t> data(encoded.data);
    if (family != TargetFamily::DcPc) {
      return Blocked(family, encoded.format, place.width, place.height,
                     data.subspan(static_cast<size_t>(place.offset), static_cast<size_t>(place.bytes)));
    }
    const auto end = static_cast<size_t>(place.offset + place.bytes);
    const uint8_t code = texture::DataFormatCode(encoded.format);
    if (code == 0x02 || code == 0x12) return Select(family, encoded.format, place.width, place.height, data.first(end));
    // VQ: the codebook (a small one padded to 256 entries; the 1 x 1 level's
    // index byte follows it), then the index bytes up to the level's end.
    const uint32_t p = encoded.format & 0xFF;
    const auto indexStart = static_cast<size_t>(encoded.levels.back().offset);
    std::vector<uint8_t> vq(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(indexStart));
    vq.resize(2048, 0);
    if (place.width == 1) {
      // No decoder shows a 1 x 1 VQ level: its index byte as a 2 x 2 VQ
      // texture shows its entry's four texels.
      vq.push_back(data[static_cast<size_t>(place.offset)]);
      const Pixels two = Select(family, 0x0300 | p, 2, 2, vq);
      return Pixels{1, 1, {two.pixels[0]}};
    }
    vq.insert(vq.end(), data.begin() + static_cast<std::ptrdiff_t>(indexStart),
              data.begin() + static_cast<std::ptrdiff_t>(end));
    return Select(family, 0x0400 | p, place.width, place.height, vq);
  }

  // Entry 0 holding `data`, selected: its decoded W x H pixels.
  Pixels Select(TargetFamily family, uint32_t format, int32_t w, int32_t h, std::span<const uint8_t> data) {
    TImage_Entry& entry = store_.Entry(0);
    entry.Width = static_cast<uint16_t>(w);
    entry.Height = static_cast<uint16_t>(h);
    entry.Format = format;
    entry.Name = "layout";
    store_.FillEntryData(entry, data);
    store_.imageCount = 1;
    store_.pvrFamily = family == TargetFamily::DcPc ? 1 : 0;
    const texture::Selection selection = texture::SelectImage(store_, 0);
    return Pixels{w, h, selection.picture.decoded};
  }

 private:
  void WritePalette(const EncodedLayout& encoded) {
    if (encoded.paletteFile.empty()) return;
    WriteOptions options;
    options.sync = false;
    WriteFile(folder_ + "/layout" + encoded.paletteExtension, encoded.paletteFile, options);
  }

  // Tile width and height of the GameCube and Xbox layouts.
  static std::pair<int32_t, int32_t> TileOf(TargetFamily family, uint32_t format) {
    if (family == TargetFamily::XboxBb) return texture::DataFormatCode(format) == 0x05 ? std::pair{1, 1} : std::pair{4, 4};
    switch (texture::DataFormatCode(format)) {
      case 0x0E:
      case 0x08: return {8, 8};
      case 0x09: return {8, 4};
      default: return {4, 4};
    }
  }

  Pixels Blocked(TargetFamily family, uint32_t format, int32_t w, int32_t h, std::span<const uint8_t> data) {
    if (family == TargetFamily::DcPc) return Select(family, format, w, h, data);
    const auto [tw, th] = TileOf(family, format);
    const int32_t pw = (w + tw - 1) / tw * tw, ph = (h + th - 1) / th * th;
    Pixels out{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * static_cast<size_t>(h))};
    auto copy = [&](const Pixels& square, int32_t y0) {
      for (int32_t y = 0; y < square.height && y0 + y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) out.pixels[static_cast<size_t>(y0 + y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = square.At(x, y);
      }
    };
    if (pw >= ph) {
      std::vector<uint8_t> padded(data.begin(), data.end());
      padded.resize(data.size() * static_cast<size_t>(pw / ph), 0);
      copy(Select(family, format, pw, pw, padded), 0);
      return out;
    }
    const auto squares = static_cast<size_t>(ph / pw);
    const size_t chunk = data.size() / squares;
    for (size_t k = 0; k < squares; ++k) {
      copy(Select(family, format, pw, pw, data.subspan(k * chunk, chunk)), static_cast<int32_t>(k) * pw);
    }
    return out;
  }

  ImageStore& store_;
  std::string folder_;
};

inline texture::TexelFormat TexelFormatOf(uint8_t pixelCode) {
  return pixelCode == 1 ? texture::TexelFormat::Rgb565 : pixelCode == 2 ? texture::TexelFormat::Argb4444 : texture::TexelFormat::Argb1555;
}

// What a lossless layout keeps of a picture, as the decoders show it: each
// pixel as the nearest word of the format widened; YUV422 words raw (as
// every decoder but stride's leaves them), widened for stride.
inline Pixels Reduced(const texture::RgbaView& picture, TargetFamily family, uint32_t format) {
  Pixels out{picture.width, picture.height, std::vector<uint32_t>(picture.pixels.begin(), picture.pixels.end())};
  const uint8_t p = format & 0xFF;
  if (family == TargetFamily::Gc) {
    for (uint32_t& px : out.pixels) px = texture::ReduceTexel(px, texture::TexelFormat::Rgb5a3);
  } else if (p != 3) {
    for (uint32_t& px : out.pixels) px = texture::ReduceTexel(px, TexelFormatOf(p));
  } else {
    const bool stride = (format >> 8) == 0x0B;
    for (int32_t y = 0; y < out.height; ++y) {
      for (int32_t x = 0; x < out.width; x += 2) {
        const size_t at = static_cast<size_t>(y * out.width + x);
        const bool paired = x + 1 < out.width;
        const texture::YuvPair pair = texture::NearestYuvPair(picture.pixels[at], picture.pixels[paired ? at + 1 : at]);
        const auto widened = texture::WidenYuvPair(pair);
        out.pixels[at] = stride ? widened[0] : pair.left;
        if (paired) out.pixels[at + 1] = stride ? widened[1] : pair.right;
      }
    }
  }
  return out;
}

// YUV422 texels the decoders left raw, widened pair by pair ((2i, y) with
// (2i + 1, y)); a texel without a partner takes the neutral chroma 128 for
// the missing half, as the stride decoder does.
inline Pixels WidenYuvRows(const Pixels& raw) {
  Pixels out = raw;
  for (int32_t y = 0; y < raw.height; ++y) {
    for (int32_t x = 0; x < raw.width; x += 2) {
      const auto left = static_cast<uint16_t>(raw.At(x, y));
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(raw.width) + static_cast<size_t>(x);
      if (x + 1 < raw.width) {
        const auto both = texture::WidenYuvPair(texture::YuvPair{left, static_cast<uint16_t>(raw.At(x + 1, y))});
        out.pixels[at] = both[0];
        out.pixels[at + 1] = both[1];
      } else {
        out.pixels[at] = texture::YuvToPixel(left >> 8, left & 0xFF, 128);
      }
    }
  }
  return out;
}

// PSNR over red, green and blue; 99 for identical pictures.
inline double PsnrRgb(std::span<const uint32_t> a, std::span<const uint32_t> b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int32_t shift = 0; shift < 24; shift += 8) {
      const double d = static_cast<double>((a[i] >> shift) & 0xFF) - static_cast<double>((b[i] >> shift) & 0xFF);
      sum += d * d;
    }
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * 3.0 * static_cast<double>(a.size()) / sum);
}

}  // namespace quarrendel::test
