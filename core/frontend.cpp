#include "core/frontend.h"

#include <algorithm>

namespace quarrendel {

int32_t SpinFieldValue(int32_t minimum, int32_t maximum, int32_t value) {
  if (minimum != maximum) value = std::clamp(value, std::min(minimum, maximum), std::max(minimum, maximum));
  return value == 0 ? 1 : value;
}

}  // namespace quarrendel
