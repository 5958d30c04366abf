#include "texture/cmpr_order.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/error.h"

namespace quarrendel::texture {

uint8_t ReverseIndexPairs(uint8_t b) {
  return static_cast<uint8_t>(((b & 3) << 6) | (((b >> 2) & 3) << 4) | (((b >> 4) & 3) << 2) | (b >> 6));
}

namespace {

enum class Direction { ToCmpr, ToDxt1 };

void Reorder(int32_t side, std::span<uint8_t> data, Direction direction) {
  if (side < 0) throw Error(ErrorKind::Usage, "a texture side of " + std::to_string(side) + " pixels");
  if (side >= 4 && side % 8 != 0) {
    throw Error(ErrorKind::Unsupported, "A GameCube CMPR texture is made of 8 x 8 tiles: its side must be a "
                                        "multiple of 8, and this one is " + std::to_string(side) + " pixels.");
  }
  const int64_t blocks = side / 4;
  const int64_t topLevel = blocks * blocks * 8;
  if (static_cast<int64_t>(data.size()) < topLevel) {
    throw Error(ErrorKind::Usage, "CMPR data of " + std::to_string(data.size()) + " bytes is shorter than the " +
                                      std::to_string(topLevel) + " bytes of its top level");
  }
  std::vector<uint8_t> work(data.size(), 0);
  for (int64_t by = 0; by < blocks; ++by) {
    for (int64_t bx = 0; bx < blocks; ++bx) {
      const int64_t raster = by * blocks + bx;
      const int64_t tiled = (by / 2) * (side / 2) + (bx / 2) * 4 + (by % 2) * 2 + bx % 2;
      const int64_t from = 8 * (direction == Direction::ToCmpr ? raster : tiled);
      const int64_t to = 8 * (direction == Direction::ToCmpr ? tiled : raster);
      const uint8_t* s = data.data() + from;
      uint8_t* d = work.data() + to;
      d[0] = s[1];
      d[1] = s[0];
      d[2] = s[3];
      d[3] = s[2];
      for (int i = 4; i < 8; ++i) d[i] = ReverseIndexPairs(s[i]);
    }
  }
  std::copy(work.begin(), work.end(), data.begin());
}

}  // namespace

void Dxt1ToCmpr(int32_t side, std::span<uint8_t> data) { Reorder(side, data, Direction::ToCmpr); }
void CmprToDxt1(int32_t side, std::span<uint8_t> data) { Reorder(side, data, Direction::ToDxt1); }

}  // namespace quarrendel::texture
