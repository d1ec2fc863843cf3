// Name matching as the DIR command does it. Shared by both targets: each search lists a directory and
// matches the names with this, so a pattern selects the same files everywhere (the Win32 tests compare it
// with the system's own matcher, whose known differences it does not follow).
#include <cstddef>

#include "platform/case_fold.h"
#include "platform/files.h"

namespace zelvane::platform {
namespace {

// Bytes of the character that starts at `at`: a whole UTF-8 sequence, so '?' stands for one character
// of a name such as "日本.txt", not for one of its bytes; any byte that does not start a well-formed
// sequence counts alone, so names in other encodings still match byte by byte.
std::size_t CharLength(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) < 0x80 ? 1 : ReadNameChar(text, at).length;
}

// Whether the characters at pattern[p] and name[n] are the same without regard to case; if so, their
// lengths. ASCII bytes are compared directly; other characters by their fold.
bool SameChar(std::string_view pattern, std::size_t p, std::string_view name, std::size_t n,
              std::size_t& pLength, std::size_t& nLength) {
  const auto x = static_cast<unsigned char>(pattern[p]);
  const auto y = static_cast<unsigned char>(name[n]);
  if (x < 0x80 && y < 0x80) {
    pLength = nLength = 1;
    return FoldAscii(pattern[p]) == FoldAscii(name[n]);
  }
  if (x < 0x80 || y < 0x80) return false;
  const NameChar a = ReadNameChar(pattern, p);
  const NameChar b = ReadNameChar(name, n);
  pLength = a.length;
  nLength = b.length;
  if (a.valid != b.valid) return false;
  return a.valid ? FoldChar(a.value) == FoldChar(b.value) : a.value == b.value;
}

// Classic '*' / '?' matching without backtracking blow-up: remember the last star and retry from there.
// Both '?' and the star's retries step over whole characters, so no match splits one.
bool Glob(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  std::size_t pLength = 1, nLength = 1;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += CharLength(name, n);
    } else if (p < pattern.size() && SameChar(pattern, p, name, n, pLength, nLength)) {
      p += pLength;
      n += nLength;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      starN += CharLength(name, starN);
      n = starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  const bool nameHasDot = name.find('.') != std::string_view::npos;
  // A trailing '.' asks for names without an extension: "*." matches "Makefile", not "a.c".
  if (!pattern.empty() && pattern.back() == '.') {
    if (nameHasDot) return false;
    return Glob(pattern.substr(0, pattern.size() - 1), name);
  }
  if (Glob(pattern, name)) return true;
  // "a.*" also matches "a": the ".*" may stand for an empty extension, and what stands before it is a
  // pattern of its own ("*.*.*" matches whatever "*.*" matches).
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
    return MatchesPattern(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

}  // namespace zelvane::platform
