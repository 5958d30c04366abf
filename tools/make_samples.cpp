// make_samples [FOLDER]: writes the sample archives into FOLDER (default "samples").
#include <cstdio>
#include <filesystem>

#include "core/error.h"
#include "core/file_writer.h"
#include "tools/sample_archives.h"

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "samples";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (const auto& sample : quarrendel::tools::MakeSamples()) {
    const auto path = (folder / sample.name).string();
    try {
      quarrendel::WriteFile(path, sample.bytes);
    } catch (const quarrendel::Error& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), sample.bytes.size());
  }
  return 0;
}
