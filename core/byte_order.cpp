#include "core/byte_order.h"

#include <utility>

namespace quarrendel {

void SwapDwords(std::span<uint8_t> bytes) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::swap(bytes[i], bytes[i + 3]);
    std::swap(bytes[i + 1], bytes[i + 2]);
  }
}

void ConvertGvmHeader(GvmHeaderRecord& header) {
  std::swap(header[8], header[9]);
  std::swap(header[10], header[11]);
}

void ConvertGvmEntry(GvmEntryRecord& entry) {
  std::swap(entry[0], entry[1]);
  SwapDwords(std::span<uint8_t>(entry).subspan(32, 4));
}

void ConvertGvrtHead(ChunkHeadRecord& head) {
  std::swap(head[8], head[10]);
  std::swap(head[9], head[11]);
  std::swap(head[12], head[13]);
  std::swap(head[14], head[15]);
}

}  // namespace quarrendel
