#include "platform/case_fold.h"

namespace zelvane::platform {

NameChar ReadNameChar(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1, true};
  // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8: their bytes stand alone, so a
  // name in another encoding is still compared byte by byte.
  const std::size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return {lead, 1, false};
  char32_t value = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return {lead, 1, false};
    value = (value << 6) | (next & 0x3F);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return {lead, 1, false};
  return {value, length, true};
}

char32_t FoldChar(char32_t c) {
  if (c < 0x80) return FoldAscii(static_cast<char>(c));
  const char32_t upper = UpperCase(c);
  return upper < 0x80 ? c : upper;
}

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (c & 0x3F));
}

}  // namespace

void AppendFolded(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const NameChar ch = ReadNameChar(text, i);
    i += ch.length;
    if (!ch.valid) {
      out += static_cast<char>(ch.value);
    } else if (ch.value < 0x80) {
      out += static_cast<char>(FoldChar(ch.value));
    } else {
      AppendUtf8(out, FoldChar(ch.value));
    }
  }
}

}  // namespace zelvane::platform
