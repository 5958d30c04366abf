#include "texture/palette.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "core/byte_io.h"

namespace quarrendel::texture {

const char* PaletteExtension(PaletteKind kind) { return kind == PaletteKind::Pvp ? ".pvp" : ".gvp"; }

Palette FallbackPalette(PaletteKind kind) {
  Palette palette{};
  for (uint16_t i = 0; i < palette.size(); ++i) {
    palette[i] = kind == PaletteKind::Pvp ? static_cast<uint16_t>(0xF000 + i)
                                          : static_cast<uint16_t>((i << 8) | 0xF0);
  }
  return palette;
}

std::string PaletteFilePath(const std::string& loadDirectory, const std::string& name, PaletteKind kind) {
  if (name.find_first_of("/\\") != std::string::npos || name == ".." || name == ".") return {};
  return loadDirectory + name + PaletteExtension(kind);
}

PaletteRead ReadPaletteFile(const std::string& path, int32_t entries, PaletteKind kind) {
  PaletteRead read;
  Palette& palette = read.palette;
  palette = FallbackPalette(kind);
  entries = std::clamp(entries, 0, static_cast<int32_t>(palette.size()));
  if (path.empty()) return read;
  std::ifstream in(path, std::ios::binary);
  if (!in) return read;
  read.fileFound = true;

  const size_t wanted = kPaletteFileHeaderSize + static_cast<size_t>(entries) * 2;
  std::vector<uint8_t> bytes(wanted);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(wanted));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));

  ByteReader reader(bytes);
  if (!reader.Has(kPaletteFileHeaderSize)) return read;
  reader.Skip(kPaletteFileHeaderSize);
  for (int32_t& i = read.entriesRead; i < entries && reader.Has(2); ++i) {
    palette[static_cast<size_t>(i)] = kind == PaletteKind::Pvp ? reader.U16Le() : reader.U16Be();
  }
  return read;
}

Palette LoadPalette(const std::string& path, int32_t entries, PaletteKind kind) {
  return ReadPaletteFile(path, entries, kind).palette;
}

}  // namespace quarrendel::texture
