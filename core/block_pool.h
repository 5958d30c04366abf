// Texture data lives in two pools of fixed-size blocks: 512-byte blocks are
// tried first, 768-byte blocks next. A request of `size` bytes takes a run of
// size / B + 2 blocks, first fit from block 0, and every run keeps a free
// block before and after it, so release can clear a run by walking the use
// map until the first free entry. Block 0 is never handed out.
#pragma once

#include <cstdint>
#include <vector>

namespace quarrendel {

class BlockPool {
 public:
  static constexpr int32_t kBlockCount = 100'101;  // blocks of pool memory
  static constexpr int32_t kMapEntries = 100'000;  // use-map entries, block indices 0..99,999

  // `mapEntries` below kMapEntries makes a smaller pool (with the same 101
  // spare blocks), so tests and fuzzers can run out of room quickly.
  explicit BlockPool(int32_t blockSize, int32_t mapEntries = kMapEntries);
  ~BlockPool();
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;

  bool Created() const { return base_ != nullptr; }

  // Returns the start of a run of at least `size` bytes, or nullptr when no
  // run fits. Creates the pool on first use (memory zero-filled by the system,
  // touched only where blocks are written).
  uint8_t* TryAllocate(int32_t size);
  // Frees the run starting at `p` and returns true; false when `p` is not a
  // block start of this pool.
  bool TryRelease(uint8_t* p);

  // Use-map entry of block i (0 or 1); 0 for a pool not yet created.
  uint8_t MapEntry(int32_t i) const;
  // Block index of `p` in this pool, or -1.
  int32_t BlockIndex(const uint8_t* p) const;
  int32_t BlocksInUse() const;

 private:
  void Create();

  int32_t blockSize_;
  int32_t mapEntries_;
  uint8_t* base_ = nullptr;
  std::vector<uint8_t> map_;
  // No window of four free map entries starts below this index; only a speed-up,
  // the first-fit result is the same as a scan from 0.
  int32_t searchFrom_ = 0;
};

// The two pools together, as the entries' `Data` blocks use them.
class BlockPools {
 public:
  explicit BlockPools(int32_t mapEntries = BlockPool::kMapEntries) : first_(512, mapEntries), second_(768, mapEntries) {}

  // Allocates `size` bytes from the first pool, else the second; throws
  // Error(PoolFull, "Memory Buffer is full") when both are full.
  uint8_t* Allocate(int32_t size);
  // Frees the run `v` points at and sets v to nullptr; a pointer that is in
  // neither pool is ignored and left unchanged.
  void Release(uint8_t*& v);

  const BlockPool& First() const { return first_; }
  const BlockPool& Second() const { return second_; }

 private:
  BlockPool first_;
  BlockPool second_;
};

}  // namespace quarrendel
