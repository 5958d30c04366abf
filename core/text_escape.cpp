#include "core/text_escape.h"

#include <cstdint>

namespace quarrendel {

namespace {

// The length of the well-formed UTF-8 sequence that starts at text[k] with a
// byte of 0x80 or above, or 0: overlong forms, surrogates and code points past
// U+10FFFF are not well-formed.
size_t Utf8Length(std::string_view text, size_t k) {
  const auto at = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t b = at(k);
  const size_t length = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (length == 0 || k + length > text.size()) return 0;
  for (size_t j = 1; j < length; ++j) {
    if ((at(k + j) & 0xC0) != 0x80) return 0;
  }
  const uint8_t b1 = at(k + 1);
  const bool bad = (b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) ||  // overlong, surrogates
                   (b == 0xF0 && b1 < 0x90) || (b == 0xF4 && b1 >= 0x90);    // overlong, past U+10FFFF
  return bad ? 0 : length;
}

// C2 80..C2 9F: the C1 controls U+0080..U+009F.
bool IsC1Control(std::string_view text, size_t k) {
  return static_cast<uint8_t>(text[k]) == 0xC2 && static_cast<uint8_t>(text[k + 1]) < 0xA0;
}

void AppendHex2(std::string& out, uint8_t b) {
  static const char* const kDigits = "0123456789abcdef";
  out += kDigits[b >> 4];
  out += kDigits[b & 15];
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    const auto b = static_cast<uint8_t>(text[k]);
    if (b == '\\') {
      out += "\\\\";
    } else if (b == '\t') {
      out += "\\t";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else if (const size_t length = b < 0x80 ? 0 : Utf8Length(text, k); length > 0 && !IsC1Control(text, k)) {
      out.append(text.substr(k, length));
      k += length - 1;
    } else {
      out += "\\x";  // C0 controls, DEL, C1 controls and bytes that are not UTF-8
      AppendHex2(out, b);
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  const auto escape = [&out](uint8_t code) {
    out += "\\u00";
    AppendHex2(out, code);
  };
  for (size_t k = 0; k < text.size(); ++k) {
    const auto b = static_cast<uint8_t>(text[k]);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\t') {
      out += "\\t";
    } else if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else if (b < 0x80) {
      escape(b);  // other C0 controls and DEL
    } else if (const size_t length = Utf8Length(text, k); length > 0) {
      if (IsC1Control(text, k)) {
        escape(static_cast<uint8_t>(text[k + 1]));
      } else {
        out.append(text.substr(k, length));
      }
      k += length - 1;
    } else {
      escape(b);  // not UTF-8: the byte read as Latin-1
    }
  }
  return out + '"';
}

}  // namespace quarrendel
