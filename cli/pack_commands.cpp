#include "cli/pack_commands.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "archive/save_command.h"
#include "archive/save_names.h"
#include "cli/cli_frontend.h"
#include "cli/loaded_file.h"
#include "core/text_escape.h"
#include "core/worker_pool.h"
#include "imagefile/texture_pack.h"
#include "texture/format_choice.h"

namespace quarrendel::cli {

namespace {

// The kind of file FILE was: its texture archive kind, or the AFS kind of its
// images' family; nullopt for what `save` cannot write again (a single
// texture, a BML package).
std::optional<archive::SaveKind> OwnSaveKind(const ImageStore& store) {
  switch (store.loadedContainer) {
    case LoadedContainer::Pvm: return archive::SaveKind::Pvm;
    case LoadedContainer::Xvm: return archive::SaveKind::Xvm;
    case LoadedContainer::Gvm: return archive::SaveKind::Gvm;
    case LoadedContainer::Afs: {
      const std::optional<TargetFamily> family =
          store.imageCount > 0 ? texture::EntryFamily(store, 0) : std::optional<TargetFamily>();
      if (!family) return std::nullopt;
      switch (*family) {
        case TargetFamily::DcPc: return archive::SaveKind::AfsPc;
        case TargetFamily::XboxBb: return archive::SaveKind::AfsXbox;
        case TargetFamily::Gc: return archive::SaveKind::AfsGc;
      }
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

struct OntoArgs {
  std::string index;
  std::string file;
  std::string out;
  std::string kind;
  bool rebuild = false;
  bool best = false;
};

// pack INDEX --onto FILE: the edited pictures put back onto FILE, then saved or rebuilt.
void PackOnto(CliContext& context, const OntoArgs& args) {
  Loaded loaded(context);
  if (!LoadForCommand(context, loaded, args.file)) return;
  ImageStore& store = *loaded.store;
  if (!OutputSuitsLoaded(context, args.file, store, args.rebuild)) return;
  std::optional<archive::SaveKind> kind =
      args.kind.empty() ? OwnSaveKind(store) : archive::SaveKindOfName(args.kind);
  if (!args.rebuild && !kind) {
    context.err << args.file << " is no archive `save` writes again: name the kind with --as\n";
    context.status = kUsageStatus;
    return;
  }
  const imagefile::PackUpdate update = imagefile::UpdateFromPack(store, args.index, loaded.frontEnd);
  archive::SaveOptions save;
  save.best = args.best;
  std::string written;
  save.savedPath = &written;
  Outcome outcome;
  std::vector<std::string> inputs = update.inputs;
  inputs.push_back(args.file);
  if (args.rebuild) {
    outcome = archive::RebuildLoadedBml(store, loaded.frontEnd, save);
    written = store.loadedFileName;
  } else {
    save.protectedInputs = inputs;
    outcome = archive::SaveAs(store, loaded.frontEnd, args.out, *kind, save);
  }
  if (!outcome) {
    context.status = 1;
    return;
  }
  imagefile::WritePalettes(std::filesystem::path(written).parent_path().string(), update.palettes, inputs);
  context.err << update.updated.size() << " images were updated from " << PrintableText(args.index) << "\n";
}

}  // namespace

void RegisterPackCommands(CLI::App& app, CliContext& context) {
  struct UnpackArgs {
    std::string file;
    std::string folder;
  };
  auto unpackArgs = std::make_shared<UnpackArgs>();
  CLI::App* unpack = app.add_subcommand(
      "unpack", "Write every texture of FILE as FOLDER/NAME.png (true size, RGBA, channels stretched to the full "
                "range) and FOLDER/index.txt with one line per texture: GLOBALINDEX,NAME.png,WIDTHxHEIGHT; "
                "exit status 4 when a format has no decoder (its PNG is transparent)");
  unpack->add_option("FILE", unpackArgs->file, "archive to unpack")->required();
  unpack->add_option("FOLDER", unpackArgs->folder, "folder of the pack, created when missing")->required();
  GuardedCallback(unpack, context, [&context, unpackArgs] {
    Loaded loaded(context);
    if (!LoadForCommand(context, loaded, unpackArgs->file)) return;
    WorkerPool pool;
    const imagefile::UnpackResult result =
        imagefile::UnpackTextures(*loaded.store, loaded.frontEnd, unpackArgs->folder, {unpackArgs->file}, pool);
    for (const std::string& notice : result.notices) context.err << PrintableText(notice) << "\n";
    if (context.status == 0) context.status = ExitStatus(result.outcome.status);
  });

  struct PackArgs {
    std::string index;
    std::string out;
    std::string kind;
    bool blackTransparent = false;
    int32_t levels = 1;
    std::string onto;
    std::string save;
    bool rebuild = false;
    bool best = false;
  };
  auto packArgs = std::make_shared<PackArgs>();
  const std::string kinds = archive::SaveKindNameList();
  CLI::App* pack = app.add_subcommand(
      "pack", "Build a new archive from a texture pack: each line of INDEX (GLOBALINDEX,NAME.png,WIDTHxHEIGHT"
              "[,FORMAT]) encodes NAME.png for the kind's platform, in the line's FORMAT when the platform has "
              "it, else by Add's family rule, named NAME with that global index; the archive is written as "
              "`save` writes KIND. With --onto FILE: the pictures that differ from what `unpack` writes for "
              "FILE's textures are put back into them, each keeping its format, the others keep their bytes; "
              "then FILE is saved (--save OUT, as FILE's own kind unless --as) or rebuilt (--rebuild). A "
              "missing file, a malformed line, a line that is not FILE's image or a refused picture stops the "
              "run naming the line, and nothing is written");
  pack->add_option("INDEX", packArgs->index, "the pack's index.txt; the PNG files lie beside it")->required();
  CLI::Option* outOption =
      pack->add_option("OUT", packArgs->out, "name of the archive to write (its extension is forced)");
  CLI::Option* kindOption = pack->add_option("--as", packArgs->kind, "kind of archive: " + kinds)
                                ->check(SaveKindValidator());
  CLI::Option* ontoOption =
      pack->add_option("--onto", packArgs->onto, "FILE: the archive the pack was unpacked from, loaded as `load` does");
  CLI::Option* saveOption = pack->add_option("--save", packArgs->save, "OUT: with --onto, write FILE as `save` does");
  CLI::Option* rebuildOption = pack->add_flag("--rebuild", packArgs->rebuild, "with --onto, rebuild FILE, a BML package, in place");
  pack->add_flag("--best", packArgs->best, "with --onto, the smallest PRS streams where the file written is compressed");
  saveOption->needs(ontoOption);
  rebuildOption->needs(ontoOption);
  saveOption->excludes(rebuildOption);
  ontoOption->excludes(outOption);
  pack->add_flag("--black-transparent", packArgs->blackTransparent,
                 "make black pixels transparent, as the import dialog's option does");
  pack->add_option("--levels", packArgs->levels,
                   "the import dialog's level count; a picture from a PNG file always makes one level")
      ->check(CLI::NonNegativeNumber);
  GuardedCallback(pack, context, [&context, packArgs, outOption, kindOption, ontoOption, saveOption, rebuildOption] {
    if (ontoOption->count() > 0) {
      if (saveOption->count() + rebuildOption->count() != 1 || (kindOption->count() > 0 && packArgs->rebuild)) {
        context.err << "pack --onto FILE needs --save OUT [--as KIND] or --rebuild\n";
        context.status = kUsageStatus;
        return;
      }
      PackOnto(context, OntoArgs{packArgs->index, packArgs->onto, packArgs->save, packArgs->kind,
                                 packArgs->rebuild, packArgs->best});
      return;
    }
    if (outOption->count() == 0 || kindOption->count() == 0) {
      context.err << "pack INDEX OUT needs --as KIND (or --onto FILE)\n";
      context.status = kUsageStatus;
      return;
    }
    if (packArgs->levels > 1) {
      context.err << "warning: --levels " << packArgs->levels
                  << " is not used: a texture made from a PNG file has one level\n";
    }
    CliFrontEnd frontEnd(context.err, IsTerminalStderr(context.err));
    imagefile::PackRequest request;
    request.index = packArgs->index;
    request.out = packArgs->out;
    request.kind = *archive::SaveKindOfName(packArgs->kind);
    request.blackTransparent = packArgs->blackTransparent;
    const imagefile::PackResult result = imagefile::PackTextures(request, frontEnd);
    for (const std::string& warning : result.warnings) context.err << warning << "\n";
    if (!result.outcome) context.status = 1;
  });
}

}  // namespace quarrendel::cli
