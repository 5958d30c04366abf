#include "tools/sample_archives.h"

#include <array>
#include <functional>
#include <memory>
#include <string_view>

#include "archive/archive_writer.h"
#include "core/byte_io.h"
#include "core/image_store.h"
#include "prs/prs.h"
#include "texture/pvr_decode.h"

namespace quarrendel::tools {

namespace {

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 255;
};

using PixelFn = std::function<Rgba(int x, int y)>;

struct Texture {
  std::string name;
  uint16_t side = 0;
  uint32_t format = 0;       // PVRT-form format word, or for XVR: format code * 256 + flags
  uint32_t globalIndex = 0;
  std::vector<uint8_t> data;
};

// 3 x 5 glyphs, one row per entry, bit 2 = left column.
std::array<uint8_t, 5> Glyph(char c) {
  switch (c) {
    case 'P': return {7, 5, 7, 4, 4};
    case 'V': return {5, 5, 5, 5, 2};
    case 'M': return {5, 7, 7, 5, 5};
    case 'G': return {7, 4, 5, 5, 7};
    case 'X': return {5, 5, 2, 5, 5};
    default: return {0, 0, 0, 0, 0};
  }
}

// True when pixel (x, y) lies on `text` drawn from (left, top) with glyph
// cells of `scale` pixels and one empty cell between letters.
bool OnText(std::string_view text, int left, int top, int scale, int x, int y) {
  if (x < left || y < top) return false;
  const int cx = (x - left) / scale;
  const int cy = (y - top) / scale;
  if (cy >= 5) return false;
  const size_t letter = static_cast<size_t>(cx / 4);
  const int column = cx % 4;
  if (letter >= text.size() || column == 3) return false;
  return (Glyph(text[letter])[static_cast<size_t>(cy)] >> (2 - column)) & 1;
}

// Sixteen patches in the spirit of a photographer's colour checker.
constexpr std::array<uint32_t, 16> kChecker = {0x735244, 0xC29682, 0x627A9D, 0x576C43, 0x8580B1, 0x67BDAA,
                                               0xD67E2C, 0x505BA6, 0xC15A63, 0x5E3C6C, 0x9DBC40, 0xE0A32E,
                                               0x383D96, 0x469449, 0xAF363C, 0xE7C71F};

Rgba CheckerPatch(int x, int y, int patch) {
  const uint32_t c = kChecker[static_cast<size_t>((y / patch) % 4 * 4 + (x / patch) % 4)];
  return {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c), 255};
}

uint16_t Rgb565(Rgba p) { return static_cast<uint16_t>((p.r >> 3) << 11 | (p.g >> 2) << 5 | (p.b >> 3)); }
uint16_t Argb4444(Rgba p) {
  return static_cast<uint16_t>((p.a >> 4) << 12 | (p.r >> 4) << 8 | (p.g >> 4) << 4 | (p.b >> 4));
}
// GameCube RGB5A3: bit 15 set = opaque 5-5-5, clear = 3-bit alpha and 4-4-4.
uint16_t Rgb5a3(Rgba p) {
  if (p.a == 255) return static_cast<uint16_t>(0x8000 | (p.r >> 3) << 10 | (p.g >> 3) << 5 | (p.b >> 3));
  return static_cast<uint16_t>((p.a >> 5) << 12 | (p.r >> 4) << 8 | (p.g >> 4) << 4 | (p.b >> 4));
}

// 16-bit texels in raster order, little-endian.
std::vector<uint8_t> Raster16(int side, const PixelFn& pixel, uint16_t (*pack)(Rgba)) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) w.U16Le(pack(pixel(x, y)));
  return out;
}

// Square twiddled 16-bit texels, packed by the encode walk of the decoder
// (ARGB1555 for pixel format 0, ARGB4444 otherwise).
std::vector<uint8_t> Twiddled16(int side, const PixelFn& pixel, uint8_t pixelFormatCode) {
  auto canvas = std::make_unique<Canvas>();
  for (int x = 0; x < side; ++x)
    for (int y = 0; y < side; ++y) {
      const Rgba p = pixel(x, y);
      (*canvas)(x, y) = static_cast<uint32_t>(p.r) | static_cast<uint32_t>(p.g) << 8 |
                        static_cast<uint32_t>(p.b) << 16 | static_cast<uint32_t>(p.a) << 24;
    }
  std::vector<uint8_t> out(static_cast<size_t>(side) * static_cast<size_t>(side) * 2);
  int32_t cursor = 0;
  texture::TransferTwiddled16(*canvas, out, cursor, 0, 0, side, pixelFormatCode);
  return out;
}

// RGB5A3 in 4 x 4 tiles: tiles in raster order, texels row by row inside a tile, big-endian words.
std::vector<uint8_t> TiledRgb5a3(int side, const PixelFn& pixel) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  for (int ty = 0; ty < side / 4; ++ty)
    for (int tx = 0; tx < side / 4; ++tx)
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) w.U16Be(Rgb5a3(pixel(4 * tx + c, 4 * ty + r)));
  return out;
}

// DXT1 with one colour per 4 x 4 block, taken from the block's top-left
// pixel: colour0 = colour1 = that colour with every index 0, or, for a pixel
// with alpha below 128, colour0 = colour1 = 0 with every index 3 (transparent black).
std::vector<uint8_t> SolidDxt1(int side, const PixelFn& pixel) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  for (int by = 0; by < side / 4; ++by)
    for (int bx = 0; bx < side / 4; ++bx) {
      const Rgba p = pixel(4 * bx, 4 * by);
      const uint16_t colour = p.a < 128 ? 0 : Rgb565(p);
      w.U16Le(colour);
      w.U16Le(colour);
      w.U32Le(p.a < 128 ? 0xFFFFFFFFu : 0u);
    }
  return out;
}

// The textures as image-table entries pointing at their data, for the archive writers.
std::vector<uint8_t> Archive(PackageArchiveKind kind, std::vector<Texture> textures) {
  std::vector<TImage_Entry> images(textures.size());
  for (size_t i = 0; i < textures.size(); ++i) {
    Texture& t = textures[i];
    TImage_Entry& e = images[i];
    e.Name = t.name;
    e.Width = e.Height = t.side;
    e.Format = t.format;
    e.GlobalIndex = t.globalIndex;
    e.DataLength = static_cast<int32_t>(t.data.size());
    e.Data = t.data.data();
  }
  return archive::BuildArchiveFile(kind, images);
}

Rgba Gradient(int x, int y, int side) {
  const int span = side - 1;
  return {static_cast<uint8_t>(255 * x / span), static_cast<uint8_t>(255 * y / span),
          static_cast<uint8_t>(255 - 255 * (x + y) / (2 * span)), 255};
}

// Colour checker with a round opaque centre, a half-transparent ring and a
// fully transparent outside.
Rgba CheckerDisc(int x, int y) {
  Rgba p = CheckerPatch(x, y, 8);
  const int dx = 2 * x - 31, dy = 2 * y - 31;
  const int d2 = dx * dx + dy * dy;
  p.a = d2 <= 24 * 24 ? 255 : (d2 <= 30 * 30 ? 128 : 0);
  return p;
}

// "PVM" in white on teal, with a transparent two-pixel frame.
Rgba PvmLetters(int x, int y) {
  if (x < 2 || y < 2 || x > 29 || y > 29) return {0, 0, 0, 0};
  return OnText("PVM", 5, 11, 2, x, y) ? Rgba{255, 255, 255, 255} : Rgba{0, 128, 128, 255};
}

std::vector<Texture> PvmTextures() {
  return {
      {"gradient_rgb565", 64, 0x0901, 0x00001000, Raster16(64, [](int x, int y) { return Gradient(x, y, 64); }, Rgb565)},
      {"checker_disc_argb4444", 32, 0x0902, 0x00001001, Raster16(32, CheckerDisc, Argb4444)},
      {"letters_twiddled_argb1555", 32, 0x0100, 0x00001002, Twiddled16(32, PvmLetters, 0)},
  };
}

std::vector<Texture> GvmTextures() {
  const PixelFn letters = [](int x, int y) {
    return OnText("GVM", 5, 8, 2, x, y) ? Rgba{255, 255, 255, 255} : Rgba{32, 64, 224, 128};
  };
  return {
      {"gc_gradient_rgb5a3", 32, 0x0508, 0x00002000,
       TiledRgb5a3(32, [](int x, int y) { return Gradient(y, x, 32); })},
      {"gc_letters_rgb5a3", 32, 0x0508, 0x00002001, TiledRgb5a3(32, letters)},
  };
}

std::vector<Texture> XvmTextures() {
  const PixelFn letters = [](int x, int y) {
    return OnText("XVM", 8, 12, 4, x, y) ? Rgba{255, 200, 0, 255} : Rgba{0, 0, 0, 0};
  };
  return {
      {"", 32, 0x0600, 0x00003000, SolidDxt1(32, [](int x, int y) { return CheckerPatch(x, y, 8); })},
      {"", 64, 0x0602, 0x00003001, SolidDxt1(64, letters)},
  };
}


// An AFS whose members are PRS-compressed archives. The member table sits in
// a 2048-byte header here (the reader takes any member offsets), which keeps
// the sample small; every member starts on a 2048-byte boundary.
std::vector<uint8_t> PackedAfs(const std::vector<std::vector<uint8_t>>& archives) {
  std::vector<std::vector<uint8_t>> packed;
  for (const auto& a : archives) packed.push_back(prs::Compress(a));
  std::vector<uint8_t> out;
  ByteWriter w(out);
  w.Magic("AFS");
  w.U8(0);
  w.U32Le(static_cast<uint32_t>(packed.size()));
  size_t at = 2048;
  for (const auto& p : packed) {
    w.U32Le(static_cast<uint32_t>(at));
    w.U32Le(static_cast<uint32_t>(p.size()));
    at += (p.size() + 2047) / 2048 * 2048;
  }
  at = 2048;
  for (const auto& p : packed) {
    w.Seek(at);
    w.Bytes(p);
    at += (p.size() + 2047) / 2048 * 2048;
  }
  return out;
}

// A little-endian BML package: each entry a small stand-in model file, and
// some of them a PRS-compressed texture archive behind it.
std::vector<uint8_t> Bml(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& entries) {
  struct Part {
    std::vector<uint8_t> file;
    std::vector<uint8_t> packed;
    uint32_t unpacked = 0;
  };
  std::vector<Part> parts;
  for (const auto& [name, archive] : entries) {
    Part part;
    const std::string model = "model data of " + name;
    part.file.assign(model.begin(), model.end());
    if (!archive.empty()) {
      part.packed = prs::Compress(archive);
      part.unpacked = static_cast<uint32_t>(archive.size());
    }
    parts.push_back(std::move(part));
  }
  std::vector<uint8_t> out;
  ByteWriter w(out);
  w.U32Le(0);
  w.U32Le(static_cast<uint32_t>(entries.size()));
  w.U8(0x50);
  w.Zeros(55);
  for (size_t k = 0; k < entries.size(); ++k) {
    w.FixedText(entries[k].first, 32);
    w.U32Le(static_cast<uint32_t>(parts[k].file.size()));
    w.U32Le(0);
    w.U32Le(0);
    w.U32Le(static_cast<uint32_t>(parts[k].packed.size()));
    w.U32Le(parts[k].unpacked);
    w.Zeros(12);
  }
  w.Seek((64 * (entries.size() + 1) + 2047) / 2048 * 2048);
  for (const Part& part : parts) {
    w.Bytes(part.file);
    w.Zeros((32 - part.file.size() % 32) % 32);
    w.Bytes(part.packed);
    w.Zeros((32 - part.packed.size() % 32) % 32);
  }
  return out;
}

}  // namespace

std::vector<SampleFile> MakeSamples() {
  const auto pvm = Archive(PackageArchiveKind::Pvm, PvmTextures());
  const auto gvm = Archive(PackageArchiveKind::Gvm, GvmTextures());
  const auto xvm = Archive(PackageArchiveKind::Xvm, XvmTextures());
  return {{"sample.pvm", pvm},
          {"sample.gvm", gvm},
          {"sample.xvm", xvm},
          {"sample.afs", PackedAfs({pvm, xvm, gvm})},
          {"sample.bml", Bml({{"stage.nj", pvm}, {"door.nj", {}}, {"props.nj", pvm}})},
          {"sample_xvm.prs", prs::Compress(xvm)}};
}

}  // namespace quarrendel::tools
