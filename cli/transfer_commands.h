// Export, Export all, Import and Add on the command line:
//   export FILE INDEX OUT --as pvr|xvr|gvr|bmp|dds
//   export-all FILE DIR --as KIND
// They run the window's commands with the file choices given as arguments.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"

namespace quarrendel::cli {

void RegisterTransferCommands(CLI::App& app, CliContext& context);

}  // namespace quarrendel::cli
