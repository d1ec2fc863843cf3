// UTF-16 text as UTF-8, for the Win32 test programs: the suite and the argument printer it starts.
#pragma once

#include <windows.h>

#include <string>

namespace zelvane::test {

inline std::string Utf8(const std::wstring& text) {
  const int size = static_cast<int>(text.size());
  std::string out(static_cast<std::size_t>(
                      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)),
                  '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()), nullptr,
                      nullptr);
  return out;
}

}  // namespace zelvane::test
