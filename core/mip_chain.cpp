#include "core/mip_chain.h"

namespace quarrendel {

namespace {

int64_t LevelCost(int64_t side, int64_t perTexelNum, int64_t perTexelDen, int64_t minimum) {
  return side >= 4 ? side * side * perTexelNum / perTexelDen : minimum;
}

int64_t ChainSize(int32_t side, int32_t levelLimit, int64_t num, int64_t den, int64_t minimum) {
  int64_t total = 0;
  int64_t s = side;
  for (int32_t level = 0; s > 0 && level < levelLimit; ++level, s /= 2) {
    total += LevelCost(s, num, den, minimum);
  }
  return total;
}

int32_t LevelCount(int32_t side, int64_t dataLength, int64_t num, int64_t den, int64_t minimum) {
  int32_t count = 0;
  int64_t total = 0;
  for (int64_t s = side; s > 0 && total < dataLength; s /= 2) {
    ++count;
    total += LevelCost(s, num, den, minimum);
  }
  return count;
}

}  // namespace

int64_t ChainSize4(int32_t side, int32_t levelLimit) { return ChainSize(side, levelLimit, 1, 2, 8); }
int64_t ChainSize8(int32_t side, int32_t levelLimit) { return ChainSize(side, levelLimit, 1, 1, 16); }
int32_t LevelCount4(int32_t side, int64_t dataLength) { return LevelCount(side, dataLength, 1, 2, 8); }
int32_t LevelCount8(int32_t side, int64_t dataLength) { return LevelCount(side, dataLength, 1, 1, 16); }

int64_t TwiddledMipOffset(int32_t side) {
  int64_t r = 1;
  for (int64_t s = side; s > 0;) {
    s /= 2;
    r += s * s;
  }
  return r;
}

}  // namespace quarrendel
