// index.txt of a texture pack on arbitrary bytes: no crash; a message quotes
// the file's text without a control byte (nothing reaches a terminal as an
// escape sequence, no NUL cuts it); lines that parse name a file of the pack's
// folder and come back the same through FormatPackIndex, format word included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "imagefile/texture_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<imagefile::PackLine> lines;
  try {
    lines = imagefile::ParsePackIndex(text);
  } catch (const Error& e) {
    for (const char c : std::string_view(e.what())) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }
    return 0;
  }
  for (const imagefile::PackLine& line : lines) {
    if (line.fileName.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) std::abort();
  }
  const std::vector<imagefile::PackLine> again = imagefile::ParsePackIndex(imagefile::FormatPackIndex(lines));
  if (again.size() != lines.size()) std::abort();
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto& a = lines[i];
    const auto& b = again[i];
    if (a.globalIndex != b.globalIndex || a.fileName != b.fileName || a.width != b.width || a.height != b.height ||
        a.format != b.format) {
      std::abort();
    }
  }
  return 0;
}
