// Text from files (names, lines of index.txt) made safe to show: on a
// terminal, where an escape sequence would act, and in JSON.
#pragma once

#include <string>
#include <string_view>

namespace quarrendel {

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

}  // namespace quarrendel
