#include "imagefile/import_source.h"

#include <string>

#include "core/byte_io.h"
#include "core/capacity.h"
#include "core/error.h"
#include "core/text_escape.h"
#include "core/mip_chain.h"
#include "imagefile/png_file.h"
#include "texture/format_table.h"
#include "texture/texture_header.h"

namespace quarrendel::imagefile {

namespace {

constexpr size_t kRaw565HeadSize = 52;

[[noreturn]] void CutShort(const char* what, size_t at, uint64_t need, size_t fileSize) {
  throw Error(ErrorKind::Truncated,
              std::string("This file is cut short: ") + what + " needs " + std::to_string(need) + " bytes at offset " +
                  std::to_string(at) + ", the file has " + std::to_string(fileSize) + ".",
              static_cast<int64_t>(at));
}

// A reader over the `size` bytes at `at`, which must all be in the file.
ByteReader Header(const ByteReader& file, size_t at, size_t size, const char* what) {
  if (!file.HasAt(at, size)) CutShort(what, at, size, file.Size());
  return file.Sub(at, size);
}

std::span<const uint8_t> DataAt(const ByteReader& file, size_t at, uint64_t length) {
  RequireBufferBytes(static_cast<int64_t>(length), "texture data");
  if (!file.HasAt(at, static_cast<size_t>(length))) CutShort("the texture data", at, length, file.Size());
  return file.BytesAt(at, static_cast<size_t>(length));
}

}  // namespace

SourceFile IdentifySource(std::span<const uint8_t> bytes, bool raw565) {
  const ByteReader file(bytes);
  SourceFile source;
  if (file.MagicAt(0, "GBIX") && file.HasAt(0, 16)) {
    source.gbixIndex = file.U32LeAt(8);
    source.at = 16;
  }
  const size_t at = source.at;
  if (file.MagicAt(at, "BM")) {
    source.kind = SourceKind::Bitmap;
  } else if (file.MagicAt(at, "PVRT")) {
    source.kind = SourceKind::Pvr;
  } else if (raw565 && file.MagicAt(at, "4")) {
    source.kind = SourceKind::Raw565;
  } else if (file.MagicAt(at, "GVRT")) {
    source.kind = SourceKind::Gvr;
  } else if (file.MagicAt(at, "XVRT")) {
    source.kind = SourceKind::Xvr;
  } else if (file.MagicAt(at, "DDS ")) {
    source.kind = SourceKind::Dds;
  } else if (file.MagicAt(at, kPngSignature)) {
    source.kind = SourceKind::Png;
  }
  return source;
}

RawTexture ReadRawTexture(std::span<const uint8_t> bytes, const SourceFile& source) {
  const ByteReader file(bytes);
  const size_t at = source.at;
  RawTexture t;
  switch (source.kind) {
    case SourceKind::Pvr:
    case SourceKind::Gvr: {
      ByteReader in = Header(file, at, texture::kChunkHeadSize, "the texture header");
      const texture::TextureHead head =
          source.kind == SourceKind::Pvr ? texture::ReadPvrtHead(in) : texture::ReadGvrtHead(in);
      if (head.DataLength() < 0) {
        throw Error(ErrorKind::Corrupt,
                    "This texture's chunk length of " + std::to_string(head.chunkLength) + " is shorter than its header.",
                    static_cast<int64_t>(at) + 4);
      }
      t.width = head.width;
      t.height = head.height;
      t.format = head.format;
      t.data = DataAt(file, at + texture::kChunkHeadSize, static_cast<uint64_t>(head.DataLength()));
      return t;
    }
    case SourceKind::Xvr: {
      ByteReader in = Header(file, at, texture::kXvrtHeadSize, "the XVRT header");
      const texture::XvrtHead head = texture::ReadXvrtHead(in);
      t.width = head.width;
      t.height = head.height;
      t.format = head.EntryFormat();
      t.globalIndex = head.globalIndex;
      t.data = DataAt(file, at + texture::kXvrtHeadSize, head.dataLength);
      return t;
    }
    case SourceKind::Raw565: {
      const ByteReader in = Header(file, at, kRaw565HeadSize, "the RGB565 picture's header");
      t.width = in.U16LeAt(4);
      t.height = in.U16LeAt(8);
      t.format = texture::kFormatRgb565Rectangle;
      t.data = DataAt(file, at + kRaw565HeadSize, in.U32LeAt(20));
      return t;
    }
    default: break;
  }
  throw Error(ErrorKind::Usage, "not a texture file");
}

DdsSource ReadDdsSource(std::span<const uint8_t> bytes, size_t at) {
  const ByteReader file(bytes);
  constexpr size_t kHeaderSize = 128;
  const ByteReader in = Header(file, at, kHeaderSize, "the DDS header");
  const uint32_t height = in.U32LeAt(12);
  const uint32_t width = in.U32LeAt(16);
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width != height) {
    throw Error(ErrorKind::Unsupported, "Only square DDS files can be imported; this one is " + size + ".");
  }
  if (width == 0) throw Error(ErrorKind::Corrupt, "This DDS file has no pixels (" + size + ").");
  if (width > static_cast<uint32_t>(kMaxDdsSide)) {
    throw Error(ErrorKind::OverCapacity, "DDS files larger than " + std::to_string(kMaxDdsSide) +
                                             " pixels cannot be imported; this one is " + size + ".");
  }
  DdsSource dds;
  dds.side = static_cast<int32_t>(width);
  if (in.MagicAt(84, "DXT1")) {
    dds.blocks = DdsBlocks::Dxt1;
  } else if (in.MagicAt(84, "DXT3")) {
    dds.blocks = DdsBlocks::Dxt3;
  } else if (in.MagicAt(84, "DXT5")) {
    dds.blocks = DdsBlocks::Dxt5;
  } else {
    // Uncompressed DDS files have no FourCC (zero bytes) and RGB masks instead.
    const auto fourCc = in.BytesAt(84, 4);
    throw Error(ErrorKind::Unsupported,
                "Only DXT1, DXT3 and DXT5 DDS files can be imported; this one's FourCC is \"" +
                    PrintableText(std::string_view(reinterpret_cast<const char*>(fourCc.data()), fourCc.size())) +
                    "\".",
                static_cast<int64_t>(at) + 84);
  }
  dds.linearSize = in.U32LeAt(20);
  dds.mipCount = in.U32LeAt(28);
  const int64_t topLevel = dds.blocks == DdsBlocks::Dxt1 ? ChainSize4(dds.side, 1) : ChainSize8(dds.side, 1);
  if (dds.linearSize < topLevel) {
    throw Error(ErrorKind::Corrupt, "This DDS file's linear size of " + std::to_string(dds.linearSize) +
                                        " bytes is smaller than the " + std::to_string(topLevel) +
                                        " bytes of its top level.",
                static_cast<int64_t>(at) + 20);
  }
  DataAt(file, at + kHeaderSize, dds.linearSize);  // the top level is in the file
  dds.data = bytes.subspan(at + kHeaderSize);
  return dds;
}

}  // namespace quarrendel::imagefile
