// Compress then decompress gives the input back; on inputs up to 4 KB the
// hash-chain encoder writes exactly the plain scan's bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "prs/prs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  const std::span<const uint8_t> in(data, size);
  const std::vector<uint8_t> packed = prs::Compress(in);
  if (packed.size() > prs::MaxCompressedSize(size)) std::abort();
  const std::vector<uint8_t> back = prs::Decompress(packed, size);
  if (back.size() != size) std::abort();
  for (size_t k = 0; k < size; ++k) {
    if (back[k] != data[k]) std::abort();
  }
  if (size <= 4096 && prs::CompressReference(in) != packed) std::abort();
  return 0;
}
