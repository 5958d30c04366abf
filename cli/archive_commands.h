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

// `list --json`: one JSON object with the container the load found ("pvm",
// "gvm", "xvm", "afs", "bml", "texture"), whether a whole-file PRS stream
// held it, whether the load was complete, and per image its index, name,
// width, height, format word, data length, global index and package index
// (all numbers decimal), one image per line.
std::string ListJson(const ImageStore& store);

}  // namespace quarrendel::cli
