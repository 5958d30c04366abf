// The image store: the table of loaded images, the two working canvases, the
// input and output buffers, the load-state flags and the block pools. One
// object, owned by whoever runs the commands (the window, the CLI, a test) and
// passed to every command by reference.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/block_pool.h"
#include "core/capacity.h"

namespace quarrendel {

// One loaded image. Field order matters to nothing on disk but is kept as the
// table was first laid out.
struct TImage_Entry {
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint32_t Format = 0;       // byte 0 pixel format code, byte 1 data format code
  std::string Name;          // the text shown in the image list
  uint32_t GlobalIndex = 0;  // GBIX value, always in machine order
  int32_t DataLength = 0;    // texture data bytes, no chunk header
  uint8_t* Data = nullptr;   // start of a block-pool run holding DataLength bytes
  int32_t PackageIndex = 0;  // AFS member / BML entry the image came from

  std::span<const uint8_t> Bytes() const {
    return Data == nullptr || DataLength <= 0
               ? std::span<const uint8_t>()
               : std::span<const uint8_t>(Data, static_cast<size_t>(DataLength));
  }
};

// A 2049 x 2049 bitmap of 32-bit pixels, red in bits 0-7, green 8-15, blue
// 16-23, alpha 24-31. Pixel (x, y) is element x * 2049 + y: each run of 2049
// elements is one column. The memory is zero pages until first written.
class Canvas {
 public:
  static constexpr int32_t kSide = kCanvasSide;
  static constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;

  Canvas();
  uint32_t& operator()(int32_t x, int32_t y) { return pixels_[Index(x, y)]; }
  uint32_t operator()(int32_t x, int32_t y) const { return pixels_[Index(x, y)]; }
  uint32_t* Column(int32_t x) { return pixels_.get() + static_cast<size_t>(x) * kSide; }
  const uint32_t* Column(int32_t x) const { return pixels_.get() + static_cast<size_t>(x) * kSide; }
  std::span<uint32_t> All() { return {pixels_.get(), kPixels}; }
  // Sets pixels (x, y) with x < w and y < h to 0 (both clamped to the canvas).
  void Clear(int32_t w, int32_t h);

  static size_t Index(int32_t x, int32_t y) {
    return static_cast<size_t>(x) * static_cast<size_t>(kSide) + static_cast<size_t>(y);
  }

 private:
  struct FreeDeleter {
    void operator()(void* p) const;
  };
  std::unique_ptr<uint32_t[], FreeDeleter> pixels_;
};

// A zero-filled byte buffer of kBufferSize bytes (zero pages until written).
class WorkBuffer {
 public:
  WorkBuffer();
  uint8_t* Data() { return bytes_.get(); }
  const uint8_t* Data() const { return bytes_.get(); }
  std::span<uint8_t> Span() { return {bytes_.get(), static_cast<size_t>(kBufferSize)}; }
  std::span<const uint8_t> Span() const { return {bytes_.get(), static_cast<size_t>(kBufferSize)}; }
  std::span<const uint8_t> First(size_t n) const { return Span().first(n); }

 private:
  struct FreeDeleter {
    void operator()(void* p) const;
  };
  std::unique_ptr<uint8_t[], FreeDeleter> bytes_;
};

// Why a load stopped short of what the file declares.
enum class LoadShortfall : int32_t {
  None,
  Damaged,          // the data is cut short or does not hold together
  StreamEndsEarly,  // a PRS stream ends before its end command
  OverBuffer,       // unpacked data passes the 10,000,000-byte buffer
};

// Kind of the texture archives met in a BML package.
enum class PackageArchiveKind : int32_t { None = 0, Pvm = 1, Xvm = 2, Gvm = 3 };

// The container a load found by the file's first bytes (None: no reader took it).
enum class LoadedContainer : int32_t { None, Pvm, Gvm, Xvm, Afs, Bml, TextureFile };

// The file a BML package was loaded from, as the load read it: the rebuild
// writes over that file only while it still holds those bytes.
struct LoadedPackage {
  bool recorded = false;    // the last load read a BML package
  bool throughPrs = false;  // unwrapped from a ".prs" file: the bytes on disk are compressed
  uint64_t size = 0;        // the file's size and ContentHash
  uint64_t hash = 0;
};

class ImageStore {
 public:
  // `poolMapEntries` below BlockPool::kMapEntries gives small block pools.
  explicit ImageStore(int32_t poolMapEntries = BlockPool::kMapEntries);
  ImageStore(const ImageStore&) = delete;
  ImageStore& operator=(const ImageStore&) = delete;

  // The image table, entries 0..5000. Entries at and above imageCount keep
  // what an earlier load left in them until a later load reuses them.
  std::array<TImage_Entry, kMaxImages> images;
  int32_t imageCount = 0;
  int32_t currentImage = 0;
  int32_t readCursor = 0;

  Canvas canvas;   // the working bitmap
  Canvas scratch;  // second bitmap for untwiddling and block decoders
  // What image selection keeps between selections: the memory it decodes
  // into (handed back by the last one), and the part of the canvas the last
  // one wrote, columns x < canvasWrittenWidth by rows y < canvasWrittenHeight.
  std::vector<uint32_t> selectionPixels;
  int32_t canvasWrittenWidth = 0;
  int32_t canvasWrittenHeight = 0;

  WorkBuffer input;   // whole files or members to decompress, data to compress
  WorkBuffer output;  // decompressed data, compressed data, rebuilt files

  uint8_t pvrFamily = 0;    // loaded images carry PVR/GVR-style data (meaning of data format 7)
  uint8_t bmlFlag = 0;      // the loaded file is a BML package
  int32_t packageMode = 0;  // a compressed AFS member or BML texture archive was met
  std::string loadDirectory;   // directory of the loaded file, with its trailing separator
  std::string loadedFileName;  // full name of the loaded file
  PackageArchiveKind packageArchiveKind = PackageArchiveKind::None;
  // What the last load read, and whether a whole-file PRS stream held it.
  LoadedContainer loadedContainer = LoadedContainer::None;
  bool loadedFromPrs = false;

  // Every load starts them afresh. loadIncomplete: the load stopped short of
  // what the file declares, for the first reason met in `shortfall`;
  // imagesDeclared: the images the headers that were read declare.
  bool loadIncomplete = false;
  LoadShortfall shortfall = LoadShortfall::None;
  int64_t imagesDeclared = 0;
  LoadedPackage loadedPackage;

  BlockPools pools;

  // The images differ from the file they were loaded from and were not saved:
  // a successful Import or Add calls MarkChanged, a load and a successful
  // Save or Rebuild call ClearChanges. The window asks before discarding them.
  bool unsavedChanges = false;
  void MarkChanged() { unsavedChanges = true; }
  void ClearChanges() { unsavedChanges = false; }

  void StartLoadRecord();
  // Records that the load stopped short; the first reason is kept.
  void NoteShortfall(LoadShortfall why);

  // Fills entry `index` with a copy of `data`: releases its old block, allocates
  // a new one of data.size() bytes and copies. Sets DataLength. Throws
  // Error(PoolFull) with the entry's old block already released, Data null
  // and DataLength 0.
  void FillEntryData(int32_t index, std::span<const uint8_t> data);
  void FillEntryData(TImage_Entry& entry, std::span<const uint8_t> data);

  TImage_Entry& Entry(int32_t index);  // throws Error(Usage) outside 0..5000
  const TImage_Entry& Entry(int32_t index) const;
};

}  // namespace quarrendel
