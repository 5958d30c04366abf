// Reading a whole file that the user chose, with a size limit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace quarrendel::imagefile {

// The bytes of `path`. Throws Error(Io) when it is not a regular file or
// cannot be read, Error(OverCapacity) when it holds more than `limit` bytes
// (tested before anything is read).
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, uint64_t limit);

}  // namespace quarrendel::imagefile
