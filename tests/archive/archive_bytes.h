// Small hand-made archives for the archive tests: every byte is spelled out
// in hex; only names are padded by a helper.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "archive/package_reader.h"
#include "archive/texture_archive.h"
#include "core/frontend.h"
#include "core/image_store.h"
#include "tests/support/recording_frontend.h"
#include "tests/support/test_util.h"

namespace quarrendel::test {

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Bytes [from, to) of `b`.
inline Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

// `text` zero-padded to `size` bytes.
inline Bytes Padded(const std::string& text, size_t size) {
  Bytes out(text.begin(), text.end());
  out.resize(size, 0);
  return out;
}

// A PVM as this system writes it: flags 0x0109, entries "wall" (global index
// 0x11223344) and "floor" (0x12345678), H = 72, two PVRT chunks:
//  wall:  format 01 09 00 00, 2 x 2, data AA BB CC DD
//  floor: format 00 01 AB CD, 4 x 8, data EE FF
inline Bytes PvmTwoTextures() {
  return Cat({FromHex("50564D48 48000000 0901 0200"),
              FromHex("0000"), Padded("wall", 28), FromHex("44332211"),
              FromHex("0100"), Padded("floor", 28), FromHex("78563412"),
              FromHex("50565254 0C000000 01090000 0200 0200 AABBCCDD"),
              FromHex("50565254 0A000000 0001ABCD 0400 0800 EEFF")});
}

// The same as a GVM: flags 01 09, big-endian count, entry numbers, indices and
// dimensions; GVRT heads with bytes 8-11 = 12 34 08 05 and 00 00 01 09.
//  wall:  256 x 16, data AA BB CC DD;  floor: 8 x 8, data EE FF
inline Bytes GvmTwoTextures() {
  return Cat({FromHex("47564D48 48000000 0109 0002"),
              FromHex("0000"), Padded("wall", 28), FromHex("11223344"),
              FromHex("0001"), Padded("floor", 28), FromHex("12345678"),
              FromHex("47565254 0C000000 12340805 0100 0010 AABBCCDD"),
              FromHex("47565254 0A000000 00000109 0008 0008 EEFF")});
}

// An XVM: H = 56, two XVRT chunks at 64.
//  0: flags 1, format code 6, global index 0x0000BEEF, 4 x 4, 8 data bytes 00..07,
//     chunk length 64 (= 56 + 8)
//  1: flags 2, format code 7, global index 0x00000010, 8 x 4, 2 data bytes 11 22,
//     chunk length 72: 14 padding bytes before the end of the chunk
inline Bytes XvmTwoTextures() {
  return Cat({FromHex("58564D48 38000000 02000000"), Bytes(52, 0),
              FromHex("58565254 40000000 01000000 06000000 EFBE0000 0400 0400 08000000"), Bytes(36, 0),
              FromHex("0001020304050607"),
              FromHex("58565254 48000000 02000000 07000000 10000000 0800 0400 02000000"), Bytes(36, 0),
              FromHex("1122"), Bytes(14, 0x99)});
}

// A little-endian BML package of one entry that holds no texture archive:
// count 1, marker 50, the entry's S1 = 4 (at 96) and S2 = 0, data at 2048.
inline Bytes BmlWithoutArchives() {
  return Cat({FromHex("00000000 01000000 50"), Bytes(87, 0), FromHex("04"), Bytes(2048 + 32 - 97, 0)});
}

// A packed archive of one 8 x 8 image with format 01 09, spelled out: the
// 4096-byte header area with the one entry, then the texture chunk.
// `chunkLength` is the little-endian chunk length (data length + 8) in hex.
inline Bytes PackedPvmOfOne(const std::string& name, const std::string& indexHex, const std::string& chunkLength,
                            const Bytes& data) {
  return Cat({FromHex("50564D48 F80F0000 0901 0100 0000"), Padded(name, 28), FromHex(indexHex), Bytes(4050, 0),
              FromHex("50565254" + chunkLength + "01090000 0800 0800"), data});
}
inline Bytes PackedGvmOfOne(const std::string& name, const std::string& indexHex, const std::string& chunkLength,
                            const Bytes& data) {
  return Cat({FromHex("47564D48 F80F0000 0109 0001 0000"), Padded(name, 28), FromHex(indexHex), Bytes(4050, 0),
              FromHex("47565254" + chunkLength + "00000109 0008 0008"), data});
}

// Images for the writers, their data owned here.
struct ImageList {
  ImageList() = default;
  ImageList(const ImageList&) = delete;
  ImageList& operator=(const ImageList&) = delete;

  TImage_Entry& Add(const std::string& name, Bytes bytes, int32_t packageIndex = 0, uint32_t format = 0x0901,
                    uint16_t side = 8, uint32_t globalIndex = 0) {
    data.push_back(std::move(bytes));
    TImage_Entry& e = images.emplace_back();
    e.Name = name;
    e.Width = e.Height = side;
    e.Format = format;
    e.GlobalIndex = globalIndex;
    e.DataLength = static_cast<int32_t>(data.back().size());
    e.Data = data.back().data();
    e.PackageIndex = packageIndex;
    return e;
  }

  std::vector<Bytes> data;  // moving a Bytes keeps its buffer, so Data stays valid
  std::vector<TImage_Entry> images;
};

// What the Load command does with a reader's result, for the reader tests:
// the names listed in `ui`, the message shown, the images declared and a
// read that stopped short recorded in the store; full block pools passed on.
inline archive::ReadResult Told(ImageStore& store, RecordingFrontEnd& ui, archive::ReadResult read) {
  for (const std::string& name : read.names) ui.ListAdd(name);
  store.imagesDeclared += read.expected;
  if (read.stopped != LoadShortfall::None) store.NoteShortfall(read.stopped);
  if (read.poolFull) throw *read.poolFull;
  if (!read.outcome.message.empty()) {
    if (read.outcome.status == Status::Done) {
      ui.ShowMessage(read.outcome.message);
    } else {
      ui.ShowInformation(read.outcome.message);
    }
  }
  return read;
}

// The readers told to `ui` that way: the file readers give the image count,
// the in-memory ones the running index after them, the package readers the
// status of their outcome.
inline int32_t PvmFile(ImageStore& s, RecordingFrontEnd& ui, std::span<const uint8_t> b) {
  return Told(s, ui, archive::ReadPvmFile(s, b)).imageCount;
}
inline int32_t GvmFile(ImageStore& s, RecordingFrontEnd& ui, std::span<const uint8_t> b) {
  return Told(s, ui, archive::ReadGvmFile(s, b)).imageCount;
}
inline int32_t XvmFile(ImageStore& s, RecordingFrontEnd& ui, std::span<const uint8_t> b) {
  return Told(s, ui, archive::ReadXvmFile(s, b)).imageCount;
}
template <auto Reader>
int32_t InMemory(ImageStore& s, RecordingFrontEnd& ui, std::span<const uint8_t> b, int32_t p, int32_t g,
                 archive::PackageCaller caller) {
  archive::ReadResult read;
  const int32_t next = Reader(s, read, b, p, g, caller);
  Told(s, ui, std::move(read));
  return next;
}
inline constexpr auto PvmMemory = InMemory<archive::ReadPvmInMemory>;
inline constexpr auto GvmMemory = InMemory<archive::ReadGvmInMemory>;
inline constexpr auto XvmMemory = InMemory<archive::ReadXvmInMemory>;
inline Status Afs(ImageStore& s, RecordingFrontEnd& ui, std::span<const uint8_t> b) {
  return Told(s, ui, archive::ReadAfs(s, b, ui)).outcome.status;
}
inline Status Bml(ImageStore& s, RecordingFrontEnd& ui, std::span<const uint8_t> b) {
  return Told(s, ui, archive::ReadBml(s, b, ui)).outcome.status;
}

}  // namespace quarrendel::test
