#include <gtest/gtest.h>

#include "platform/files.h"

namespace zelvane::platform {
namespace {

struct Row {
  const char* pattern;
  const char* name;
  bool matches;
};

// DIR's rules, one row per case.
const Row kRows[] = {
    // "*.*" matches every name, with or without a dot.
    {"*.*", "a.c", true},
    {"*.*", "Makefile", true},
    {"*.*", "a.b.c", true},
    // A trailing '.' asks for names without any dot.
    {"*.", "Makefile", true},
    {"*.", "a.c", false},
    {"M*.", "Makefile", true},
    {"a.", "a", true},
    {"a.", "a.", false},
    // ".*" at the end may stand for no extension at all.
    {"a.*", "a", true},
    {"a.*", "a.c", true},
    {"a.*", "ab", false},
    {"a*.*", "abc", true},
    {"a.b.*", "a.b.c", true},
    // '*' runs over dots and may be empty.
    {"*", "a.b.c", true},
    {"*.c", "a.b.c", true},
    {"*.c", ".c", true},
    {"*.c", "a.cc", false},
    {"a*b*c", "abc", true},
    {"a*b*c", "axxbyyc", true},
    {"a*b*c", "axxbyy", false},
    {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
    // '?' is exactly one character.
    {"?.c", "a.c", true},
    {"?.c", ".c", false},
    {"?.c", "ab.c", false},
    // '?' is one character, however many bytes it takes in UTF-8; a stray byte is one character too.
    {"??.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", true},
    {"?.txt", "\xF0\x9F\x98\x80.txt", true},
    {"??????.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", false},
    {"*?\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", false},
    {"?.txt", "\xE6.txt", true},
    {"a?c", "a.c", true},
    {"*.?", "x.h", true},
    {"*.?", "x.hh", false},
    // Letters fold; other characters are plain.
    {"*.C", "a.c", true},
    {"ABC.txt", "abc.TXT", true},
    {"[ab].c", "[ab].c", true},
    {"[ab].c", "a.c", false},
    // Beyond A-Z too, by the system's table; an ASCII letter never equals a letter beyond it, and a byte
    // that is no UTF-8 equals only itself.
    {"\xC3\xA4rger.txt", "\xC3\x84RGER.TXT", true},
    {"*\xCE\xB2?", "\xCE\x91\xCE\x92\xCE\x93", true},
    {"k.txt", "\xE2\x84\xAA.txt", false},
    {"\xC3(", "\xC3(", true},
    {"\xC3(", "\xC4(", false},
    // Leading dots are ordinary characters to the matcher (the search leaves such names out itself).
    {".*", ".bashrc", true},
    {"*rc", ".bashrc", true},
    {"", "a", false},
};

TEST(MatchesPattern, FollowsDirRules) {
  for (const Row& row : kRows) {
    EXPECT_EQ(MatchesPattern(row.pattern, row.name), row.matches) << row.pattern << " vs " << row.name;
  }
}

}  // namespace
}  // namespace zelvane::platform
