#include "imagefile/png_file.h"

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/byte_io.h"
#include "core/error.h"
#include "core/mapped_file.h"
#include "imagefile/checksum.h"
#include "imagefile/png_deflate.h"
#include "imagefile/png_row_filter.h"

namespace quarrendel::imagefile {

namespace {

// The 8-byte signature, then the IHDR chunk: length 13 (BE), "IHDR", width
// and height (BE), bit depth, colour type, compression, filter, interlace.
constexpr size_t kIhdrType = 12, kIhdrWidth = 16, kIhdrHeight = 20;
// Written files have one IDAT chunk: each row gets the filter
// ChoosePngRowFilter picks and the filtered rows are deflated by
// AppendZlibStream, which looks for repeats a row and a pixel back.
constexpr uint8_t kColourTypeRgba = 6;

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
  // The image data: each row's filter type, then the row filtered.
  const size_t stride = static_cast<size_t>(image.width) * 4;
  std::vector<uint8_t> filtered((stride + 1) * static_cast<size_t>(image.height));
  const std::vector<uint8_t> zeros(stride);
  for (size_t y = 0; y < static_cast<size_t>(image.height); ++y) {
    const uint8_t* row = image.pixels.data() + y * stride;
    const uint8_t* above = y == 0 ? zeros.data() : row - stride;
    const int32_t filter = ChoosePngRowFilter(above, row, stride);
    uint8_t* out = filtered.data() + y * (stride + 1);
    out[0] = static_cast<uint8_t>(filter);
    ApplyPngRowFilter(filter, above, row, stride, out + 1);
  }
  std::vector<uint8_t> png;
  png.reserve(filtered.size() / 2 + 64);
  // Each chunk: its data's length (BE), its type, the data, and the CRC-32
  // of type and data.
  const auto endChunk = [&png](size_t start) {
    ByteWriter writer(png);
    writer.Seek(start);
    writer.U32Be(static_cast<uint32_t>(png.size() - start - 8));
    writer.Seek(png.size());
    writer.U32Be(Crc32(std::span<const uint8_t>(png).subspan(start + 4)));
  };
  ByteWriter writer(png);
  writer.Magic(kPngSignature);
  writer.U32Be(0);
  writer.Magic("IHDR");
  writer.U32Be(static_cast<uint32_t>(image.width));
  writer.U32Be(static_cast<uint32_t>(image.height));
  for (const uint8_t v : {uint8_t{8}, kColourTypeRgba, uint8_t{0}, uint8_t{0}, uint8_t{0}}) writer.U8(v);
  endChunk(kPngSignature.size());
  const size_t idat = png.size();
  ByteWriter(png).U32Be(0);
  ByteWriter(png).Magic("IDAT");
  AppendZlibStream(filtered, stride + 1, png);
  endChunk(idat);
  const size_t iend = png.size();
  ByteWriter(png).U32Be(0);
  ByteWriter(png).Magic("IEND");
  endChunk(iend);
  return png;
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
