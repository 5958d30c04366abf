#include "core/image_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "core/error.h"
#include "core/huge_pages.h"

namespace quarrendel {

namespace {

template <typename T>
T* ZeroPages(size_t count) {
  // calloc hands large requests fresh zero pages from the system, so an idle
  // program does not pay for the canvases and buffers until they are used.
  void* p = std::calloc(count, sizeof(T));
  if (p == nullptr) throw std::bad_alloc();
  AdviseHugePages(p, count * sizeof(T));
  return static_cast<T*>(p);
}

}  // namespace

void Canvas::FreeDeleter::operator()(void* p) const { std::free(p); }
void WorkBuffer::FreeDeleter::operator()(void* p) const { std::free(p); }

Canvas::Canvas() : pixels_(ZeroPages<uint32_t>(kPixels)) {}

void Canvas::Clear(int32_t w, int32_t h) {
  w = std::clamp(w, 0, kSide);
  h = std::clamp(h, 0, kSide);
  if (h == 0) return;
  for (int32_t x = 0; x < w; ++x) {
    std::memset(Column(x), 0, static_cast<size_t>(h) * sizeof(uint32_t));
  }
}

WorkBuffer::WorkBuffer() : bytes_(ZeroPages<uint8_t>(static_cast<size_t>(kBufferSize))) {}

ImageStore::ImageStore(int32_t poolMapEntries) : pools(poolMapEntries) { KeepFreedMemoryForReuse(); }

TImage_Entry& ImageStore::Entry(int32_t index) {
  return const_cast<TImage_Entry&>(std::as_const(*this).Entry(index));
}

const TImage_Entry& ImageStore::Entry(int32_t index) const {
  if (index < 0 || index >= kMaxImages) {
    throw Error(ErrorKind::Usage, "image index " + std::to_string(index) + " is outside the table");
  }
  return images[static_cast<size_t>(index)];
}

void ImageStore::StartLoadRecord() {
  loadIncomplete = false;
  shortfall = LoadShortfall::None;
  imagesDeclared = 0;
  loadedPackage = LoadedPackage();
}

void ImageStore::NoteShortfall(LoadShortfall why) {
  if (loadIncomplete) return;
  loadIncomplete = true;
  shortfall = why;
}

void ImageStore::FillEntryData(int32_t index, std::span<const uint8_t> data) {
  FillEntryData(Entry(index), data);
}

void ImageStore::FillEntryData(TImage_Entry& entry, std::span<const uint8_t> data) {
  if (data.size() > static_cast<size_t>(INT32_MAX)) {
    throw Error(ErrorKind::OverCapacity, "texture data of " + std::to_string(data.size()) + " bytes");
  }
  // Release first, so an entry never holds two blocks.
  if (entry.Data != nullptr) pools.Release(entry.Data);
  entry.Data = nullptr;
  entry.DataLength = 0;
  const auto length = static_cast<int32_t>(data.size());
  uint8_t* block = pools.Allocate(length);
  if (!data.empty()) std::memcpy(block, data.data(), data.size());
  entry.Data = block;
  entry.DataLength = length;
}

}  // namespace quarrendel
