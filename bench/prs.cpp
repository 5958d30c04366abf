// PRS codec speed on generated inputs, the hash-chain encoder next to the
// plain scan it must equal.
//
// Inputs (all from fixed seeds):
//  - texture: 16-bit RGB565 pixels in rows of 256, little-endian. Each channel
//    is a smooth gradient over x and y; green is one step higher on a random
//    half of the pixels; one row in four is a copy of one of the 32 rows before it and
//    one 16 x 16 block in eight repeats the block to its left, as tiles and
//    flat areas do in game textures.
//  - text: words drawn with a skewed (Zipf-like) choice from 400 made-up words
//    of 1-9 letters, with spaces, commas, full stops and line breaks.
//  - random: uniform bytes. zeros: all zero.
//  - binary / quaternary: uniform over 2 or 4 byte values, which makes every
//    hash chain thousands of positions long.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "prs/prs.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Texture(size_t n) {
  std::mt19937 rng(11);
  const size_t width = 256;
  std::vector<uint16_t> px;
  for (size_t y = 0; px.size() * 2 < n; ++y) {
    if (y >= 32 && rng() % 4 == 0) {
      const size_t from = y - 1 - rng() % 32;
      for (size_t x = 0; x < width; ++x) px.push_back(px[from * width + x]);
      continue;
    }
    for (size_t x = 0; x < width; ++x) {
      if (x >= 16 && (x % 16) == 0 && rng() % 8 == 0) {
        for (size_t k = 0; k < 16; ++k) px.push_back(px[y * width + x - 16 + k]);
        x += 15;
        continue;
      }
      const uint32_t r = ((x + y) / 16) & 31;
      const uint32_t g = ((x / 4 + y / 6) + rng() % 2) & 63;
      const uint32_t b = (31 - y / 12) & 31;
      px.push_back(static_cast<uint16_t>((r << 11) | (g << 5) | b));
    }
  }
  Bytes out;
  out.reserve(n);
  for (uint16_t p : px) {
    out.push_back(static_cast<uint8_t>(p));
    out.push_back(static_cast<uint8_t>(p >> 8));
  }
  out.resize(n);
  return out;
}

Bytes Text(size_t n) {
  std::mt19937 rng(12);
  std::vector<std::string> words;
  for (int w = 0; w < 400; ++w) {
    std::string s;
    const int len = 1 + static_cast<int>(rng() % 9);
    for (int k = 0; k < len; ++k) s += static_cast<char>('a' + rng() % 26);
    words.push_back(s);
  }
  Bytes out;
  while (out.size() < n) {
    // Zipf-like: small indexes far more often.
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    const size_t index = static_cast<size_t>(u * u * u * static_cast<double>(words.size()));
    out.insert(out.end(), words[index].begin(), words[index].end());
    const uint32_t r = rng() % 40;
    out.push_back(r == 0 ? '\n' : r == 1 ? '.' : r == 2 ? ',' : ' ');
  }
  out.resize(n);
  return out;
}

Bytes Uniform(size_t n, int symbols, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng() % static_cast<uint32_t>(symbols));
  return out;
}

const Bytes& Input(const std::string& name) {
  static std::map<std::string, Bytes> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Bytes data;
  const size_t mb = 1 << 20;
  if (name == "texture") data = Texture(mb);
  if (name == "text") data = Text(mb);
  if (name == "text4M") data = Text(4 * mb);
  if (name == "random") data = Uniform(mb, 256, 13);
  if (name == "zeros") data = Bytes(mb, 0);
  if (name == "binary256K") data = Uniform(256 * 1024, 2, 14);
  if (name == "quaternary256K") data = Uniform(256 * 1024, 4, 15);
  return cache.emplace(name, std::move(data)).first->second;
}

void Report(benchmark::State& state, const Bytes& in, size_t compressed) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(compressed) / static_cast<double>(in.size());
}

void BM_Compress(benchmark::State& state, const std::string& name) {
  const Bytes& in = Input(name);
  size_t size = 0;
  for (auto _ : state) {
    Bytes out = quarrendel::prs::Compress(in);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, in, size);
}

void BM_CompressReference(benchmark::State& state, const std::string& name) {
  const Bytes& in = Input(name);
  size_t size = 0;
  for (auto _ : state) {
    Bytes out = quarrendel::prs::CompressReference(in);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, in, size);
}

void BM_Decompress(benchmark::State& state, const std::string& name) {
  const Bytes& in = Input(name);
  const Bytes packed = quarrendel::prs::Compress(in);
  Bytes out(in.size());
  for (auto _ : state) {
    const auto r = quarrendel::prs::Decompress(packed, std::span<uint8_t>(out));
    if (!r.Ok() || r.size != in.size()) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, in, packed.size());
}

const char* const kAll[] = {"texture", "text", "random", "zeros", "text4M", "binary256K", "quaternary256K"};

// Each input's fast and plain-scan runs sit next to each other, so the two
// are timed under the same machine load.
int Register() {
  for (const char* name : kAll) {
    const std::string n(name);
    benchmark::RegisterBenchmark(("Compress/" + n).c_str(), BM_Compress, n)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
    benchmark::RegisterBenchmark(("CompressReference/" + n).c_str(), BM_CompressReference, n)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const char* name : kAll) {
    const std::string n(name);
    benchmark::RegisterBenchmark(("Decompress/" + n).c_str(), BM_Decompress, n)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
  }
  return 0;
}

const int kRegistered = Register();

}  // namespace
