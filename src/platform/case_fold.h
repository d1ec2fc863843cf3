// Letter case beyond A-Z: the one rule by which names that differ only in case are taken as equal, for
// matching, for the order of the match list and, where the file system folds case, for telling files
// apart. The rule is the system's own upper-case mapping (on POSIX the C library's Unicode table, whatever
// locale the environment names), applied to the characters of a UTF-8 name; a byte that starts no
// well-formed UTF-8 sequence is a character of its own and folds to itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvane::platform {

// One character of a name: a well-formed UTF-8 sequence, or a single byte that starts none.
struct NameChar {
  char32_t value;      // the code point, or the byte itself when `valid` is false
  std::size_t length;  // bytes it takes, 1 to 4
  bool valid;
};

// The character that starts at `at` (< text.size()).
NameChar ReadNameChar(std::string_view text, std::size_t at);

// The fold of an ASCII byte: A-Z onto a-z, every other byte as it is. The fast path of every comparison.
inline unsigned char FoldAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// What the characters that differ from `c` only in case fold to. A-Z fold onto a-z; other characters to
// their upper case, unless that is ASCII (a dotless i or a long s never equals an ASCII letter, so ASCII
// names keep the fast path of byte comparison).
char32_t FoldChar(char32_t c);

// Appends the folded form of `text`: each well-formed character folded and written as UTF-8, every other
// byte as it is. Two texts are equal without regard to case when their folded forms are equal, and the
// byte order of folded forms is the order of the match list.
void AppendFolded(std::string& out, std::string_view text);

// The system's upper-case mapping of one code point above ASCII (the backend's part of FoldChar).
char32_t UpperCase(char32_t c);

}  // namespace zelvane::platform
