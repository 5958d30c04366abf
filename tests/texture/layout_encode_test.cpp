#include "texture/layout_encode.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/worker_pool.h"
#include "tests/support/natural_pictures.h"
#include "tests/support/test_util.h"
#include "tests/texture/layout_test_util.h"
#include "texture/mipmap_generate.h"
#include "texture/texel_format.h"

namespace quarrendel::texture {
namespace {

using test::Pixels;
using test::Reduced;

struct Size {
  int32_t w, h;
};

// Every channel of every pixel from a hash: no two neighbours alike, alpha
// anywhere from 0 to 255.
RgbaImage Noise(int32_t w, int32_t h, uint32_t seed) {
  RgbaImage image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * static_cast<size_t>(h))};
  uint32_t state = seed * 0x9E3779B9u + 1;
  for (uint32_t& p : image.pixels) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    p = state;
  }
  return image;
}

// Pixels drawn from `colours` noise colours, in blotches.
RgbaImage FewColours(int32_t w, int32_t h, int32_t colours, uint32_t seed) {
  const RgbaImage inks = Noise(colours, 1, seed);
  RgbaImage image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * static_cast<size_t>(h))};
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      image.pixels[static_cast<size_t>(y * w + x)] = inks.pixels[static_cast<size_t>((x / 3 * 7 + y / 2 * 5 + x * y) % colours)];
    }
  }
  return image;
}

RgbaImage Natural(int32_t w, int32_t h) { return RgbaImage{w, h, test::NaturalPicture(0, w, h)}; }

// The first pixel where two pictures differ, or "" when they agree.
std::string FirstDifference(const Pixels& got, const Pixels& want) {
  if (got.width != want.width || got.height != want.height || got.pixels.size() != want.pixels.size()) {
    return "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
  }
  for (size_t i = 0; i < got.pixels.size(); ++i) {
    if (got.pixels[i] != want.pixels[i]) {
      return "at (" + std::to_string(i % static_cast<size_t>(got.width)) + ", " +
             std::to_string(i / static_cast<size_t>(got.width)) + "): " + Hex8(got.pixels[i]) + " for " +
             Hex8(want.pixels[i]);
    }
  }
  return "";
}

class LayoutEncodeTest : public ::testing::Test {
 protected:
  std::unique_ptr<ImageStore> storage = std::make_unique<ImageStore>();
  test::TempDir dir;
  test::LayoutDecoder decoder{*storage, dir.Path().string()};
};

// Lossless layouts: every level decodes to the picture (or its generated
// level) reduced to the format, at every size class the layout takes.
TEST_F(LayoutEncodeTest, LosslessLayoutsDecodeToTheReducedPicture) {
  const std::vector<Size> squares = {{8, 8}, {64, 64}};
  const std::vector<Size> all = {{8, 8}, {64, 64}, {256, 128}, {32, 512}};
  const std::vector<uint8_t> pvrTexels = {0, 1, 2, 3}, paletteTexels = {0, 1, 2}, none = {0};
  const struct Row {
    TargetFamily family;
    uint32_t format;  // the pixel byte is added from `pixelCodes`
    const std::vector<uint8_t>& pixelCodes;
    std::vector<Size> sizes;
    int32_t colours;  // 0: any picture; else a picture of that many colours
  } rows[] = {
      {TargetFamily::DcPc, 0x0100, pvrTexels, squares, 0},
      {TargetFamily::DcPc, 0x0200, pvrTexels, squares, 0},
      {TargetFamily::DcPc, 0x1200, pvrTexels, squares, 0},
      {TargetFamily::DcPc, 0x0900, pvrTexels, all, 0},
      {TargetFamily::DcPc, 0x0B00, pvrTexels, {{32, 3}, {64, 64}, {256, 128}, {32, 512}}, 0},
      {TargetFamily::DcPc, 0x0D00, pvrTexels, all, 0},
      {TargetFamily::DcPc, 0x0500, paletteTexels, squares, 16},
      {TargetFamily::DcPc, 0x0700, paletteTexels, squares, 256},
      {TargetFamily::Gc, 0x0508, none, {{8, 8}, {64, 64}, {256, 128}}, 0},
      {TargetFamily::Gc, 0x0509, none, {{8, 8}, {64, 64}, {256, 128}}, 0},
      {TargetFamily::Gc, 0x080A, none, all, 16},
      {TargetFamily::Gc, 0x090A, none, all, 256},
      {TargetFamily::XboxBb, 0x0500, paletteTexels, squares, 256},
  };
  uint32_t seed = 1;
  for (const Row& row : rows) {
    for (const uint8_t p : row.pixelCodes) {
      for (const Size size : row.sizes) {
        // YUV422 pair fits are slow in this build: its wide rectangle is left to the tall one.
        if (p == 3 && size.w == 256) continue;
        const uint32_t format = row.format | p;
        SCOPED_TRACE(Hex8(format) + " " + std::to_string(size.w) + "x" + std::to_string(size.h));
        const RgbaImage picture = row.colours ? FewColours(size.w, size.h, row.colours, ++seed) : Noise(size.w, size.h, ++seed);
        const EncodedLayout encoded = EncodeLayout(picture.View(), row.family, format);
        EXPECT_EQ(encoded.format, format);
        EXPECT_EQ(FirstDifference(decoder.Top(row.family, encoded), Reduced(picture.View(), row.family, format)), "");
        if (encoded.levels.size() == 1) continue;
        const std::vector<RgbaImage> chain = GenerateMipmaps(picture.View(), MipLevelCount(size.w, size.h));
        ASSERT_EQ(encoded.levels.size(), chain.size());
        for (size_t k = 0; k < chain.size(); ++k) {
          SCOPED_TRACE("level " + std::to_string(k));
          EXPECT_EQ(FirstDifference(decoder.Level(row.family, encoded, k), Reduced(chain[k].View(), row.family, format)), "");
        }
      }
    }
  }
}

// Lossy layouts on a natural picture: the top level and every mipmap level
// within a PSNR floor, the Xbox flags as the marking sets them, and the same
// bytes with two worker threads as with none.
TEST_F(LayoutEncodeTest, LossyLayoutsKeepThePictureAboveAFloor) {
  const struct Row {
    TargetFamily family;
    uint32_t format;
    Size size;
    bool cutOut;      // alpha 0 on part of the picture, 255 elsewhere
    uint32_t written; // the format word that comes back
    double floorDb;   // top level
    double levelFloorDb;
  } rows[] = {
      {TargetFamily::DcPc, 0x0301, {64, 64}, false, 0x0301, 33, 0},
      // YUV422 pairs alone keep 26.1 dB of this noisy picture.
      {TargetFamily::DcPc, 0x0303, {64, 64}, false, 0x0303, 24.5, 0},
      {TargetFamily::DcPc, 0x0400, {64, 64}, false, 0x0400, 32, 30},
      {TargetFamily::DcPc, 0x1002, {32, 32}, false, 0x1002, 27, 0},
      {TargetFamily::DcPc, 0x1101, {64, 64}, false, 0x1101, 32, 30},
      {TargetFamily::DcPc, 0x0501, {64, 64}, false, 0x0501, 29.5, 0},
      {TargetFamily::DcPc, 0x0701, {64, 64}, false, 0x0701, 38, 0},
      {TargetFamily::Gc, 0x0E00, {64, 64}, false, 0x0E00, 30.5, 0},
      {TargetFamily::Gc, 0x0E01, {64, 32}, true, 0x0E01, 28.5, 23},
      {TargetFamily::Gc, 0x080A, {64, 64}, false, 0x080A, 29.5, 0},
      {TargetFamily::Gc, 0x090A, {32, 64}, false, 0x090A, 38, 0},
      {TargetFamily::XboxBb, 0x0600, {64, 64}, false, 0x0600, 30.5, 0},
      {TargetFamily::XboxBb, 0x0600, {64, 64}, true, 0x0602, 30.5, 0},
      {TargetFamily::XboxBb, 0x0603, {64, 32}, false, 0x0601, 28.5, 23},
      {TargetFamily::XboxBb, 0x0701, {32, 64}, false, 0x0703, 29, 24.5},
      {TargetFamily::XboxBb, 0x0502, {64, 64}, false, 0x0502, 33, 0},
  };
  WorkerPool pool(2);
  for (const Row& row : rows) {
    SCOPED_TRACE(Hex8(row.format) + " " + std::to_string(row.size.w) + "x" + std::to_string(row.size.h));
    RgbaImage picture = Natural(row.size.w, row.size.h);
    if (row.cutOut) {
      for (int32_t y = 0; y < picture.height; ++y) {
        for (int32_t x = 0; x < picture.width; ++x) {
          if ((x - 20) * (x - 20) + (y - 16) * (y - 16) < 100) picture.pixels[static_cast<size_t>(y * picture.width + x)] &= 0xFFFFFF;
        }
      }
    }
    const EncodedLayout encoded = EncodeLayout(picture.View(), row.family, row.format);
    EXPECT_EQ(encoded.format, row.written);
    EXPECT_EQ(EncodeLayout(picture.View(), row.family, row.format, &pool).data, encoded.data);

    const bool yuv = row.family == TargetFamily::DcPc && (row.format & 0xFF) == 3;
    const std::vector<RgbaImage> chain = GenerateMipmaps(picture.View(), static_cast<int32_t>(encoded.levels.size()));
    for (size_t k = 0; k < chain.size(); ++k) {
      SCOPED_TRACE("level " + std::to_string(k));
      Pixels decoded = k == 0 ? decoder.Top(row.family, encoded) : decoder.Level(row.family, encoded, k);
      if (yuv) decoded = test::WidenYuvRows(decoded);
      // Colour where the source is opaque; a cut-out's transparent pixels
      // must decode transparent, its opaque ones opaque.
      std::vector<uint32_t> source, shown;
      for (size_t i = 0; i < decoded.pixels.size(); ++i) {
        const uint32_t want = chain[k].pixels[i];
        if (row.cutOut && k == 0) {
          EXPECT_EQ(decoded.pixels[i] >> 31, want >> 31) << i;
        }
        if (want >> 24 != 255) continue;
        source.push_back(want);
        shown.push_back(decoded.pixels[i]);
      }
      EXPECT_GE(test::PsnrRgb(source, shown), k == 0 ? row.floorDb : row.levelFloorDb);
    }
  }
}

// Where each level lies, worked out by hand from the layouts; the
// decoders' own offsets (2 x TwiddledMipOffset(H) for twiddled chains,
// 2048 + TwiddledMipOffset(H / 2) for VQ ones) fall out of them.
TEST_F(LayoutEncodeTest, MipmapLevelsLieWhereTheDecodersSkipTo) {
  const struct Row {
    TargetFamily family;
    uint32_t format;
    Size size;
    size_t total;
    std::vector<LevelPlace> levels;  // top first; only the top for the large rows
  } rows[] = {
      // Twiddled: one texel of padding, then 1x1, 2x2, 4x4 and the top.
      {TargetFamily::DcPc, 0x0200, {8, 8}, 172, {{8, 8, 44, 128}, {4, 4, 12, 32}, {2, 2, 4, 8}, {1, 1, 2, 2}}},
      {TargetFamily::DcPc, 0x0200, {256, 256}, 174764, {{256, 256, 43692, 131072}}},
      // Alias: three texels of padding.
      {TargetFamily::DcPc, 0x1201, {8, 8}, 176, {{8, 8, 48, 128}, {4, 4, 16, 32}, {2, 2, 8, 8}, {1, 1, 6, 2}}},
      // VQ: 2048 codebook bytes, then the 1x1 level's index byte first.
      {TargetFamily::DcPc, 0x0402, {8, 8}, 2070, {{8, 8, 2054, 16}, {4, 4, 2050, 4}, {2, 2, 2049, 1}, {1, 1, 2048, 1}}},
      {TargetFamily::DcPc, 0x0400, {256, 256}, 23894, {{256, 256, 7510, 16384}}},
      // Small VQ: 16 entries up to side 16; 256 entries at 64 with mipmaps.
      {TargetFamily::DcPc, 0x1100, {8, 8}, 150, {{8, 8, 134, 16}, {4, 4, 130, 4}, {2, 2, 129, 1}, {1, 1, 128, 1}}},
      {TargetFamily::DcPc, 0x1100, {64, 64}, 3414, {{64, 64, 2390, 1024}}},
      {TargetFamily::DcPc, 0x1000, {32, 32}, 512, {{32, 32, 256, 256}}},
      {TargetFamily::DcPc, 0x0B00, {32, 3}, 192, {{32, 3, 0, 192}}},
      // GameCube: full level first, each level in whole 32-byte tiles.
      {TargetFamily::Gc, 0x0509, {8, 8}, 224, {{8, 8, 0, 128}, {4, 4, 128, 32}, {2, 2, 160, 32}, {1, 1, 192, 32}}},
      {TargetFamily::Gc, 0x0E01, {16, 16}, 256,
       {{16, 16, 0, 128}, {8, 8, 128, 32}, {4, 4, 160, 32}, {2, 2, 192, 32}, {1, 1, 224, 32}}},
      {TargetFamily::Gc, 0x0E01, {32, 8}, 320,
       {{32, 8, 0, 128}, {16, 4, 128, 64}, {8, 2, 192, 32}, {4, 1, 224, 32}, {2, 1, 256, 32}, {1, 1, 288, 32}}},
      {TargetFamily::Gc, 0x090A, {8, 8}, 64, {{8, 8, 0, 64}}},
      // Xbox: full level first, whole 4 x 4 blocks.
      {TargetFamily::XboxBb, 0x0601, {8, 8}, 56, {{8, 8, 0, 32}, {4, 4, 32, 8}, {2, 2, 40, 8}, {1, 1, 48, 8}}},
      {TargetFamily::XboxBb, 0x0601, {256, 256}, 43704, {{256, 256, 0, 32768}}},
      {TargetFamily::XboxBb, 0x0701, {16, 8}, 208,
       {{16, 8, 0, 128}, {8, 4, 128, 32}, {4, 2, 160, 16}, {2, 1, 176, 16}, {1, 1, 192, 16}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Hex8(row.format) + " " + std::to_string(row.size.w) + "x" + std::to_string(row.size.h));
    const RgbaImage grey{row.size.w, row.size.h,
                         std::vector<uint32_t>(static_cast<size_t>(row.size.w) * static_cast<size_t>(row.size.h), 0xFF808080)};
    const EncodedLayout encoded = EncodeLayout(grey.View(), row.family, row.format);
    EXPECT_EQ(encoded.data.size(), row.total);
    ASSERT_GE(encoded.levels.size(), row.levels.size());
    if (row.levels.size() > 1) {
      EXPECT_EQ(encoded.levels.size(), row.levels.size());
    }
    for (size_t k = 0; k < row.levels.size(); ++k) {
      const LevelPlace& got = encoded.levels[k];
      const LevelPlace& want = row.levels[k];
      EXPECT_EQ(std::vector<int64_t>({got.width, got.height, got.offset, got.bytes}),
                std::vector<int64_t>({want.width, want.height, want.offset, want.bytes}))
          << "level " << k;
    }
  }
}

TEST_F(LayoutEncodeTest, RefusesFormatsAndSizesBeforeAnyWork) {
  const struct Row {
    TargetFamily family;
    uint32_t format;
    Size size;
    const char* message;
  } rows[] = {
      {TargetFamily::DcPc, 0x0301, {64, 32},
       "TWIDDLED VQ RGB565 No transparency takes square sides that are powers of two from 2 to 2048; this picture is 64 x 32."},
      {TargetFamily::DcPc, 0x0100, {12, 12},
       "SQUARE TWIDDLED ARGB1555 takes square sides that are powers of two from 1 to 2048; this picture is 12 x 12."},
      {TargetFamily::DcPc, 0x1000, {128, 128},
       "SMALL VQ ARGB1555 takes square sides that are powers of two from 2 to 64; this picture is 128 x 128."},
      {TargetFamily::DcPc, 0x0500, {1, 1},
       "4-BIT CLUT TWIDDLED ARGB1555 takes square sides that are powers of two from 2 to 1024; this picture is 1 x 1."},
      {TargetFamily::DcPc, 0x0702, {2048, 2048},
       "8-BIT CLUT TWIDDLED ARGB4444 takes square sides that are powers of two from 1 to 1024; this picture is 2048 x 2048."},
      {TargetFamily::DcPc, 0x0B00, {48, 8},
       "STRIDE ARGB1555 takes widths that are multiples of 32 up to 2048 and heights from 1 to 2048; this picture is 48 x 8."},
      {TargetFamily::DcPc, 0x0903, {4096, 8},
       "RECTANGLE YUV442 takes sides that are powers of two from 1 to 2048; this picture is 4096 x 8."},
      {TargetFamily::Gc, 0x0508, {8, 16},
       "4x4 Titles RGB5A3 GameCube takes sides that are powers of two from 4 to 2048, the width at least the height; "
       "this picture is 8 x 16."},
      {TargetFamily::Gc, 0x0E01, {4, 4}, "S3TC RGBA565 GC & MIPMAP takes sides that are powers of two from 8 to 2048; this picture is 4 x 4."},
      {TargetFamily::Gc, 0x090A, {8, 2},
       "CI8 8x4 Titles GC RGB5A3 takes sides that are powers of two up to 1024, widths from 8 and heights from 4; this picture is 8 x 2."},
      {TargetFamily::XboxBb, 0x0601, {2, 2}, "DXT1 RGBA565 & MIPMAP takes sides that are powers of two from 4 to 2048; this picture is 2 x 2."},
      {TargetFamily::XboxBb, 0x0500, {16, 8},
       "8-BIT CLUT TWIDDLED Xbox ARGB1555 takes square sides that are powers of two from 1 to 1024; this picture is 16 x 8."},
      // Words no layout of the family has: bump texels, YUV422 palettes,
      // pixel bytes or flags of no layout.
      {TargetFamily::DcPc, 0x0104, {8, 8}, "No DC/PC texture layout has the format word 00000104."},
      {TargetFamily::DcPc, 0x0503, {8, 8}, "No DC/PC texture layout has the format word 00000503."},
      {TargetFamily::DcPc, 0x010100, {8, 8}, "No DC/PC texture layout has the format word 00010100."},
      {TargetFamily::Gc, 0x0E02, {8, 8}, "No GC texture layout has the format word 00000E02."},
      {TargetFamily::XboxBb, 0x0604, {8, 8}, "No XBox/BB texture layout has the format word 00000604."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Hex8(row.format));
    const RgbaImage picture{row.size.w, row.size.h,
                            std::vector<uint32_t>(static_cast<size_t>(row.size.w) * static_cast<size_t>(row.size.h))};
    for (const bool encode : {false, true}) {
      try {
        if (encode) {
          EncodeLayout(picture.View(), row.family, row.format);
        } else {
          RequireEncodableSize(row.family, row.format, row.size.w, row.size.h);
        }
        ADD_FAILURE() << "not refused";
      } catch (const Error& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::Unsupported);
        EXPECT_EQ(std::string(e.what()), row.message);
      }
    }
  }
  // A picture whose pixels do not make up its sides is the caller's fault.
  const std::vector<uint32_t> pixels(63);
  try {
    EncodeLayout(RgbaView{pixels, 8, 8}, TargetFamily::DcPc, 0x0100);
    ADD_FAILURE() << "not refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Usage);
  }
}

// Each listed layout, encoded at a size it takes, is described by image
// selection as the list says; no word is listed twice.
TEST_F(LayoutEncodeTest, EveryListedLayoutDecodesUnderItsDescription) {
  size_t listed = 0;
  for (const TargetFamily family : {TargetFamily::DcPc, TargetFamily::Gc, TargetFamily::XboxBb}) {
    std::set<uint32_t> words;
    for (const EncodableLayout& layout : EncodableLayouts(family)) {
      SCOPED_TRACE(Hex8(layout.format));
      EXPECT_TRUE(words.insert(layout.format).second);
      const Size size = (layout.format >> 8) == 0x0B ? Size{32, 8} : Size{8, 8};
      const RgbaImage picture = FewColours(size.w, size.h, 5, 3);
      const EncodedLayout encoded = EncodeLayout(picture.View(), family, layout.format);
      decoder.Top(family, encoded);
      EXPECT_EQ(SelectImage(*storage, 0).description, layout.description);
      const bool palettised = layout.description.find("CLUT") != std::string::npos || layout.description.starts_with("CI");
      EXPECT_EQ(encoded.paletteExtension.empty(), !palettised);
      ++listed;
    }
  }
  // 12 PVR data formats x 4 texel layouts but no YUV422 palettes; 6 GC; 7 Xbox.
  EXPECT_EQ(listed, 46u + 6u + 7u);
  EXPECT_EQ(LayoutListName(EncodableLayouts(TargetFamily::Gc)[1]), "4x4 Titles RGB5A3 GameCube & MIPMAP");
  EXPECT_EQ(LayoutListName(EncodableLayouts(TargetFamily::XboxBb)[1]), "DXT1 RGBA565 & MIPMAP");
}

// The palette files begin with the 16-byte header the reader skips.
TEST_F(LayoutEncodeTest, PaletteFilesCarryTheirHeader) {
  const RgbaImage picture = FewColours(8, 8, 2, 9);
  const EncodedLayout pvr = EncodeLayout(picture.View(), TargetFamily::DcPc, 0x0502);
  ASSERT_EQ(pvr.paletteFile.size(), 16u + 32u);
  EXPECT_EQ(test::ToHex(test::Bytes(pvr.paletteFile.begin(), pvr.paletteFile.begin() + 16)),
            "50 56 50 4C 28 00 00 00 02 00 00 00 10 00 00 00");
  EXPECT_EQ(pvr.paletteExtension, ".pvp");
  const EncodedLayout gvr = EncodeLayout(picture.View(), TargetFamily::Gc, 0x090A);
  ASSERT_EQ(gvr.paletteFile.size(), 16u + 512u);
  EXPECT_EQ(test::ToHex(test::Bytes(gvr.paletteFile.begin(), gvr.paletteFile.begin() + 16)),
            "47 56 50 4C 08 02 00 00 00 00 00 02 00 00 01 00");
  EXPECT_EQ(gvr.paletteExtension, ".gvp");
  // Two colours, in ascending order: the GameCube words high byte first.
  std::set<uint16_t> words;
  for (const uint32_t pixel : picture.pixels) words.insert(NearestTexel(pixel, TexelFormat::Rgb5a3));
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(gvr.paletteFile[16], *words.begin() >> 8);
  EXPECT_EQ(gvr.paletteFile[17], *words.begin() & 0xFF);
  EXPECT_EQ(gvr.paletteFile[18], *words.rbegin() >> 8);
}

}  // namespace
}  // namespace quarrendel::texture
