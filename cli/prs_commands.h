// quarrendel-cli prs compress|decompress IN OUT: the PRS codec on whole files
// (compress --best: the smallest stream with copies at most 8191 bytes back instead of the greedy one).
#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_context.h"

namespace quarrendel::cli {

void RegisterPrsCommands(CLI::App& app, CliContext& context);

}  // namespace quarrendel::cli
