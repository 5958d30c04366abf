#include "texture/palette.h"

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

namespace quarrendel::texture {
namespace {

using test::Bytes;
using test::FromHex;
using test::TempDir;
using test::WriteFileBytes;

TEST(PaletteTest, FallbackValues) {
  const Palette pvp = FallbackPalette(PaletteKind::Pvp);
  EXPECT_EQ(pvp[0], 0xF000);
  EXPECT_EQ(pvp[15], 0xF00F);
  EXPECT_EQ(pvp[255], 0xF0FF);
  const Palette gvp = FallbackPalette(PaletteKind::Gvp);
  EXPECT_EQ(gvp[0], 0x00F0);
  EXPECT_EQ(gvp[1], 0x01F0);
  EXPECT_EQ(gvp[255], 0xFFF0);
}

TEST(PaletteTest, PathIsDirectoryNameAndExtension) {
  const std::string directory = "/games/stage/";
  EXPECT_EQ(PaletteFilePath(directory, "tex01", PaletteKind::Pvp), "/games/stage/tex01.pvp");
  EXPECT_EQ(PaletteFilePath(directory, "tex01", PaletteKind::Gvp), "/games/stage/tex01.gvp");
  // Names from the archive never lead out of its folder.
  for (const char* name : {"../secret", "sub/tex", "a\\b", ".."}) {
    EXPECT_EQ(PaletteFilePath(directory, name, PaletteKind::Pvp), "") << name;
  }
  EXPECT_EQ(LoadPalette("", 16, PaletteKind::Pvp), FallbackPalette(PaletteKind::Pvp));
}

TEST(PaletteTest, PresentShortAndAbsentFiles) {
  TempDir dir;
  const Bytes header(16, 0xAB);
  Bytes full = header;
  for (int i = 0; i < 16; ++i) {
    full.push_back(static_cast<uint8_t>(i));
    full.push_back(0x80);
  }
  WriteFileBytes(dir / "full.pvp", full);
  Bytes shortFile = header;
  for (uint8_t b : FromHex("34 12 78 56 9A")) shortFile.push_back(b);  // two words and a half
  WriteFileBytes(dir / "short.pvp", shortFile);
  WriteFileBytes(dir / "short.gvp", shortFile);
  WriteFileBytes(dir / "header.pvp", Bytes(10, 0x11));

  const Palette full16 = LoadPalette((dir / "full.pvp").string(), 16, PaletteKind::Pvp);
  EXPECT_EQ(full16[0], 0x8000);
  EXPECT_EQ(full16[15], 0x800F);
  EXPECT_EQ(full16[16], 0xF010);  // beyond the 16 entries asked for

  const Palette pvp = LoadPalette((dir / "short.pvp").string(), 256, PaletteKind::Pvp);
  EXPECT_EQ(pvp[0], 0x1234);
  EXPECT_EQ(pvp[1], 0x5678);
  EXPECT_EQ(pvp[2], 0xF002);  // the half word is not an entry
  EXPECT_EQ(pvp[200], 0xF0C8);

  const Palette gvp = LoadPalette((dir / "short.gvp").string(), 16, PaletteKind::Gvp);
  EXPECT_EQ(gvp[0], 0x3412);
  EXPECT_EQ(gvp[1], 0x7856);
  EXPECT_EQ(gvp[2], 0x02F0);

  EXPECT_EQ(LoadPalette((dir / "header.pvp").string(), 16, PaletteKind::Pvp), FallbackPalette(PaletteKind::Pvp));
  EXPECT_EQ(LoadPalette((dir / "missing.gvp").string(), 256, PaletteKind::Gvp), FallbackPalette(PaletteKind::Gvp));
}

}  // namespace
}  // namespace quarrendel::texture
