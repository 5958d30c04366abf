#include "core/text_escape.h"

#include <gtest/gtest.h>

#include <utility>

namespace quarrendel {
namespace {

TEST(PrintableTextTest, ControlCharactersAndBrokenUtf8AreEscaped) {
  const std::pair<const char*, const char*> rows[] = {
      {"wall_01", "wall_01"},
      {"a\tb", "a\\tb"},
      {"two\nlines", "two\\nlines"},
      {"\x1b[31mred", "\\x1b[31mred"},
      {"back\\slash", "back\\\\slash"},
      {"\r\x7f", "\\x0d\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},  // UTF-8 stays
      {"\xc2\x9b" "2J", "\\xc2\\x9b" "2J"},  // C1 control CSI written in UTF-8
      {"caf\xe9", "caf\\xe9"},                  // Latin-1, not UTF-8
      {"\xe2\x82", "\\xe2\\x82"},                // sequence cut short
      {"\xc0\xaf\xed\xa0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},  // overlong slash, surrogate
  };
  for (const auto& [text, shown] : rows) EXPECT_EQ(PrintableText(text), shown) << text;
}

TEST(JsonStringTest, QuotesControlsAndBytesOutsideUtf8AreEscaped) {
  const std::pair<const char*, const char*> rows[] = {
      {"wall_01", "\"wall_01\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"a\tb\nc\r\x01\x7f", "\"a\\tb\\nc\\u000d\\u0001\\u007f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},  // UTF-8 stays
      {"\xc2\x9b", "\"\\u009b\""},                                    // C1 control
      {"caf\xe9", "\"caf\\u00e9\""},                                  // Latin-1 byte
      {"\xe2\x82", "\"\\u00e2\\u0082\""},                             // sequence cut short
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},                  // surrogate
  };
  for (const auto& [text, json] : rows) EXPECT_EQ(JsonString(text), json) << text;
}

}  // namespace
}  // namespace quarrendel
