// Saving a packed AFS of 1000 packages (three 128 x 128 RGB565 textures each,
// about 100 MB of texture data) with one thread and with every CPU the
// process may use, into memory and into a file as the Save command writes it
// (each member as it is compressed), next to the PRS compression of the same
// packed archives alone. The save should cost little beyond compression on one thread, and
// scale with the cores. peak_rss_MB is the process's peak so far: run one
// benchmark per process (--benchmark_filter) to read it for that benchmark.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/afs_writer.h"
#include "archive/archive_writer.h"
#include "core/byte_io.h"
#include "core/error.h"
#include "core/file_writer.h"
#include "core/frontend.h"
#include "core/worker_pool.h"
#include "prs/prs.h"
#include "tests/support/recording_frontend.h"

namespace {

using namespace quarrendel;

constexpr int kPackages = 1000;
constexpr int kTexturesPerPackage = 3;
constexpr int kSide = 128;

struct Corpus {
  std::vector<std::vector<uint8_t>> data;
  std::vector<TImage_Entry> images;
  std::vector<archive::PackageRun> runs;
  size_t textureBytes = 0;
};

// RGB565 texels, rows of 256 bytes: every 24th row a gradient with a bit of
// noise, the rows between repeating it, as textures with flat and repeated
// areas do. A package compresses about 15:1: the file is about 6.7 MB.
std::vector<uint8_t> Texels(uint32_t seed) {
  std::vector<uint8_t> data(kSide * kSide * 2);
  uint32_t noise = seed * 2654435761u + 1;
  for (int y = 0; y < kSide; ++y) {
    const int source = y - y % 24;
    for (int x = 0; x < kSide; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const uint32_t r = ((static_cast<uint32_t>(x) + seed) >> 2) & 31;
      const uint32_t g = ((static_cast<uint32_t>(source) * 2 + seed) >> 2) & 63;
      const uint32_t b = ((static_cast<uint32_t>(x + source) >> 3) + ((noise >> 30) & 1)) & 31;
      const auto v = static_cast<uint16_t>((r << 11) | (g << 5) | b);
      const size_t at = 2 * static_cast<size_t>(y * kSide + x);
      if (y == source) {
        data[at] = static_cast<uint8_t>(v);
        data[at + 1] = static_cast<uint8_t>(v >> 8);
      } else {
        data[at] = data[at - 2 * kSide];
        data[at + 1] = data[at + 1 - 2 * kSide];
      }
    }
  }
  return data;
}

const Corpus& TheCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    c.data.reserve(kPackages * kTexturesPerPackage);
    for (int p = 0; p < kPackages; ++p) {
      for (int t = 0; t < kTexturesPerPackage; ++t) {
        const auto seed = static_cast<uint32_t>(p * 7 + t);
        c.data.push_back(Texels(seed));
        TImage_Entry& e = c.images.emplace_back();
        e.Name = "tex" + std::to_string(p) + "_" + std::to_string(t);
        e.Width = e.Height = kSide;
        e.Format = 0x0901;
        e.GlobalIndex = seed;
        e.DataLength = static_cast<int32_t>(c.data.back().size());
        e.Data = c.data.back().data();
        e.PackageIndex = p;
        c.textureBytes += c.data.back().size();
      }
    }
    c.runs = archive::GroupPackages(c.images);
    return c;
  }();
  return corpus;
}

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void Report(benchmark::State& state, size_t fileBytes) {
  const Corpus& c = TheCorpus();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.textureBytes));
  state.counters["texture_MB"] = static_cast<double>(c.textureBytes) / 1e6;
  state.counters["file_MB"] = static_cast<double>(fileBytes) / 1e6;
  state.counters["peak_rss_MB"] = PeakRssMb();
}

// The yardstick: each package laid out and compressed, one after another.
void BM_CompressArchivesOnly(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::vector<std::vector<uint8_t>> archives;
  for (const auto& run : c.runs) {
    archives.push_back(archive::BuildPackedArchive(PackageArchiveKind::Pvm, archive::ImagesOf(c.images, run)));
  }
  size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (const auto& a : archives) compressed += prs::Compress(a).size();
    benchmark::DoNotOptimize(compressed);
  }
  state.counters["compressed_MB"] = static_cast<double>(compressed) / 1e6;
  Report(state, compressed);
}
BENCHMARK(BM_CompressArchivesOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The whole packed save into bytes: grouping, layout, compression, assembly, progress.
void BM_SavePackedAfs(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  const int32_t threads = state.range(0) == 0 ? DefaultThreadCount() : static_cast<int32_t>(state.range(0));
  WorkerPool pool(threads);
  size_t fileBytes = 0;
  size_t compressed = 0;
  for (auto _ : state) {
    RecordingFrontEnd ui;
    try {
      const auto file = archive::BuildPackedAfs(archive::AfsPlatform::Pc, c.images, pool, ui);
      fileBytes = file.size();
      compressed = 0;
      const ByteReader table(file);
      for (uint32_t m = 0; m < table.U32LeAt(4); ++m) compressed += table.U32LeAt(12 + 8 * m);
      benchmark::DoNotOptimize(file.data());
    } catch (const Error& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  state.counters["threads"] = pool.Threads();
  state.counters["compressed_MB"] = static_cast<double>(compressed) / 1e6;
  Report(state, fileBytes);
}
// Argument 0: every CPU the process may run on (or QUARRENDEL_THREADS).
BENCHMARK(BM_SavePackedAfs)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same written to a file in a temporary folder, through the file writer,
// as `save` does it: the members go to the file as they are compressed.
void BM_WritePackedAfsFile(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  const int32_t threads = state.range(0) == 0 ? DefaultThreadCount() : static_cast<int32_t>(state.range(0));
  WorkerPool pool(threads);
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("quarrendel-bench-afs-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string path = (folder / "packed.afs").string();
  for (auto _ : state) {
    RecordingFrontEnd ui;
    try {
      WriteFileInPieces(path, [&](FileSink& out) {
        archive::WritePackedAfs(archive::AfsPlatform::Pc, c.images, pool, ui, out);
      });
    } catch (const Error& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  std::error_code ec;
  const auto fileBytes = fs::file_size(path, ec);
  fs::remove_all(folder, ec);
  state.counters["threads"] = pool.Threads();
  Report(state, static_cast<size_t>(fileBytes));
}
BENCHMARK(BM_WritePackedAfsFile)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
