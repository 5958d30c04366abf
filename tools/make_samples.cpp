// make_samples [FOLDER]: writes the sample archives into FOLDER (default "samples").
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/sample_archives.h"

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "samples";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (const auto& sample : quarrendel::tools::MakeSamples()) {
    const auto path = folder / sample.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(sample.bytes.data()), static_cast<std::streamsize>(sample.bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), sample.bytes.size());
  }
  return 0;
}
