// Arbitrary bytes as a PRS stream: decoding must stay inside its buffers,
// report bad streams as Corrupt, and agree between its two forms.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "prs/prs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  const std::span<const uint8_t> in(data, size);
  // A small output buffer so that overflowing it is easy to reach.
  std::vector<uint8_t> out(1 << 16);
  const prs::DecompressResult r = prs::Decompress(in, std::span<uint8_t>(out));
  if (r.size > out.size() || r.consumed > size) std::abort();
  if (r.error && r.error->Kind() != ErrorKind::Corrupt) std::abort();
  try {
    const std::vector<uint8_t> whole = prs::Decompress(in, out.size());
    if (!r.Ok() || whole.size() != r.size) std::abort();
    for (size_t k = 0; k < whole.size(); ++k) {
      if (whole[k] != out[k]) std::abort();
    }
  } catch (const Error& e) {
    if (r.Ok() || e.Kind() != ErrorKind::Corrupt) std::abort();
  }
  return 0;
}
