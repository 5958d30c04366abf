#include "archive/bml_rebuild.h"

#include <algorithm>
#include <string>

#include "archive/archive_writer.h"
#include "core/byte_io.h"
#include "core/capacity.h"
#include "core/error.h"

namespace quarrendel::archive {

namespace {

constexpr size_t kHeaderSize = 64;
constexpr size_t kEntrySize = 64;
constexpr size_t kS1At = 32;
constexpr size_t kS2At = 44;
constexpr size_t kUnpackedAt = 48;

size_t Round32(size_t n) { return (n + 31) / 32 * 32; }

struct Entry {
  size_t s1 = 0;
  size_t s2 = 0;
};

class Rebuild {
 public:
  Rebuild(std::span<const uint8_t> package, PackageArchiveKind kind) : in_(package), big_(kind == PackageArchiveKind::Gvm) {}

  // Reads the entry table and checks that every entry's data lies in the file.
  void ReadTable() {
    if (!in_.HasAt(0, kHeaderSize)) throw Error(ErrorKind::Corrupt, "the BML header is cut short", 0);
    const uint32_t count = U32At(4);
    if (count < 1 || count > static_cast<uint32_t>(kMaxBmlEntries)) {
      throw Error(ErrorKind::Corrupt, "the BML entry count " + std::to_string(count) + " is outside 1.." +
                                          std::to_string(kMaxBmlEntries), 4);
    }
    if (!in_.HasAt(kHeaderSize, kEntrySize * count)) {
      throw Error(ErrorKind::Corrupt, "the BML entry table is cut short", static_cast<int64_t>(in_.Size()));
    }
    dataStart_ = (kEntrySize * (count + 1) + 2047) / 2048 * 2048;
    size_t pos = dataStart_;
    for (uint32_t k = 0; k < count; ++k) {
      const size_t at = kHeaderSize + kEntrySize * k;
      const Entry e{U32At(at + kS1At), U32At(at + kS2At)};
      // The last entry's padding may be missing; its bytes may not.
      if (!in_.HasAt(pos, e.s1) || !in_.HasAt(pos + Round32(e.s1), e.s2)) {
        throw Error(ErrorKind::Corrupt, "the data of BML entry " + std::to_string(k) + " runs past the end of the file",
                    static_cast<int64_t>(pos));
      }
      pos += Round32(e.s1) + Round32(e.s2);
      if (e.s2 != 0) withArchive_.push_back(static_cast<int32_t>(k));
      entries_.push_back(e);
    }
  }

  // The k-th package must come from the k-th entry with an archive, and every such entry must get one.
  void MatchPackages(std::span<const TImage_Entry> images, const std::vector<PackageRun>& runs,
                     PackageArchiveKind kind) const {
    if (runs.size() > withArchive_.size()) {
      throw Error(ErrorKind::Corrupt, "the images form " + std::to_string(runs.size()) + " packages but only " +
                                          std::to_string(withArchive_.size()) +
                                          " BML entries hold a texture archive");
    }
    for (size_t r = 0; r < runs.size(); ++r) {
      const int32_t from = images[static_cast<size_t>(runs[r].first)].PackageIndex;
      if (from != withArchive_[r]) {
        throw Error(ErrorKind::Corrupt, "images " + std::to_string(runs[r].first) + " to " +
                                            std::to_string(runs[r].first + runs[r].count - 1) +
                                            " came from BML entry " + std::to_string(from) +
                                            " but would go to entry " + std::to_string(withArchive_[r]));
      }
      RequirePackedArchiveFits(kind, ImagesOf(images, runs[r]),
                               "the package for BML entry " + std::to_string(withArchive_[r]));
    }
    if (runs.size() < withArchive_.size()) {
      throw Error(ErrorKind::Corrupt, "BML entry " + std::to_string(withArchive_[runs.size()]) +
                                          " holds a texture archive that contributed no image");
    }
  }

  void Begin() {
    limit_ = 10 * in_.Size();
    out_.assign(dataStart_, 0);
    // Bytes between the entry table and the data start stay zero.
    const auto head = in_.BytesAt(0, kHeaderSize + kEntrySize * entries_.size());
    std::copy(head.begin(), head.end(), out_.begin());
    readPos_ = dataStart_;
  }

  // Places the r-th package at the r-th entry with an archive, copying the entries before it.
  void Place(size_t r, const CompressedPackage& package) {
    const auto j = static_cast<size_t>(withArchive_[r]);
    while (next_ < j) CopyFileData(next_++);
    CopyFileData(j);
    readPos_ += Round32(entries_[j].s2);
    PutU32(kHeaderSize + kEntrySize * j + kUnpackedAt, static_cast<uint32_t>(package.length));
    PutU32(kHeaderSize + kEntrySize * j + kS2At, static_cast<uint32_t>(package.compressed.size()));
    const size_t at = out_.size();
    Grow(Round32(package.compressed.size()));
    std::copy(package.compressed.begin(), package.compressed.end(), out_.begin() + static_cast<std::ptrdiff_t>(at));
    next_ = j + 1;
  }

  std::vector<uint8_t> Finish() {
    while (next_ < entries_.size()) CopyFileData(next_++);
    return std::move(out_);
  }

 private:
  uint32_t U32At(size_t offset) const { return big_ ? in_.U32BeAt(offset) : in_.U32LeAt(offset); }

  void PutU32(size_t offset, uint32_t v) {
    ByteWriter w(std::span<uint8_t>(out_).subspan(offset, 4));
    if (big_) w.U32Be(v);
    else w.U32Le(v);
  }

  // Appends `count` zero bytes, refusing a result beyond ten times the package.
  void Grow(size_t count) {
    if (out_.size() + count > limit_) {
      throw Error(ErrorKind::OverCapacity, "the rebuilt BML would pass " + std::to_string(limit_) +
                                               " bytes, ten times the package's size");
    }
    out_.resize(out_.size() + count, 0);
  }

  // An entry's file data with its padding to 32 (as far as the file holds it).
  void CopyFileData(size_t k) {
    const size_t padded = Round32(entries_[k].s1);
    const size_t at = out_.size();
    Grow(padded);
    if (readPos_ < in_.Size()) {
      const auto bytes = in_.BytesAt(readPos_, std::min(padded, in_.Size() - readPos_));
      std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    readPos_ += padded;
  }

  ByteReader in_;
  bool big_;
  size_t dataStart_ = 0;
  std::vector<Entry> entries_;
  std::vector<int32_t> withArchive_;
  std::vector<uint8_t> out_;
  size_t limit_ = 0;
  size_t readPos_ = 0;
  size_t next_ = 0;  // first entry whose file data is not yet copied
};

}  // namespace

std::vector<uint8_t> RebuildBml(std::span<const uint8_t> package, PackageArchiveKind kind,
                                std::span<const TImage_Entry> images, WorkerPool& pool, bool best,
                                const std::function<void(size_t done, size_t total)>& progress) {
  if (kind == PackageArchiveKind::None) throw Error(ErrorKind::Unsupported, kBmlNothingToRebuild);
  RequireImageCount(static_cast<int64_t>(images.size()), "image table");
  Rebuild rebuild(package, kind);
  rebuild.ReadTable();
  const std::vector<PackageRun> runs = GroupPackages(images);
  rebuild.MatchPackages(images, runs, kind);
  rebuild.Begin();
  if (progress) progress(0, runs.size());
  CompressPackages(
      kind, images, runs, pool,
      [&](size_t r, CompressedPackage&& p) {
        rebuild.Place(r, p);
        if (progress) progress(r + 1, runs.size());
      },
      best);
  return rebuild.Finish();
}

}  // namespace quarrendel::archive
