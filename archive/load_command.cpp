#include "archive/load_command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <span>
#include <string_view>
#include <vector>

#include "archive/package_reader.h"
#include "archive/texture_archive.h"
#include "archive/texture_file_reader.h"
#include "core/capacity.h"
#include "core/error.h"
#include "prs/prs.h"

namespace quarrendel::archive {

namespace {

constexpr std::string_view kNotSupported = "This file is not suported.";

enum class Container { Afs, Bml, Xvm, Pvm, Gvm, Texture, Unknown };

// The magic as text: its characters up to the first zero byte, at most 4.
std::string MagicText(std::span<const uint8_t> bytes) {
  std::string magic;
  for (size_t i = 0; i < 4 && i < bytes.size() && bytes[i] != 0; ++i) magic += static_cast<char>(bytes[i]);
  return magic;
}

Container ContainerOf(std::string_view magic) {
  if (magic == "AFS") return Container::Afs;
  if (magic.empty()) return Container::Bml;
  if (magic == "XVMH") return Container::Xvm;
  if (magic == "PVMH") return Container::Pvm;
  if (magic == "GVMH") return Container::Gvm;
  if (IsTextureFileMagic(magic)) return Container::Texture;
  return Container::Unknown;
}

// A file that cannot be opened or read (a folder, say) reads as no bytes at
// all; its magic is then empty like that of a package starting with a zero byte.
std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::vector<uint8_t> bytes;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec) bytes.reserve(static_cast<size_t>(size));
  // Read in pieces: pipes and some system files report no size or a wrong one.
  constexpr size_t kPiece = 1 << 20;
  size_t used = 0;
  while (in) {
    bytes.resize(used + kPiece);
    in.read(reinterpret_cast<char*>(bytes.data() + used), static_cast<std::streamsize>(kPiece));
    used += static_cast<size_t>(in.gcount());
  }
  if (in.bad()) return {};
  bytes.resize(used);
  return bytes;
}

// True when the name's extension, lower-cased, is ".prs".
bool IsPrsName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".prs";
}

// A whole-file PRS stream unpacked through the input and output buffers. A
// corrupt stream still yields the bytes decoded before the fault, and loading
// goes on with them. The result is a copy: the package readers reuse the
// output buffer for their members.
std::vector<uint8_t> Unwrap(ImageStore& store, std::span<const uint8_t> packed) {
  RequireBufferBytes(static_cast<int64_t>(packed.size()), "compressed file");
  std::copy(packed.begin(), packed.end(), store.input.Data());
  const prs::DecompressResult r = prs::DecompressBuffers(store, static_cast<int32_t>(packed.size()));
  const auto unpacked = store.output.First(r.size);
  return std::vector<uint8_t>(unpacked.begin(), unpacked.end());
}

// Runs the reader of `kind`; a kind without a reader gets the not-supported
// message. Returns EndsLoad when the reader ended the command itself.
PackageOutcome ReadContainer(ImageStore& store, FrontEnd& frontEnd, Container kind, std::span<const uint8_t> bytes,
                             const std::string& path) {
  switch (kind) {
    case Container::Afs:
      return ReadAfs(store, frontEnd, bytes);
    case Container::Bml:
      return ReadBml(store, frontEnd, bytes);
    case Container::Xvm:
      ReadXvmFile(store, frontEnd, bytes);
      break;
    case Container::Pvm:
      ReadPvmFile(store, frontEnd, bytes);
      break;
    case Container::Gvm:
      ReadGvmFile(store, frontEnd, bytes);
      break;
    case Container::Texture:
      if (!ReadTextureFile(store, frontEnd, bytes, TextureFileImageName(path))) frontEnd.ShowInformation(kNotSupported);
      break;
    case Container::Unknown:
      frontEnd.ShowInformation(kNotSupported);
      break;
  }
  return PackageOutcome::Completed;
}

std::string DirectoryPart(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void ShowCount(const ImageStore& store, FrontEnd& frontEnd) {
  frontEnd.SetLabel(std::to_string(store.imageCount) + " Images");
}

}  // namespace

void LoadCommand(ImageStore& store, FrontEnd& frontEnd) {
  const auto choice = frontEnd.AskOpenFile(DialogId::OpenDialog1, kOpenDialog1Filter);
  if (!choice) {
    ShowCount(store, frontEnd);
    return;
  }
  LoadFile(store, frontEnd, choice->path);
}

void LoadFile(ImageStore& store, FrontEnd& frontEnd, const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  LoadContents(store, frontEnd, path, bytes);
}

void LoadContents(ImageStore& store, FrontEnd& frontEnd, const std::string& path,
                  std::span<const uint8_t> fileBytes) {
  store.loadDirectory = DirectoryPart(path);
  store.loadedFileName = path;
  store.pvrFamily = 0;
  store.bmlFlag = 0;
  store.packageMode = 0;
  frontEnd.ListClear();

  try {
    std::vector<uint8_t> unwrapped;
    std::span<const uint8_t> contents = fileBytes;
    if (IsPrsName(path)) {
      unwrapped = Unwrap(store, fileBytes);
      contents = unwrapped;
    }
    if (ReadContainer(store, frontEnd, ContainerOf(MagicText(contents)), contents, path) == PackageOutcome::EndsLoad) {
      // The reader showed its message; the panel and the label stay as they are.
      return;
    }
  } catch (const Error& e) {
    // Capacity, truncated-header and pool errors: the reader has left the
    // store consistent (nothing changed, or the entries filled so far counted).
    frontEnd.ShowInformation(e.what());
  }

  frontEnd.SetProgressVisible(false);
  ShowCount(store, frontEnd);
}

}  // namespace quarrendel::archive
