#include "texture/texture_header.h"

#include <cstring>

#include "core/byte_order.h"

namespace quarrendel::texture {

namespace {

ChunkHeadRecord RecordOf(const TextureHead& head) {
  ChunkHeadRecord record{};
  ByteWriter w{std::span<uint8_t>(record)};
  w.Bytes({reinterpret_cast<const uint8_t*>(head.magic), 4});
  w.U32Le(head.chunkLength);
  w.U32Le(head.format);
  w.U16Le(head.width);
  w.U16Le(head.height);
  return record;
}

}  // namespace

GbixChunk ReadGbix(ByteReader& in, Endian indexOrder) {
  in.Skip(4);
  GbixChunk chunk;
  chunk.length = in.U32Le();
  chunk.globalIndex = indexOrder == Endian::Little ? in.U32Le() : in.U32Be();
  in.Skip(4);
  return chunk;
}

TextureHead ReadPvrtHead(ByteReader& in) {
  TextureHead head;
  std::memcpy(head.magic, in.Bytes(4).data(), 4);
  head.chunkLength = in.U32Le();
  head.format = in.U32Le();
  head.width = in.U16Le();
  head.height = in.U16Le();
  return head;
}

TextureHead ReadGvrtHead(ByteReader& in) {
  auto bytes = in.Bytes(kChunkHeadSize);
  ChunkHeadRecord record{};
  std::memcpy(record.data(), bytes.data(), record.size());
  ConvertGvrtHead(record);
  ByteReader converted{std::span<const uint8_t>(record)};
  return ReadPvrtHead(converted);
}

XvrtHead ReadXvrtHead(ByteReader& in) {
  XvrtHead head;
  in.Skip(4);
  head.chunkLength = in.U32Le();
  head.flags = in.U32Le();
  head.formatCode = in.U32Le();
  head.globalIndex = in.U32Le();
  head.width = in.U16Le();
  head.height = in.U16Le();
  head.dataLength = in.U32Le();
  in.Skip(36);
  return head;
}

void WriteGbix(ByteWriter& out, uint32_t globalIndex, Endian indexOrder) {
  out.Magic("GBIX");
  out.U32Le(8);
  if (indexOrder == Endian::Little) out.U32Le(globalIndex);
  else out.U32Be(globalIndex);
  out.U32Le(0);
}

void WritePvrtHead(ByteWriter& out, const TextureHead& head) { out.Bytes(RecordOf(head)); }

void WriteGvrtHead(ByteWriter& out, const TextureHead& head) {
  ChunkHeadRecord record = RecordOf(head);
  ConvertGvrtHead(record);
  out.Bytes(record);
}

void WriteXvrtHead(ByteWriter& out, const XvrtHead& head) {
  out.Magic("XVRT");
  out.U32Le(head.chunkLength);
  out.U32Le(head.flags);
  out.U32Le(head.formatCode);
  out.U32Le(head.globalIndex);
  out.U16Le(head.width);
  out.U16Le(head.height);
  out.U32Le(head.dataLength);
  out.Zeros(36);
}

TextureHead HeadOfEntry(const TImage_Entry& entry, const char (&magic)[5]) {
  TextureHead head;
  std::memcpy(head.magic, magic, 4);
  head.chunkLength = static_cast<uint32_t>(entry.DataLength) + 8u;
  head.format = entry.Format;
  head.width = entry.Width;
  head.height = entry.Height;
  return head;
}

void ApplyHead(const TextureHead& head, TImage_Entry& entry) {
  entry.Width = head.width;
  entry.Height = head.height;
  entry.Format = head.format;
}

void ApplyHead(const XvrtHead& head, TImage_Entry& entry) {
  entry.Width = head.width;
  entry.Height = head.height;
  entry.Format = head.EntryFormat();
  entry.GlobalIndex = head.globalIndex;
}

}  // namespace quarrendel::texture
