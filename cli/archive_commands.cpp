#include "cli/archive_commands.h"

#include <memory>
#include <string>
#include <vector>

#include "archive/save_command.h"
#include "archive/save_names.h"
#include "cli/loaded_file.h"
#include "core/capacity.h"
#include "core/file_writer.h"
#include "core/image_store.h"
#include "core/text_escape.h"
#include "texture/image_selection.h"

namespace quarrendel::cli {

namespace {

void PrintList(CliContext& context, const Loaded& loaded) {
  const ImageStore& store = *loaded.store;
  context.out << loaded.frontEnd.Label() << "\n";
  for (int32_t i = 0; i < store.imageCount; ++i) {
    context.out << ListLine(i, store.images[static_cast<size_t>(i)], store.packageMode != 0) << '\n';
  }
}

// The H x H square of the decoded texture, or with `trueSize` its W x H
// picture, rows top to bottom, bytes R, G, B, A; `painted`: the same region
// painted over the checkerboard (the square with columns from W on bare),
// opaque.
std::vector<uint8_t> RgbaBytes(const texture::DecodedTexture& decoded, bool painted, bool trueSize) {
  std::vector<uint8_t> out;
  const auto push = [&out](uint32_t v, uint8_t alpha) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(alpha);
  };
  const texture::RgbaRect rect = trueSize ? decoded.TrueSize() : decoded.Square();
  if (painted) {
    const Picture picture = texture::PaintOverCheckerboard(rect, false, decoded.width);
    out.reserve(picture.pixels.size() * 4);
    for (uint32_t v : picture.pixels) push(v, 255);
    return out;
  }
  RequireCanvasSide(decoded.height, "texture");
  RequireCanvasSide(trueSize ? decoded.width : decoded.height, "texture");
  out.reserve(static_cast<size_t>(rect.width) * static_cast<size_t>(rect.height) * 4);
  for (int32_t y = 0; y < rect.height; ++y)
    for (int32_t x = 0; x < rect.width; ++x) push(rect(x, y), static_cast<uint8_t>(rect(x, y) >> 24));
  return out;
}

// Decodes image `index` as the window's selection does; a texture shown with
// the fallback palette says so on stderr.
texture::DecodedTexture DecodeWithNotice(CliContext& context, const ImageStore& store, int32_t index) {
  texture::DecodedTexture decoded = texture::DecodeEntry(store, index);
  const std::string notice = texture::PaletteNotice(decoded.palette);
  if (!notice.empty()) context.err << PrintableText(notice) << "\n";
  return decoded;
}

const char* ContainerName(LoadedContainer container) {
  switch (container) {
    case LoadedContainer::Pvm: return "pvm";
    case LoadedContainer::Gvm: return "gvm";
    case LoadedContainer::Xvm: return "xvm";
    case LoadedContainer::Afs: return "afs";
    case LoadedContainer::Bml: return "bml";
    case LoadedContainer::TextureFile: return "texture";
    case LoadedContainer::None: break;
  }
  return "none";
}

void RegisterSaveCommands(CLI::App& app, CliContext& context, const char* fileHelp) {
  struct SaveArgs {
    std::string file;
    std::string out;
    std::string kind;
    bool best = false;
  };
  static const char* const kBestHelp =
      "PRS-compress packed archives (and the .prs wrapping) to the smallest streams whose copies reach at most 8191 bytes back (slower)";
  auto saveArgs = std::make_shared<SaveArgs>();
  const std::string kinds = archive::SaveKindNameList();
  CLI::App* save = app.add_subcommand(
      "save", "Load FILE and write its images as OUT, as File > Save does with the kind's filter index: pvm, xvm "
              "and gvm force that extension, afs-* force .afs for textures and keep OUT as it is for packages; "
              "an OUT ending in .prs is written PRS-compressed. A BML package is rebuilt with `rebuild` instead");
  save->add_option("FILE", saveArgs->file, fileHelp)->required();
  save->add_option("OUT", saveArgs->out, "name of the file to write (its extension is forced); never FILE itself")
      ->required();
  save->add_option("--as", saveArgs->kind, "kind of file: " + kinds)
      ->required()
      ->check(SaveKindValidator());
  save->add_flag("--best", saveArgs->best, kBestHelp);
  GuardedCallback(save, context, [&context, saveArgs] {
    Loaded loaded(context);
    if (!LoadForCommand(context, loaded, saveArgs->file)) return;
    if (loaded.store->bmlFlag != 0) {
      context.err << saveArgs->file << " is a BML package: rebuild it in place with `quarrendel-cli rebuild "
                  << saveArgs->file << "`\n";
      context.status = 1;
      return;
    }
    WarnSharedGlobalIndices(context, *loaded.store);
    archive::SaveOptions options;
    options.best = saveArgs->best;
    options.protectedInputs = {saveArgs->file};
    context.status = ExitStatus(archive::SaveAs(*loaded.store, loaded.frontEnd, saveArgs->out,
                                                *archive::SaveKindOfName(saveArgs->kind), options)
                                    .status);
  });

  auto rebuildArgs = std::make_shared<SaveArgs>();
  CLI::App* rebuild = app.add_subcommand(
      "rebuild", "Load the BML package FILE and rebuild it in place: every texture archive written again from its "
                 "images, everything else carried over");
  rebuild->add_option("FILE", rebuildArgs->file, "the BML package (not PRS-compressed)")->required();
  rebuild->add_flag("--best", rebuildArgs->best, kBestHelp);
  GuardedCallback(rebuild, context, [&context, rebuildArgs] {
    Loaded loaded(context);
    if (!LoadForCommand(context, loaded, rebuildArgs->file)) return;
    if (loaded.store->bmlFlag == 0) {
      context.err << rebuildArgs->file << " is not a BML package: write it with `quarrendel-cli save` instead\n";
      context.status = 1;
      return;
    }
    archive::SaveOptions options;
    options.best = rebuildArgs->best;
    context.status = ExitStatus(archive::RebuildLoadedBml(*loaded.store, loaded.frontEnd, options).status);
  });
}

// `list --json`: one JSON object with the container the load found ("pvm",
// "gvm", "xvm", "afs", "bml", "texture"), whether a whole-file PRS stream
// held it, whether the load was complete, and per image its index, name,
// width, height, format word, data length, global index and package index
// (all numbers decimal), one image per line.
std::string ListJson(const ImageStore& store) {
  std::string json = "{\n  \"kind\": \"" + std::string(ContainerName(store.loadedContainer)) + "\",\n";
  json += "  \"compressed\": " + std::string(store.loadedFromPrs ? "true" : "false") + ",\n";
  json += "  \"complete\": " + std::string(store.loadIncomplete ? "false" : "true") + ",\n";
  json += "  \"images\": [";
  for (int32_t i = 0; i < store.imageCount; ++i) {
    const TImage_Entry& e = store.images[static_cast<size_t>(i)];
    json += std::string(i == 0 ? "\n" : ",\n") + "    {\"index\": " + std::to_string(i) +
            ", \"name\": " + JsonString(e.Name) + ", \"width\": " + std::to_string(e.Width) +
            ", \"height\": " + std::to_string(e.Height) + ", \"format\": " + std::to_string(e.Format) +
            ", \"dataLength\": " + std::to_string(e.DataLength) +
            ", \"globalIndex\": " + std::to_string(e.GlobalIndex) +
            ", \"packageIndex\": " + std::to_string(e.PackageIndex) + "}";
  }
  json += store.imageCount == 0 ? "]\n}\n" : "\n  ]\n}\n";
  return json;
}

}  // namespace

std::string ListLine(int32_t index, const TImage_Entry& e, bool packageMode) {
  std::string line = std::to_string(index) + '\t' + PrintableText(e.Name) + '\t' + std::to_string(e.Width) + 'x' +
                     std::to_string(e.Height) + '\t' + texture::Hex8(e.Format) + '\t' +
                     std::to_string(e.DataLength) + '\t' + texture::Hex8(e.GlobalIndex);
  if (packageMode) line += '\t' + std::to_string(e.PackageIndex);
  return line;
}

void RegisterArchiveCommands(CLI::App& app, CliContext& context) {
  const char* const kFileHelp = kLoadFileHelp;
  const CLI::Validator imageIndex = ImageIndexValidator();

  struct ListArgs {
    std::string file;
    bool json = false;
  };
  auto listArgs = std::make_shared<ListArgs>();
  CLI::App* list = app.add_subcommand(
      "list", "Print \"<count> Images\", then per image: index, name, WxH, format, data length, global index "
              "and, for packages, the member index (tab-separated)");
  list->add_option("FILE", listArgs->file, kFileHelp)->required();
  list->add_flag("--json", listArgs->json,
                 "print one JSON document instead: \"kind\", \"compressed\", \"complete\" and \"images\", each "
                 "with index, name, width, height, format, dataLength, globalIndex, packageIndex (decimal); name "
                 "bytes that are not UTF-8 appear as \\u00hh, read as Latin-1");
  GuardedCallback(list, context, [&context, listArgs] {
    Loaded loaded(context);
    if (!LoadForCommand(context, loaded, listArgs->file)) return;
    if (listArgs->json) {
      context.out << ListJson(*loaded.store);
    } else {
      PrintList(context, loaded);
    }
  });

  struct ImageArgs {
    std::string file;
    std::string index;
    std::string out;
    bool painted = false;
    bool trueSize = false;
  };
  auto infoArgs = std::make_shared<ImageArgs>();
  CLI::App* info = app.add_subcommand("info", "Print the description of image INDEX, one memo line per line");
  info->add_option("FILE", infoArgs->file, kFileHelp)->required();
  info->add_option("INDEX", infoArgs->index, "image index, decimal, from 0")->required()->check(imageIndex);
  GuardedCallback(info, context, [&context, infoArgs] {
    Loaded loaded(context);
    const int32_t index = LoadImageForCommand(context, loaded, infoArgs->file, infoArgs->index);
    if (index < 0) return;
    const ImageStore& store = *loaded.store;
    const auto memo = texture::DescriptionMemo(store.images[static_cast<size_t>(index)], store.packageMode == 1,
                                               DecodeWithNotice(context, store, index));
    for (const std::string& line : memo) context.out << PrintableText(line) << "\n";
  });

  auto decodeArgs = std::make_shared<ImageArgs>();
  CLI::App* decode = app.add_subcommand(
      "decode", "Write image INDEX decoded as Height x Height RGBA bytes, rows top to bottom; exit status 4 "
                "when its format has no decoder (the cleared picture is written)");
  decode->add_option("FILE", decodeArgs->file, kFileHelp)->required();
  decode->add_option("INDEX", decodeArgs->index, "image index, decimal, from 0")->required()->check(imageIndex);
  decode->add_option("OUT", decodeArgs->out, "output file (.rgba); never FILE itself")->required();
  decode->add_flag("--painted", decodeArgs->painted, "write the picture over the checkerboard, as the window shows it");
  decode->add_flag("--true-size", decodeArgs->trueSize, "write Width x Height instead of Height x Height");
  GuardedCallback(decode, context, [&context, decodeArgs] {
    Loaded loaded(context);
    const int32_t index = LoadImageForCommand(context, loaded, decodeArgs->file, decodeArgs->index);
    if (index < 0) return;
    const auto decoded = DecodeWithNotice(context, *loaded.store, index);
    WriteFile(decodeArgs->out, RgbaBytes(decoded, decodeArgs->painted, decodeArgs->trueSize),
              {{decodeArgs->file}, false});
    if (!decoded.Supported()) {
      context.err << "Unsupported format\n";
      context.status = kUnsupportedStatus;
    }
  });

  RegisterSaveCommands(app, context, kFileHelp);
}

}  // namespace quarrendel::cli
