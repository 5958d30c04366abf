// Sizes and level counts of square mipmap chains s, s/2, s/4, ... (while the
// side is above 0). 4-bit costs: t*t/2 bytes per level of side t >= 4, else
// one 8-byte block; 8-bit costs: t*t bytes, else one 16-byte block. These are
// the costs of DXT1 and DXT3 chains. Computed in 64 bits: sides up to 65535
// (the largest header value) do not overflow.
#pragma once

#include <cstdint>

namespace quarrendel {

int64_t ChainSize4(int32_t side, int32_t levelLimit);
int64_t ChainSize8(int32_t side, int32_t levelLimit);
int32_t LevelCount4(int32_t side, int64_t dataLength);
int32_t LevelCount8(int32_t side, int64_t dataLength);
// 1 + the sum of (s / 2^k)^2 for k >= 1 until the term is 0: the number of
// texels that precede the full-size level in a twiddled mipmap chain.
int64_t TwiddledMipOffset(int32_t side);

}  // namespace quarrendel
