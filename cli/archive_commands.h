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

// `text` as a JSON string, quotes included: well-formed UTF-8 as it is; the
// quote, backslash, newline and tab as \" \\ \n \t; other controls (C0, DEL,
// C1) as \u00hh; a byte that is not part of well-formed UTF-8 as \u00hh, read
// as the Latin-1 character of that value.
std::string JsonString(std::string_view text);

// `list --json`: one JSON object with the container the load found ("pvm",
// "gvm", "xvm", "afs", "bml", "texture"), whether a whole-file PRS stream
// held it, whether the load was complete, and per image its index, name,
// width, height, format word, data length, global index and package index
// (all numbers decimal), one image per line.
std::string ListJson(const ImageStore& store);

}  // namespace quarrendel::cli
