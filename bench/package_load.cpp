// Loading an AFS of 1000 PRS-compressed PVM archives (about 100 MB unpacked)
// against the PRS decompression of the same members alone: everything the
// reader adds to decompression should be small. BM_LoadAfsFile loads the same
// archive from a file as the Load command does; its peak_MB is the peak
// resident set size of a copy of this program that does nothing but that load.
// The loads run with one thread (argument 1) and with every CPU the process
// may use (argument 0, or QUARRENDEL_THREADS as set when the benchmark starts).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/load_command.h"
#include "archive/package_reader.h"
#include "core/byte_io.h"
#include "core/worker_pool.h"
#include "prs/prs.h"
#include "tests/support/recording_frontend.h"

namespace {

using quarrendel::ByteWriter;

// CPU seconds of every thread of the process so far. Per iteration, next to
// the wall time, it shows what the threads cost on a machine that others share.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The thread count of argument `arg` (0: every CPU), set for the loads that follow.
int32_t UseThreads(int64_t arg) {
  static const int32_t all = quarrendel::DefaultThreadCount();
  const int32_t threads = arg == 0 ? all : static_cast<int32_t>(arg);
  ::setenv("QUARRENDEL_THREADS", std::to_string(threads).c_str(), 1);
  return threads;
}

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
  state.counters["threads"] = UseThreads(state.range(0));
  auto store = std::make_unique<quarrendel::ImageStore>();
  const double cpuBefore = ProcessCpuSeconds();
  for (auto _ : state) {
    quarrendel::NoProgress progress;
    store->packageMode = 0;
    const auto read = quarrendel::archive::ReadAfs(*store, afs.file, progress);
    if (read.outcome.status != quarrendel::Status::Done || store->imageCount != kMembers * kTexturesPerArchive) {
      state.SkipWithError("the AFS did not load");
    }
    benchmark::DoNotOptimize(store->images[0].Data);
  }
  state.counters["all_threads_cpu_ms"] =
      (ProcessCpuSeconds() - cpuBefore) * 1e3 / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * afs.unpacked));
  state.counters["unpacked_MB"] = static_cast<double>(afs.unpacked) / 1e6;
  state.counters["file_MB"] = static_cast<double>(afs.file.size()) / 1e6;
}
BENCHMARK(BM_LoadAfsOfPackedPvms)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Set in the environment of a copy of this program that only loads the file
// it names and writes its peak resident set size (VmHWM, which counts from
// its exec, unlike the rusage figure) to that name + ".peak".
constexpr const char* kLoadOnly = "QUARRENDEL_BENCH_LOAD_ONLY";

const bool kLoadOnlyChild = [] {
  const char* path = std::getenv(kLoadOnly);
  if (path == nullptr) return false;
  auto store = std::make_unique<quarrendel::ImageStore>();
  quarrendel::RecordingFrontEnd fe;
  quarrendel::archive::LoadFile(*store, fe, path);
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) std::ofstream(std::string(path) + ".peak") << std::stoll(line.substr(6)) * 1024;
  }
  std::_Exit(store->imageCount == kMembers * kTexturesPerArchive ? 0 : 1);
}();

// Peak resident set size in bytes of a copy of this program that loads
// `path` and exits, or -1 when it fails.
int64_t PeakOfLoadOnly(const std::string& path, int32_t threads) {
  const std::string variable = std::string(kLoadOnly) + "=" + path;
  const std::string threadsVariable = "QUARRENDEL_THREADS=" + std::to_string(threads);
  char* const argv[] = {const_cast<char*>("bench_package_load"), nullptr};
  char* const envp[] = {const_cast<char*>(variable.c_str()), const_cast<char*>(threadsVariable.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, envp) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  int64_t peak = -1;
  std::ifstream(path + ".peak") >> peak;
  std::filesystem::remove(path + ".peak");
  return peak;
}

void BM_LoadAfsFile(benchmark::State& state) {
  const Afs& afs = TestAfs();
  const int32_t threads = UseThreads(state.range(0));
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quarrendel-bench-" + std::to_string(::getpid()) + ".afs");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(afs.file.data()), static_cast<std::streamsize>(afs.file.size()));
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<quarrendel::ImageStore>();
    quarrendel::RecordingFrontEnd fe;
    state.ResumeTiming();
    quarrendel::archive::LoadFile(*store, fe, path.string());
    state.PauseTiming();
    if (store->imageCount != kMembers * kTexturesPerArchive) state.SkipWithError("the AFS did not load");
    store.reset();
    state.ResumeTiming();
  }
  const int64_t peak = PeakOfLoadOnly(path.string(), threads);
  if (peak < 0) state.SkipWithError("the load-only copy failed");
  std::filesystem::remove(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * afs.unpacked));
  state.counters["file_MB"] = static_cast<double>(afs.file.size()) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["threads"] = threads;
}
BENCHMARK(BM_LoadAfsFile)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

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
