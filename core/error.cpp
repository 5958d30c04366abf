#include "core/error.h"

namespace quarrendel {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Truncated: return "truncated";
    case ErrorKind::BadMagic: return "bad magic";
    case ErrorKind::Unsupported: return "unsupported";
    case ErrorKind::Corrupt: return "corrupt";
    case ErrorKind::OverCapacity: return "over capacity";
    case ErrorKind::PoolFull: return "pool full";
    case ErrorKind::Io: return "i/o";
    case ErrorKind::Usage: return "usage";
  }
  return "unknown";
}

}  // namespace quarrendel
