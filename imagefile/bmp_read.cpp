#include "imagefile/bmp_read.h"

#include <array>
#include <limits>
#include <string>

#include "core/byte_io.h"
#include "core/error.h"
#include "core/mapped_file.h"

namespace quarrendel::imagefile {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderEnd = 54;  // 14-byte file header + 40-byte information header
constexpr uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;

ByteReader Checked(std::span<const uint8_t> file) {
  ByteReader reader(file);
  if (!reader.MagicAt(0, "BM")) throw Error(ErrorKind::BadMagic, std::string(kNotBmpMessage), 0);
  return reader;
}

[[noreturn]] void Refuse(ErrorKind kind, const std::string& message) { throw Error(kind, message); }

int64_t RowBytes(const BitmapHeader& h) { return int64_t{h.width} * (h.bitsPerPixel / 8); }
// Rows are padded to a multiple of 4 bytes. (For the even widths that Import
// and Add admit this is also (row bytes) mod 4.)
int64_t RowStride(const BitmapHeader& h) { return (RowBytes(h) + 3) / 4 * 4; }

// The rows of a stored height: its size, INT32_MIN cut to INT32_MAX.
int32_t RowCount(int32_t storedHeight) {
  if (storedHeight >= 0) return storedHeight;
  return storedHeight == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max() : -storedHeight;
}

std::string Size(int32_t w, int32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | (g << 8) | (b << 16) | (a << 24); }

}  // namespace

BitmapSize ReadBitmapSize(std::span<const uint8_t> file) {
  const ByteReader reader = Checked(file);
  if (!reader.HasAt(18, 8)) {
    Refuse(ErrorKind::Truncated, "This bitmap file ends inside its header (" + std::to_string(file.size()) +
                                     " bytes).");
  }
  return {static_cast<int32_t>(reader.U32LeAt(18)), RowCount(static_cast<int32_t>(reader.U32LeAt(22)))};
}

BitmapHeader ReadBitmapHeader(std::span<const uint8_t> file) {
  const ByteReader reader = Checked(file);
  if (file.size() < kInfoHeaderEnd) {
    Refuse(ErrorKind::Truncated, "This bitmap file ends inside its header (" + std::to_string(file.size()) +
                                     " bytes).");
  }
  BitmapHeader h;
  h.pixelOffset = reader.U32LeAt(10);
  h.headerSize = reader.U32LeAt(14);
  const uint32_t headerSize = h.headerSize;
  h.width = static_cast<int32_t>(reader.U32LeAt(18));
  const auto storedHeight = static_cast<int32_t>(reader.U32LeAt(22));
  h.height = RowCount(storedHeight);
  h.topDown = storedHeight < 0;
  h.bitsPerPixel = reader.U16LeAt(28);
  h.compression = reader.U32LeAt(30);

  if (headerSize < 40) {
    Refuse(ErrorKind::Unsupported, "This bitmap has an OS/2 header of " + std::to_string(headerSize) +
                                       " bytes, which cannot be read.");
  }
  const uint16_t bits = h.bitsPerPixel;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    Refuse(ErrorKind::Unsupported, "Only 8, 16, 24 and 32-bit bitmaps can be read; this one has " +
                                       std::to_string(bits) + " bits per pixel.");
  }
  const bool masks = (bits == 16 || bits == 32) && (h.compression == kBitFields || h.compression == kAlphaBitFields);
  if (h.compression != kRgb && !masks) {
    Refuse(ErrorKind::Unsupported, "Compressed bitmaps cannot be read (compression " + std::to_string(h.compression) +
                                       ").");
  }
  if (h.width <= 0 || h.height == 0) {
    Refuse(ErrorKind::Corrupt, "This bitmap has no pixels (" + Size(h.width, h.height) + ").");
  }
  if (h.width > kMaxBitmapSide || h.height > kMaxBitmapSide) {
    Refuse(ErrorKind::OverCapacity, "Bitmaps wider or taller than " + std::to_string(kMaxBitmapSide) +
                                        " pixels cannot be read; this one is " + Size(h.width, h.height) + ".");
  }
  if (h.pixelOffset < kInfoHeaderEnd) {
    Refuse(ErrorKind::Corrupt, "This bitmap's pixel data would start at offset " + std::to_string(h.pixelOffset) +
                                   ", inside its header.");
  }
  const int64_t needed = int64_t{h.pixelOffset} + RowStride(h) * (h.height - 1) + RowBytes(h);
  if (static_cast<int64_t>(file.size()) < needed) {
    Refuse(ErrorKind::Truncated, "This bitmap file ends before its last row: it has " + std::to_string(file.size()) +
                                     " bytes of the " + std::to_string(needed) + " its pixels need.");
  }
  if (bits == 16) h.maskWord = reader.U16LeAt(h.pixelOffset - 4);
  return h;
}

void LoadBitmapIntoCanvas(std::span<const uint8_t> file, Canvas& canvas) {
  const BitmapHeader h = ReadBitmapHeader(file);
  const ByteReader reader(file);

  // The colour table follows the information header (40 bytes, or 108 and
  // 124 for the V4 and V5 forms) and has 256 entries; those the file does not
  // hold stay black.
  std::array<uint32_t, 256> table{};
  if (h.bitsPerPixel == 8) {
    const size_t at = kFileHeaderSize + size_t{h.headerSize};
    for (size_t i = 0; i < table.size() && reader.HasAt(at + 4 * i, 4); ++i) {
      const auto e = reader.BytesAt(at + 4 * i, 4);
      table[i] = Rgba(e[2], e[1], e[0], 255);
    }
  }
  const bool alphaBit = h.maskWord == 0x8000;
  const auto rowBytes = static_cast<size_t>(RowBytes(h));
  const auto stride = static_cast<size_t>(RowStride(h));
  for (int32_t i = 0; i < h.height; ++i) {
    const int32_t y = h.topDown ? i : h.height - 1 - i;  // bottom-up: the first row in the file is the bottom one
    const std::span<const uint8_t> row = reader.BytesAt(h.pixelOffset + stride * static_cast<size_t>(i), rowBytes);
    for (int32_t x = 0; x < h.width; ++x) {
      const auto at = static_cast<size_t>(x);
      uint32_t pixel = 0;
      switch (h.bitsPerPixel) {
        case 8: pixel = table[row[at]]; break;
        case 16: {
          const uint32_t v = row[2 * at] | (row[2 * at + 1] << 8);
          pixel = alphaBit ? Rgba(((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3, (v & 0x8000) ? 255 : 0)
                           : Rgba(((v >> 11) & 31) << 3, ((v >> 5) & 63) << 2, (v & 31) << 3, 255);
          break;
        }
        case 24: pixel = Rgba(row[3 * at + 2], row[3 * at + 1], row[3 * at], 255); break;
        default: pixel = Rgba(row[4 * at + 2], row[4 * at + 1], row[4 * at], row[4 * at + 3]); break;
      }
      canvas(x, y) = pixel;
    }
  }
}

BitmapSize ReadBitmapSizeFromFile(const std::filesystem::path& path) {
  const MappedFile file(path.string(), kMaxBitmapFileBytes);
  return ReadBitmapSize(file.Bytes());
}

void LoadBitmapFileIntoCanvas(const std::filesystem::path& path, Canvas& canvas) {
  const MappedFile file(path.string(), kMaxBitmapFileBytes);
  LoadBitmapIntoCanvas(file.Bytes(), canvas);
}

}  // namespace quarrendel::imagefile
