// Compress then decompress gives the input back; on the first kilobyte the
// hash-chain encoder writes exactly the plain scan's bytes (the scan is slow:
// a larger slice would cut the fuzzer's speed tenfold).
#include <algorithm>
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
  const std::span<const uint8_t> head = in.first(std::min<size_t>(size, 1024));
  const std::vector<uint8_t> fast = head.size() == size ? packed : prs::Compress(head);
  if (prs::CompressReference(head) != fast) std::abort();
  return 0;
}
