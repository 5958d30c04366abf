// PRS decoder. The control byte and its bit count live in the decoding call,
// so every call starts from a fresh stream. Every command is checked once
// before it touches memory: its data bytes against the input length, a copy's
// distance against the output produced so far, its length against the room
// left in the output.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/image_store.h"
#include "prs/prs.h"

namespace quarrendel::prs {

namespace {

enum class Stop { EndCommand, InputUsed, PastInput, BeforeStart, OutputFull };

struct Outcome {
  Stop stop = Stop::InputUsed;
  size_t size = 0;
  size_t consumed = 0;
  size_t command = 0;   // input offset of the failing command
  size_t distance = 0;  // its distance, for copies reaching before the output
};

// Appends `length` bytes from `distance` bytes back. Byte order matters when
// distance < length: the copy then repeats the last `distance` bytes. Words
// of eight bytes give the same result whenever each word's source lies wholly
// before its destination; a distance below 8 is first widened to a multiple
// of itself, which the repeating output allows once that many bytes exist.
// With `slack` >= 8 spare bytes behind the copy the last word may run over
// them (they are output space not yet produced).
inline void CopyBack(uint8_t* dst, size_t distance, size_t length, size_t slack) {
  if (distance == 1) {
    std::memset(dst, dst[-1], length);
    return;
  }
  size_t k = 0;
  if (distance < 8) {
    const uint8_t* from = dst - distance;
    const size_t wide = distance * ((8 + distance - 1) / distance);
    const size_t head = std::min(length, wide - distance);
    for (; k < head; ++k) dst[k] = from[k];
    distance = wide;  // from here on k >= wide - original distance: dst + k - wide is inside the output
  }
  const auto word = [&](size_t at) {
    uint64_t v;
    std::memcpy(&v, dst + at - distance, 8);
    std::memcpy(dst + at, &v, 8);
  };
  if (slack >= 8) {
    for (; k < length; k += 8) word(k);
    return;
  }
  for (; k + 8 <= length; k += 8) word(k);
  for (; k < length; ++k) *(dst + k) = *(dst + k - distance);
}

Outcome Decode(std::span<const uint8_t> in, std::span<uint8_t> out) {
  const uint8_t* src = in.data();
  const size_t inSize = in.size();
  uint8_t* dst = out.data();
  const size_t cap = out.size();
  size_t ip = 0;
  size_t o = 0;
  uint32_t control = 1;  // bits not yet taken above a marker bit; 1 = empty
  Outcome r;

  const auto fail = [&](Stop why, size_t command) {
    r.stop = why;
    r.size = o;
    r.consumed = ip;
    r.command = command;
    return r;
  };
  // Next control bit. A command starts only while input remains, uses at
  // most four bits and reads them all before its data bytes, so the one
  // control byte it may need lies at its own start, inside the input.
  const auto bit = [&]() -> uint32_t {
    if (control == 1) control = 0x100u | src[ip++];
    const uint32_t b = control & 1u;
    control >>= 1;
    return b;
  };

  while (ip < inSize) {
    const size_t command = ip;
    if (bit() == 1) {
      if (ip >= inSize) return fail(Stop::PastInput, command);
      if (o >= cap) return fail(Stop::OutputFull, command);
      dst[o++] = src[ip++];
      continue;
    }
    size_t distance;
    size_t length;
    if (bit() == 1) {
      if (inSize - ip < 2) return fail(Stop::PastInput, command);
      const uint32_t w = static_cast<uint32_t>(src[ip]) | (static_cast<uint32_t>(src[ip + 1]) << 8);
      ip += 2;
      if (w == 0) {
        r.stop = Stop::EndCommand;
        r.size = o;
        r.consumed = ip;
        return r;
      }
      distance = 8192 - (w >> 3);
      if ((w & 7u) != 0) {
        length = (w & 7u) + 2;
      } else {
        if (ip >= inSize) return fail(Stop::PastInput, command);
        length = static_cast<size_t>(src[ip++]) + 1;
      }
    } else {
      const uint32_t h = bit();
      const uint32_t l = bit();
      if (ip >= inSize) return fail(Stop::PastInput, command);
      length = 2 * h + l + 2;
      distance = 256 - static_cast<size_t>(src[ip++]);
    }
    if (distance > o) {
      r.distance = distance;
      return fail(Stop::BeforeStart, command);
    }
    if (length > cap - o) return fail(Stop::OutputFull, command);
    CopyBack(dst + o, distance, length, cap - o - length);
    o += length;
  }
  r.stop = Stop::InputUsed;
  r.size = o;
  r.consumed = ip;
  return r;
}

DecompressResult ToResult(const Outcome& r, size_t inSize, size_t cap) {
  DecompressResult result;
  result.size = r.size;
  result.consumed = r.consumed;
  const std::string command = "the command at offset " + std::to_string(r.command);
  const auto offset = static_cast<int64_t>(r.command);
  switch (r.stop) {
    case Stop::EndCommand:
      result.end = StreamEnd::EndCommand;
      break;
    case Stop::InputUsed:
      result.end = StreamEnd::InputUsed;
      break;
    case Stop::PastInput:
      result.end = StreamEnd::InputCut;
      result.error = Error(ErrorKind::Truncated,
                           "PRS stream is cut short: " + command + " needs bytes past the end of the " +
                               std::to_string(inSize) + "-byte input",
                           offset);
      break;
    case Stop::BeforeStart:
      result.end = StreamEnd::BeforeStart;
      result.error = Error(ErrorKind::Corrupt,
                           "PRS stream is corrupt: " + command + " copies from " + std::to_string(r.distance) +
                               " bytes back at output offset " + std::to_string(r.size) +
                               ", before the start of the output",
                           offset);
      break;
    case Stop::OutputFull:
      result.end = StreamEnd::OutputFull;
      result.error = Error(ErrorKind::OverCapacity,
                           "PRS stream unpacks to more than " + std::to_string(cap) +
                               " bytes, the most that can be handled",
                           offset);
      break;
  }
  return result;
}

// Decodes into a vector grown up to `maxOutput` bytes; throws the error of a
// bad stream and tells where a good one ended.
std::vector<uint8_t> DecodeGrowing(std::span<const uint8_t> in, size_t maxOutput, StreamEnd& end) {
  // Start from a guess and grow: most streams expand a few times, and a full
  // maxOutput-sized buffer would cost more than decoding small inputs.
  size_t cap = std::min(maxOutput, std::max<size_t>(4096, in.size() * 8));
  std::vector<uint8_t> out;
  for (;;) {
    out.resize(cap);
    const Outcome r = Decode(in, out);
    if (r.stop == Stop::OutputFull && cap < maxOutput) {
      cap = cap > maxOutput / 4 ? maxOutput : cap * 4;
      continue;
    }
    DecompressResult result = ToResult(r, in.size(), cap);
    if (result.error) throw *result.error;
    end = result.end;
    out.resize(result.size);
    return out;
  }
}

}  // namespace

DecompressResult Decompress(std::span<const uint8_t> in, std::span<uint8_t> out) {
  return ToResult(Decode(in, out), in.size(), out.size());
}

std::vector<uint8_t> Decompress(std::span<const uint8_t> in, size_t maxOutput) {
  StreamEnd end;
  return DecodeGrowing(in, maxOutput, end);
}

std::vector<uint8_t> DecompressWhole(std::span<const uint8_t> in, size_t maxOutput) {
  StreamEnd end;
  std::vector<uint8_t> out = DecodeGrowing(in, maxOutput, end);
  if (end != StreamEnd::EndCommand) {
    throw Error(ErrorKind::Truncated,
                "PRS stream is cut short: its " + std::to_string(in.size()) + " bytes end before the end command",
                static_cast<int64_t>(in.size()));
  }
  return out;
}

DecompressResult DecompressBuffers(ImageStore& store, int32_t compressedLength) {
  if (compressedLength > kBufferSize) {
    DecompressResult result;
    result.error = Error(ErrorKind::OverCapacity,
                         "PRS stream of " + std::to_string(compressedLength) +
                             " bytes is larger than the " + std::to_string(kBufferSize) +
                             "-byte input buffer");
    return result;
  }
  const size_t length = compressedLength > 0 ? static_cast<size_t>(compressedLength) : 0;
  DecompressResult result = Decompress(store.input.First(length), store.output.Span());
  store.readCursor = static_cast<int32_t>(result.consumed);
  return result;
}

}  // namespace quarrendel::prs
