#include "core/byte_io.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quarrendel {

void ByteReader::Fail(size_t offset, size_t count) const {
  const int64_t at = base_ + static_cast<int64_t>(offset);
  throw Error(ErrorKind::Truncated,
              "data ends at offset " + std::to_string(base_ + static_cast<int64_t>(data_.size())) +
                  " while reading " + std::to_string(count) + " bytes at offset " + std::to_string(at),
              at);
}

void ByteReader::Seek(size_t offset) {
  if (offset > data_.size()) Fail(offset, 0);
  pos_ = offset;
}

void ByteReader::Skip(size_t count) {
  Need(pos_, count);
  pos_ += count;
}

template <typename T>
T ByteReader::Advance(T (ByteReader::*at)(size_t) const, size_t count) {
  const T v = (this->*at)(pos_);
  pos_ += count;
  return v;
}

uint8_t ByteReader::U8() { return Advance(&ByteReader::U8At, 1); }
uint16_t ByteReader::U16Le() { return Advance(&ByteReader::U16LeAt, 2); }
uint16_t ByteReader::U16Be() { return Advance(&ByteReader::U16BeAt, 2); }
uint32_t ByteReader::U32Le() { return Advance(&ByteReader::U32LeAt, 4); }
uint32_t ByteReader::U32Be() { return Advance(&ByteReader::U32BeAt, 4); }
std::span<const uint8_t> ByteReader::Bytes(size_t count) {
  auto s = BytesAt(pos_, count);
  pos_ += count;
  return s;
}

std::string ByteReader::FixedText(size_t count) {
  auto s = Bytes(count);
  const auto end = std::find(s.begin(), s.end(), uint8_t{0});
  return std::string(s.begin(), end);
}

uint8_t ByteReader::U8At(size_t offset) const {
  Need(offset, 1);
  return data_[offset];
}
uint16_t ByteReader::U16LeAt(size_t offset) const {
  Need(offset, 2);
  return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
}
uint16_t ByteReader::U16BeAt(size_t offset) const {
  Need(offset, 2);
  return static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]);
}
uint32_t ByteReader::U32LeAt(size_t offset) const {
  Need(offset, 4);
  return static_cast<uint32_t>(data_[offset]) | (static_cast<uint32_t>(data_[offset + 1]) << 8) |
         (static_cast<uint32_t>(data_[offset + 2]) << 16) |
         (static_cast<uint32_t>(data_[offset + 3]) << 24);
}
uint32_t ByteReader::U32BeAt(size_t offset) const {
  Need(offset, 4);
  return (static_cast<uint32_t>(data_[offset]) << 24) |
         (static_cast<uint32_t>(data_[offset + 1]) << 16) |
         (static_cast<uint32_t>(data_[offset + 2]) << 8) | static_cast<uint32_t>(data_[offset + 3]);
}
std::span<const uint8_t> ByteReader::BytesAt(size_t offset, size_t count) const {
  Need(offset, count);
  return data_.subspan(offset, count);
}

bool ByteReader::MagicAt(size_t offset, std::string_view magic) const {
  if (!HasAt(offset, magic.size())) return false;
  return std::memcmp(data_.data() + offset, magic.data(), magic.size()) == 0;
}

ByteReader ByteReader::Sub(size_t offset, size_t length) const {
  Need(offset, length);
  return ByteReader(data_.subspan(offset, length), base_ + static_cast<int64_t>(offset));
}

uint8_t* ByteWriter::Reserve(size_t count) {
  if (vec_ != nullptr) {
    if (pos_ + count > vec_->size()) vec_->resize(pos_ + count, 0);
    uint8_t* p = vec_->data() + pos_;
    pos_ += count;
    return p;
  }
  if (pos_ > fixed_.size() || count > fixed_.size() - pos_) {
    throw Error(ErrorKind::OverCapacity,
                "output of " + std::to_string(pos_ + count) + " bytes does not fit in " +
                    std::to_string(fixed_.size()) + " bytes",
                static_cast<int64_t>(pos_));
  }
  uint8_t* p = fixed_.data() + pos_;
  pos_ += count;
  return p;
}

void ByteWriter::Seek(size_t offset) {
  if (vec_ != nullptr) {
    if (offset > vec_->size()) vec_->resize(offset, 0);
  } else if (offset > fixed_.size()) {
    throw Error(ErrorKind::OverCapacity,
                "seek to " + std::to_string(offset) + " beyond " + std::to_string(fixed_.size()) +
                    " bytes",
                static_cast<int64_t>(offset));
  }
  pos_ = offset;
}

void ByteWriter::U8(uint8_t v) { *Reserve(1) = v; }
void ByteWriter::U16Le(uint16_t v) {
  uint8_t* p = Reserve(2);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void ByteWriter::U16Be(uint16_t v) {
  uint8_t* p = Reserve(2);
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void ByteWriter::U32Le(uint32_t v) {
  uint8_t* p = Reserve(4);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void ByteWriter::U32Be(uint32_t v) {
  uint8_t* p = Reserve(4);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void ByteWriter::U16LeWords(std::span<const uint16_t> words) {
  uint8_t* p = Reserve(2 * words.size());
  for (const uint16_t w : words) {
    *p++ = static_cast<uint8_t>(w);
    *p++ = static_cast<uint8_t>(w >> 8);
  }
}

void ByteWriter::Bytes(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  if (vec_ != nullptr) {
    // Bytes taken from the vector itself move when Reserve grows it: note
    // where they start before it does.
    const auto from = reinterpret_cast<uintptr_t>(bytes.data());
    const auto begin = reinterpret_cast<uintptr_t>(vec_->data());
    if (from >= begin && from < begin + vec_->size()) {
      const size_t offset = from - begin;
      uint8_t* p = Reserve(bytes.size());
      std::memmove(p, vec_->data() + offset, bytes.size());
      return;
    }
  }
  // memmove: the source may overlap the destination inside a fixed span or
  // after a Seek back.
  std::memmove(Reserve(bytes.size()), bytes.data(), bytes.size());
}
void ByteWriter::Zeros(size_t count) {
  if (count == 0) return;
  std::memset(Reserve(count), 0, count);
}
void ByteWriter::FixedText(std::string_view text, size_t count) {
  uint8_t* p = Reserve(count);
  const size_t n = std::min(text.size(), count);
  if (n > 0) std::memcpy(p, text.data(), n);
  if (count > n) std::memset(p + n, 0, count - n);
}

}  // namespace quarrendel
