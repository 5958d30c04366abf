#include "archive/package_reader.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archive/texture_archive.h"
#include "core/byte_io.h"
#include "core/byte_order.h"
#include "core/capacity.h"
#include "core/error.h"
#include "core/worker_pool.h"
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
// restarts, the running index restarts at 0 (and so does the count of images
// declared), and the progress panel appears.
void EnterPackageMode(ImageStore& store, ReadResult& read, Progress& progress, int32_t& running) {
  if (store.packageMode != 0) return;
  store.packageMode = 1;
  read.names.clear();
  running = 0;
  read.expected = 0;
  progress.SetProgressVisible(true);
}

// Fetches a PRS stream into the input buffer, unpacks it into the output
// buffer and returns the unpacked bytes. A stream that ends before its end
// command gives what it holds and is recorded as incomplete. Throws
// Error(OverCapacity) for a stream larger than the input buffer or unpacking
// beyond the output buffer, and Error(Corrupt) for a copy reaching before the start.
std::span<const uint8_t> Unpack(ImageStore& store, ReadResult& read, const InputHooks& input,
                                std::span<const uint8_t> packed) {
  RequireBufferBytes(static_cast<int64_t>(packed.size()), "compressed member");
  const auto fetched = input.Fetch(packed, store.input.Span());
  const prs::DecompressResult r = prs::Decompress(fetched, store.output.Span());
  if (r.EndsEarly()) {
    read.StopShort(LoadShortfall::StreamEndsEarly);
  } else if (r.error) {
    throw *r.error;
  }
  return store.output.First(r.size);
}

// Runs the in-memory reader for an unpacked archive; false when the bytes are
// not a texture archive.
bool ReadUnpackedArchive(ImageStore& store, ReadResult& read, Progress& progress, std::span<const uint8_t> archive,
                         int32_t p, int32_t members, int32_t& running, PackageCaller caller) {
  const ByteReader in(archive);
  struct Kind {
    const char* magic;
    bool pvrFamily;
    PackageArchiveKind packageKind;
    int32_t (*read)(ImageStore&, ReadResult&, std::span<const uint8_t>, int32_t, int32_t, PackageCaller);
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
    progress.SetProgress(ProgressCaption(kind.magic, p, members), members, p);
    // Full pools: the reader counted the entries it filled before they ran out.
    running = kind.read(store, read, archive, p, running, caller);
    store.imageCount = running;
    return true;
  }
  return false;
}

// An unpacked single texture: a 16-byte GBIX chunk, then a PVRT-layout head
// at 16 whatever its magic, data from 32.
void ReadUnpackedTexture(ImageStore& store, ReadResult& read, std::span<const uint8_t> bytes, int32_t p,
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
  read.names.push_back(entry.Name);
  ++running;
}

// An uncompressed member: GBIX chunk + PVRT/GVRT texture, or an XVRT texture.
// The data may run past the member's table size; it must stay inside the file.
// Until a compressed member is met, member i is entry i and list item i; the
// item is added once the entry holds its data.
void ReadPlainMember(ImageStore& store, ReadResult& read, const ByteReader& file, size_t offset, int32_t i,
                     bool xvr) {
  TImage_Entry& entry = store.Entry(i);
  const std::string name = "Image " + std::to_string(i);
  const bool listed = store.packageMode == 0;
  if (xvr) {
    ByteReader headIn = file.Sub(offset, texture::kXvrtHeadSize);
    const texture::XvrtHead head = texture::ReadXvrtHead(headIn);
    store.FillEntryData(entry, file.BytesAt(offset + texture::kXvrtHeadSize, head.dataLength));
    entry.Name = name;
    texture::ApplyHead(head, entry);
    if (listed) read.names.push_back(name);
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
  if (listed) {
    entry.Name = name;
    read.names.push_back(name);
  }
}

// Members unpacked ahead of the reader, per worker thread.
constexpr size_t kMembersAheadPerThread = 4;

// Output buffers of kBufferSize bytes for members unpacked ahead, reused: at
// most one per member in flight, and each holds only the pages its members
// wrote.
class UnpackBuffers {
 public:
  std::unique_ptr<uint8_t[]> Take() {
    {
      const std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<uint8_t[]> buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
      }
    }
    return std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(kBufferSize));
  }
  void Give(std::unique_ptr<uint8_t[]> buffer) {
    const std::lock_guard lock(mutex_);
    free_.push_back(std::move(buffer));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<uint8_t[]>> free_;
};

enum class MemberKind { Other, Plain, Packed };

// One AFS member as a worker leaves it for the reader: its first 16 bytes
// and, for a PRS-compressed member, the member unpacked.
struct FetchedMember {
  std::array<uint8_t, 16> head{};
  MemberKind kind = MemberKind::Other;
  std::optional<Error> error;        // the member's first bytes lie outside the file
  std::optional<Error> unpackError;  // the stream could not be unpacked
  std::unique_ptr<uint8_t[]> unpacked;
  size_t unpackedSize = 0;
  bool endsEarly = false;  // the stream ends before its end command
  bool cut = false;        // the file ends inside the member: only its first bytes were unpacked
};

// Whether `e`, met reading `fetched`, comes from bytes of the member that lie
// beyond the end of the file: a member starting there, a plain member's
// texture (the whole-file reader throws Truncated only past the file's end),
// or anything of a packed member the file cuts short.
bool BeyondTheFile(const FetchedMember& fetched, const Error& e) {
  if (fetched.cut) return true;
  return fetched.kind != MemberKind::Packed && e.Kind() == ErrorKind::Truncated;
}

// Reads member (offset, size) of `file`; safe on any thread. A stream too
// large for the buffers, reaching before its start or unpacking beyond the
// buffer is an unpackError; one that ends early, also because the file ends
// inside it (cut), is kept as far as it goes.
FetchedMember FetchMember(const ByteReader& file, const InputHooks& input, size_t offset, size_t size,
                          UnpackBuffers& buffers) {
  FetchedMember fetched;
  try {
    // A member at the very end of the file may be shorter than 16 bytes: the
    // rest of its head reads as zeros. A member starting at or past the end
    // has no head at all (Truncated).
    std::array<uint8_t, 16> buffer;
    const size_t available = offset < file.Size() ? std::min(buffer.size(), file.Size() - offset) : buffer.size();
    const auto head = input.Fetch(file.BytesAt(offset, available), buffer);
    std::copy(head.begin(), head.end(), fetched.head.begin());
  } catch (const Error& e) {
    fetched.error = e;
    return fetched;
  }
  const ByteReader member{std::span<const uint8_t>(fetched.head)};
  if (member.MagicAt(0, "GBIX") || member.MagicAt(0, "XVRT")) {
    fetched.kind = MemberKind::Plain;
    return fetched;
  }
  if (!(member.MagicAt(1, "PVM") || member.MagicAt(1, "XVM") || member.MagicAt(1, "GVM") ||
        member.MagicAt(1, "GBI"))) {
    return fetched;
  }
  fetched.kind = MemberKind::Packed;
  try {
    RequireBufferBytes(static_cast<int64_t>(size), "compressed member");
    const size_t inFile = std::min(size, file.Size() - offset);  // the member starts inside the file
    fetched.cut = inFile < size;
    const auto packed = file.BytesAt(offset, inFile);
    const auto copy = std::make_unique_for_overwrite<uint8_t[]>(inFile);
    fetched.unpacked = buffers.Take();
    const prs::DecompressResult r =
        prs::Decompress(input.Fetch(packed, std::span<uint8_t>(copy.get(), inFile)),
                        std::span<uint8_t>(fetched.unpacked.get(), static_cast<size_t>(kBufferSize)));
    if (r.EndsEarly()) {
      fetched.endsEarly = true;
    } else if (r.error) {
      throw *r.error;
    }
    fetched.unpackedSize = r.size;
  } catch (const Error& e) {
    fetched.unpackError = e;
  }
  return fetched;
}

}  // namespace

ReadResult ReadAfs(ImageStore& store, std::span<const uint8_t> bytes, Progress& progress,
                   const InputHooks& input) {
  const ByteReader file(bytes);
  ReadResult read;
  read.container = LoadedContainer::Afs;
  auto unsupported = [&] {
    read.StopShort(LoadShortfall::Damaged);
    read.outcome = {Status::Refused, kUnsupportedMember};
  };
  auto finished = [&] {
    read.imageCount = store.imageCount;
    return std::move(read);
  };
  if (!file.HasAt(0, 8)) {
    unsupported();
    return finished();
  }
  // The table and the members' first bytes are fetched rather than read in
  // place: a packed member's pages are then never mapped at all.
  std::array<uint8_t, 8> start;
  const uint32_t members = ByteReader(input.Fetch(file.BytesAt(0, 8), start)).U32LeAt(4);
  // The member table must lie in the header area and in the file, and every
  // member may become an image of its own.
  if (members > kAfsMaxMembers || members > static_cast<uint32_t>(kMaxImages) || !file.HasAt(8, 8 * size_t{members})) {
    unsupported();
    return finished();
  }
  std::vector<uint8_t> tableBytes(8 * size_t{members});
  const ByteReader table(input.Fetch(file.BytesAt(8, tableBytes.size()), tableBytes));
  const auto m = static_cast<int32_t>(members);
  store.imageCount = m;
  read.expected = m;
  int32_t running = 0;  // running image index of compressed members

  // Members are fetched and unpacked ahead on the workers, and read here one
  // after another in member order, as with a single thread.
  WorkerPool pool;
  UnpackBuffers buffers;
  const auto offsetOf = [&](int32_t i) { return size_t{table.U32LeAt(8 * static_cast<size_t>(i))}; };
  const auto sizeOf = [&](int32_t i) { return size_t{table.U32LeAt(4 + 8 * static_cast<size_t>(i))}; };
  pool.OrderedMap(
      members, kMembersAheadPerThread * static_cast<size_t>(pool.Threads()),
      [&](size_t i) {
        return FetchMember(file, input, offsetOf(static_cast<int32_t>(i)), sizeOf(static_cast<int32_t>(i)), buffers);
      },
      [&](size_t k, FetchedMember&& fetched) {
        const auto i = static_cast<int32_t>(k);
        const size_t offset = offsetOf(i);
        const size_t size = sizeOf(i);
        try {
          if (fetched.error) throw *fetched.error;
          const ByteReader member{std::span<const uint8_t>(fetched.head)};
          if (member.MagicAt(0, std::string_view("end\0", 4))) {
            // The end member still gets its list item before the walk stops.
            // In a package the entries filled are those of the running index.
            if (store.packageMode == 0) {
              store.Entry(i).Name = "Image " + std::to_string(i);
              read.names.push_back(store.Entry(i).Name);
              read.expected = i;
            }
            store.imageCount = store.packageMode != 0 ? running : i;
            return false;
          }
          if (fetched.kind == MemberKind::Plain) {
            ReadPlainMember(store, read, file, offset, i, member.MagicAt(0, "XVRT"));
          } else if (fetched.kind == MemberKind::Packed) {
            EnterPackageMode(store, read, progress, running);
            if (fetched.unpackError) throw *fetched.unpackError;
            if (fetched.endsEarly) read.StopShort(fetched.cut ? LoadShortfall::Damaged : LoadShortfall::StreamEndsEarly);
            const std::span<const uint8_t> unpacked(fetched.unpacked.get(), fetched.unpackedSize);
            if (ByteReader(unpacked).MagicAt(0, "GBIX")) {
              read.expected += 1;
              ReadUnpackedTexture(store, read, unpacked, i, running);
              // Counted like the archives' images, so that no entry left by an
              // earlier load is counted when a later member holds no image.
              store.imageCount = running;
            } else {
              ReadUnpackedArchive(store, read, progress, unpacked, i, m, running, PackageCaller::Afs);
              if (read.poolFull) return false;
            }
            buffers.Give(std::move(fetched.unpacked));
          } else {
            store.imageCount = store.packageMode != 0 ? running : i;
            unsupported();
            return false;
          }
          if (file.HasAt(offset, size)) input.Release(file.BytesAt(offset, size));
        } catch (const Error& e) {
          // Count only what was read: the members before this one, or the images
          // unpacked so far.
          store.imageCount = store.packageMode != 0 ? running : i;
          if (e.Kind() == ErrorKind::PoolFull) {
            read.poolFull = e;
            read.StopShort(LoadShortfall::Damaged);
          } else if (BeyondTheFile(fetched, e)) {
            // A file cut short: the load is incomplete, not refused.
            read.StopShort(LoadShortfall::Damaged);
          } else {
            unsupported();
          }
          return false;
        }
        return true;
      });
  return finished();
}

ReadResult ReadBml(ImageStore& store, std::span<const uint8_t> bytes, Progress& progress,
                   const InputHooks& input) {
  const ByteReader file(bytes);
  ReadResult read;
  read.container = LoadedContainer::Bml;
  uint32_t count = file.HasAt(4, 4) ? file.U32LeAt(4) : 0;
  const bool bigEndian = (count & 0xFFFF0000u) != 0;
  if (bigEndian) count = Swap32(count);
  store.imageCount = 0;
  store.packageArchiveKind = PackageArchiveKind::None;
  const bool marker = file.HasAt(8, 1) && file.U8At(8) == 0x50;
  if (count > static_cast<uint32_t>(kMaxBmlEntries) || count < 1 || !marker) {
    read.outcome = {Status::Refused, kInvalidBml};
    return read;
  }
  store.bmlFlag = 1;
  const auto c = static_cast<int32_t>(count);
  const size_t dataStart = (64 * (count + 1) + 2047) / 2048 * 2048;

  int32_t running = 0;
  size_t pos = dataStart;
  try {
    for (int32_t k = 0; k < c && !read.poolFull; ++k) {
      const size_t entryStart = pos;
      std::array<uint8_t, 20> words{};
      const auto raw = file.BytesAt(64 + 64 * static_cast<size_t>(k) + 32, words.size());
      std::copy(raw.begin(), raw.end(), words.begin());
      if (bigEndian) SwapDwords(words);
      const ByteReader entry{std::span<const uint8_t>(words)};
      const size_t s1 = entry.U32LeAt(0);
      const size_t s2 = entry.U32LeAt(12);
      pos += (s1 + 31) / 32 * 32;
      if (s2 == 0) continue;
      EnterPackageMode(store, read, progress, running);
      const auto unpacked = Unpack(store, read, input, file.BytesAt(pos, s2));
      pos += (s2 + 31) / 32 * 32;
      ReadUnpackedArchive(store, read, progress, unpacked, k, c, running, PackageCaller::Bml);
      if (file.HasAt(entryStart, pos - entryStart)) input.Release(file.BytesAt(entryStart, pos - entryStart));
    }
  } catch (const Error& e) {
    // Sizes beyond the file, corrupt streams, oversized archives: the walk
    // stops with the images read so far.
    store.imageCount = running;
    read.StopShort(e.Kind() == ErrorKind::OverCapacity ? LoadShortfall::OverBuffer : LoadShortfall::Damaged);
  }
  if (store.imageCount == 0 && !read.poolFull) read.outcome = {Status::Done, kBmlWithoutImages};
  read.imageCount = store.imageCount;
  return read;
}

}  // namespace quarrendel::archive
