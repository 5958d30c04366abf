// Export's file writers on one 1024 x 1024 picture: the 32-bit bitmap of the
// decoded picture, and the PNG of the same picture; pixels per
// second of the bytes made (no file is written). Then Export all as the
// command runs it, files included.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/archive_writer.h"
#include "archive/load_command.h"
#include "core/file_writer.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "imagefile/export.h"
#include "imagefile/png_file.h"
#include "tests/support/recording_frontend.h"
#include "texture/texture_encode.h"

namespace {

using namespace quarrendel;

constexpr int32_t kSide = 1024;

// Gradients with a little grain and a soft-edged alpha, as a decoded texture.
texture::RgbaImage Painted() {
  texture::RgbaImage picture{kSide, kSide, std::vector<uint32_t>(static_cast<size_t>(kSide) * kSide)};
  uint32_t grain = 0x9E3779B9u;
  for (int32_t x = 0; x < kSide; ++x) {
    for (int32_t y = 0; y < kSide; ++y) {
      grain = grain * 1664525u + 1013904223u;
      const uint32_t r = static_cast<uint32_t>(x / 4), g = static_cast<uint32_t>(y / 4);
      const uint32_t b = (static_cast<uint32_t>(x + y) / 8 + (grain >> 30)) & 255;
      const uint32_t a = x < 64 ? static_cast<uint32_t>(x * 4) : 255;
      picture.pixels[static_cast<size_t>(y) * kSide + x] = (r & 0xF8) | (g & 0xF8) << 8 | (b & 0xF8) << 16 | a << 24;
    }
  }
  return picture;
}

void BM_BitmapBytes(benchmark::State& state) {
  const texture::RgbaImage picture = Painted();
  for (auto _ : state) benchmark::DoNotOptimize(imagefile::BitmapFileBytes(picture.Rect()).data());
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_BitmapBytes)->Unit(benchmark::kMillisecond);

void BM_PngBytes(benchmark::State& state) {
  const texture::RgbaImage painted = Painted();
  imagefile::RgbaImage picture{kSide, kSide, std::vector<uint8_t>(static_cast<size_t>(kSide) * kSide * 4)};
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const uint32_t v = painted.pixels[static_cast<size_t>(y) * kSide + x];
      for (int32_t k = 0; k < 4; ++k) picture.pixels[(static_cast<size_t>(y) * kSide + x) * 4 + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  size_t bytes = 0;
  for (auto _ : state) bytes = imagefile::WritePng(picture).size();
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  state.counters["png_KB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_PngBytes)->Unit(benchmark::kMillisecond);

// Export all of an XVM of 1000 textures of 128 x 128 (DXT1, every fourth DXT3)
// into a fresh folder under the system's temporary folder, as a bitmap or a
// PNG picture each, with QUARRENDEL_THREADS worker threads.
constexpr int32_t kTextures = 1000;
constexpr int32_t kTextureSide = 128;

struct ExportScratch {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quarrendel-bench-export-" + std::to_string(::getpid()));
  ExportScratch() { std::filesystem::create_directories(path); }
  ~ExportScratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::string& ThousandTextureXvm(const ExportScratch& scratch) {
  static const std::string file = [&] {
    const auto store = std::make_unique<ImageStore>();
    for (int32_t i = 0; i < kTextures; ++i) {
      for (int32_t x = 0; x < kTextureSide; ++x) {
        for (int32_t y = 0; y < kTextureSide; ++y) {
          const uint32_t a = i % 4 == 3 ? static_cast<uint32_t>((x + y) % 256) : 255;
          store->canvas(x, y) = static_cast<uint32_t>((x * 2 + i) & 255) | static_cast<uint32_t>((y * 2) & 255) << 8 |
                                static_cast<uint32_t>((x + y + i) & 255) << 16 | a << 24;
        }
      }
      texture::EncodeCanvasIntoEntry(*store, i, kTextureSide, TargetFamily::XboxBb);
      store->Entry(i).Name = "tex" + std::to_string(i);
    }
    const std::string path = (scratch.path / "in.xvm").string();
    WriteFile(path, archive::BuildArchiveFile(PackageArchiveKind::Xvm,
                                              std::span<const TImage_Entry>(store->images.data(), kTextures)));
    return path;
  }();
  return file;
}

void BM_ExportAll(benchmark::State& state) {
  static const ExportScratch scratch;
  const std::string& file = ThousandTextureXvm(scratch);
  const auto kind = state.range(0) == 0 ? imagefile::ExportKind::Bitmap : imagefile::ExportKind::Png;
  const std::string threads = std::to_string(state.range(1));
  ::setenv("QUARRENDEL_THREADS", threads.c_str(), 1);
  const auto store = std::make_unique<ImageStore>();
  RecordingFrontEnd ui;
  archive::LoadFile(*store, ui, file);
  const std::string folder = (scratch.path / "out").string() + "/";
  std::filesystem::create_directories(folder);
  for (auto _ : state) {
    ui.fileChoices.push_back(FileChoice{folder + "-", static_cast<int32_t>(kind)});
    if (!imagefile::Exportall1Click(*store, ui)) state.SkipWithError("not every image was exported");
  }
  ::unsetenv("QUARRENDEL_THREADS");
  state.counters["textures"] = kTextures;
}
// Arguments: 0 bitmap, 1 PNG; worker threads.
BENCHMARK(BM_ExportAll)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"png", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
