// PRS: the LZ77-style compression of the games' texture archives (whole
// ".prs" files, packed AFS members, the archives inside BML packages).
//
// Stream: commands led by control bits that come from control bytes, lowest
// bit first; a control byte is taken from the stream when a bit is needed and
// the previous byte's eight bits are used up, so control bytes also sit
// between a command's bits and its data bytes.
//   1            + v          literal v
//   0 1          + lo hi      w = hi:lo; w == 0 ends the stream; otherwise a
//                             copy from 8192 - (w >> 3) bytes back, of
//                             (w & 7) + 2 bytes, or when (w & 7) == 0 of
//                             n + 1 bytes with n a third byte
//   0 0 h l      + b          copy of 2h + l + 2 bytes from 256 - b bytes back
// A copy longer than its distance repeats the last `distance` bytes.
//
// The encoder is greedy over an 8191-byte window with copies of up to 256
// bytes, taking at every position the nearest of the longest matches; its
// output is fully determined by those rules, so every encoder that follows
// them writes the same bytes. Compress() finds the matches with hash chains
// (prs/match_finder.h); CompressReference() scans every candidate and serves
// as the yardstick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/capacity.h"
#include "core/error.h"

namespace quarrendel {
class ImageStore;
}

namespace quarrendel::prs {

inline constexpr int32_t kWindow = 8191;    // farthest distance the encoder uses
inline constexpr int32_t kMaxCopy = 256;    // longest copy
inline constexpr int32_t kMaxShortDistance = 255;

// Where decoding stopped.
enum class StreamEnd {
  EndCommand,   // at the end command: the stream is whole
  InputUsed,    // every input byte was used, between two commands, before any end command
  InputCut,     // the input ends inside a command (Error(Truncated))
  BeforeStart,  // a copy reaches before the start of the output (Error(Corrupt))
  OutputFull,   // the output would pass the end of its buffer (Error(OverCapacity))
};

struct DecompressResult {
  size_t size = 0;      // output bytes produced (up to the failing command on error)
  size_t consumed = 0;  // input bytes read
  StreamEnd end = StreamEnd::InputUsed;
  std::optional<Error> error;  // set for InputCut, BeforeStart, OutputFull (and a bad length)

  bool Ok() const { return !error.has_value(); }
  // True when the input ran out before the end command, between commands or inside one.
  bool EndsEarly() const { return end == StreamEnd::InputUsed || end == StreamEnd::InputCut; }
};

// Decodes `in` into `out` from offset 0. Stops at the end command or when all
// of `in` has been read; bytes after the end command are ignored. A command
// needing bytes past the end of `in`, a copy reaching before the start of the
// output, or output beyond `out` stop decoding with an error; the bytes
// produced before it stay in `out`. Copies may write a few bytes of scratch
// past the produced bytes (never past the end of `out`).
DecompressResult Decompress(std::span<const uint8_t> in, std::span<uint8_t> out);

// The same into a new vector of at most `maxOutput` bytes; throws the error.
// A stream without an end command that uses its input exactly is accepted.
std::vector<uint8_t> Decompress(std::span<const uint8_t> in, size_t maxOutput = kBufferSize);

// The same for a whole file, which must hold one complete stream: a stream
// that ends before its end command is refused too (Error(Truncated)).
std::vector<uint8_t> DecompressWhole(std::span<const uint8_t> in, size_t maxOutput = kBufferSize);

// Largest stream the encoder can write for `n` input bytes (all literals).
size_t MaxCompressedSize(size_t n);

// Encodes `in`. Throws Error(OverCapacity) when `in` is larger than the
// buffers or the stream would grow beyond `maxOutput` bytes.
std::vector<uint8_t> Compress(std::span<const uint8_t> in, size_t maxOutput = kBufferSize);

// The smallest stream for `in` that every decoder reads (an optimal parse over
// every literal and copy of the format, priced in exact output bits, with no
// long copy from 8192 bytes back: its offset field would be 0, which game
// decoders take for the end of the stream). Never larger than the greedy
// stream that Compress() writes, and several times slower; for data that
// must fit a fixed size. Throws as Compress() does.
std::vector<uint8_t> CompressBest(std::span<const uint8_t> in, size_t maxOutput = kBufferSize);

// The greedy stream, found by scanning all 8191 candidates at every position.
// Slow; kept as the definition that Compress() is checked against.
std::vector<uint8_t> CompressReference(std::span<const uint8_t> in, size_t maxOutput = kBufferSize);

// Decompresses store.input[0, compressedLength) into store.output and sets
// store.readCursor after the last byte read. A length of 0 or less gives no
// output; one beyond the input buffer is reported as Error(OverCapacity).
DecompressResult DecompressBuffers(ImageStore& store, int32_t compressedLength);

// Compresses store.input[0, length) into store.output, sets store.readCursor
// to the compressed length and returns it. A length of 0 or less writes the
// empty stream. Throws Error(OverCapacity) when length exceeds the input
// buffer or the stream would not fit the output buffer; the output buffer and
// the read cursor are then left as they were.
int32_t CompressBuffers(ImageStore& store, int32_t length);

}  // namespace quarrendel::prs
