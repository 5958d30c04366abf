// The PNG writer's file sizes against the writer it replaced (libspng with
// its adaptive row filters and zlib level 3, made here with the same calls)
// on the generated and the natural-looking 512 x 512 pictures, in the same
// run: png_bytes, old_bytes and ratio (ours / old; at most 1 is the goal),
// and the time of each writer. Arguments: 0..5 the generated pictures
// (clouds, shapes, bark, landscape, portrait, icon), 6..8 the natural ones
// (meadow, stone wall, face), 9 the icon inside a disc of alpha.
#include <benchmark/benchmark.h>
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "imagefile/png_file.h"
#include "tests/support/generated_pictures.h"
#include "tests/support/natural_pictures.h"

namespace {

using namespace quarrendel;

constexpr int kPictures = 10;
constexpr int32_t kSide = 512;

imagefile::RgbaImage Picture(int kind) {
  std::vector<uint32_t> pixels;
  if (kind < test::kGeneratedKinds) {
    pixels = test::GeneratedPicture(kind);
  } else if (kind < 9) {
    pixels = test::NaturalPicture(kind - test::kGeneratedKinds, kSide, kSide);
  } else {
    pixels = test::IconInAlphaDisc();
  }
  imagefile::RgbaImage image{kSide, kSide, std::vector<uint8_t>(pixels.size() * 4)};
  for (size_t i = 0; i < pixels.size(); ++i) {
    for (size_t k = 0; k < 4; ++k) image.pixels[4 * i + k] = static_cast<uint8_t>(pixels[i] >> (8 * k));
  }
  return image;
}

// The replaced writer's bytes: libspng's defaults but for the level.
std::vector<uint8_t> OldPng(const imagefile::RgbaImage& image) {
  const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), &spng_ctx_free);
  const auto check = [](int rc) {
    if (rc != 0) throw std::runtime_error(spng_strerror(rc));
  };
  check(spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1));
  check(spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 3));
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(image.width);
  ihdr.height = static_cast<uint32_t>(image.height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  check(spng_set_ihdr(ctx.get(), &ihdr));
  check(spng_encode_image(ctx.get(), image.pixels.data(), image.pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));
  size_t length = 0;
  int rc = 0;
  const std::unique_ptr<void, decltype(&std::free)> buffer(spng_get_png_buffer(ctx.get(), &length, &rc), &std::free);
  check(rc);
  const auto* begin = static_cast<const uint8_t*>(buffer.get());
  return std::vector<uint8_t>(begin, begin + length);
}

void Sizes(benchmark::State& state, const imagefile::RgbaImage& image, size_t ours) {
  const size_t old = OldPng(image).size();
  state.counters["png_bytes"] = static_cast<double>(ours);
  state.counters["old_bytes"] = static_cast<double>(old);
  state.counters["ratio"] = static_cast<double>(ours) / static_cast<double>(old);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void BM_PngWrite(benchmark::State& state) {
  const imagefile::RgbaImage image = Picture(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) bytes = imagefile::WritePng(image).size();
  Sizes(state, image, bytes);
}
BENCHMARK(BM_PngWrite)->DenseRange(0, kPictures - 1)->Unit(benchmark::kMillisecond);

void BM_OldPngWrite(benchmark::State& state) {
  const imagefile::RgbaImage image = Picture(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(OldPng(image).size());
  Sizes(state, image, imagefile::WritePng(image).size());
}
BENCHMARK(BM_OldPngWrite)->DenseRange(0, kPictures - 1)->Unit(benchmark::kMillisecond);

}  // namespace
