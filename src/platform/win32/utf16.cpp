// UTF-8 and UTF-16, both ways, without loss: what the system names in UTF-16 comes back to it unchanged.
#include <cstdint>

#include "platform/files.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform::win32 {
namespace {

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Decodes the sequence at `text[i]`: its code point and length, or length 0 when it is not valid UTF-8.
// Surrogates encoded on their own are let through (they stand for unpaired ones in a name).
std::size_t Decode(std::string_view text, std::size_t i, std::uint32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1Fu;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0Fu;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07u;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if (!IsContinuation(c)) return 0;
    codePoint = (codePoint << 6) | (c & 0x3Fu);
  }
  if (codePoint < min || codePoint > 0x10FFFF) return 0;
  return length;
}

void Append(std::string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// The code page the system's locale names under `type`, or `fallback`'s when it names none.
UINT LocaleCodePage(LCTYPE type, UINT (*fallback)()) {
  DWORD value = 0;
  if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&value),
                     sizeof value / sizeof(wchar_t)) == 0 ||
      value == 0) {
    return fallback();
  }
  return static_cast<UINT>(value);
}

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t codePoint = 0;
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    } else if (const std::size_t length = Decode(text, i, codePoint)) {
      i += length;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

UINT SystemOemCodePage() {
  static const UINT codePage = LocaleCodePage(LOCALE_IDEFAULTCODEPAGE, GetOEMCP);
  return codePage;
}

UINT SystemAnsiCodePage() {
  static const UINT codePage = LocaleCodePage(LOCALE_IDEFAULTANSICODEPAGE, GetACP);
  return codePage;
}

std::wstring Wide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<wchar_t>(c);
      ++i;
      continue;
    }
    std::uint32_t codePoint = 0;
    if (const std::size_t length = Decode(text, i, codePoint)) {
      if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        out += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
      } else {
        out += static_cast<wchar_t>(codePoint);
      }
      i += length;
      continue;
    }
    wchar_t oem = 0;
    const char byte = text[i];
    if (MultiByteToWideChar(SystemOemCodePage(), 0, &byte, 1, &oem, 1) != 1) oem = 0xFFFD;
    out += oem;
    ++i;
  }
  return out;
}

std::string Utf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    Append(out, unit);
  }
  return out;
}

std::string ErrorText(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!words.empty() &&
         (words.back() == L'\r' || words.back() == L'\n' || words.back() == L'.' || words.back() == L' '))
    words.pop_back();
  if (words.empty()) return "error " + std::to_string(error);
  return Utf8(words);
}

}  // namespace zelvane::platform::win32

namespace zelvane::platform {

void MakeUtf8Line(std::string& line) {
  // Where the ANSI code page is UTF-8 itself, a line that is no UTF-8 keeps its bytes: decoding them
  // again would only put replacement characters in.
  const UINT codePage = win32::SystemAnsiCodePage();
  if (win32::IsUtf8(line) || codePage == CP_UTF8) return;
  const int size = static_cast<int>(line.size());
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, line.data(), size, nullptr, 0)),
                    L'\0');
  if (wide.empty()) return;
  MultiByteToWideChar(codePage, 0, line.data(), size, wide.data(), static_cast<int>(wide.size()));
  line = win32::Utf8(wide);
}

}  // namespace zelvane::platform
