#include "texture/full_range.h"

#include <gtest/gtest.h>

namespace quarrendel::texture {
namespace {

TEST(PixelStretch, StretchesAsStretchPixelDoesForEveryDepth) {
  const TexelDepths depths[] = {
      {5, 5, 5, 8, false}, {5, 6, 5, 8, false}, {4, 4, 4, 4, false}, {5, 6, 5, 4, false},
      {8, 8, 8, 8, false}, {5, 5, 5, 8, true},
  };
  for (const TexelDepths& d : depths) {
    const PixelStretch stretch(d);
    int32_t differing = 0;
    // Every value in every channel, with alphas on both sides of the RGB5A3 choice.
    for (uint32_t v = 0; v < 256; ++v) {
      for (const uint32_t alpha : {0u, 0x60u, 0xE0u, 0xFFu, v}) {
        const uint32_t pixel = v | ((v * 7) & 0xFF) << 8 | ((255 - v) << 16) | alpha << 24;
        differing += stretch(pixel) != StretchPixel(pixel, d);
      }
    }
    EXPECT_EQ(differing, 0) << int{d.red} << int{d.green} << int{d.blue} << int{d.alpha} << d.rgb5a3;
  }
  // Two values worked out by hand: RGB565 white, and RGB5A3 with 3-bit alpha 5 (160) over 4-bit colours.
  EXPECT_EQ(PixelStretch({5, 6, 5, 8, false})(0xFFF8FCF8u), 0xFFFFFFFFu);
  EXPECT_EQ(PixelStretch({5, 5, 5, 8, true})(0xA0F0F0F0u), 0xB6FFFFFFu);
}

}  // namespace
}  // namespace quarrendel::texture
