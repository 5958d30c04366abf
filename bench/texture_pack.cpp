// Texture packs of 1000 textures of 128 x 128: unpacking an archive into PNG
// files and index.txt, and packing such a folder into an archive again, whole
// as the commands do it and step by step, to see what share PNG encoding and
// decoding take beside decoding and encoding the textures and the files. The
// archives: a PVM of twiddled ARGB1555 textures and an XVM of DXT1 textures
// with every fourth one DXT3 (graded alpha), encoded here from pictures with
// gradients, noise and a soft-edged disc. Files go to a fresh folder under
// the system's temporary folder, removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/save_command.h"
#include "archive/load_command.h"
#include "core/error.h"
#include "core/file_writer.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "core/worker_pool.h"
#include "imagefile/png_file.h"
#include "imagefile/texture_pack.h"
#include "tests/support/recording_frontend.h"
#include "imagefile/texture_png.h"
#include "tests/support/replicated_s3tc.h"
#include "texture/format_choice.h"
#include "texture/layout_encode.h"
#include "texture/texture_encode.h"

namespace {

using namespace quarrendel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kTextures = 1000;
constexpr int32_t kSide = 128;

// A folder of its own for the run.
struct Scratch {
  fs::path path = fs::temp_directory_path() / ("quarrendel-bench-pack-" + std::to_string(::getpid()));
  Scratch() { fs::create_directories(path); }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

void Paint(Canvas& canvas, uint32_t seed, bool gradedAlpha) {
  uint32_t noise = seed * 2654435761u + 1;
  const double cx = 32 + seed % 64, cy = 40 + seed % 48;
  for (int32_t x = 0; x < kSide; ++x) {
    for (int32_t y = 0; y < kSide; ++y) {
      noise = noise * 1664525u + 1013904223u;
      const uint32_t r = (static_cast<uint32_t>(x) * 2 + seed) & 255;
      const uint32_t g = (static_cast<uint32_t>(y) * 2 + (noise >> 29)) & 255;
      const uint32_t b = (static_cast<uint32_t>(x + y) + seed * 3) & 255;
      const double d = std::hypot(x - cx, y - cy);
      uint32_t a = 255;
      if (gradedAlpha) a = d < 24 ? 255 : d > 40 ? 0 : static_cast<uint32_t>(255 * (40 - d) / 16);
      canvas(x, y) = r | (g << 8) | (b << 16) | (a << 24);
    }
  }
}

// The archive of `kind` as bytes, made once.
const std::vector<uint8_t>& Archive(PackageArchiveKind kind) {
  static std::vector<uint8_t> archives[4];
  std::vector<uint8_t>& bytes = archives[static_cast<size_t>(kind)];
  if (!bytes.empty()) return bytes;
  const auto store = std::make_unique<ImageStore>();
  const TargetFamily family = kind == PackageArchiveKind::Xvm ? TargetFamily::XboxBb : TargetFamily::DcPc;
  for (int32_t i = 0; i < kTextures; ++i) {
    Paint(store->canvas, static_cast<uint32_t>(i), i % 4 == 3);
    texture::EncodeCanvasIntoEntry(*store, i, kSide, family);
    TImage_Entry& e = store->Entry(i);
    e.Name = "tex" + std::to_string(i);
    e.GlobalIndex = 10000 + static_cast<uint32_t>(i);
  }
  bytes = archive::BuildArchiveFile(kind, std::span<const TImage_Entry>(store->images.data(), kTextures));
  return bytes;
}

std::string ArchiveFile(PackageArchiveKind kind) {
  const std::string path =
      (TheScratch().path / (kind == PackageArchiveKind::Xvm ? "in.xvm" : "in.pvm")).string();
  if (!fs::exists(path)) WriteFile(path, Archive(kind));
  return path;
}

PackageArchiveKind KindOf(const benchmark::State& state) {
  return state.range(0) == 0 ? PackageArchiveKind::Pvm : PackageArchiveKind::Xvm;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// `unpack FILE DIR` as the command runs it: load, decode, PNG, files.
void BM_Unpack(benchmark::State& state) {
  const std::string file = ArchiveFile(KindOf(state));
  const std::string folder = (TheScratch().path / "unpacked").string();
  for (auto _ : state) {
    const auto store = std::make_unique<ImageStore>();
    RecordingFrontEnd ui;
    archive::LoadFile(*store, ui, file);
    WorkerPool pool(static_cast<int32_t>(state.range(1)));
    const auto result = imagefile::UnpackTextures(*store, ui, folder, {file}, pool);
    benchmark::DoNotOptimize(result.written);
  }
  state.counters["textures"] = kTextures;
  state.counters["Mpx_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kTextures * kSide * kSide / 1e6,
                                                   benchmark::Counter::kIsRate);
}
// Arguments: 0 PVM, 1 XVM; worker threads.
BENCHMARK(BM_Unpack)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"xvm", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// The same steps timed one by one on one thread: texture decoding (with the
// stretch to the full range), PNG encoding, writing the files (and the one
// flush of the file system).
void BM_UnpackSteps(benchmark::State& state) {
  const std::string file = ArchiveFile(KindOf(state));
  const fs::path folder = TheScratch().path / "steps";
  fs::create_directories(folder);
  Clock::duration decode{}, png{}, write{};
  size_t pngBytes = 0;
  for (auto _ : state) {
    const auto store = std::make_unique<ImageStore>();
    RecordingFrontEnd ui;
    archive::LoadFile(*store, ui, file);
    const auto names = imagefile::PackFileNames(std::span<const TImage_Entry>(store->images.data(), kTextures));
    pngBytes = 0;
    for (int32_t i = 0; i < store->imageCount; ++i) {
      const auto t0 = Clock::now();
      const imagefile::RgbaImage image = imagefile::TextureImage(*store, i);
      const auto t1 = Clock::now();
      const std::vector<uint8_t> bytes = imagefile::WritePng(image);
      const auto t2 = Clock::now();
      WriteOptions options;
      options.sync = false;         // as the command: one flush at the end
      options.removeStale = false;  // the command scans for stale files once per batch
      WriteFile((folder / names[static_cast<size_t>(i)]).string(), bytes, options);
      const auto t3 = Clock::now();
      decode += t1 - t0;
      png += t2 - t1;
      write += t3 - t2;
      pngBytes += bytes.size();
    }
    const auto t0 = Clock::now();
    SyncFileSystem(folder.string());
    write += Clock::now() - t0;
  }
  const double n = static_cast<double>(state.iterations());
  const double total = Ms(decode + png + write) / n;
  state.counters["texture_decode_ms"] = Ms(decode) / n;
  state.counters["png_encode_ms"] = Ms(png) / n;
  state.counters["file_write_ms"] = Ms(write) / n;
  state.counters["png_share_pct"] = 100.0 * Ms(png) / n / total;
  state.counters["png_MB"] = static_cast<double>(pngBytes) / 1e6;
}
BENCHMARK(BM_UnpackSteps)->Arg(0)->Arg(1)->ArgName("xvm")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The pack of `kind`'s archive, unpacked once; its index.txt.
std::string PackIndex(PackageArchiveKind kind) {
  const fs::path folder = TheScratch().path / (kind == PackageArchiveKind::Xvm ? "pack_xvm" : "pack_pvm");
  const fs::path index = folder / "index.txt";
  if (!fs::exists(index)) {
    const std::string file = ArchiveFile(kind);
    const auto store = std::make_unique<ImageStore>();
    RecordingFrontEnd ui;
    archive::LoadFile(*store, ui, file);
    WorkerPool pool;
    imagefile::UnpackTextures(*store, ui, folder.string(), {file}, pool);
  }
  return index.string();
}

archive::SaveKind SaveKindOf(PackageArchiveKind kind) {
  return kind == PackageArchiveKind::Xvm ? archive::SaveKind::Xvm : archive::SaveKind::Pvm;
}

// `pack INDEX OUT --as KIND` as the command runs it: each PNG read, decoded
// and encoded in its line's format on the worker pool, then the archive
// saved. Arguments: 0 PVM, 1 XVM; worker threads.
void BM_Pack(benchmark::State& state) {
  const PackageArchiveKind kind = KindOf(state);
  imagefile::PackRequest request;
  request.index = PackIndex(kind);
  request.out = (TheScratch().path / "packed").string();
  request.kind = SaveKindOf(kind);
  request.threads = static_cast<int32_t>(state.range(1));
  for (auto _ : state) {
    RecordingFrontEnd ui;
    const imagefile::PackResult result = imagefile::PackTextures(request, ui);
    if (!result.outcome) state.SkipWithError("the archive was not written");
    benchmark::DoNotOptimize(result.textures);
  }
  state.counters["textures"] = kTextures;
}
BENCHMARK(BM_Pack)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"xvm", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// The same work timed by step: reading and decoding the PNG files, encoding
// the textures for the platform, laying out and writing the archive.
void BM_PackSteps(benchmark::State& state) {
  const PackageArchiveKind kind = KindOf(state);
  const std::string index = PackIndex(kind);
  const TargetFamily family = kind == PackageArchiveKind::Xvm ? TargetFamily::XboxBb : TargetFamily::DcPc;
  std::vector<imagefile::PackLine> lines;
  {
    const std::vector<uint8_t> text = [&] {
      std::ifstream in(index, std::ios::binary);
      return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    lines = imagefile::ParsePackIndex(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  }
  const fs::path folder = fs::path(index).parent_path();
  Clock::duration png{}, encode{}, save{};
  for (auto _ : state) {
    const auto store = std::make_unique<ImageStore>();
    for (const imagefile::PackLine& line : lines) {
      const auto t0 = Clock::now();
      const imagefile::RgbaImage picture = imagefile::ReadPngFile(folder / line.fileName);
      const auto t1 = Clock::now();
      texture::RgbaImage pixels = imagefile::PixelsOfPng(picture);
      const uint32_t format = texture::KeptFormatWord(family, *line.format);
      texture::ToTexelScale(pixels, family, format);
      const texture::EncodedLayout t = texture::EncodeLayout(pixels.View(), family, format);
      const int32_t i = store->imageCount++;
      store->FillEntryData(i, t.data);
      TImage_Entry& e = store->images[static_cast<size_t>(i)];
      e.Width = e.Height = static_cast<uint16_t>(picture.width);
      e.Format = t.format;
      e.GlobalIndex = line.globalIndex;
      const auto t2 = Clock::now();
      png += t1 - t0;
      encode += t2 - t1;
    }
    const auto t0 = Clock::now();
    WriteFile((TheScratch().path / "steps.out").string(),
              archive::BuildArchiveFile(kind, std::span<const TImage_Entry>(store->images.data(), kTextures)));
    save += Clock::now() - t0;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["png_decode_ms"] = Ms(png) / n;
  state.counters["texture_encode_ms"] = Ms(encode) / n;
  state.counters["save_ms"] = Ms(save) / n;
  state.counters["png_share_pct"] = 100.0 * Ms(png) / Ms(png + encode + save);
}
BENCHMARK(BM_PackSteps)->Arg(0)->Arg(1)->ArgName("xvm")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The PNG file names a pack's index.txt lists, in order.
std::vector<std::string> PackPictures(const std::string& index) {
  std::ifstream in(index, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> names;
  for (const imagefile::PackLine& line : imagefile::ParsePackIndex(text)) names.push_back(line.fileName);
  return names;
}

// A copy of the pack of `kind` with every hundredth picture edited (its
// colours inverted): ten edited PNG files among the 1000.
std::string EditedPackIndex(PackageArchiveKind kind) {
  const fs::path source = fs::path(PackIndex(kind)).parent_path();
  const fs::path folder = TheScratch().path / (kind == PackageArchiveKind::Xvm ? "edited_xvm" : "edited_pvm");
  const fs::path index = folder / "index.txt";
  if (fs::exists(index)) return index.string();
  fs::create_directories(folder);
  for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
    fs::copy_file(entry.path(), folder / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
  const std::vector<std::string> names = PackPictures(index.string());
  for (int32_t i = 0; i < kTextures; i += 100) {
    const fs::path png = folder / names[static_cast<size_t>(i)];
    imagefile::RgbaImage picture = imagefile::ReadPngFile(png);
    for (size_t k = 0; k < picture.pixels.size(); ++k) {
      if (k % 4 != 3) picture.pixels[k] = static_cast<uint8_t>(255 - picture.pixels[k]);
    }
    WriteFile(png.string(), imagefile::WritePng(picture));
  }
  return index.string();
}

// `pack INDEX --onto FILE --save OUT` with 10 of 1000 pictures edited, whole
// (load, compare and encode on the pool, save), and its shares: comparing
// every PNG with what unpack writes for its texture (reading and decoding
// the PNG, decoding the texture, stretching, comparing), encoding the ten
// edited ones in their own formats, saving. The shares run on one thread.
// Arguments: 0 PVM, 1 XVM; worker threads of the whole run.
void BM_PackOnto(benchmark::State& state) {
  const PackageArchiveKind kind = KindOf(state);
  const std::string file = ArchiveFile(kind);
  const std::string index = EditedPackIndex(kind);
  const std::string out = (TheScratch().path / "onto").string();
  for (auto _ : state) {
    const auto store = std::make_unique<ImageStore>();
    RecordingFrontEnd ui;
    archive::LoadFile(*store, ui, file);
    imagefile::PackUpdate update;
    try {
      update = imagefile::UpdateFromPack(*store, index, ui, static_cast<int32_t>(state.range(1)));
    } catch (const Error& e) {
      state.SkipWithError(e.what());
      break;
    }
    if (update.updated.size() != 10) state.SkipWithError("not 10 pictures were updated");
    if (!archive::SaveAs(*store, ui, out, SaveKindOf(kind))) state.SkipWithError("the archive was not written");
  }
  // The shares, one pass.
  const auto store = std::make_unique<ImageStore>();
  RecordingFrontEnd ui;
  archive::LoadFile(*store, ui, file);
  const fs::path folder = fs::path(index).parent_path();
  const TargetFamily family = kind == PackageArchiveKind::Xvm ? TargetFamily::XboxBb : TargetFamily::DcPc;
  Clock::duration compare{}, encode{}, save{};
  std::vector<imagefile::RgbaImage> edited;
  std::vector<int32_t> which;
  const std::vector<std::string> names = PackPictures(index);
  for (int32_t i = 0; i < kTextures; ++i) {
    const auto t0 = Clock::now();
    imagefile::RgbaImage png = imagefile::ReadPngFile(folder / names[static_cast<size_t>(i)]);
    const imagefile::RgbaImage stored = imagefile::TextureImage(*store, i);
    if (stored.pixels != png.pixels) {
      edited.push_back(std::move(png));
      which.push_back(i);
    }
    compare += Clock::now() - t0;
  }
  for (size_t k = 0; k < edited.size(); ++k) {
    const auto t0 = Clock::now();
    TImage_Entry& e = store->Entry(which[k]);
    const uint32_t format = texture::KeptFormatWord(family, e.Format);
    texture::RgbaImage pixels = imagefile::PixelsOfPng(edited[k]);
    texture::ToTexelScale(pixels, family, format);
    const texture::EncodedLayout t = texture::EncodeLayout(pixels.View(), family, format);
    store->FillEntryData(e, t.data);
    e.Format = t.format;
    encode += Clock::now() - t0;
  }
  {
    const auto t0 = Clock::now();
    archive::SaveAs(*store, ui, out, SaveKindOf(kind));
    save += Clock::now() - t0;
  }
  const double total = Ms(compare + encode + save);
  state.counters["compare_ms"] = Ms(compare);
  state.counters["encode_ms"] = Ms(encode);
  state.counters["save_ms"] = Ms(save);
  state.counters["compare_pct"] = 100.0 * Ms(compare) / total;
  state.counters["encode_pct"] = 100.0 * Ms(encode) / total;
  state.counters["save_pct"] = 100.0 * Ms(save) / total;
}
BENCHMARK(BM_PackOnto)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"xvm", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// The XVM pack's pictures (PNG files, full range) encoded as DXT1 / DXT3 by
// the family rule with EncodeDxt1 / EncodeDxt3 (the Import and Add encoder)
// and with the fitted encoder, both decoded with bit-repeating end points as
// the consoles' GPUs decode them: PSNR over RGB of the visible pixels (alpha
// above 0) of all 1000 pictures, and the archive bytes of each.
double Psnr(double squared, double samples) {
  return squared == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * samples / squared);
}
void BM_PackS3tcQuality(benchmark::State& state) {
  const std::string index = PackIndex(PackageArchiveKind::Xvm);
  const fs::path folder = fs::path(index).parent_path();
  const std::vector<std::string> names = PackPictures(index);
  double squared[2] = {0, 0};
  double samples = 0;
  int64_t bytes[2] = {0, 0};
  for (auto _ : state) {
    squared[0] = squared[1] = samples = 0;
    bytes[0] = bytes[1] = 0;
    const auto store = std::make_unique<ImageStore>();
    for (int32_t i = 0; i < kTextures; ++i) {
      const texture::RgbaImage picture =
          imagefile::PixelsOfPng(imagefile::ReadPngFile(folder / names[static_cast<size_t>(i)]));
      for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) store->scratch(x, y) = picture.pixels[static_cast<size_t>(y * kSide + x)];
      }
      const texture::EncodedTexture parts = texture::EncodeCanvas(store->scratch, kSide, TargetFamily::XboxBb);
      const texture::EncodedLayout fitted = texture::EncodeLayout(
          picture.View(), TargetFamily::XboxBb, texture::FamilyRuleFormat(TargetFamily::XboxBb, picture.View(), false));
      const std::vector<uint8_t>* data[2] = {&parts.data, &fitted.data};
      const bool dxt3 = (parts.format >> 8) == 7;
      const size_t blockBytes = dxt3 ? 16 : 8;
      for (int k = 0; k < 2; ++k) {
        bytes[k] += static_cast<int64_t>(data[k]->size());
        for (int32_t by = 0; by < kSide / 4; ++by) {
          for (int32_t bx = 0; bx < kSide / 4; ++bx) {
            const uint8_t* block = data[k]->data() + (static_cast<size_t>(by) * (kSide / 4) + bx) * blockBytes;
            const std::array<uint32_t, 16> decoded =
                dxt3 ? test::DecodeReplicatedDxt3Block(block) : test::DecodeReplicatedDxt1Block(block);
            for (int32_t p = 0; p < 16; ++p) {
              const uint32_t want = picture.pixels[static_cast<size_t>((by * 4 + p / 4) * kSide + bx * 4 + p % 4)];
              if ((want >> 24) == 0) continue;
              for (int shift = 0; shift < 24; shift += 8) {
                const double d = static_cast<double>((decoded[static_cast<size_t>(p)] >> shift) & 255) -
                                 static_cast<double>((want >> shift) & 255);
                squared[k] += d * d;
              }
              if (k == 0) samples += 3;
            }
          }
        }
      }
    }
  }
  state.counters["psnr_encode_dxt_db"] = Psnr(squared[0], samples);
  state.counters["psnr_fitted_db"] = Psnr(squared[1], samples);
  state.counters["bytes_encode_dxt"] = static_cast<double>(bytes[0]);
  state.counters["bytes_fitted"] = static_cast<double>(bytes[1]);
}
BENCHMARK(BM_PackS3tcQuality)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
