#include <gtest/gtest.h>

#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/error.h"
#include "imagefile/png_file.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {
namespace {

using imagefile::ReadPng;
using imagefile::RgbaImage;
using imagefile::WritePng;

// A PNG of any colour type made with libspng from rows of raw PNG samples, so
// the reader meets the layouts other programs write.
struct Source {
  uint8_t colourType;
  uint8_t bitDepth;
  uint32_t width;
  uint32_t height;
  Bytes samples;  // packed rows as PNG stores them (16-bit samples big-endian)
  bool interlaced = false;
  std::vector<spng_plte_entry> palette = {};
  spng_trns trns = {};
  bool hasTrns = false;
};

Bytes Encode(const Source& s) {
  const std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{s.width, s.height, s.bitDepth, s.colourType, 0, 0, static_cast<uint8_t>(s.interlaced ? 1 : 0)};
  EXPECT_EQ(spng_set_ihdr(ctx.get(), &ihdr), 0);
  if (!s.palette.empty()) {
    spng_plte plte{};
    plte.n_entries = static_cast<uint32_t>(s.palette.size());
    for (size_t i = 0; i < s.palette.size(); ++i) plte.entries[i] = s.palette[i];
    EXPECT_EQ(spng_set_plte(ctx.get(), &plte), 0);
  }
  if (s.hasTrns) {
    spng_trns trns = s.trns;
    EXPECT_EQ(spng_set_trns(ctx.get(), &trns), 0);
  }
  // libspng takes 16-bit samples in the machine's order.
  Bytes samples = s.samples;
  for (size_t i = 0; s.bitDepth == 16 && i + 1 < samples.size(); i += 2) {
    const uint16_t v = static_cast<uint16_t>(samples[i] << 8 | samples[i + 1]);
    std::memcpy(&samples[i], &v, 2);
  }
  EXPECT_EQ(spng_encode_image(ctx.get(), samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
  size_t length = 0;
  int rc = 0;
  const std::unique_ptr<void, decltype(&std::free)> buffer(spng_get_png_buffer(ctx.get(), &length, &rc), &std::free);
  EXPECT_EQ(rc, 0);
  const auto* p = static_cast<const uint8_t*>(buffer.get());
  return Bytes(p, p + length);
}

spng_trns GreyKey(uint16_t grey) {
  spng_trns t{};
  t.gray = grey;
  return t;
}
spng_trns RgbKey(uint16_t r, uint16_t g, uint16_t b) {
  spng_trns t{};
  t.red = r;
  t.green = g;
  t.blue = b;
  return t;
}
spng_trns PaletteAlphas(std::initializer_list<uint8_t> alphas) {
  spng_trns t{};
  t.n_type3_entries = static_cast<uint32_t>(alphas.size());
  size_t i = 0;
  for (uint8_t a : alphas) t.type3_alpha[i++] = a;
  return t;
}

constexpr const char* Rgb9 = "010203 040506 070809 0A0B0C 0D0E0F 101112 131415 161718 191A1B";

TEST(PngRead, EveryColourTypeAndDepthBecomesEightBitRgba) {
  struct Row {
    const char* what;
    Source source;
    const char* rgba;  // expected pixels, row by row
  };
  const Row rows[] = {
      {"grey 1-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 1, 3, 1, FromHex("A0")}, "FFFFFFFF 000000FF FFFFFFFF"},
      {"grey 2-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 2, 4, 1, FromHex("1B")}, "000000FF 555555FF AAAAAAFF FFFFFFFF"},
      {"grey 4-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 4, 2, 1, FromHex("F7")}, "FFFFFFFF 777777FF"},
      {"grey 16-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 16, 2, 1, FromHex("1234 FFFF")}, "121212FF FFFFFFFF"},
      {"grey 8-bit, tRNS key 7",
       {SPNG_COLOR_TYPE_GRAYSCALE, 8, 2, 1, FromHex("07 08"), false, {}, GreyKey(7), true},
       "07070700 080808FF"},
      {"grey + alpha 8-bit", {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, 1, 2, FromHex("64 32 C8 FF")}, "64646432 C8C8C8FF"},
      {"grey + alpha 16-bit", {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 16, 1, 1, FromHex("ABCD 8001")}, "ABABAB80"},
      {"RGB 8-bit, tRNS key",
       {SPNG_COLOR_TYPE_TRUECOLOR, 8, 2, 1, FromHex("010203 040506"), false, {}, RgbKey(4, 5, 6), true},
       "010203FF 04050600"},
      {"RGB 16-bit", {SPNG_COLOR_TYPE_TRUECOLOR, 16, 1, 1, FromHex("1122 3344 5566")}, "113355FF"},
      {"RGBA 16-bit", {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16, 1, 1, FromHex("FF00 8000 0100 7F99")}, "FF80017F"},
      {"palette 2-bit, tRNS",
       {SPNG_COLOR_TYPE_INDEXED, 2, 3, 1, FromHex("18"), false,
        {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}, PaletteAlphas({128}), true},
       "0A141E80 28323CFF 46505AFF"},
      {"palette 8-bit", {SPNG_COLOR_TYPE_INDEXED, 8, 2, 1, FromHex("01 00"), false, {{1, 2, 3, 0}, {4, 5, 6, 0}}},
       "040506FF 010203FF"},
      // Adam7 spreads a 3 x 3 picture over five passes.
      {"RGB 8-bit interlaced", {SPNG_COLOR_TYPE_TRUECOLOR, 8, 3, 3, FromHex(Rgb9), true},
       "010203FF 040506FF 070809FF 0A0B0CFF 0D0E0FFF 101112FF 131415FF 161718FF 191A1BFF"},
  };
  for (const Row& row : rows) {
    const RgbaImage image = ReadPng(Encode(row.source));
    EXPECT_EQ(image.width, static_cast<int32_t>(row.source.width)) << row.what;
    EXPECT_EQ(image.height, static_cast<int32_t>(row.source.height)) << row.what;
    EXPECT_EQ(ToHex(image.pixels), ToHex(FromHex(row.rgba))) << row.what;
  }
}

TEST(PngWrite, RgbaRoundTripWithHeaderSpelledOut) {
  const RgbaImage image{3, 2, FromHex("00000000 FFFFFFFF 12345678 9ABCDEF0 01020304 FF00FF80")};
  const Bytes png = WritePng(image);
  // Signature; IHDR of length 13: width 3, height 2, depth 8, colour type 6
  // (RGBA), compression, filter and interlace 0.
  ASSERT_GE(png.size(), 29u);
  EXPECT_EQ(ToHex(Bytes(png.begin(), png.begin() + 29)),
            ToHex(FromHex("89504E47 0D0A1A0A 0000000D 49484452 00000003 00000002 08 06 00 00 00")));
  const RgbaImage back = ReadPng(png);
  EXPECT_EQ(back.width, 3);
  EXPECT_EQ(back.height, 2);
  EXPECT_EQ(back.pixels, image.pixels);
  EXPECT_EQ(back.Pixel(2, 1), 0x80FF00FFu);  // canvas order: red in the low byte

  for (const RgbaImage& bad : {RgbaImage{0, 1, {}}, RgbaImage{2049, 1, Bytes(2049 * 4)}, RgbaImage{2, 2, Bytes(15)}}) {
    EXPECT_THROW(WritePng(bad), Error);
  }
}

ErrorKind KindOf(const Bytes& file) {
  try {
    ReadPng(file);
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("PNG Error: ", 0), 0u) << e.what();
    return e.Kind();
  }
  ADD_FAILURE() << "accepted";
  return ErrorKind::Usage;
}

TEST(PngRead, DamagedCutAndOversizedFilesAreRefused) {
  const Bytes good = WritePng(RgbaImage{4, 4, Bytes(64, 0x5A)});
  // Every cut, from the empty file to one byte short of the whole.
  for (size_t n = 0; n < good.size(); ++n) {
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    const ErrorKind kind = KindOf(cut);
    EXPECT_TRUE(kind == ErrorKind::Truncated || kind == ErrorKind::BadMagic || kind == ErrorKind::Corrupt)
        << n << " bytes";
  }
  EXPECT_EQ(KindOf(FromHex("424D 0000")), ErrorKind::BadMagic);
  // A flipped bit anywhere after the signature fails a CRC or the zlib checksum.
  for (size_t at = 8; at < good.size(); at += 7) {
    Bytes bad = good;
    bad[at] ^= 0x10;
    EXPECT_THROW(ReadPng(bad), Error) << "bit flipped at " << at;
  }

  // A header claiming 4100 x 4100 (64 MiB of pixels) with no data: refused by
  // its size, with the size named.
  Bytes huge = good;
  huge[16 + 2] = 0x10;  // width 0x00001004
  huge[20 + 2] = 0x10;
  try {
    ReadPng(huge);
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::OverCapacity);
    EXPECT_EQ(std::string(e.what()), "PNG Error: the picture is 4100 x 4100 pixels; at most 2048 x 2048 can be taken.");
  }
  EXPECT_THROW(imagefile::ReadPngSize(huge), Error);
  const Bytes tall = WritePng(RgbaImage{1, 2048, Bytes(2048 * 4, 1)});
  EXPECT_EQ(imagefile::ReadPngSize(tall).height, 2048);
}

}  // namespace
}  // namespace quarrendel::test
