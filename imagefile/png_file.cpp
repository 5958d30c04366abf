#include "imagefile/png_file.h"

#include <spng.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/byte_io.h"
#include "core/error.h"
#include "core/mapped_file.h"
#include "imagefile/png_row_filter.h"

namespace quarrendel::imagefile {

namespace {

// The 8-byte signature, then the IHDR chunk: length 13 (BE), "IHDR", width
// and height (BE), bit depth, colour type, compression, filter, interlace.
constexpr size_t kIhdrType = 12, kIhdrWidth = 16, kIhdrHeight = 20;
// Each row gets the filter ChoosePngRowFilter picks, and the filtered bytes
// are deflated with run-length matches only (zlib's Z_RLE): on decoded
// textures three to four times as fast as libspng's own filter choice with
// zlib level 3, and the files no larger; photo-like pictures come out about
// 3 % larger.
constexpr int kZlibRunLengthStrategy = 3;
constexpr std::array<int, 5> kFilterChoice = {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_SUB, SPNG_FILTER_CHOICE_UP,
                                              SPNG_FILTER_CHOICE_AVG, SPNG_FILTER_CHOICE_PAETH};

struct ContextFree {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

Context NewContext(int flags) {
  Context ctx(spng_ctx_new(flags));
  if (!ctx) throw Error(ErrorKind::Io, "PNG Error: out of memory.");
  return ctx;
}

std::string SizeText(uint32_t w, uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

[[noreturn]] void Refuse(int rc) {
  if (rc == SPNG_IO_EOF || rc == SPNG_EOF || rc == SPNG_EIDAT_TOO_SHORT) {
    throw Error(ErrorKind::Truncated, "PNG Error: the file is cut short.");
  }
  if (rc == SPNG_ECHUNK_LIMITS) {
    throw Error(ErrorKind::OverCapacity, "PNG Error: the file holds a chunk that unpacks to more than " +
                                             std::to_string(kMaxPngChunkBytes) + " bytes.");
  }
  throw Error(ErrorKind::Corrupt, std::string("PNG Error: the file is damaged (") + spng_strerror(rc) + ").");
}

void Check(int rc) {
  if (rc != 0) Refuse(rc);
}

// The size from the header's bytes, checked before libspng sees the file, so
// an oversized picture is refused with its size and before any allocation.
PngSize HeaderSize(std::span<const uint8_t> file) {
  const ByteReader reader(file);
  if (!reader.MagicAt(0, kPngSignature)) throw Error(ErrorKind::BadMagic, "PNG Error: this file is not a PNG file.", 0);
  if (!reader.HasAt(kIhdrHeight, 4)) throw Error(ErrorKind::Truncated, "PNG Error: the file is cut short.");
  if (!reader.MagicAt(kIhdrType, "IHDR")) {
    throw Error(ErrorKind::Corrupt, "PNG Error: the file is damaged (its first chunk is not IHDR).", kIhdrType);
  }
  const uint32_t w = reader.U32BeAt(kIhdrWidth);
  const uint32_t h = reader.U32BeAt(kIhdrHeight);
  if (w > static_cast<uint32_t>(kMaxPngSide) || h > static_cast<uint32_t>(kMaxPngSide)) {
    throw Error(ErrorKind::OverCapacity, "PNG Error: the picture is " + SizeText(w, h) + " pixels; at most " +
                                             SizeText(kMaxPngSide, kMaxPngSide) + " can be taken.");
  }
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

// libspng ends its walk at the IEND chunk's type; a file cut inside the
// IEND CRC is refused as cut short. The chunks before it were checked.
void RequireWholeEnd(std::span<const uint8_t> file) {
  const ByteReader reader(file);
  size_t at = kPngSignature.size();
  while (reader.HasAt(at, 8)) {
    const uint64_t next = at + uint64_t{12} + reader.U32BeAt(at);
    if (reader.MagicAt(at + 4, "IEND")) {
      if (next <= file.size()) return;
      break;
    }
    at = static_cast<size_t>(std::min<uint64_t>(next, file.size()));
  }
  throw Error(ErrorKind::Truncated, "PNG Error: the file is cut short.");
}

// A decoder over `file` with the limits set and the header read.
Context OpenDecoder(std::span<const uint8_t> file) {
  HeaderSize(file);
  Context ctx = NewContext(0);
  Check(spng_set_image_limits(ctx.get(), kMaxPngSide, kMaxPngSide));
  Check(spng_set_chunk_limits(ctx.get(), kMaxPngChunkBytes, kMaxPngChunkCache));
  Check(spng_set_png_buffer(ctx.get(), file.data(), file.size()));
  spng_ihdr ihdr{};
  Check(spng_get_ihdr(ctx.get(), &ihdr));
  return ctx;
}

}  // namespace

uint32_t RgbaImage::Pixel(int32_t x, int32_t y) const {
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4;
  return pixels[at] | (pixels[at + 1] << 8) | (pixels[at + 2] << 16) | (static_cast<uint32_t>(pixels[at + 3]) << 24);
}

PngSize ReadPngSize(std::span<const uint8_t> file) {
  OpenDecoder(file);  // the header chunk is checked whole, CRC included
  return HeaderSize(file);
}

RgbaImage ReadPng(std::span<const uint8_t> file) {
  const Context ctx = OpenDecoder(file);
  const PngSize size = HeaderSize(file);
  if (size.width == 0 || size.height == 0) Refuse(SPNG_EWIDTH);  // libspng refuses these first
  size_t bytes = 0;
  Check(spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &bytes));
  RgbaImage image{size.width, size.height, {}};
  if (bytes != static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * 4) Refuse(SPNG_EINTERNAL);
  image.pixels.resize(bytes);
  Check(spng_decode_image(ctx.get(), image.pixels.data(), bytes, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS));
  // The chunks after the image, up to IEND: a file cut after its pixel data
  // is refused like one cut inside it.
  Check(spng_decode_chunks(ctx.get()));
  RequireWholeEnd(file);
  return image;
}

std::vector<uint8_t> WritePng(const RgbaImage& image) {
  if (image.width < 1 || image.height < 1 || image.width > kMaxPngSide || image.height > kMaxPngSide) {
    throw Error(ErrorKind::Usage, "PNG Error: a picture of " + SizeText(static_cast<uint32_t>(image.width),
                                                                       static_cast<uint32_t>(image.height)) +
                                      " pixels cannot be written.");
  }
  const size_t bytes = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
  if (image.pixels.size() != bytes) throw Error(ErrorKind::Usage, "PNG Error: the picture's pixels are incomplete.");
  const Context ctx = NewContext(SPNG_CTX_ENCODER);
  Check(spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1));
  Check(spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, kZlibRunLengthStrategy));
  // A filter other than none when the encoder starts, so that it keeps a
  // buffer for filtered rows; the choice is then set row by row.
  Check(spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_SUB));
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(image.width);
  ihdr.height = static_cast<uint32_t>(image.height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  Check(spng_set_ihdr(ctx.get(), &ihdr));
  Check(spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE));
  const size_t stride = static_cast<size_t>(image.width) * 4;
  const std::vector<uint8_t> zeros(stride);
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data() + static_cast<size_t>(y) * stride;
    const uint8_t* above = y == 0 ? zeros.data() : row - stride;
    Check(spng_set_option(ctx.get(), SPNG_FILTER_CHOICE,
                          kFilterChoice[static_cast<size_t>(ChoosePngRowFilter(above, row, stride))]));
    const int rc = spng_encode_row(ctx.get(), row, stride);
    if (rc != 0 && !(rc == SPNG_EOI && y == image.height - 1)) Refuse(rc);
  }
  size_t length = 0;
  int rc = 0;
  const std::unique_ptr<void, decltype(&std::free)> buffer(spng_get_png_buffer(ctx.get(), &length, &rc), &std::free);
  Check(rc);
  if (!buffer) Refuse(SPNG_EINTERNAL);
  const auto* begin = static_cast<const uint8_t*>(buffer.get());
  return std::vector<uint8_t>(begin, begin + length);
}

void CopyIntoCanvas(const RgbaImage& image, Canvas& canvas) {
  const int32_t width = std::min(image.width, Canvas::kSide);
  const int32_t height = std::min(image.height, Canvas::kSide);
  for (int32_t x = 0; x < width; ++x) {
    uint32_t* column = canvas.Column(x);
    for (int32_t y = 0; y < height; ++y) column[y] = image.Pixel(x, y);
  }
}

RgbaImage ReadPngFile(const std::filesystem::path& path) {
  const MappedFile file(path.string(), kMaxPngFileBytes);
  return ReadPng(file.Bytes());
}

}  // namespace quarrendel::imagefile
