#include "core/block_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/error.h"
#include "core/huge_pages.h"

namespace quarrendel {

BlockPool::BlockPool(int32_t blockSize, int32_t mapEntries)
    : blockSize_(blockSize), mapEntries_(std::clamp(mapEntries, 4, kMapEntries)) {}

BlockPool::~BlockPool() { std::free(base_); }

void BlockPool::Create() {
  // calloc of this size maps fresh zero pages: nothing is touched until used.
  const auto blocks = static_cast<size_t>(mapEntries_ + (kBlockCount - kMapEntries));
  base_ = static_cast<uint8_t*>(std::calloc(blocks, static_cast<size_t>(blockSize_)));
  if (base_ == nullptr) throw std::bad_alloc();
  AdviseHugePages(base_, blocks * static_cast<size_t>(blockSize_));
  map_.assign(static_cast<size_t>(mapEntries_), 0);
  searchFrom_ = 0;
}

uint8_t* BlockPool::TryAllocate(int32_t size) {
  if (size < 0) {
    throw Error(ErrorKind::Usage, "negative allocation of " + std::to_string(size) + " bytes");
  }
  if (!Created()) Create();
  const int32_t n = size / blockSize_ + 1;
  // A qualifying start i has map[i .. i + n + 2] free: n + 3 free entries in a
  // row, all inside the map. The run handed out is i + 1 .. i + n + 1.
  const int64_t need = static_cast<int64_t>(n) + 3;
  if (need > mapEntries_) return nullptr;
  const uint8_t* map = map_.data();
  const int32_t last = mapEntries_;  // one past the last map entry
  int32_t firstWindow = -1;          // first start of >= 4 free entries seen
  int32_t i = searchFrom_;
  while (i < last) {
    // Skip used entries.
    const void* z = std::memchr(map + i, 0, static_cast<size_t>(last - i));
    if (z == nullptr) break;
    const int32_t runStart = static_cast<int32_t>(static_cast<const uint8_t*>(z) - map);
    const void* u = std::memchr(map + runStart, 1, static_cast<size_t>(last - runStart));
    const int32_t runEnd = u == nullptr ? last : static_cast<int32_t>(static_cast<const uint8_t*>(u) - map);
    const int32_t runLength = runEnd - runStart;
    if (runLength >= 4 && firstWindow < 0) firstWindow = runStart;
    if (runLength >= need) {
      std::memset(map_.data() + runStart + 1, 1, static_cast<size_t>(n) + 1);
      // Entries before firstWindow held no window of four free entries and
      // setting entries cannot create one.
      searchFrom_ = firstWindow;
      return base_ + static_cast<size_t>(runStart + 1) * static_cast<size_t>(blockSize_);
    }
    i = runEnd;
  }
  if (firstWindow >= 0) searchFrom_ = firstWindow;
  else searchFrom_ = std::max(searchFrom_, std::max(0, last - 3));
  return nullptr;
}

int32_t BlockPool::BlockIndex(const uint8_t* p) const {
  if (!Created() || p == nullptr) return -1;
  const auto addr = reinterpret_cast<uintptr_t>(p);
  const auto base = reinterpret_cast<uintptr_t>(base_);
  if (addr < base) return -1;
  const uintptr_t delta = addr - base;
  if (delta % static_cast<uintptr_t>(blockSize_) != 0) return -1;
  const uintptr_t index = delta / static_cast<uintptr_t>(blockSize_);
  if (index >= static_cast<uintptr_t>(mapEntries_)) return -1;
  return static_cast<int32_t>(index);
}

bool BlockPool::TryRelease(uint8_t* p) {
  const int32_t i = BlockIndex(p);
  if (i < 0) return false;
  int32_t k = i;
  while (k < mapEntries_ && map_[static_cast<size_t>(k)] == 1) {
    map_[static_cast<size_t>(k)] = 0;
    ++k;
  }
  // A window of four free entries that includes entry i starts at i - 3 at the earliest.
  searchFrom_ = std::min(searchFrom_, std::max(0, i - 3));
  return true;
}

uint8_t BlockPool::MapEntry(int32_t i) const {
  if (!Created() || i < 0 || i >= mapEntries_) return 0;
  return map_[static_cast<size_t>(i)];
}

int32_t BlockPool::BlocksInUse() const {
  if (!Created()) return 0;
  return static_cast<int32_t>(std::count(map_.begin(), map_.end(), uint8_t{1}));
}

uint8_t* BlockPools::Allocate(int32_t size) {
  if (uint8_t* p = first_.TryAllocate(size)) return p;
  if (uint8_t* p = second_.TryAllocate(size)) return p;
  throw Error(ErrorKind::PoolFull, "Memory Buffer is full");
}

void BlockPools::Release(uint8_t*& v) {
  if (first_.TryRelease(v) || second_.TryRelease(v)) v = nullptr;
}

}  // namespace quarrendel
