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

// glibc gives the top of its heap back to the system as soon as 128 KB lie
// free there, so a batch that reads, decodes and encodes picture after
// picture faults its working memory in again for each one (about 24 faults
// per 128 x 128 texture, a third of a pack's time). This keeps up to 64 MB
// of freed heap for reuse and serves requests below 8 MB (every picture up
// to 1024 x 1024, its bitmap or DDS file) from the heap, where glibc's own
// sliding threshold would have gone; the 10 MB buffers are still mapped
// afresh. Done once per process; later calls do nothing.
void KeepFreedMemoryForReuse();

}  // namespace quarrendel
