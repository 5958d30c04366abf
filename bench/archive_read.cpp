// Reading a PVM of 5000 small textures (8 x 8 RGB565 rectangles with a GBIX
// chunk in front of each), as the Load command does, into a reused store.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "archive/load_command.h"
#include "archive/texture_archive.h"
#include "core/byte_io.h"
#include "tests/support/recording_frontend.h"

namespace {

using namespace quarrendel;

std::vector<uint8_t> ManyTexturePvm(int count, int side) {
  std::vector<uint8_t> bytes;
  ByteWriter w(bytes);
  const uint32_t dataLength = static_cast<uint32_t>(side * side * 2);
  w.Magic("PVMH");
  w.U32Le(34u * static_cast<uint32_t>(count) + 4);
  w.U16Le(0x0109);
  w.U16Le(static_cast<uint16_t>(count));
  for (int i = 0; i < count; ++i) {
    w.U16Le(static_cast<uint16_t>(i));
    w.FixedText("texture_" + std::to_string(i), 28);
    w.U32Le(0x1000u + static_cast<uint32_t>(i));
  }
  for (int i = 0; i < count; ++i) {
    w.Magic("GBIX");
    w.U32Le(8);
    w.U32Le(0x1000u + static_cast<uint32_t>(i));
    w.U32Le(0);
    w.Magic("PVRT");
    w.U32Le(dataLength + 8);
    w.U32Le(0x0901);
    w.U16Le(static_cast<uint16_t>(side));
    w.U16Le(static_cast<uint16_t>(side));
    for (uint32_t b = 0; b < dataLength; ++b) w.U8(static_cast<uint8_t>(b + static_cast<uint32_t>(i)));
  }
  return bytes;
}

void BM_ReadPvmFile(benchmark::State& state) {
  const auto file = ManyTexturePvm(static_cast<int>(state.range(0)), 8);
  auto store = std::make_unique<ImageStore>();
  for (auto _ : state) benchmark::DoNotOptimize(archive::ReadPvmFile(*store, file).names.data());
  if (store->imageCount != state.range(0)) state.SkipWithError("not every texture was read");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_ReadPvmFile)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_ReadPvmInMemory(benchmark::State& state) {
  const auto file = ManyTexturePvm(static_cast<int>(state.range(0)), 8);
  auto store = std::make_unique<ImageStore>();
  for (auto _ : state) {
    archive::ReadResult read;
    benchmark::DoNotOptimize(archive::ReadPvmInMemory(*store, read, file, 0, 0, archive::PackageCaller::Afs));
  }
  // Each GBIX chunk counts as an image of its own here.
  if (store->imageCount != state.range(0)) state.SkipWithError("not every chunk was read");
}
// Unpacked archives use only the low 16 bits of the header length: 1927
// entries is the most whose table ends below 65536.
BENCHMARK(BM_ReadPvmInMemory)->Arg(1900)->Unit(benchmark::kMillisecond);

// The whole Load command from disk: read the file, dispatch, fill, list.
void BM_LoadPvmFromDisk(benchmark::State& state) {
  const auto file = ManyTexturePvm(static_cast<int>(state.range(0)), 8);
  const auto path = std::filesystem::temp_directory_path() / "quarrendel-bench-5000.pvm";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  auto store = std::make_unique<ImageStore>();
  RecordingFrontEnd ui;
  for (auto _ : state) archive::LoadFile(*store, ui, path.string());
  if (ui.label != std::to_string(state.range(0)) + " Images") state.SkipWithError(ui.label.c_str());
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadPvmFromDisk)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
