// Writes PRS streams: control bits gather in a control byte, lowest bit
// first; a command's data bytes go behind it, and the control byte is
// complete when its ninth bit arrives, so a command whose bits span two
// control bytes has its data after the second. The end command is followed
// by eight zero bits that complete the last control byte (the byte they
// start is never written).
//
// Data bytes are written straight to the output: each control byte has its
// place kept for it, just before the data bytes that follow it, and is
// filled in when it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/error.h"

namespace quarrendel::prs::detail {

// Writes the stream into a fixed span; throws instead of running past it.
class StreamWriter {
 public:
  explicit StreamWriter(std::span<uint8_t> out) : out_(out.data()), size_(out.size()) {}

  void Literal(uint8_t v) {
    PutBits(1, 1);
    PutByte(v);
  }
  // Bits 0, 0, then the two bits of length - 2, high bit first.
  void ShortCopy(int32_t distance, int32_t length) {
    const uint32_t n = static_cast<uint32_t>(length - 2);
    PutBits((n >> 1) << 2 | (n & 1u) << 3, 4);
    PutByte(static_cast<uint8_t>(256 - distance));
  }
  // Bits 0, 1.
  void LongCopy(int32_t distance, int32_t length) {
    PutBits(2, 2);
    // The length in the low 3 bits of the distance word if it fits (1 to 7
    // for 3 to 9 bytes), else 0 there and length - 1 in a third byte. All
    // three bytes are stored where they fit, the third then overwritten by
    // the next command if unused: the choice follows no pattern.
    const bool inWord = length <= 9;
    const uint32_t w = static_cast<uint32_t>(8192 - distance) * 8 + (inWord ? static_cast<uint32_t>(length - 2) : 0);
    if (pos_ + 3 <= size_) {
      out_[pos_] = static_cast<uint8_t>(w);
      out_[pos_ + 1] = static_cast<uint8_t>(w >> 8);
      out_[pos_ + 2] = static_cast<uint8_t>(length - 1);
      pos_ += inWord ? 2 : 3;
      return;
    }
    PutByte(static_cast<uint8_t>(w));
    PutByte(static_cast<uint8_t>(w >> 8));
    if (!inWord) PutByte(static_cast<uint8_t>(length - 1));
  }
  // The end command; its control byte, filled up with zero bits, is the
  // last one written.
  void End() {
    PutBits(2, 2);
    PutByte(0);
    PutByte(0);
    PutByte(0);
    out_[control_] = static_cast<uint8_t>(bits_);
  }
  size_t Length() const { return pos_; }

 private:
  // Appends `count` (at most 8) control bits, the first in bit 0 of `value`.
  void PutBits(uint32_t value, int count) {
    if (used_ + count <= 8) {
      bits_ |= value << used_;
      used_ += count;
      return;
    }
    // The ninth bit: the control byte is complete, and the next one takes
    // its place here, before the data bytes of the command at hand.
    const int first = 8 - used_;
    out_[control_] = static_cast<uint8_t>(bits_ | value << used_);
    control_ = Claim();
    bits_ = value >> first;
    used_ = count - first;
  }
  void PutByte(uint8_t v) { out_[Claim()] = v; }
  // The index of the next byte of the stream. Every byte claimed ends up in
  // the stream, so one that lies past the span means the stream does not
  // fit. (The first control byte's place is claimed unchecked, but is only
  // written after a data byte behind it.)
  size_t Claim() {
    if (pos_ >= size_) {
      throw Error(ErrorKind::OverCapacity,
                  "compressed data does not fit the " + std::to_string(size_) + "-byte output buffer");
    }
    return pos_++;
  }

  uint8_t* out_;
  size_t size_;
  size_t pos_ = 1;      // bytes claimed: the first control byte's place is byte 0
  size_t control_ = 0;  // where the current control byte goes
  uint32_t bits_ = 0;   // its bits so far, the first in bit 0
  int used_ = 0;
};

}  // namespace quarrendel::prs::detail
