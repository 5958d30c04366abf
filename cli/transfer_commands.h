// Export, Export all, Import and Add on the command line:
//   export FILE INDEX OUT --as pvr|xvr|gvr|bmp|dds
//   export-all FILE DIR --as KIND
//   edit FILE [--platform dc|gc|xbox] [--black-transparent] [--levels N]
//        [--import INDEX=SRC]... [--add SRC]... (--save OUT --as KIND | --rebuild)
// They run the window's commands with the file choices given as arguments;
// edit answers the import-options dialog with its options and applies the
// imports and adds in the order given, then saves or rebuilds. A step that
// fails or is refused ends the run before anything is written.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"

namespace quarrendel::cli {

void RegisterTransferCommands(CLI::App& app, CliContext& context);

}  // namespace quarrendel::cli
