#include "archive/texture_archive.h"

#include <string>
#include <vector>

#include "core/byte_io.h"
#include "core/capacity.h"
#include "core/error.h"
#include "texture/texture_header.h"

namespace quarrendel::archive {

namespace {

constexpr size_t kArchiveHeaderSize = 12;
constexpr size_t kEntrySize = 34;      // number, 28-byte name, 4-byte slot
constexpr size_t kLongEntrySize = 38;  // ... and a trailing 4-byte global index
constexpr size_t kNameSize = 28;
constexpr uint8_t kLongEntryFlags = 0x0F;

enum class Order { Little, Big };

struct TableEntry {
  std::string name;
  uint32_t globalIndex = 0;
};

// The fields of one texture as a reader found them, data still in the archive.
struct Texture {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t format = 0;
  uint32_t globalIndex = 0;
  std::span<const uint8_t> data;
};

uint32_t U32At(const ByteReader& in, size_t offset, Order order) {
  return order == Order::Little ? in.U32LeAt(offset) : in.U32BeAt(offset);
}

ByteReader HeaderOf(std::span<const uint8_t> bytes, const char* kind) {
  ByteReader in(bytes);
  if (!in.Has(kArchiveHeaderSize)) {
    throw Error(ErrorKind::Truncated,
                std::string(kind) + " header is cut short: " + std::to_string(bytes.size()) + " bytes",
                static_cast<int64_t>(bytes.size()));
  }
  return in;
}

// Reads up to `count` entries from offset 12; an entry cut short by the end of
// the data ends the table.
std::vector<TableEntry> ReadEntryTable(const ByteReader& in, uint32_t count, bool longEntries, Order order) {
  const size_t entrySize = longEntries ? kLongEntrySize : kEntrySize;
  const size_t fit = (in.Size() - kArchiveHeaderSize) / entrySize;
  const size_t n = count < fit ? count : fit;
  std::vector<TableEntry> table(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t at = kArchiveHeaderSize + i * entrySize;
    ByteReader name = in.Sub(at + 2, kNameSize);
    table[i].name = name.FixedText(kNameSize);
    // Without the trailing index the slot after the name holds it; with it,
    // the slot holds format and dimension bytes that are not used.
    table[i].globalIndex = U32At(in, at + (longEntries ? 34 : 30), order);
  }
  return table;
}

// Fills entry `index`: data first (the one release-allocate-copy rule), then
// the fields, then the list item.
TImage_Entry& Fill(ImageStore& store, ReadResult& read, int32_t index, std::string name, const Texture& t) {
  TImage_Entry& entry = store.Entry(index);
  store.FillEntryData(entry, t.data);
  entry.Name = std::move(name);
  entry.Width = t.width;
  entry.Height = t.height;
  entry.Format = t.format;
  entry.GlobalIndex = t.globalIndex;
  read.names.push_back(entry.Name);
  return entry;
}

// Keeps the image count equal to the entries filled, also when the block
// pools run out part-way through an archive, and records a walk that filled
// fewer images than the archive declares.
template <typename Walk>
int32_t FillCounted(ImageStore& store, ReadResult& read, int32_t first, uint32_t declared, Walk walk) {
  read.expected += declared;
  int32_t next = first;
  try {
    walk(next);
  } catch (const Error& e) {
    store.imageCount = next;
    if (e.Kind() != ErrorKind::PoolFull) throw;
    read.poolFull = e;
  }
  store.imageCount = next;
  if (static_cast<uint32_t>(next - first) < declared) read.StopShort(LoadShortfall::Damaged);
  return next;
}

// A file reader's result once the walk is done.
ReadResult Finished(const ImageStore& store, ReadResult read, LoadedContainer container) {
  read.container = container;
  read.imageCount = store.imageCount;
  return read;
}

void RequireRunningIndex(int32_t runningIndex) {
  if (runningIndex < 0 || runningIndex > kMaxImages) {
    throw Error(ErrorKind::Usage, "running image index " + std::to_string(runningIndex) + " is outside the table");
  }
}

// PVM and GVM files: entry table, then the t-th texture chunk of the right
// magic belongs to entry t; other chunks are skipped by their length.
ReadResult ReadEntryArchiveFile(ImageStore& store, std::span<const uint8_t> file, Order order,
                                const InputHooks& input) {
  const bool gvm = order == Order::Big;
  const ByteReader in = HeaderOf(file, gvm ? "GVM" : "PVM");
  const uint32_t headerLength = in.U32LeAt(4);
  const uint8_t flags = in.U8At(gvm ? 9 : 8);
  const uint32_t count = gvm ? in.U16BeAt(10) : in.U16LeAt(10);
  RequireImageCount(count, gvm ? "GVM file" : "PVM file");

  if (!gvm) store.pvrFamily = 1;
  const std::vector<TableEntry> table = ReadEntryTable(in, count, flags == kLongEntryFlags, order);

  ReadResult read;
  FillCounted(store, read, 0, count, [&](int32_t& t) {
    size_t pos = static_cast<size_t>(headerLength) + 8;
    while (static_cast<size_t>(t) < table.size() && in.HasAt(pos, texture::kChunkHeadSize)) {
      ByteReader headIn = in.Sub(pos, texture::kChunkHeadSize);
      const texture::TextureHead head = gvm ? texture::ReadGvrtHead(headIn) : texture::ReadPvrtHead(headIn);
      if (gvm ? head.HasMagic("GVRT") : head.HasMagic("PVRT")) {
        if (head.chunkLength < 8) break;
        const size_t dataLength = head.chunkLength - 8u;
        if (!in.HasAt(pos + texture::kChunkHeadSize, dataLength)) break;
        const TableEntry& e = table[static_cast<size_t>(t)];
        Fill(store, read, t, e.name,
             {head.width, head.height, head.format, e.globalIndex,
              in.BytesAt(pos + texture::kChunkHeadSize, dataLength)});
        input.Release(in.BytesAt(pos, texture::kChunkHeadSize + dataLength));
        ++t;
      }
      pos += static_cast<size_t>(head.chunkLength) + 8;
    }
  });
  return Finished(store, std::move(read), gvm ? LoadedContainer::Gvm : LoadedContainer::Pvm);
}

// PVM and GVM unpacked from a package: the same entry table, but the chunks
// from (low 16 bits of the header length) + 8 are taken one per entry without
// a magic test, so a GBIX chunk becomes an image of its own.
int32_t ReadEntryArchiveInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive,
                                 int32_t packageIndex, int32_t runningIndex, PackageCaller caller, Order order) {
  RequireRunningIndex(runningIndex);
  const bool gvm = order == Order::Big;
  const ByteReader in = HeaderOf(archive, gvm ? "GVM" : "PVM");
  const uint32_t count = gvm ? in.U16BeAt(10) : in.U16LeAt(10);
  RequireImageCount(static_cast<int64_t>(runningIndex) + count, gvm ? "GVM archive" : "PVM archive");

  bool longEntries = false;
  if (gvm) {
    longEntries = in.U8At(9) == kLongEntryFlags;
  } else if (caller == PackageCaller::Afs) {
    longEntries = in.U8At(8) == kLongEntryFlags;
  } else {
    longEntries = (in.U8At(8) & kLongEntryFlags) == kLongEntryFlags;
  }
  const std::vector<TableEntry> table = ReadEntryTable(in, count, longEntries, order);
  const bool skipModels = !gvm && caller == PackageCaller::Bml;

  return FillCounted(store, read, runningIndex, count, [&](int32_t& g) {
    size_t q = static_cast<size_t>(in.U16LeAt(4)) + 8;
    for (const TableEntry& e : table) {
      // A PVM in a BML package may put a model-name chunk in front of a texture.
      if (skipModels && in.MagicAt(q, "MDLN")) {
        if (!in.HasAt(q + 4, 4)) break;
        q += 8 + static_cast<size_t>(in.U32LeAt(q + 4));
      }
      if (!in.HasAt(q, texture::kChunkHeadSize)) break;
      const uint32_t chunkLength = in.U32LeAt(q + 4);
      if (chunkLength < 8) break;
      const size_t dataLength = chunkLength - 8u;
      if (!in.HasAt(q + texture::kChunkHeadSize, dataLength)) break;
      Texture t;
      if (gvm) {
        t.format = in.U8At(q + 10) + 256u * in.U8At(q + 11);
        t.width = in.U16BeAt(q + 12);
        t.height = in.U16BeAt(q + 14);
      } else {
        t.format = in.U8At(q + 8) + 256u * in.U8At(q + 9);
        t.width = in.U16LeAt(q + 12);
        t.height = in.U16LeAt(q + 14);
      }
      t.globalIndex = e.globalIndex;
      t.data = in.BytesAt(q + texture::kChunkHeadSize, dataLength);
      Fill(store, read, g, e.name, t).PackageIndex = packageIndex;
      ++g;
      q += texture::kChunkHeadSize + dataLength;
    }
  });
}

// XVM: `count` consecutive XVRT chunks from H + 8, each followed by its data;
// the next chunk starts at chunk start + chunk length + 8. Magics are not tested.
template <typename NameOf, typename Filled>
int32_t ReadXvm(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t first,
                const char* what, NameOf nameOf, Filled filled, const InputHooks& input) {
  const ByteReader in = HeaderOf(archive, "XVM");
  const uint32_t headerLength = in.U32LeAt(4);
  const uint32_t count = in.U32LeAt(8);
  RequireImageCount(static_cast<int64_t>(first) + count, what);

  return FillCounted(store, read, first, count, [&](int32_t& g) {
    size_t pos = static_cast<size_t>(headerLength) + 8;
    for (uint32_t j = 0; j < count && in.HasAt(pos, texture::kXvrtHeadSize); ++j) {
      ByteReader headIn = in.Sub(pos, texture::kXvrtHeadSize);
      const texture::XvrtHead head = texture::ReadXvrtHead(headIn);
      if (!in.HasAt(pos + texture::kXvrtHeadSize, head.dataLength)) break;
      Texture t{head.width, head.height, head.EntryFormat(), head.globalIndex,
                in.BytesAt(pos + texture::kXvrtHeadSize, head.dataLength)};
      filled(Fill(store, read, g, nameOf(j), t));
      input.Release(in.BytesAt(pos, texture::kXvrtHeadSize + head.dataLength));
      ++g;
      pos += static_cast<size_t>(head.chunkLength) + 8;
    }
  });
}

}  // namespace

ReadResult ReadPvmFile(ImageStore& store, std::span<const uint8_t> file, const InputHooks& input) {
  return ReadEntryArchiveFile(store, file, Order::Little, input);
}

ReadResult ReadGvmFile(ImageStore& store, std::span<const uint8_t> file, const InputHooks& input) {
  return ReadEntryArchiveFile(store, file, Order::Big, input);
}

ReadResult ReadXvmFile(ImageStore& store, std::span<const uint8_t> file, const InputHooks& input) {
  ReadResult read;
  ReadXvm(
      store, read, file, 0, "XVM file", [](uint32_t i) { return "Image " + std::to_string(i); },
      [](TImage_Entry&) {}, input);
  return Finished(store, std::move(read), LoadedContainer::Xvm);
}

int32_t ReadPvmInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t packageIndex,
                        int32_t runningIndex, PackageCaller caller) {
  return ReadEntryArchiveInMemory(store, read, archive, packageIndex, runningIndex, caller, Order::Little);
}

int32_t ReadGvmInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t packageIndex,
                        int32_t runningIndex, PackageCaller caller) {
  return ReadEntryArchiveInMemory(store, read, archive, packageIndex, runningIndex, caller, Order::Big);
}

int32_t ReadXvmInMemory(ImageStore& store, ReadResult& read, std::span<const uint8_t> archive, int32_t packageIndex,
                        int32_t runningIndex, PackageCaller) {
  RequireRunningIndex(runningIndex);
  return ReadXvm(
      store, read, archive, runningIndex, "XVM archive",
      [packageIndex](uint32_t j) {
        return "XVM " + std::to_string(packageIndex) + " , Image " + std::to_string(j);
      },
      [packageIndex](TImage_Entry& entry) { entry.PackageIndex = packageIndex; }, InputHooks());
}

}  // namespace quarrendel::archive
