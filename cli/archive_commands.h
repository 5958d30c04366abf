// Archive commands of the command line: list the images of an archive, print
// the description of one, write one decoded image as raw RGBA bytes.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "cli/cli_context.h"
#include "core/image_store.h"

namespace quarrendel::cli {

void RegisterArchiveCommands(CLI::App& app, CliContext& context);

// One line of `list` without its newline: index, name, WxH, format word (8
// upper-case hex digits), data length, global index (8 upper-case hex digits)
// and, when packageMode is set, the package index; separated by single tabs.
// The name is shown by PrintableText.
std::string ListLine(int32_t index, const TImage_Entry& entry, bool packageMode);

}  // namespace quarrendel::cli
