#include "cli/pack_commands.h"

#include <memory>
#include <string>

#include "cli/archive_commands.h"
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
      if (!result.unsupported.empty() && context.status == 0) context.status = kUnsupportedStatus;
    });
  });
}

}  // namespace quarrendel::cli
