#include "imagefile/file_read.h"

#include <fstream>
#include <string>
#include <system_error>

#include "core/error.h"

namespace quarrendel::imagefile {

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, uint64_t limit) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::is_regular_file(status)) {
    throw Error(ErrorKind::Io, "\"" + path.string() + "\" is not a file that can be read.");
  }
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw Error(ErrorKind::Io, "The size of \"" + path.string() + "\" cannot be read.");
  if (size > limit) {
    throw Error(ErrorKind::OverCapacity, "\"" + path.string() + "\" is " + std::to_string(size) +
                                             " bytes long; at most " + std::to_string(limit) + " bytes can be read.");
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    throw Error(ErrorKind::Io, "\"" + path.string() + "\" cannot be read.");
  }
  return bytes;
}

}  // namespace quarrendel::imagefile
