// The smallest stream decompresses to the input, also through a decoder that
// ends the stream at a long copy with a zero offset field (as the games'
// decoders do), and is never larger than the greedy stream.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "prs/prs.h"
#include "tests/support/zero_offset_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  const std::span<const uint8_t> in(data, size);
  const std::vector<uint8_t> best = prs::CompressBest(in);
  if (best.size() > prs::Compress(in).size()) std::abort();
  const std::vector<uint8_t> back = prs::Decompress(best, size);
  if (back.size() != size) std::abort();
  for (size_t k = 0; k < size; ++k) {
    if (back[k] != data[k]) std::abort();
  }
  const test::ZeroOffsetDecoded game = test::DecodeStoppingAtZeroOffset(best, size + 1);
  if (!game.ended || game.out != back) std::abort();
  return 0;
}
