// Loading an AFS of 1000 PRS-compressed PVM archives (about 100 MB unpacked)
// against the PRS decompression of the same members alone: everything the
// reader adds to decompression should be small. BM_LoadAfsFile loads the same
// archive from a file as the Load command does and reports the most memory
// the load added to the process (peak resident set size less the size before).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
#include <malloc.h>
#include <unistd.h>

#include "archive/load_command.h"
#include "archive/package_reader.h"
#include "core/byte_io.h"
#include "prs/prs.h"

namespace {

using quarrendel::ByteWriter;

constexpr int kMembers = 1000;
constexpr int kTexturesPerArchive = 3;
constexpr int kSide = 128;  // 128 x 128 16-bit texels: 32 KB per texture

// 16-bit texels of a smooth gradient with a little noise, like real textures.
std::vector<uint8_t> TextureData(uint32_t seed) {
  std::vector<uint8_t> data(kSide * kSide * 2);
  uint32_t noise = seed * 2654435761u + 1;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const uint32_t r = ((x + seed) >> 2) & 31, g = ((y * 2 + seed) >> 2) & 63,
                     b = ((x + y) >> 3) + ((noise >> 30) & 1);
      const uint16_t v = static_cast<uint16_t>((r << 11) | (g << 5) | (b & 31));
      data[2 * (y * kSide + x)] = static_cast<uint8_t>(v);
      data[2 * (y * kSide + x) + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  return data;
}

std::vector<uint8_t> Pvm(uint32_t seed) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  w.Magic("PVMH");
  w.U32Le(34 * kTexturesPerArchive + 4);
  w.U16Le(0x0109);
  w.U16Le(kTexturesPerArchive);
  for (int t = 0; t < kTexturesPerArchive; ++t) {
    w.U16Le(static_cast<uint16_t>(t));
    w.FixedText("tex" + std::to_string(seed) + "_" + std::to_string(t), 28);
    w.U32Le(seed * 16 + static_cast<uint32_t>(t));
  }
  for (int t = 0; t < kTexturesPerArchive; ++t) {
    const auto data = TextureData(seed * 7 + static_cast<uint32_t>(t));
    w.Magic("PVRT");
    w.U32Le(static_cast<uint32_t>(data.size() + 8));
    w.U32Le(0x0901);
    w.U16Le(kSide);
    w.U16Le(kSide);
    w.Bytes(data);
  }
  return out;
}

struct Afs {
  std::vector<uint8_t> file;
  std::vector<std::pair<size_t, size_t>> members;  // offset, size
  size_t unpacked = 0;
};

const Afs& TestAfs() {
  static const Afs afs = [] {
    Afs a;
    std::vector<std::vector<uint8_t>> packed;
    for (int i = 0; i < kMembers; ++i) {
      const auto pvm = Pvm(static_cast<uint32_t>(i));
      a.unpacked += pvm.size();
      packed.push_back(quarrendel::prs::Compress(pvm));
    }
    ByteWriter w(a.file);
    w.Magic("AFS");
    w.U8(0);
    w.U32Le(kMembers);
    size_t at = quarrendel::archive::kAfsHeaderArea;
    for (const auto& p : packed) {
      a.members.emplace_back(at, p.size());
      w.U32Le(static_cast<uint32_t>(at));
      w.U32Le(static_cast<uint32_t>(p.size()));
      at += (p.size() + 2047) / 2048 * 2048;
    }
    for (size_t i = 0; i < packed.size(); ++i) {
      w.Seek(a.members[i].first);
      w.Bytes(packed[i]);
    }
    return a;
  }();
  return afs;
}

void BM_LoadAfsOfPackedPvms(benchmark::State& state) {
  const Afs& afs = TestAfs();
  auto store = std::make_unique<quarrendel::ImageStore>();
  for (auto _ : state) {
    quarrendel::RecordingFrontEnd fe;
    store->packageMode = 0;
    const auto outcome = quarrendel::archive::ReadAfs(*store, fe, afs.file);
    if (outcome != quarrendel::archive::PackageOutcome::Completed || store->imageCount != kMembers * kTexturesPerArchive) {
      state.SkipWithError("the AFS did not load");
    }
    benchmark::DoNotOptimize(store->images[0].Data);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * afs.unpacked));
  state.counters["unpacked_MB"] = static_cast<double>(afs.unpacked) / 1e6;
  state.counters["file_MB"] = static_cast<double>(afs.file.size()) / 1e6;
}
BENCHMARK(BM_LoadAfsOfPackedPvms)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A figure of /proc/self/status in bytes ("VmRSS", "VmHWM"), or -1.
int64_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) * 1024;
  }
  return -1;
}

// Sets the peak resident set size back to the current one.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

void BM_LoadAfsFile(benchmark::State& state) {
  const Afs& afs = TestAfs();
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quarrendel-bench-" + std::to_string(::getpid()) + ".afs");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(afs.file.data()), static_cast<std::streamsize>(afs.file.size()));
  }
  int64_t peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<quarrendel::ImageStore>();
    quarrendel::RecordingFrontEnd fe;
    malloc_trim(0);  // freed heap memory the load could reuse would hide its cost
    const int64_t before = StatusBytes("VmRSS");
    if (!ResetPeak()) state.SkipWithError("cannot reset the peak resident set size");
    state.ResumeTiming();
    quarrendel::archive::LoadFile(*store, fe, path.string());
    state.PauseTiming();
    peak = std::max(peak, StatusBytes("VmHWM") - before);
    if (store->imageCount != kMembers * kTexturesPerArchive) state.SkipWithError("the AFS did not load");
    store.reset();
    state.ResumeTiming();
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * afs.unpacked));
  state.counters["file_MB"] = static_cast<double>(afs.file.size()) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
}
BENCHMARK(BM_LoadAfsFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DecompressMembersOnly(benchmark::State& state) {
  const Afs& afs = TestAfs();
  auto store = std::make_unique<quarrendel::ImageStore>();
  for (auto _ : state) {
    size_t total = 0;
    for (const auto& [offset, size] : afs.members) {
      const auto r = quarrendel::prs::Decompress(std::span<const uint8_t>(afs.file).subspan(offset, size),
                                                 store->output.Span());
      total += r.size;
    }
    if (total != afs.unpacked) state.SkipWithError("decompressed size differs");
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * afs.unpacked));
}
BENCHMARK(BM_DecompressMembersOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
