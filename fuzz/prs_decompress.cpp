// Arbitrary bytes as a PRS stream: decoding must stay inside its buffers,
// report each way a stream can stop with its own error kind, and agree
// between its three forms.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "prs/prs.h"

namespace {

quarrendel::ErrorKind KindOf(quarrendel::prs::StreamEnd end) {
  using quarrendel::ErrorKind;
  using quarrendel::prs::StreamEnd;
  switch (end) {
    case StreamEnd::InputCut: return ErrorKind::Truncated;
    case StreamEnd::BeforeStart: return ErrorKind::Corrupt;
    case StreamEnd::OutputFull: return ErrorKind::OverCapacity;
    default: std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quarrendel;
  const std::span<const uint8_t> in(data, size);
  // A small output buffer so that overflowing it is easy to reach.
  std::vector<uint8_t> out(1 << 16);
  const prs::DecompressResult r = prs::Decompress(in, std::span<uint8_t>(out));
  if (r.size > out.size() || r.consumed > size) std::abort();
  const bool good = r.end == prs::StreamEnd::EndCommand || r.end == prs::StreamEnd::InputUsed;
  if (good != r.Ok()) std::abort();
  if (r.error && r.error->Kind() != KindOf(r.end)) std::abort();
  try {
    const std::vector<uint8_t> whole = prs::Decompress(in, out.size());
    if (!r.Ok() || whole.size() != r.size) std::abort();
    for (size_t k = 0; k < whole.size(); ++k) {
      if (whole[k] != out[k]) std::abort();
    }
  } catch (const Error& e) {
    if (r.Ok() || e.Kind() != r.error->Kind()) std::abort();
  }
  try {
    prs::DecompressWhole(in, out.size());
    if (r.end != prs::StreamEnd::EndCommand) std::abort();
  } catch (const Error&) {
    if (r.end == prs::StreamEnd::EndCommand) std::abort();
  }
  return 0;
}
