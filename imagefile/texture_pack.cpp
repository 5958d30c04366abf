#include "imagefile/texture_pack.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <system_error>

#include "archive/load_command.h"
#include "archive/save_command.h"
#include "archive/save_names.h"
#include "archive/shared_global_index.h"
#include "core/byte_io.h"
#include "core/capacity.h"
#include "core/error.h"
#include "core/file_writer.h"
#include "core/mapped_file.h"
#include "core/text_escape.h"
#include "core/worker_pool.h"
#include "imagefile/import.h"
#include "imagefile/png_file.h"
#include "imagefile/texture_png.h"
#include "texture/layout_encode.h"
#include "texture/palette.h"
#include "texture/format_choice.h"
#include "texture/image_selection.h"

namespace quarrendel::imagefile {

namespace {

constexpr size_t kMaxStem = 64;
constexpr std::string_view kPngExtension = ".png";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";  // what Windows editors put first

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EndsWithPng(std::string_view name) {
  return name.size() > kPngExtension.size() && Lower(name.substr(name.size() - kPngExtension.size())) == kPngExtension;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, also with
// an extension after them.
bool IsDeviceName(std::string_view stem) {
  const std::string base = Lower(stem.substr(0, stem.find('.')));
  static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
  if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) return true;
  return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '1' && base[3] <= '9';
}

std::string SafeStem(std::string_view name) {
  static constexpr std::string_view kReserved = "/\\:*?\"<>|,";
  std::string stem;
  for (const char c : name.substr(0, std::min(name.size(), kMaxStem))) {
    const auto b = static_cast<unsigned char>(c);
    stem += b >= 0x20 && b < 0x7F && kReserved.find(c) == std::string_view::npos ? c : '_';
  }
  if (stem.empty()) return "image";
  if (stem.front() == '.') stem.front() = '_';
  if (stem.back() == '.' || stem.back() == ' ') stem.back() = '_';
  if (IsDeviceName(stem)) stem.insert(stem.begin(), '_');
  return stem;
}

std::string SizeText(int32_t w, int32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

std::string LineText(std::string_view source, size_t line) {
  return PrintableText(source) + " line " + std::to_string(line);
}

// Text of index.txt quoted in a message.
std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(PrintableText(text)).push_back('"');
  return quoted;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number of at most `limit`, or -1.
int64_t Decimal(std::string_view text, int64_t limit) {
  if (!AllDigits(text)) return -1;
  int64_t value = 0;
  for (const char c : text) {
    value = value * 10 + (c - '0');
    if (value > limit) return -1;
  }
  return value;
}

bool AllHexDigits(std::string_view text) {
  return !text.empty() && text.size() <= 8 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

PackLine ParseLine(std::string_view text, std::string_view source, size_t number) {
  const auto BadLine = [source](size_t line, const std::string& reason) {
    throw Error(ErrorKind::Corrupt, LineText(source, line) + ": " + reason);
  };
  const size_t first = text.find(',');
  size_t last = text.rfind(',');
  if (first == std::string_view::npos || first == last) {
    BadLine(number, "expected GLOBALINDEX,FILE.png,WIDTHxHEIGHT");
  }
  PackLine line;
  // A fourth field of hexadecimal digits (a size always holds an 'x') is the format word.
  const size_t beforeLast = text.rfind(',', last - 1);
  if (beforeLast != std::string_view::npos && beforeLast > first && AllHexDigits(text.substr(last + 1))) {
    line.format = texture::ParseFormatWord(text.substr(last + 1));
    text = text.substr(0, last);
    last = beforeLast;
  }
  const int64_t index = Decimal(text.substr(0, first), UINT32_MAX);
  if (index < 0) BadLine(number, "the global index is not a decimal number from 0 to 4294967295");
  line.globalIndex = static_cast<uint32_t>(index);

  line.fileName = std::string(text.substr(first + 1, last - first - 1));
  if (!EndsWithPng(line.fileName)) BadLine(number, "the file name " + Quoted(line.fileName) + " does not end in .png");
  // A NUL would end the name the system opens early.
  if (line.fileName.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos || line.fileName == "." ||
      line.fileName == "..") {
    BadLine(number, "the file name " + Quoted(line.fileName) + " is not a file in the pack's folder");
  }

  const std::string_view size = text.substr(last + 1);
  const size_t x = size.find('x');
  const int64_t w = x == std::string_view::npos ? -1 : Decimal(size.substr(0, x), INT32_MAX);
  const int64_t h = x == std::string_view::npos ? -1 : Decimal(size.substr(x + 1), INT32_MAX);
  if (w < 0 || h < 0) BadLine(number, "the size " + Quoted(size) + " is not WIDTHxHEIGHT");
  line.width = static_cast<int32_t>(w);
  line.height = static_cast<int32_t>(h);
  line.lineNumber = number;
  return line;
}

// The .png files in `folder` that are not `listed`, by name.
std::vector<std::string> UnlistedPngFiles(const std::string& folder, const std::vector<std::string>& listed) {
  const std::set<std::string> known(listed.begin(), listed.end());
  std::set<std::string> unlisted;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (EndsWithPng(name) && known.count(name) == 0) unlisted.insert(std::move(name));
  }
  return {unlisted.begin(), unlisted.end()};
}

}  // namespace

std::vector<std::string> FolderFileNames(std::span<const TImage_Entry> images, std::string_view extension) {
  std::vector<std::string> names;
  names.reserve(images.size());
  std::set<std::string> taken;
  for (const TImage_Entry& image : images) {
    const std::string stem = SafeStem(image.Name);
    std::string unique = stem;
    for (int32_t n = 2; !taken.insert(Lower(unique)).second; ++n) unique = stem + "~" + std::to_string(n);
    names.push_back(unique + std::string(extension));
  }
  return names;
}

std::vector<std::string> PackFileNames(std::span<const TImage_Entry> images) {
  return FolderFileNames(images, kPngExtension);
}

std::string FormatPackIndex(std::span<const PackLine> lines) {
  std::string text;
  for (const PackLine& line : lines) {
    text += std::to_string(line.globalIndex) + ',' + line.fileName + ',' + SizeText(line.width, line.height);
    if (line.format) text += ',' + texture::Hex8(*line.format);
    text += '\n';
  }
  return text;
}

std::vector<PackLine> ParsePackIndex(std::string_view text, std::string_view source) {
  std::vector<PackLine> lines;
  size_t number = 0;
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (lines.size() == static_cast<size_t>(kMaxImages)) {
      throw Error(ErrorKind::OverCapacity, LineText(source, number) + ": an archive holds at most " +
                                               std::to_string(kMaxImages) + " textures");
    }
    lines.push_back(ParseLine(line, source, number));
  }
  return lines;
}

UnpackResult UnpackTextures(const ImageStore& store, FrontEnd& frontEnd, const std::string& folder,
                            const std::vector<std::string>& inputs, WorkerPool& pool) {
  const std::span<const TImage_Entry> images(store.images.data(), static_cast<size_t>(store.imageCount));
  // Every size is checked before the first file is written.
  for (int32_t i = 0; i < store.imageCount; ++i) RequirePngSize(store, i);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw Error(ErrorKind::Io, "cannot create the folder " + folder + ": " + ec.message());

  const std::filesystem::path base(folder);
  const std::vector<std::string> names = PackFileNames(images);
  const std::string indexPath = (base / std::string(kPackIndexName)).string();
  for (const std::string& name : names) CheckDerivedTarget((base / name).string());
  CheckDerivedTarget(indexPath);
  std::vector<PackLine> lines;
  UnpackResult result;
  // One flush of the file system before index.txt, instead of one per picture.
  WriteOptions options{inputs, false, false};
  options.derivedName = true;
  options.removeStale = false;
  std::vector<std::string> targets = names;
  targets.emplace_back(kPackIndexName);
  RemoveStaleTemporaryFiles(folder, targets);
  const ProgressShown panel(frontEnd);
  // Decoded, encoded and written on the workers, told here in table order.
  pool.OrderedMap(
      names.size(), 2 * static_cast<size_t>(pool.Threads()),
      [&](size_t i) {
        TextureImageNotes notes;
        WriteFile((base / names[i]).string(), WritePng(TextureImage(store, static_cast<int32_t>(i), &notes)), options);
        return notes;
      },
      [&](size_t i, TextureImageNotes&& notes) {
        const std::string image = "image " + std::to_string(i) + ": ";
        if (!notes.supported) {
          result.outcome.status = Status::Unsupported;
          result.unsupported.push_back(static_cast<int32_t>(i));
          result.notices.push_back(image + "Unsupported format: its PNG is transparent");
        }
        if (!notes.paletteNotice.empty()) result.notices.push_back(image + notes.paletteNotice);
        frontEnd.SetProgress("Writing PNG : " + names[i], store.imageCount, static_cast<int32_t>(i) + 1);
        lines.push_back({images[i].GlobalIndex, names[i], images[i].Width, images[i].Height, 0, images[i].Format});
        ++result.written;
      });
  SyncFileSystem(folder);
  options.sync = true;
  const std::string index = FormatPackIndex(lines);
  WriteFile(indexPath, std::span(reinterpret_cast<const uint8_t*>(index.data()), index.size()), options);
  for (const std::string& name : UnlistedPngFiles(folder, names)) {
    result.notices.push_back((base / name).string() + ": not listed in " + std::string(kPackIndexName));
  }
  return result;
}

namespace {

// True when `path` lies inside the folder `root` (both without symlinks).
bool Inside(const std::filesystem::path& path, const std::filesystem::path& root) {
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p) {
    if (p == path.end() || *p != *r) return false;
  }
  return p != path.end();
}

// The file a pack's picture is read from: `path` itself, or for a symlink
// where it leads when that is inside the pack's folder `root`. The file is
// then opened without following a link, so none can be slipped in later.
std::string PictureFile(const std::filesystem::path& path, const std::filesystem::path& root) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path.string();
  const std::filesystem::path real = std::filesystem::canonical(path, ec);
  // A dangling link: the open says so.
  if (ec) return path.string();
  if (!Inside(real, root)) throw Error(ErrorKind::Unsupported, "it is a symlink that leads out of the pack's folder");
  return real.string();
}

// The text that names `line` in messages: "index.txt line 3 (wall.png): ".
std::string Where(std::string_view source, const PackLine& line) {
  return LineText(source, line.lineNumber) + " (" + PrintableText(line.fileName) + "): ";
}

// Runs `work`; an Error it throws is thrown again naming the line (the file
// name is the line's own text, also where the reason repeats it).
template <typename Work>
auto NamingTheLine(std::string_view source, const PackLine& line, Work work) {
  try {
    return work();
  } catch (const Error& e) {
    throw Error(e.Kind(), Where(source, line) + PrintableText(e.what()));
  }
}

// The PNG picture of `line`, read only from inside the pack's folder.
RgbaImage ReadPackPicture(const std::filesystem::path& folder, const std::filesystem::path& root,
                          const PackLine& line) {
  const MappedFile file(PictureFile(folder / line.fileName, root), kMaxPngFileBytes, false);
  if (!ByteReader(file.Bytes()).MagicAt(0, kPngSignature)) {
    throw Error(ErrorKind::BadMagic, "PNG Error: this file is not a PNG file.", 0);
  }
  return ReadPng(file.Bytes());
}

// Encodes a pack's picture into `format` of `family`, refusing a size the
// layout cannot take with the encoder's message.
// PNG pictures hold full-range channels: brought to the texel quantisers' scale first.
texture::EncodedLayout EncodePackPicture(texture::RgbaImage picture, TargetFamily family, uint32_t format) {
  texture::RequireEncodableSize(family, format, picture.width, picture.height);
  texture::ToTexelScale(picture, family, format);
  return texture::EncodeLayout(picture.View(), family, format);
}

// The lines of a pack's index.txt, and the folder its pictures are read from.
struct PackIndex {
  std::string source;  // index.txt's file name, for messages
  std::vector<PackLine> lines;
  std::filesystem::path folder;
  std::filesystem::path root;  // the folder without symlinks
};

PackIndex ReadPackIndex(const std::string& index) {
  const std::filesystem::path indexPath(index);
  PackIndex pack;
  pack.source = indexPath.filename().string();
  {
    const MappedFile file(index, kMaxPackIndexBytes);
    const auto bytes = file.Bytes();
    pack.lines = ParsePackIndex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), pack.source);
  }
  if (pack.lines.empty()) {
    throw Error(ErrorKind::Corrupt, PrintableText(pack.source) + " lists no pictures: nothing was written");
  }
  pack.folder = indexPath.parent_path();
  std::error_code ec;
  pack.root = std::filesystem::canonical(pack.folder.empty() ? "." : pack.folder, ec);
  if (ec) throw Error(ErrorKind::Io, "cannot read the folder of " + index + ": " + ec.message());
  return pack;
}

PendingPalette PaletteOf(const std::string& name, texture::EncodedLayout& texture) {
  return {name, texture.paletteExtension, std::move(texture.paletteFile)};
}

// Puts an encoded texture into entry `index` (sizes, format word, data).
void StoreTexture(ImageStore& store, int32_t index, const texture::EncodedLayout& texture) {
  TImage_Entry& entry = store.Entry(index);
  store.FillEntryData(entry, texture.data);
  entry.Width = static_cast<uint16_t>(texture.width);
  entry.Height = static_cast<uint16_t>(texture.height);
  entry.Format = texture.format;
  store.MarkChanged();
}

}  // namespace

void WritePalettes(const std::string& folder, const std::vector<PendingPalette>& palettes,
                   const std::vector<std::string>& inputs) {
  const std::string directory = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const PendingPalette& palette : palettes) {
    const texture::PaletteKind kind =
        palette.extension == texture::PaletteExtension(texture::PaletteKind::Gvp) ? texture::PaletteKind::Gvp
                                                                                  : texture::PaletteKind::Pvp;
    const std::string path = texture::PaletteFilePath(directory, palette.name, kind);
    if (path.empty()) {
      throw Error(ErrorKind::Unsupported,
                  "The palette file of the image \"" + PrintableText(palette.name) + "\" cannot be written: its name is no file name.");
    }
    WriteOptions options;
    options.inputs = inputs;
    options.derivedName = true;
    WriteFile(path, palette.bytes, options);
  }
}

PackResult PackTextures(const PackRequest& request, FrontEnd& frontEnd) {
  const PackIndex pack = ReadPackIndex(request.index);
  const std::vector<PackLine>& lines = pack.lines;
  const auto store = std::make_unique<ImageStore>();
  const TargetFamily family = archive::SaveTargetOf(request.kind).family;
  // DXT3 (data format 7) of an Xbox texture must not read as a palette.
  store->pvrFamily = family == TargetFamily::XboxBb ? 0 : 1;
  std::vector<std::string> inputs{request.index};
  std::vector<PendingPalette> palettes;
  {
    const ProgressShown panel(frontEnd);
    WorkerPool pool(request.threads > 0 ? request.threads : DefaultThreadCount());
    // Read, decoded and encoded on the workers, stored here in line order.
    pool.OrderedMap(
        lines.size(), 2 * static_cast<size_t>(pool.Threads()),
        [&](size_t i) {
          const PackLine& line = lines[i];
          return NamingTheLine(pack.source, line, [&] {
            texture::RgbaImage picture = PixelsOfPng(ReadPackPicture(pack.folder, pack.root, line));
            if (request.blackTransparent) {
              for (uint32_t& pixel : picture.pixels) pixel = (pixel & 0xFFFFFF) == 0 ? 0 : pixel;
            }
            // The line's own format where the kind's family has it, else the family rule.
            const uint32_t format = line.format && texture::FamilyEncodes(family, *line.format)
                                        ? texture::KeptFormatWord(family, *line.format)
                                        : texture::FamilyRuleFormat(family, picture.View(), false);
            return EncodePackPicture(picture, family, format);
          });
        },
        [&](size_t i, texture::EncodedLayout&& texture) {
          const PackLine& line = lines[i];
          frontEnd.SetProgress("Reading PNG : " + PrintableText(line.fileName), static_cast<int32_t>(lines.size()),
                               static_cast<int32_t>(i) + 1);
          const int32_t added = store->imageCount;
          StoreTexture(*store, added, texture);
          TImage_Entry& entry = store->images[static_cast<size_t>(added)];
          entry.Name = AddedImageName((pack.folder / line.fileName).string());
          entry.GlobalIndex = line.globalIndex;
          entry.PackageIndex = 0;
          store->imageCount = added + 1;
          if (!texture.paletteFile.empty()) palettes.push_back(PaletteOf(entry.Name, texture));
          inputs.push_back((pack.folder / line.fileName).string());
        });
  }

  PackResult result;
  result.textures = store->imageCount;
  result.warnings = archive::SharedGlobalIndexWarnings(
      std::span<const TImage_Entry>(store->images.data(), static_cast<size_t>(store->imageCount)));
  archive::SaveOptions save;
  save.protectedInputs = inputs;
  save.savedPath = &result.path;
  result.outcome = archive::SaveAs(*store, frontEnd, request.out, request.kind, save);
  if (result.outcome) WritePalettes(std::filesystem::path(result.path).parent_path().string(), palettes, inputs);
  return result;
}

PackUpdate UpdateFromPack(ImageStore& store, const std::string& index, Progress& progress, int32_t threads) {
  const PackIndex pack = ReadPackIndex(index);
  const std::vector<PackLine>& lines = pack.lines;
  const std::span<const TImage_Entry> images(store.images.data(), static_cast<size_t>(store.imageCount));
  const std::vector<std::string> names = PackFileNames(images);
  // Matched by position, checked by name, before any picture is read.
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i >= names.size()) {
      throw Error(ErrorKind::Corrupt, Where(pack.source, lines[i]) + "the archive holds only " +
                                          std::to_string(names.size()) + " images");
    }
    if (Lower(lines[i].fileName) != Lower(names[i])) {
      throw Error(ErrorKind::Corrupt, Where(pack.source, lines[i]) + "image " + std::to_string(i) +
                                          " is written as " + PrintableText(names[i]) + " by unpack");
    }
  }
  if (lines.size() < names.size()) {
    throw Error(ErrorKind::Corrupt, PrintableText(pack.source) + " lists " + std::to_string(lines.size()) +
                                        " pictures; the archive holds " + std::to_string(names.size()) + " images");
  }

  struct Changed {
    bool changed = false;
    texture::EncodedLayout texture;
  };
  PackUpdate update;
  update.inputs.push_back(index);
  std::vector<std::pair<int32_t, texture::EncodedLayout>> changed;
  {
    const ProgressShown panel(progress);
    WorkerPool pool(threads > 0 ? threads : DefaultThreadCount());
    pool.OrderedMap(
        lines.size(), 2 * static_cast<size_t>(pool.Threads()),
        [&](size_t i) {
          const PackLine& line = lines[i];
          return NamingTheLine(pack.source, line, [&] {
            const RgbaImage png = ReadPackPicture(pack.folder, pack.root, line);
            const auto image = static_cast<int32_t>(i);
            Changed result;
            // What unpack writes for the stored texture, compared pixel for pixel.
            const TImage_Entry& entry = store.images[i];
            const bool fits = entry.Width >= 1 && entry.Height >= 1 && entry.Width <= kMaxPngSide &&
                              entry.Height <= kMaxPngSide;
            if (fits) {
              const RgbaImage stored = TextureImage(store, image);
              if (stored.width == png.width && stored.height == png.height && stored.pixels == png.pixels) {
                return result;
              }
            }
            const std::optional<TargetFamily> family = texture::EntryFamily(store, image);
            if (!family || !texture::FamilyEncodes(*family, entry.Format)) {
              throw Error(ErrorKind::Unsupported, "the picture was edited, but image " + std::to_string(i) +
                                                      "'s format " + texture::Hex8(entry.Format) + " has no encoder");
            }
            result.changed = true;
            result.texture = EncodePackPicture(PixelsOfPng(png), *family, texture::KeptFormatWord(*family, entry.Format));
            return result;
          });
        },
        [&](size_t i, Changed&& result) {
          progress.SetProgress("Comparing PNG : " + PrintableText(lines[i].fileName), static_cast<int32_t>(lines.size()),
                               static_cast<int32_t>(i) + 1);
          update.inputs.push_back((pack.folder / lines[i].fileName).string());
          if (result.changed) changed.emplace_back(static_cast<int32_t>(i), std::move(result.texture));
        });
  }
  // Every picture was read and encoded: now the table changes.
  for (auto& [image, texture] : changed) {
    StoreTexture(store, image, texture);
    if (!texture.paletteFile.empty()) update.palettes.push_back(PaletteOf(store.images[image].Name, texture));
    update.updated.push_back(image);
  }
  return update;
}

bool ExportAllAsPngPack(ImageStore& store, FrontEnd& frontEnd) {
  if (store.imageCount == 0) return false;
  const std::optional<FileChoice> choice = frontEnd.AskSaveFile(DialogId::PackDialog, kPackDialogFilter);
  if (!choice) return false;
  std::string folder = std::filesystem::path(choice->path).parent_path().string();
  if (folder.empty()) folder = ".";
  WorkerPool pool;
  const UnpackResult result = UnpackTextures(store, frontEnd, folder, {store.loadedFileName}, pool);
  std::string text = std::to_string(result.written) + " PNG files and " + std::string(kPackIndexName) +
                     " written in " + folder;
  for (const std::string& notice : result.notices) text += "\n" + notice;
  frontEnd.ShowMessage(text);
  return true;
}

bool NewArchiveFromPngPack(ImageStore& store, FrontEnd& frontEnd) {
  const std::optional<FileChoice> index = frontEnd.AskOpenFile(DialogId::PackDialog, kPackDialogFilter);
  if (!index) return false;
  const std::optional<FileChoice> out = frontEnd.AskSaveFile(DialogId::SaveDialog1, archive::kSaveDialog1Filter);
  if (!out) return false;
  PackRequest request;
  request.index = index->path;
  request.out = out->path;
  const std::optional<archive::SaveKind> kind = archive::SaveKindOf(out->filterIndex);
  if (!kind) return false;
  request.kind = *kind;
  const PackResult result = PackTextures(request, frontEnd);
  if (!result.warnings.empty()) {
    std::string text;
    for (const std::string& warning : result.warnings) text += (text.empty() ? "" : "\n") + warning;
    frontEnd.ShowMessage(text);
  }
  if (!result.outcome) return false;
  archive::LoadFile(store, frontEnd, result.path);
  return true;
}

bool UpdateFromPngPack(ImageStore& store, FrontEnd& frontEnd) {
  if (store.imageCount == 0) return false;
  const std::optional<FileChoice> index = frontEnd.AskOpenFile(DialogId::PackDialog, kPackDialogFilter);
  if (!index) return false;
  PackUpdate update = UpdateFromPack(store, index->path, frontEnd);
  std::vector<std::string> inputs = update.inputs;
  inputs.push_back(store.loadedFileName);
  WritePalettes(store.loadDirectory, update.palettes, inputs);
  if (frontEnd.ListSelectedIndex() >= 0) texture::SelectListedImage(store, frontEnd);
  frontEnd.ShowMessage(std::to_string(update.updated.size()) + " images were updated from " +
                       std::filesystem::path(index->path).filename().string());
  return true;
}

}  // namespace quarrendel::imagefile
