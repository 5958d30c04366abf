// Reads of texture data words at byte offsets the decoders have already
// checked against the data's end (see Fits). Texture data is a span over the
// entry's block: nothing beyond DataLength is ever touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarrendel::texture::detail {

// True when [offset, offset + count) lies inside the data. Offsets past the
// end (also those from a large mipmap skip) are simply not there.
inline bool Fits(std::span<const uint8_t> data, uint64_t offset, uint64_t count) {
  return offset <= data.size() && count <= data.size() - offset;
}

inline uint16_t Le16(std::span<const uint8_t> data, size_t offset) {
  return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

inline uint16_t Be16(std::span<const uint8_t> data, size_t offset) {
  return static_cast<uint16_t>((data[offset] << 8) | data[offset + 1]);
}

inline uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return r | (g << 8) | (b << 16) | (a << 24);
}

}  // namespace quarrendel::texture::detail
