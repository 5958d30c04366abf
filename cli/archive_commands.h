// Archive commands of the command line: list the images of an archive, print
// the description of one, write one decoded image as raw RGBA bytes.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"

namespace quarrendel::cli {

void RegisterArchiveCommands(CLI::App& app, CliContext& context);

}  // namespace quarrendel::cli
