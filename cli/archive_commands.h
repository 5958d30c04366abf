// Archive commands of the command line: list the images of an archive, print
// the description of one, write one decoded image as raw RGBA bytes.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>

#include "cli/cli_context.h"
#include "core/image_store.h"

namespace quarrendel::cli {

void RegisterArchiveCommands(CLI::App& app, CliContext& context);

// One line of `list` without its newline: index, name, WxH, format word (8
// upper-case hex digits), data length, global index (8 upper-case hex digits)
// and, when packageMode is set, the package index; separated by single tabs.
// The name is shown by PrintableText.
std::string ListLine(int32_t index, const TImage_Entry& entry, bool packageMode);

// `text` safe to print on a terminal, on one line: a backslash as \\, tab and
// newline as \t and \n, other control characters (C0, DEL, and C1 written in
// UTF-8) and bytes that are not well-formed UTF-8 as \xhh; other UTF-8 text
// as it is.
std::string PrintableText(std::string_view text);

}  // namespace quarrendel::cli
