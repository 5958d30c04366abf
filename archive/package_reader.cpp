#include "archive/package_reader.h"

#include <algorithm>
#include <array>
#include <string>

#include "archive/texture_archive.h"
#include "core/byte_io.h"
#include "core/byte_order.h"
#include "core/capacity.h"
#include "core/error.h"
#include "prs/prs.h"
#include "texture/texture_header.h"

namespace quarrendel::archive {

namespace {

// Caption of the progress panel for an unpacked archive of `magic`.
std::string ProgressCaption(std::string_view magic, int32_t member, int32_t members) {
  return "Decompressing " + std::string(magic.substr(0, 3)) + " #" + std::to_string(member) + " / " +
         std::to_string(members);
}

// The first compressed member or texture archive of a package: the list
// restarts, the running index restarts at 0, and the progress panel appears.
void EnterPackageMode(ImageStore& store, FrontEnd& frontEnd, int32_t& running) {
  if (store.packageMode != 0) return;
  store.packageMode = 1;
  frontEnd.ListClear();
  running = 0;
  frontEnd.SetProgressVisible(true);
}

// Unpacks a PRS stream into the output buffer and returns the unpacked bytes.
// Throws Error(OverCapacity) for a stream larger than the input buffer and
// Error(Corrupt) for a bad stream.
std::span<const uint8_t> Unpack(ImageStore& store, std::span<const uint8_t> packed) {
  RequireBufferBytes(static_cast<int64_t>(packed.size()), "compressed member");
  const prs::DecompressResult r = prs::Decompress(packed, store.output.Span());
  if (r.error) throw *r.error;
  return store.output.First(r.size);
}

// Runs the in-memory reader for an unpacked archive; false when the bytes are
// not a texture archive.
bool ReadUnpackedArchive(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> archive, int32_t p,
                         int32_t members, int32_t& running, PackageCaller caller) {
  const ByteReader in(archive);
  struct Kind {
    const char* magic;
    bool pvrFamily;
    PackageArchiveKind packageKind;
    int32_t (*read)(ImageStore&, FrontEnd&, std::span<const uint8_t>, int32_t, int32_t, PackageCaller);
  };
  static constexpr Kind kKinds[] = {
      {"PVMH", true, PackageArchiveKind::Pvm, &ReadPvmInMemory},
      {"GVMH", true, PackageArchiveKind::Gvm, &ReadGvmInMemory},
      {"XVMH", false, PackageArchiveKind::Xvm, &ReadXvmInMemory},
  };
  for (const Kind& kind : kKinds) {
    if (!in.MagicAt(0, kind.magic)) continue;
    if (kind.pvrFamily) store.pvrFamily = 1;
    if (caller == PackageCaller::Bml) store.packageArchiveKind = kind.packageKind;
    frontEnd.SetProgress(ProgressCaption(kind.magic, p, members), members, p);
    running = kind.read(store, frontEnd, archive, p, running, caller);
    store.imageCount = running;
    return true;
  }
  return false;
}

// An unpacked single texture: a 16-byte GBIX chunk, then a PVRT-layout head
// at 16 whatever its magic, data from 32.
void ReadUnpackedTexture(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> bytes, int32_t p,
                         int32_t& running) {
  const ByteReader in(bytes);
  ByteReader headIn = in.Sub(16, texture::kChunkHeadSize);
  const texture::TextureHead head = texture::ReadPvrtHead(headIn);
  if (head.DataLength() < 0) throw Error(ErrorKind::Corrupt, "texture chunk shorter than its header", 20);
  const auto data = in.BytesAt(32, static_cast<size_t>(head.DataLength()));
  TImage_Entry& entry = store.Entry(running);
  store.FillEntryData(entry, data);
  entry.GlobalIndex = in.U32LeAt(8);
  entry.PackageIndex = p;
  entry.Name = "No Name";
  texture::ApplyHead(head, entry);
  frontEnd.ListAdd(entry.Name);
  ++running;
}

// An uncompressed member: GBIX chunk + PVRT/GVRT texture, or an XVRT texture.
// The data may run past the member's table size; it must stay inside the file.
void ReadPlainMember(ImageStore& store, const ByteReader& file, size_t offset, int32_t i, bool xvr) {
  TImage_Entry& entry = store.Entry(i);
  if (xvr) {
    ByteReader headIn = file.Sub(offset, texture::kXvrtHeadSize);
    const texture::XvrtHead head = texture::ReadXvrtHead(headIn);
    store.FillEntryData(entry, file.BytesAt(offset + texture::kXvrtHeadSize, head.dataLength));
    entry.Name = "Image " + std::to_string(i);
    texture::ApplyHead(head, entry);
    return;
  }
  const uint32_t gbixLength = file.U32LeAt(offset + 4);
  uint32_t globalIndex = file.U32LeAt(offset + 8);
  const size_t headAt = offset + 8 + gbixLength;
  ByteReader headIn = file.Sub(headAt, texture::kChunkHeadSize);
  texture::TextureHead head;
  if (headIn.MagicAt(0, "GVRT")) {
    head = texture::ReadGvrtHead(headIn);
    globalIndex = Swap32(globalIndex);
  } else {
    head = texture::ReadPvrtHead(headIn);
  }
  if (head.DataLength() < 0) {
    throw Error(ErrorKind::Corrupt, "texture chunk shorter than its header", static_cast<int64_t>(headAt));
  }
  store.FillEntryData(entry, file.BytesAt(headAt + texture::kChunkHeadSize, static_cast<size_t>(head.DataLength())));
  entry.GlobalIndex = globalIndex;
  texture::ApplyHead(head, entry);
  store.pvrFamily = 1;
}

}  // namespace

PackageOutcome ReadAfs(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> bytes) {
  const ByteReader file(bytes);
  auto unsupported = [&] {
    frontEnd.ShowInformation(kUnsupportedMember);
    return PackageOutcome::EndsLoad;
  };
  if (!file.HasAt(0, 8)) return unsupported();
  const uint32_t members = file.U32LeAt(4);
  // The member table must lie in the header area and in the file, and every
  // member may become an image of its own.
  if (members > kAfsMaxMembers || members > static_cast<uint32_t>(kMaxImages) || !file.HasAt(8, 8 * size_t{members})) {
    return unsupported();
  }
  const auto m = static_cast<int32_t>(members);
  store.imageCount = m;
  int32_t running = 0;  // running image index of compressed members

  for (int32_t i = 0; i < m; ++i) {
    const size_t offset = file.U32LeAt(8 + 8 * static_cast<size_t>(i));
    const size_t size = file.U32LeAt(12 + 8 * static_cast<size_t>(i));
    try {
      const auto head = file.BytesAt(offset, 16);
      const ByteReader member(head);
      if (store.packageMode == 0) {
        // Until a compressed member is met, member i is entry i.
        TImage_Entry& entry = store.Entry(i);
        entry.Name = "Image " + std::to_string(i);
        frontEnd.ListAdd(entry.Name);
      }
      if (member.MagicAt(0, std::string_view("end\0", 4))) {
        store.imageCount = i;
        break;
      }
      if (member.MagicAt(0, "GBIX") || member.MagicAt(0, "XVRT")) {
        ReadPlainMember(store, file, offset, i, member.MagicAt(0, "XVRT"));
        continue;
      }
      if (member.MagicAt(1, "PVM") || member.MagicAt(1, "XVM") || member.MagicAt(1, "GVM") ||
          member.MagicAt(1, "GBI")) {
        EnterPackageMode(store, frontEnd, running);
        const auto unpacked = Unpack(store, file.BytesAt(offset, size));
        if (ByteReader(unpacked).MagicAt(0, "GBIX")) {
          ReadUnpackedTexture(store, frontEnd, unpacked, i, running);
        } else {
          ReadUnpackedArchive(store, frontEnd, unpacked, i, m, running, PackageCaller::Afs);
        }
        continue;
      }
    } catch (const Error& e) {
      if (e.Kind() == ErrorKind::PoolFull) throw;
      // Count only what was read: the members before this one, or the images
      // unpacked so far.
      store.imageCount = store.packageMode != 0 ? running : i;
      return unsupported();
    }
    return unsupported();
  }
  return PackageOutcome::Completed;
}

PackageOutcome ReadBml(ImageStore& store, FrontEnd& frontEnd, std::span<const uint8_t> bytes) {
  const ByteReader file(bytes);
  uint32_t count = file.HasAt(4, 4) ? file.U32LeAt(4) : 0;
  const bool bigEndian = (count & 0xFFFF0000u) != 0;
  if (bigEndian) count = Swap32(count);
  store.imageCount = 0;
  store.packageArchiveKind = PackageArchiveKind::None;
  const bool marker = file.HasAt(8, 1) && file.U8At(8) == 0x50;
  if (count > static_cast<uint32_t>(kMaxBmlEntries) || count < 1 || !marker) {
    frontEnd.ShowInformation(kInvalidBml);
    return PackageOutcome::EndsLoad;
  }
  store.bmlFlag = 1;
  const auto c = static_cast<int32_t>(count);
  const size_t dataStart = (64 * (count + 1) + 2047) / 2048 * 2048;

  int32_t running = 0;
  size_t pos = dataStart;
  try {
    for (int32_t k = 0; k < c; ++k) {
      std::array<uint8_t, 20> words{};
      const auto raw = file.BytesAt(64 + 64 * static_cast<size_t>(k) + 32, words.size());
      std::copy(raw.begin(), raw.end(), words.begin());
      if (bigEndian) SwapDwords(words);
      const ByteReader entry{std::span<const uint8_t>(words)};
      const size_t s1 = entry.U32LeAt(0);
      const size_t s2 = entry.U32LeAt(12);
      pos += (s1 + 31) / 32 * 32;
      if (s2 == 0) continue;
      EnterPackageMode(store, frontEnd, running);
      const auto unpacked = Unpack(store, file.BytesAt(pos, s2));
      pos += (s2 + 31) / 32 * 32;
      ReadUnpackedArchive(store, frontEnd, unpacked, k, c, running, PackageCaller::Bml);
    }
  } catch (const Error& e) {
    if (e.Kind() == ErrorKind::PoolFull) throw;
    // Sizes beyond the file, corrupt streams, oversized archives: the walk
    // stops with the images read so far.
    store.imageCount = running;
  }
  if (store.imageCount == 0) frontEnd.ShowMessage(kBmlWithoutImages);
  return PackageOutcome::Completed;
}

}  // namespace quarrendel::archive
