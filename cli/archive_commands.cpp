#include "cli/archive_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/load_command.h"
#include "cli/cli_frontend.h"
#include "core/capacity.h"
#include "core/error.h"
#include "core/image_store.h"
#include "texture/image_selection.h"

namespace quarrendel::cli {

namespace {

// A store and front end for one command, with the file loaded.
struct Loaded {
  std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
  CliFrontEnd frontEnd;

  explicit Loaded(CliContext& context) : frontEnd(context.err, IsTerminalStderr(context.err)) {}
};

// Why `path` cannot be read, or an empty text when it can.
std::string UnreadableReason(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::strerror(EISDIR);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::strerror(errno);
  std::fclose(f);
  return {};
}

// Loads `path` as the Load command does; false (status set, reason shown) when
// the file cannot be read or the load reported an error.
bool LoadForCommand(CliContext& context, Loaded& loaded, const std::string& path) {
  const std::string reason = UnreadableReason(path);
  if (!reason.empty()) {
    context.err << "cannot open " << path << ": " << reason << "\n";
    context.status = 1;
    return false;
  }
  archive::LoadFile(*loaded.store, loaded.frontEnd, path);
  if (loaded.frontEnd.Failed()) {
    context.status = 1;
    return false;
  }
  return true;
}

std::string Hex8(uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

void PrintList(CliContext& context, const Loaded& loaded) {
  const ImageStore& store = *loaded.store;
  context.out << loaded.frontEnd.label << "\n";
  for (int32_t i = 0; i < store.imageCount; ++i) {
    context.out << ListLine(i, store.images[static_cast<size_t>(i)], store.packageMode != 0) << '\n';
  }
}

// False (status set, reason shown) for an index that names no loaded image.
bool CheckIndex(CliContext& context, const ImageStore& store, int64_t index) {
  if (index >= 0 && index < store.imageCount) return true;
  if (store.imageCount == 0) {
    context.err << "image index " << index << " is out of range: the file holds no images\n";
  } else {
    context.err << "image index " << index << " is outside 0.." << store.imageCount - 1 << "\n";
  }
  context.status = 1;
  return false;
}

// The H x H square of the pixel canvas, or with `trueSize` its W x H
// rectangle, rows top to bottom, bytes R, G, B, A; `painted`: the same region
// painted over the checkerboard, opaque.
std::vector<uint8_t> RgbaBytes(const ImageStore& store, const texture::Selection& selection, int32_t index,
                               bool painted, bool trueSize) {
  const TImage_Entry& entry = store.images[static_cast<size_t>(index)];
  std::vector<uint8_t> out;
  const auto push = [&out](uint32_t v, uint8_t alpha) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(alpha);
  };
  if (painted) {
    Picture square;
    if (!trueSize) square = texture::PaintSquareOverCheckerboard(store.canvas, entry.Width, entry.Height);
    const Picture& picture = trueSize ? selection.picture : square;
    out.reserve(picture.pixels.size() * 4);
    for (uint32_t v : picture.pixels) push(v, 255);
    return out;
  }
  const int32_t height = entry.Height;
  const int32_t width = trueSize ? entry.Width : height;
  RequireCanvasSide(height, "texture");
  RequireCanvasSide(width, "texture");
  out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t v = store.canvas(x, y);
      push(v, static_cast<uint8_t>(v >> 24));
    }
  return out;
}

bool WriteBytes(CliContext& context, const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    context.err << "cannot write " << path << ": " << std::strerror(errno) << "\n";
    context.status = 1;
    return false;
  }
  const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
  const bool ok = std::fclose(f) == 0 && written == bytes.size();
  if (!ok) {
    context.err << "cannot write " << path << ": " << std::strerror(errno) << "\n";
    context.status = 1;
  }
  return ok;
}

// Runs `body`, turning a raised error into its message and a failed status.
template <typename Body>
void Guarded(CliContext& context, Body body) {
  try {
    body();
  } catch (const Error& e) {
    context.err << e.what() << "\n";
    context.status = 1;
  }
}

}  // namespace

std::string ListLine(int32_t index, const TImage_Entry& e, bool packageMode) {
  std::string line = std::to_string(index) + '\t' + e.Name + '\t' + std::to_string(e.Width) + 'x' +
                     std::to_string(e.Height) + '\t' + Hex8(e.Format) + '\t' + std::to_string(e.DataLength) +
                     '\t' + Hex8(e.GlobalIndex);
  if (packageMode) line += '\t' + std::to_string(e.PackageIndex);
  return line;
}

void RegisterArchiveCommands(CLI::App& app, CliContext& context) {
  auto file = std::make_shared<std::string>();
  CLI::App* list = app.add_subcommand(
      "list", "Print \"<count> Images\", then per image: index, name, WxH, format, data length, global index "
              "and, for packages, the member index (tab-separated)");
  list->add_option("FILE", *file, "PVM, GVM or XVM archive")->required();
  list->callback([&context, file] {
    Guarded(context, [&] {
      Loaded loaded(context);
      if (LoadForCommand(context, loaded, *file)) PrintList(context, loaded);
    });
  });

  struct ImageArgs {
    std::string file;
    int64_t index = 0;
    std::string out;
    bool painted = false;
    bool trueSize = false;
  };
  auto infoArgs = std::make_shared<ImageArgs>();
  CLI::App* info = app.add_subcommand("info", "Print the description of image INDEX, one memo line per line");
  info->add_option("FILE", infoArgs->file, "PVM, GVM or XVM archive")->required();
  info->add_option("INDEX", infoArgs->index, "image index, from 0")->required();
  info->callback([&context, infoArgs] {
    Guarded(context, [&] {
      Loaded loaded(context);
      if (!LoadForCommand(context, loaded, infoArgs->file)) return;
      if (!CheckIndex(context, *loaded.store, infoArgs->index)) return;
      const auto selection = texture::SelectImage(*loaded.store, static_cast<int32_t>(infoArgs->index));
      for (const std::string& line : selection.memo) context.out << line << "\n";
    });
  });

  auto decodeArgs = std::make_shared<ImageArgs>();
  CLI::App* decode = app.add_subcommand(
      "decode", "Write image INDEX decoded as Height x Height RGBA bytes, rows top to bottom; exit status 4 "
                "when its format has no decoder (the cleared picture is written)");
  decode->add_option("FILE", decodeArgs->file, "PVM, GVM or XVM archive")->required();
  decode->add_option("INDEX", decodeArgs->index, "image index, from 0")->required();
  decode->add_option("OUT", decodeArgs->out, "output file (.rgba)")->required();
  decode->add_flag("--painted", decodeArgs->painted, "write the picture over the checkerboard, as the window shows it");
  decode->add_flag("--true-size", decodeArgs->trueSize, "write Width x Height instead of Height x Height");
  decode->callback([&context, decodeArgs] {
    Guarded(context, [&] {
      Loaded loaded(context);
      if (!LoadForCommand(context, loaded, decodeArgs->file)) return;
      if (!CheckIndex(context, *loaded.store, decodeArgs->index)) return;
      const auto index = static_cast<int32_t>(decodeArgs->index);
      const auto selection = texture::SelectImage(*loaded.store, index);
      const auto rgba = RgbaBytes(*loaded.store, selection, index, decodeArgs->painted, decodeArgs->trueSize);
      if (WriteBytes(context, decodeArgs->out, rgba) && !selection.formatSupported) {
        context.err << "Unsupported format\n";
        context.status = 4;
      }
    });
  });
}

}  // namespace quarrendel::cli
