// Texture pack commands of the command line: unpack an archive into a folder
// of PNG files with index.txt, and pack such a folder into a new archive.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"

namespace quarrendel::cli {

void RegisterPackCommands(CLI::App& app, CliContext& context);

}  // namespace quarrendel::cli
