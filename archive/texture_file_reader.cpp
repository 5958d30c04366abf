#include "archive/texture_file_reader.h"

#include <cctype>
#include <filesystem>

#include "core/byte_io.h"
#include "core/byte_order.h"
#include "core/error.h"
#include "texture/texture_header.h"

namespace quarrendel::archive {

namespace {

std::string LowerExtension(const std::filesystem::path& name) {
  std::string ext = name.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The texture as found in the file, its data still in the file.
struct FoundTexture {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t format = 0;
  uint32_t globalIndex = 0;
  bool pvr = false;
  std::span<const uint8_t> data;
};

[[noreturn]] void CutShort(const char* what, size_t at, size_t need, size_t fileSize) {
  throw Error(ErrorKind::Truncated,
              std::string("texture file cut short: ") + what + " needs " + std::to_string(need) +
                  " bytes at offset " + std::to_string(at) + ", the file has " + std::to_string(fileSize),
              static_cast<int64_t>(at));
}

FoundTexture FindXvr(const ByteReader& file) {
  if (!file.HasAt(0, texture::kXvrtHeadSize)) CutShort("the XVRT header", 0, texture::kXvrtHeadSize, file.Size());
  ByteReader headIn = file.Sub(0, texture::kXvrtHeadSize);
  const texture::XvrtHead head = texture::ReadXvrtHead(headIn);
  if (!file.HasAt(texture::kXvrtHeadSize, head.dataLength)) {
    CutShort("the texture data", texture::kXvrtHeadSize, head.dataLength, file.Size());
  }
  FoundTexture t;
  t.width = head.width;
  t.height = head.height;
  t.format = head.EntryFormat();
  t.globalIndex = head.globalIndex;
  t.data = file.BytesAt(texture::kXvrtHeadSize, head.dataLength);
  return t;
}

// A PVRT or GVRT chunk at headAt; rawIndex is the GBIX/GCIX value read
// little-endian (0 without one). False when the chunk is neither.
bool FindChunkTexture(const ByteReader& file, size_t headAt, uint32_t rawIndex, FoundTexture& t) {
  const bool gvr = file.MagicAt(headAt, "GVRT");
  if (!gvr && !file.MagicAt(headAt, "PVRT") && file.HasAt(headAt, 4)) return false;
  if (!file.HasAt(headAt, texture::kChunkHeadSize)) {
    CutShort("the texture header", headAt, texture::kChunkHeadSize, file.Size());
  }
  ByteReader headIn = file.Sub(headAt, texture::kChunkHeadSize);
  texture::TextureHead head;
  if (gvr) {
    head = texture::ReadGvrtHead(headIn);
    t.globalIndex = Swap32(rawIndex);
  } else {
    head = texture::ReadPvrtHead(headIn);
    t.globalIndex = rawIndex;
    t.pvr = true;
  }
  if (head.DataLength() < 0) {
    throw Error(ErrorKind::Corrupt, "texture chunk shorter than its header", static_cast<int64_t>(headAt) + 4);
  }
  const size_t dataAt = headAt + texture::kChunkHeadSize;
  const auto length = static_cast<size_t>(head.DataLength());
  if (!file.HasAt(dataAt, length)) CutShort("the texture data", dataAt, length, file.Size());
  t.width = head.width;
  t.height = head.height;
  t.format = head.format;
  t.data = file.BytesAt(dataAt, length);
  return true;
}

}  // namespace

bool IsTextureFileMagic(std::string_view magic) {
  return magic == "GBIX" || magic == "GCIX" || magic == "PVRT" || magic == "GVRT" || magic == "XVRT";
}

std::string TextureFileImageName(const std::string& path) {
  std::filesystem::path name = std::filesystem::path(path).filename();
  const bool prs = LowerExtension(name) == ".prs";
  name = name.stem();
  if (prs) {
    const std::string inner = LowerExtension(name);
    if (inner == ".pvr" || inner == ".gvr" || inner == ".xvr") name = name.stem();
  }
  return name.string();
}

ReadResult ReadTextureFile(ImageStore& store, std::span<const uint8_t> bytes, const std::string& name) {
  const ByteReader file(bytes);
  ReadResult read;
  read.container = LoadedContainer::TextureFile;
  read.expected = 1;
  read.imageCount = store.imageCount;
  FoundTexture t;
  bool found = true;
  if (file.MagicAt(0, "XVRT")) {
    t = FindXvr(file);
  } else if (file.MagicAt(0, "GBIX") || file.MagicAt(0, "GCIX")) {
    if (!file.HasAt(0, 12)) CutShort("the GBIX chunk", 0, 12, file.Size());
    const size_t headAt = size_t{8} + file.U32LeAt(4);
    found = FindChunkTexture(file, headAt, file.U32LeAt(8), t);
  } else {
    found = FindChunkTexture(file, 0, 0, t);
  }
  if (!found) {
    read.outcome = {Status::Unsupported, kNotSupported};
    return read;
  }

  TImage_Entry& entry = store.Entry(0);
  try {
    store.FillEntryData(entry, t.data);
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::PoolFull) throw;
    // The pools ran out after entry 0's old block was released.
    store.imageCount = read.imageCount = 0;
    read.poolFull = e;
    read.StopShort(LoadShortfall::Damaged);
    return read;
  }
  entry.Width = t.width;
  entry.Height = t.height;
  entry.Format = t.format;
  entry.GlobalIndex = t.globalIndex;
  entry.PackageIndex = 0;
  entry.Name = name;
  if (t.pvr) store.pvrFamily = 1;
  store.imageCount = read.imageCount = 1;
  read.names.push_back(entry.Name);
  return read;
}

}  // namespace quarrendel::archive
