// Writes PRS streams: control bits gather in a control byte, lowest bit
// first; a command's data bytes wait behind it and go out with the control
// byte when its ninth bit arrives, so a command whose bits span two control
// bytes has its data after the second. The end command is followed by eight
// zero bits that push out the last control byte and its bytes (the byte they
// start is never written).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "core/error.h"

namespace quarrendel::prs::detail {

// Writes the stream into a fixed span; throws instead of running past it.
class StreamWriter {
 public:
  explicit StreamWriter(std::span<uint8_t> out) : out_(out) {}

  void Literal(uint8_t v) {
    PutBit(1);
    PutByte(v);
  }
  void ShortCopy(int32_t distance, int32_t length) {
    PutBit(0);
    PutBit(0);
    PutBit(static_cast<uint32_t>(length - 2) >> 1);
    PutBit(static_cast<uint32_t>(length - 2) & 1u);
    PutByte(static_cast<uint8_t>(256 - distance));
  }
  void LongCopy(int32_t distance, int32_t length) {
    PutBit(0);
    PutBit(1);
    const uint32_t base = static_cast<uint32_t>(8192 - distance) * 8;
    if (length <= 9) {
      const uint32_t w = base + static_cast<uint32_t>(length - 2);
      PutByte(static_cast<uint8_t>(w));
      PutByte(static_cast<uint8_t>(w >> 8));
    } else {
      PutByte(static_cast<uint8_t>(base));
      PutByte(static_cast<uint8_t>(base >> 8));
      PutByte(static_cast<uint8_t>(length - 1));
    }
  }
  void End() {
    PutBit(0);
    PutBit(1);
    PutByte(0);
    PutByte(0);
    PutByte(0);
    for (int k = 0; k < 8; ++k) PutBit(0);
  }
  size_t Length() const { return pos_; }

 private:
  void PutBit(uint32_t b) {
    if (bits_ == 8) Flush();
    control_ = (control_ >> 1) | (b << 7);
    ++bits_;
  }
  void PutByte(uint8_t v) { pending_[pendingCount_++] = v; }
  void Flush() {
    if (out_.size() - pos_ < 1 + pendingCount_) {
      throw Error(ErrorKind::OverCapacity, "compressed data does not fit the " +
                                               std::to_string(out_.size()) + "-byte output buffer");
    }
    out_[pos_++] = static_cast<uint8_t>(control_);
    std::memcpy(out_.data() + pos_, pending_, pendingCount_);
    pos_ += pendingCount_;
    pendingCount_ = 0;
    control_ = 0;
    bits_ = 0;
  }

  std::span<uint8_t> out_;
  size_t pos_ = 0;
  uint32_t control_ = 0;
  int bits_ = 0;
  // Bytes of at most eight commands of up to three bytes each.
  uint8_t pending_[32] = {};
  size_t pendingCount_ = 0;
};

}  // namespace quarrendel::prs::detail
