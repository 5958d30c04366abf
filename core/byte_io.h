// Bounds-checked access to file bytes. Every parser reads through ByteReader
// and every writer through ByteWriter: each field is fetched with an explicit
// byte order, and a read or write past the end throws Error(Truncated) with
// the offset instead of touching memory outside the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace quarrendel {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> data, int64_t baseOffset = 0)
      : data_(data), base_(baseOffset) {}

  size_t Size() const { return data_.size(); }
  size_t Tell() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ >= data_.size(); }
  // True when `count` more bytes can be read from the cursor.
  bool Has(size_t count) const { return count <= Remaining(); }
  // True when [offset, offset + count) lies inside the data.
  bool HasAt(size_t offset, size_t count) const {
    return offset <= data_.size() && count <= data_.size() - offset;
  }

  void Seek(size_t offset);  // offset may equal Size()
  void Skip(size_t count);

  uint8_t U8();
  uint16_t U16Le();
  uint16_t U16Be();
  uint32_t U32Le();
  uint32_t U32Be();
  std::span<const uint8_t> Bytes(size_t count);
  // Up to `count` bytes of text, ending at the first zero byte; always consumes `count`.
  std::string FixedText(size_t count);

  // Random access without moving the cursor.
  uint8_t U8At(size_t offset) const;
  uint16_t U16LeAt(size_t offset) const;
  uint16_t U16BeAt(size_t offset) const;
  uint32_t U32LeAt(size_t offset) const;
  uint32_t U32BeAt(size_t offset) const;
  std::span<const uint8_t> BytesAt(size_t offset, size_t count) const;
  // True when the bytes at `offset` equal `magic` (false when they run past the end).
  bool MagicAt(size_t offset, std::string_view magic) const;

  // A reader over [offset, offset + length) whose error offsets count from this reader's base.
  ByteReader Sub(size_t offset, size_t length) const;
  std::span<const uint8_t> Data() const { return data_; }

 private:
  [[noreturn]] void Fail(size_t offset, size_t count) const;
  // What `at` reads at the cursor; the cursor then moves past its `count` bytes.
  template <typename T>
  T Advance(T (ByteReader::*at)(size_t) const, size_t count);
  void Need(size_t offset, size_t count) const {
    if (!HasAt(offset, count)) Fail(offset, count);
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  int64_t base_ = 0;
};

// Writes into a fixed span (for example the output buffer) or into a growable
// vector. The span form never writes past its end: it throws Error(OverCapacity).
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : vec_(&out), pos_(out.size()) {}
  explicit ByteWriter(std::span<uint8_t> fixed) : fixed_(fixed) {}

  size_t Tell() const { return pos_; }
  void Seek(size_t offset);  // beyond the end of a vector it grows with zeros

  void U8(uint8_t v);
  void U16Le(uint16_t v);
  void U16Be(uint16_t v);
  void U32Le(uint32_t v);
  void U32Be(uint32_t v);
  void U16LeWords(std::span<const uint16_t> words);
  void Bytes(std::span<const uint8_t> bytes);
  void Zeros(size_t count);
  // `text` truncated or zero-padded to exactly `count` bytes.
  void FixedText(std::string_view text, size_t count);
  void Magic(std::string_view magic) { FixedText(magic, magic.size()); }

 private:
  uint8_t* Reserve(size_t count);

  std::vector<uint8_t>* vec_ = nullptr;
  std::span<uint8_t> fixed_;
  size_t pos_ = 0;
};

}  // namespace quarrendel
