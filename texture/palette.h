// External palettes of CLUT textures. A palettised texture holds only its
// indices; the palette sits beside the loaded archive in a file named load
// directory + entry name + ".pvp" (PVR and Xbox data, little-endian words) or
// ".gvp" (GameCube data, big-endian RGB5A3 words). The file's first 16 bytes
// are a header that is skipped; 16 or 256 words follow.
#pragma once

#include <array>
#include <cstdint>
#include <string>


namespace quarrendel::texture {

enum class PaletteKind { Pvp, Gvp };

// Raw 16-bit texel words; a 4-bit texture uses the first 16.
using Palette = std::array<uint16_t, 256>;

inline constexpr size_t kPaletteFileHeaderSize = 16;

// ".pvp" or ".gvp".
const char* PaletteExtension(PaletteKind kind);

// The built-in palette used where the file gives no entry: 0xF000 + i for
// ".pvp"; (i << 8) | 0xF0 for ".gvp" (the same two bytes in memory, read in
// big-endian order).
Palette FallbackPalette(PaletteKind kind);

// load directory + image name + extension; no separator is added. Names come
// from the archive: one holding a path separator, or naming ".." or ".", would
// reach outside the archive's folder, so it gets no path (empty string) and
// its texture uses the fallback palette.
std::string PaletteFilePath(const std::string& loadDirectory, const std::string& name, PaletteKind kind);

// What a palette lookup found: the palette, and how many of the entries asked
// for came from the file (the others keep their fallback value).
struct PaletteRead {
  Palette palette{};
  bool fileFound = false;    // the file exists and could be opened
  int32_t entriesRead = 0;   // entries taken from the file
};

// Reads `entries` (16 or 256) words after the file's 16-byte header. Entries
// the file does not hold (no file, or a short one) keep their fallback value.
PaletteRead ReadPaletteFile(const std::string& path, int32_t entries, PaletteKind kind);

// The palette alone; no message is shown.
Palette LoadPalette(const std::string& path, int32_t entries, PaletteKind kind);

}  // namespace quarrendel::texture
