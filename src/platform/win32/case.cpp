// The system's upper-case table, the one the file system and CompareStringOrdinal use to tell names apart
// without regard to case. It covers the Basic Multilingual Plane; characters beyond it have no case there.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/case_fold.h"

namespace zelvane::platform {
namespace {

using Table = std::vector<std::uint16_t>;

// Built once by one call over every character of the plane (the surrogates, which map to themselves,
// left out, since alone they are no characters). On the heap: a walker's small stack may be the first
// to ask.
const Table& UpperTable() {
  static const Table table = [] {
    Table t(0x10000);
    for (std::uint32_t c = 0; c < 0x10000; ++c)
      t[c] = static_cast<std::uint16_t>(c);
    std::vector<wchar_t> in(0x10000), out(0x10000);
    std::size_t n = 0;
    for (std::uint32_t c = 0; c < 0x10000; ++c)
      if (c < 0xD800 || c > 0xDFFF) in[n++] = static_cast<wchar_t>(c);
    // LCMapStringEx rejects a zero first character; the plane's first is NUL, which maps to itself anyway.
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, in.data() + 1, static_cast<int>(n - 1),
                      out.data() + 1, static_cast<int>(n - 1), nullptr, nullptr,
                      0) == static_cast<int>(n - 1)) {
      for (std::size_t i = 1; i < n; ++i)
        t[static_cast<std::uint16_t>(in[i])] = static_cast<std::uint16_t>(out[i]);
    }
    return t;
  }();
  return table;
}

}  // namespace

char32_t UpperCase(char32_t c) {
  if (c >= 0x10000) return c;
  return UpperTable()[c];
}

}  // namespace zelvane::platform
