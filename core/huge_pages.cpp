#include "core/huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

namespace quarrendel {

void AdviseHugePages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (start + bytes) & ~(kHuge - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

void KeepFreedMemoryForReuse() {
  // Setting either value also stops glibc from moving the mmap threshold.
  static const int kept = mallopt(M_TRIM_THRESHOLD, 64 << 20) + mallopt(M_MMAP_THRESHOLD, 8 << 20);
  (void)kept;
}

}  // namespace quarrendel
