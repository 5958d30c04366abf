// Small builders for hand-made texture data in the decoder tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/capacity.h"
#include "texture/rgba_image.h"

namespace quarrendel::test {

// A zero-filled plane of the canvas's size for the decoders to write.
struct TestPlane {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(size_t{kCanvasSide} * kCanvasSide);
  texture::Plane plane{pixels, kCanvasSide, kCanvasSide};
};

inline std::vector<uint8_t> Le16Words(std::initializer_list<uint16_t> words) {
  std::vector<uint8_t> out;
  for (uint16_t w : words) {
    out.push_back(static_cast<uint8_t>(w & 0xFF));
    out.push_back(static_cast<uint8_t>(w >> 8));
  }
  return out;
}

inline void PutLe16(std::vector<uint8_t>& out, size_t wordIndex, uint16_t w) {
  out.at(wordIndex * 2) = static_cast<uint8_t>(w & 0xFF);
  out.at(wordIndex * 2 + 1) = static_cast<uint8_t>(w >> 8);
}

}  // namespace quarrendel::test
