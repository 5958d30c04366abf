// Large zero-filled regions (canvases, buffers, block pools) are first
// touched column by column or block by block; with 4 KB pages that is
// thousands of page faults on the first decode. Asking for transparent huge
// pages makes each fault map 2 MB. Memory that is never touched stays unmapped.
#pragma once

#include <cstddef>

namespace quarrendel {

// Advises huge pages for the 2 MB-aligned part of [p, p + bytes); a system
// without them ignores the advice.
void AdviseHugePages(void* p, size_t bytes);

}  // namespace quarrendel
