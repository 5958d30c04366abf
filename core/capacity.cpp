#include "core/capacity.h"

#include <string>

#include "core/error.h"

namespace quarrendel {

void RequireImageCount(int64_t count, std::string_view what) {
  if (count < 0 || count > kMaxImages) {
    throw Error(ErrorKind::OverCapacity,
                std::string(what) + " holds " + std::to_string(count) +
                    " images; at most " + std::to_string(kMaxImages) + " can be loaded");
  }
}

void RequireBufferBytes(int64_t bytes, std::string_view what) {
  if (bytes < 0 || bytes > kBufferSize) {
    throw Error(ErrorKind::OverCapacity,
                std::string(what) + " is " + std::to_string(bytes) + " bytes; at most " +
                    std::to_string(kBufferSize) + " bytes can be handled");
  }
}

void RequireCanvasSide(int64_t side, std::string_view what) {
  if (side < 0 || side > kCanvasSide) {
    throw Error(ErrorKind::OverCapacity,
                std::string(what) + " side " + std::to_string(side) + " exceeds " +
                    std::to_string(kCanvasSide) + " pixels");
  }
}

}  // namespace quarrendel
