#include "cli/pack_commands.h"

#include <memory>
#include <string>

#include "archive/save_names.h"
#include "cli/archive_commands.h"
#include "cli/cli_frontend.h"
#include "cli/loaded_file.h"
#include "core/worker_pool.h"
#include "imagefile/texture_pack.h"

namespace quarrendel::cli {

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
  unpack->callback([&context, unpackArgs] {
    Guarded(context, [&] {
      Loaded loaded(context);
      if (!LoadForCommand(context, loaded, unpackArgs->file)) return;
      WorkerPool pool;
      const imagefile::UnpackResult result =
          imagefile::UnpackTextures(*loaded.store, loaded.frontEnd, unpackArgs->folder, {unpackArgs->file}, pool);
      for (const std::string& notice : result.notices) context.err << PrintableText(notice) << "\n";
      if (context.status == 0) context.status = ExitStatus(result.outcome.status);
    });
  });

  struct PackArgs {
    std::string index;
    std::string out;
    std::string kind;
    bool blackTransparent = false;
    int32_t levels = 1;
  };
  auto packArgs = std::make_shared<PackArgs>();
  const std::string kinds = archive::SaveKindNameList();
  CLI::App* pack = app.add_subcommand(
      "pack", "Build a new archive from a texture pack: each line of INDEX (GLOBALINDEX,NAME.png,WIDTHxHEIGHT) "
              "adds NAME.png as Add does for the kind's platform, named NAME with that global index; the archive "
              "is written as `save` writes KIND. A missing file, a malformed line or a refused picture stops "
              "the run naming the line, and nothing is written");
  pack->add_option("INDEX", packArgs->index, "the pack's index.txt; the PNG files lie beside it")->required();
  pack->add_option("OUT", packArgs->out, "name of the archive to write (its extension is forced)")->required();
  pack->add_option("--as", packArgs->kind, "kind of archive: " + kinds)
      ->required()
      ->check(SaveKindValidator());
  pack->add_flag("--black-transparent", packArgs->blackTransparent,
                 "make black pixels transparent, as the import dialog's option does");
  pack->add_option("--levels", packArgs->levels,
                   "the import dialog's level count; a picture from a PNG file always makes one level")
      ->check(CLI::NonNegativeNumber);
  pack->callback([&context, packArgs] {
    Guarded(context, [&] {
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
  });
}

}  // namespace quarrendel::cli
