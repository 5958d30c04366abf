// PRS codec speed on generated inputs: the greedy encoder next to the plain
// scan it must equal and to zlib level 1 as a yardstick, and the smallest
// stream (CompressBest) next to the greedy one; "ratio" is the compressed
// size over the input size.
//
// Inputs (all from fixed seeds):
//  - texture: 16-bit RGB565 pixels in rows of 256, little-endian. Each channel
//    is a smooth gradient over x and y; green is one step higher on a random
//    half of the pixels; one row in four is a copy of one of the 32 rows before it and
//    one 16 x 16 block in eight repeats the block to its left, as tiles and
//    flat areas do in game textures.
//  - text: words drawn with a skewed (Zipf-like) choice from 400 made-up words
//    of 1-9 letters, with spaces, commas, full stops, line breaks and now and
//    then a number of 1-4 digits, as in quest scripts and text tables.
//  - english: sentences built from a small grammar over a few hundred common
//    English words, capitalised, with commas, numbers and paragraphs, wrapped
//    at 72 columns.
//  - random: uniform bytes. zeros: all zero.
//  - binary / quaternary: uniform over 2 or 4 byte values, which makes every
//    hash chain thousands of positions long.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
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
    if (r == 3) {
      const std::string number = std::to_string(rng() % (rng() % 2 ? 10000 : 100));
      out.push_back(' ');
      out.insert(out.end(), number.begin(), number.end());
    }
    out.push_back(r == 0 ? '\n' : r == 1 ? '.' : r == 2 ? ',' : ' ');
  }
  out.resize(n);
  return out;
}

// Picks from `list` with a skew towards its first entries, as word
// frequencies fall off in real text.
class Chooser {
 public:
  explicit Chooser(uint32_t seed) : rng_(seed) {}
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    return list[static_cast<size_t>(u * u * static_cast<double>(N))];
  }
  bool Chance(int percent) { return static_cast<int>(rng_() % 100) < percent; }
  uint32_t Below(uint32_t n) { return rng_() % n; }

 private:
  std::mt19937 rng_;
};

const char* const kDeterminers[] = {"the", "a", "his", "her", "their", "this", "that", "every", "no", "some",
                                    "our", "its", "each", "another", "my", "your"};
const char* const kAdjectives[] = {
    "old", "little", "great", "small", "long", "young", "dark", "good", "last", "white", "strange", "whole",
    "black", "cold", "certain", "quiet", "poor", "early", "open", "deep", "heavy", "bright", "narrow",
    "gentle", "ancient", "sudden", "distant", "empty", "broken", "green", "silent", "curious", "wide",
    "careful", "proud", "tired", "golden", "hidden", "common", "familiar", "wooden", "pale", "hollow",
    "bitter", "simple", "patient", "crowded", "restless", "ordinary", "shallow"};
const char* const kNouns[] = {
    "man", "house", "day", "way", "world", "woman", "door", "hand", "night", "time", "room", "eyes",
    "face", "road", "voice", "water", "light", "town", "river", "boy", "girl", "window", "letter",
    "garden", "morning", "father", "mother", "table", "ship", "wall", "street", "field", "fire", "horse",
    "friend", "church", "master", "sea", "heart", "king", "city", "mind", "question", "money", "moment",
    "village", "hill", "bridge", "captain", "doctor", "stranger", "evening", "book", "paper", "bed",
    "station", "island", "forest", "kitchen", "cottage", "lamp", "shadow", "garden", "promise", "stair",
    "carriage", "servant", "corner", "market", "harbour", "mountain", "journey", "silence", "story"};
const char* const kVerbs[] = {
    "said", "saw", "took", "found", "came", "went", "looked", "knew", "thought", "turned", "gave",
    "left", "heard", "stood", "felt", "kept", "brought", "walked", "opened", "followed", "watched",
    "carried", "remembered", "reached", "passed", "closed", "noticed", "answered", "pulled", "crossed",
    "wrote", "held", "lost", "touched", "covered", "entered", "promised", "believed", "lifted", "waited"};
const char* const kAdverbs[] = {"slowly", "again", "quickly", "once", "never", "still", "suddenly", "quietly",
                                "almost", "already", "always", "perhaps", "only", "softly", "at last",
                                "at once", "for a while", "without a word"};
const char* const kPrepositions[] = {"of", "in", "to", "on", "at", "from", "with", "by", "into", "over",
                                     "across", "through", "under", "behind", "towards", "beside", "near",
                                     "along", "beyond", "against"};
const char* const kPronouns[] = {"he", "she", "they", "it", "we", "I", "you", "nobody", "everyone"};
const char* const kNames[] = {"Mr. Harding", "Mrs. Elwood", "Thomas", "Margaret", "the old captain",
                              "Doctor Pell", "Anne", "young Gregory", "Miss Vane", "the Reverend Ashby"};
const char* const kConjunctions[] = {"and", "but", "so", "while", "because", "when", "although", "until",
                                     "as", "and then"};
const char* const kNumbers[] = {"two", "three", "four", "ten", "twenty", "a hundred", "five", "six"};
const char* const kUnits[] = {"miles", "years", "days", "hours", "minutes", "pounds", "feet", "weeks"};

// Appends a space (unless `s` is empty) and `word`.
void Add(std::string& s, std::string_view word) {
  if (!s.empty()) s += ' ';
  s.append(word);
}

std::string NounPhrase(Chooser& c) {
  std::string s;
  if (c.Chance(20)) {
    Add(s, c.Pick(kPronouns));
  } else if (c.Chance(8)) {
    Add(s, c.Pick(kNames));
  } else if (c.Chance(5)) {
    Add(s, c.Pick(kNumbers));
    Add(s, c.Pick(kUnits));
  } else {
    Add(s, c.Pick(kDeterminers));
    if (c.Chance(45)) Add(s, c.Pick(kAdjectives));
    Add(s, c.Pick(kNouns));
    if (c.Chance(20)) {
      Add(s, c.Pick(kPrepositions));
      Add(s, c.Pick(kDeterminers));
      Add(s, c.Pick(kNouns));
    }
  }
  return s;
}

std::string Clause(Chooser& c) {
  std::string s = NounPhrase(c);
  if (c.Chance(15)) Add(s, c.Pick(kAdverbs));
  Add(s, c.Pick(kVerbs));
  if (c.Chance(70)) Add(s, NounPhrase(c));
  if (c.Chance(40)) {
    Add(s, c.Pick(kPrepositions));
    Add(s, NounPhrase(c));
  }
  if (c.Chance(5)) {
    Add(s, "in");
    Add(s, std::to_string(1800 + c.Below(120)));
  }
  return s;
}

// English-looking prose: sentences of one to three clauses, paragraphs of
// three to eight sentences, lines wrapped at 72 columns.
Bytes English(size_t n) {
  Chooser c(16);
  std::string text;
  size_t column = 0;
  while (text.size() < n) {
    const uint32_t sentences = 3 + c.Below(6);
    for (uint32_t k = 0; k < sentences; ++k) {
      std::string sentence = Clause(c);
      const uint32_t more = c.Below(3);
      for (uint32_t m = 0; m < more; ++m) {
        if (c.Chance(60)) sentence += ',';
        Add(sentence, c.Pick(kConjunctions));
        Add(sentence, Clause(c));
      }
      sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
      if (c.Chance(10)) {
        sentence.insert(0, 1, '"');
        sentence += ",\"";
        Add(sentence, c.Pick(kPronouns));
        Add(sentence, "said");
      }
      sentence += c.Chance(8) ? "?" : c.Chance(5) ? "!" : ".";
      // Wrap word by word.
      size_t from = 0;
      while (from < sentence.size()) {
        size_t to = sentence.find(' ', from);
        if (to == std::string::npos) to = sentence.size();
        const size_t len = to - from;
        if (column > 0 && column + 1 + len > 72) {
          text += '\n';
          column = 0;
        } else if (column > 0) {
          text += ' ';
          ++column;
        }
        text.append(sentence, from, len);
        column += len;
        from = to + 1;
      }
    }
    text += "\n\n";
    column = 0;
  }
  text.resize(n);
  return Bytes(text.begin(), text.end());
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
  if (name == "texture4M") data = Texture(4 * mb);
  if (name == "text") data = Text(mb);
  if (name == "text4M") data = Text(4 * mb);
  if (name == "english4M") data = English(4 * mb);
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

template <class Codec>
void BM_Pack(benchmark::State& state, const std::string& name, Codec codec) {
  const Bytes& in = Input(name);
  size_t size = 0;
  for (auto _ : state) {
    Bytes out = codec(in);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, in, size);
}

Bytes Greedy(const Bytes& in) { return quarrendel::prs::Compress(in); }
Bytes Best(const Bytes& in) { return quarrendel::prs::CompressBest(in); }
Bytes Reference(const Bytes& in) { return quarrendel::prs::CompressReference(in); }

// zlib's fastest level, the yardstick for the greedy encoder's speed.
Bytes ZlibLevel1(const Bytes& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 1) != Z_OK) return {};
  out.resize(size);
  return out;
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

struct Row {
  const char* name;
  bool reference;  // also time the plain scan (slow: once)
  bool decompress;
  bool best;  // also time the smallest stream
};

const Row kInputs[] = {{"texture", true, true, true},        {"texture4M", false, false, false},
                       {"text", true, true, true},           {"text4M", true, false, false},
                       {"english4M", false, false, false},   {"random", true, true, true},
                       {"zeros", true, true, false},         {"binary256K", true, false, false},
                       {"quaternary256K", true, false, false}};

// Each input's runs sit next to each other, so they are timed under the same
// machine load.
int Register() {
  for (const Row& row : kInputs) {
    const std::string n(row.name);
    benchmark::RegisterBenchmark(("Compress/" + n).c_str(), BM_Pack<decltype(&Greedy)>, n, &Greedy)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
    benchmark::RegisterBenchmark(("ZlibLevel1/" + n).c_str(), BM_Pack<decltype(&ZlibLevel1)>, n, &ZlibLevel1)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
    if (row.best) {
      benchmark::RegisterBenchmark(("CompressBest/" + n).c_str(), BM_Pack<decltype(&Best)>, n, &Best)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.5);
    }
    if (row.reference) {
      benchmark::RegisterBenchmark(("CompressReference/" + n).c_str(), BM_Pack<decltype(&Reference)>, n,
                                   &Reference)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
  }
  for (const Row& row : kInputs) {
    if (!row.decompress) continue;
    const std::string n(row.name);
    benchmark::RegisterBenchmark(("Decompress/" + n).c_str(), BM_Decompress, n)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5);
  }
  return 0;
}

const int kRegistered = Register();

}  // namespace
