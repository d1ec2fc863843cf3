#include "filespec/filespec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace zelvane {
namespace {

// Each step as one line: "spec req/exc size|time|comp|cont".
std::vector<std::string> Steps(const std::string& filespec) {
  std::vector<std::string> out;
  for (const SearchStep& s : ParseFilespec(filespec)) {
    char masks[32];
    std::snprintf(masks, sizeof masks, " %x/%x ", static_cast<unsigned>(s.requiredAttributes),
                  static_cast<unsigned>(s.excludedAttributes));
    const QualifierSet& q = s.qualifiers;
    out.push_back(s.spec + masks + q.size + "|" + q.time + "|" + q.comp + "|" + q.cont);
  }
  return out;
}

using Lines = std::vector<std::string>;

// Typed text as the platform reads it: on POSIX, where '\\' stands in names, a typed '\\' means '/'.
std::string Typed(std::string text) {
  if (platform::NativeSeparator() == '/') std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

TEST(ParseFilespec, SplitsOnBlanksAndTabsOnly) {
  EXPECT_EQ(Steps("*.tmp  *.bak\t\\tmp*.*"),
            (Lines{"*.tmp 0/0 |||", "*.bak 0/0 |||", Typed("\\tmp*.* 0/0 |||")}));
  EXPECT_EQ(Steps("a,b;c"), (Lines{"a,b;c 0/0 |||"}));
  EXPECT_TRUE(Steps("").empty());
  EXPECT_TRUE(Steps(" \t ").empty());
}

TEST(ParseFilespec, AttributeSwitchesSetBothMasksUntilTheNextSwitch) {
  EXPECT_EQ(Steps("/ad *.?"), (Lines{"*.? 10/0 |||"}));
  EXPECT_EQ(Steps("-AR-h *.txt"), (Lines{"*.txt 1/2 |||"}));
  EXPECT_EQ(Steps("/aacdhrst *"), (Lines{"* 937/0 |||"}));
  EXPECT_EQ(Steps("/a-a-c-d-h-r-s-t *"), (Lines{"* 0/937 |||"}));
  // Unknown letters are ignored; a bare /a puts both masks back to 0.
  EXPECT_EQ(Steps("/axd! a /a b"), (Lines{"a 10/0 |||", "b 0/0 |||"}));
  EXPECT_EQ(Steps("/ad a b"), (Lines{"a 10/0 |||", "b 10/0 |||"}));
  // A '-' takes the next character whatever it is: the blank, so the switch runs on through "*.c".
  EXPECT_EQ(Steps("/ar- *.c"), Lines{});
  EXPECT_EQ(Steps("/ar- *.c x"), (Lines{"x 801/0 |||"}));
  // A '-' at the very end just ends the switch.
  EXPECT_EQ(Steps("x /ar-"), (Lines{"x 0/0 |||"}));
}

TEST(ParseFilespec, OtherSwitchesAndDashNamesAreConsumedUpToTheBlank) {
  EXPECT_EQ(Steps("/s *.c /o:n -x.c /SIZEeq(0) *.h"), (Lines{"*.c 0/0 |||", "*.h 0/0 |||"}));
  EXPECT_EQ(Steps("/sizegt *.c"), (Lines{"*.c 0/0 |||"}));  // no '(': not a qualifier
  EXPECT_EQ(Steps("- *.c"), (Lines{"*.c 0/0 |||"}));
}

#ifndef _WIN32  // only POSIX paths begin with '/'
TEST(ParseFilespec, SlashFollowedByAnotherSlashIsAPathNotASwitch) {
  EXPECT_EQ(Steps("/home/me/*.c /ad /abc/d"), (Lines{"/home/me/*.c 0/0 |||", "/abc/d 10/0 |||"}));
  EXPECT_EQ(Steps("/a/b/*.c"), (Lines{"/a/b/*.c 0/0 |||"}));
  // The decision looks at the token up to its first blank only.
  EXPECT_EQ(Steps("/ad x/y"), (Lines{"x/y 10/0 |||"}));
}
#endif

TEST(ParseFilespec, QuotedTokensLoseTheirQuotes) {
  EXPECT_EQ(Steps("'c:\\my files\\*.txt' *.c"), (Lines{Typed("c:\\my files\\*.txt 0/0 |||"), "*.c 0/0 |||"}));
  EXPECT_EQ(Steps("\"a b\"\t\"it's\""), (Lines{"a b 0/0 |||", "it's 0/0 |||"}));
  // An unclosed quote takes the rest of the text; an empty quoted token searches nothing.
  EXPECT_EQ(Steps("x 'a b /ad"), (Lines{"x 0/0 |||", "a b /ad 0/0 |||"}));
  EXPECT_EQ(Steps("'' x"), (Lines{"x 0/0 |||"}));
  // A quote is only recognised as a token's first character.
  EXPECT_EQ(Steps("a'b c'"), (Lines{"a'b 0/0 |||", "c' 0/0 |||"}));
  // The closing quote ends the token even without a blank after it.
  EXPECT_EQ(Steps("'a'b"), (Lines{"a 0/0 |||", "b 0/0 |||"}));
}

TEST(ParseFilespec, QualifiersAreTakenFromAnywhereOneOfEachKindPerCycle) {
  EXPECT_EQ(Steps("/sizeeq(0) *.sbr"), (Lines{"*.sbr 0/0 eq(0)|||"}));
  EXPECT_EQ(Steps("*.c /sizegt(10) *.h"), (Lines{"*.c 0/0 gt(10)|||", "*.h 0/0 gt(10)|||"}));
  EXPECT_EQ(Steps("/sizegt(10) /ad *.c /sizelt(5) *.h"), (Lines{"*.c 10/0 lt(5)|||", "*.h 10/0 lt(5)|||"}));
  EXPECT_EQ(Steps("/timegt(2001-03-07 12:00:00) *.c"), (Lines{"*.c 0/0 |gt(2001-03-07 12:00:00)||"}));
  EXPECT_EQ(Steps("-conteq(0x1) /compne(a.c) -timegt(b) x"), (Lines{"x 0/0 |gt(b)|ne(a.c)|eq(0x1)"}));
  // Later qualifiers of one kind replace earlier ones, and the others stay. A qualifier left at the front
  // for a later cycle is taken there, not thrown away as an unknown switch.
  EXPECT_EQ(Steps("/sizeeq(1) /timelt(t) a /sizeeq(2) b"),
            (Lines{"a 0/0 eq(1)|lt(t)||", "b 0/0 eq(2)|lt(t)||"}));
  EXPECT_EQ(Steps("/sizeeq(1) a /sizeeq(2) /sizeeq(3) b"), (Lines{"a 0/0 eq(1)|||", "b 0/0 eq(3)|||"}));
  // Only switches and qualifiers: nothing is searched.
  EXPECT_TRUE(Steps("/sizeeq(0) /ad").empty());
}

TEST(ParseFilespec, EachCycleTakesTheQualifierTheScanFromItsTokenFinds) {
  // The scan over the whole rest of the text, as it stands after each token and each qualifier taken: a
  // keyword hidden by the character skipped after a '/' or '-' stays hidden, and what a cycle takes changes
  // what the next one finds.
  const struct {
    const char* filespec;
    Lines steps;
  } rows[] = {
      {"a --sizeeq(1) b -sizeeq(2) c", {"a 0/0 eq(2)|||", "b 0/0 eq(2)|||", "c 0/0 eq(2)|||"}},
      {"a -x-sizeeq(1) b", {"a 0/0 eq(1)|||", "b 0/0 eq(1)|||"}},
      {"a ---sizeeq(1) b", {"a 0/0 eq(1)|||", "b 0/0 eq(1)|||"}},
      {"/ar-sizeeq(1) a", {"a 1/0 eq(1)|||"}},
      {"/sizeeq(1) a /sizeeq(2) b /sizeeq(3) c", {"a 0/0 eq(1)|||", "b 0/0 eq(2)|||", "c 0/0 eq(3)|||"}},
      {"a /size b /sizeeq(9) c", {"a 0/0  b /sizeeq(9)|||", "c 0/0  b /sizeeq(9)|||"}},
      {"a /sizegt(1 b c", {"a 0/0 gt(1 b c|||"}},
      {"'x /timeeq(1)' y /timeeq(2) z", {"x  0/0 |eq(1)||", "y 0/0 |eq(2)||", "z 0/0 |eq(2)||"}},
      {"a /compeq(x(1)) /conteq(y) b /compeq(z) c",
       {"a 0/0 ||eq(x(1))|eq(y)", "b 0/0 ||eq(z)|eq(y)", "c 0/0 ||eq(z)|eq(y)"}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Steps(row.filespec), row.steps) << row.filespec;
}

TEST(ParseFilespec, QualifierInsideAPathIsStillAQualifier) {
  EXPECT_EQ(Steps("c:\\up-size(2)\\*.c"), (Lines{Typed("c:\\up\\*.c 0/0 (2)|||")}));
  EXPECT_EQ(Steps("'a /timeeq(x) b'"), (Lines{"a  b 0/0 |eq(x)||"}));
}

TEST(ParseFilespec, QualifiersComeBeforeTheSlashPathRule) {
  // A qualifier left for a later cycle stays a qualifier whatever its operand holds; it is never searched
  // as a path.
  EXPECT_EQ(Steps("/sizegt(1) /sizelt(sub/ref) *.c"), (Lines{"*.c 0/0 lt(sub/ref)|||"}));
  EXPECT_EQ(Steps("/timegt(a) /timegt(/etc/passwd) x"), (Lines{"x 0/0 |gt(/etc/passwd)||"}));
  EXPECT_EQ(Steps("/compeq(a) -compne(b/c) x"), (Lines{"x 0/0 ||ne(b/c)|"}));
}

TEST(ParseFilespec, TypedBackslashesAreConvertedInSpecsAndOperandsOnly) {
  // The conversion comes after the text is read: "\\sizeeq(0)" is no qualifier, and a macro in an operand
  // is left for its expansion, whose value is never converted.
  EXPECT_EQ(Steps("sub\\*.c /timegt($p\\$b.obj) x\\y"),
            (Lines{Typed("sub\\*.c 0/0 |gt($p\\$b.obj)||"), Typed("x\\y 0/0 |gt($p\\$b.obj)||")}));
  EXPECT_EQ(Steps("\\sizeeq(0)"), (Lines{Typed("\\sizeeq(0) 0/0 |||")}));
  EXPECT_EQ(TypedPath("a\\b/c"), Typed("a\\b/c"));
}

TEST(TakeQualifier, NestedParenthesesUnclosedOperandsAndTheScanRule) {
  struct Case {
    const char* keyword;
    const char* text;
    bool found;
    const char* rest;
    const char* qualifier;
  };
  const Case cases[] = {
      {"size", "/sizegte(100) x", true, " x", "gte(100)"},
      {"size", "a /sizeeq(f(1)(2)) b", true, "a  b", "eq(f(1)(2))"},
      {"size", "/sizeeq(0", true, "", "eq(0"},
      {"size", "/sizegt5 *.c /timegt(x)", true, "", "gt5 *.c /timegt(x)"},
      {"size", "/sizegt5 *.c", false, "/sizegt5 *.c", ""},
      {"size", "/SIZEeq(0)", false, "/SIZEeq(0)", ""},
      {"size", "size(1)", false, "size(1)", ""},
      // The character after a non-matching '/' or '-' is skipped, so "--size" hides the keyword...
      {"size", "--size(1)", false, "--size(1)", ""},
      // ...while "-x-size" does not.
      {"size", "-x-size(1)", true, "-x", "(1)"},
      {"time", "x-timeeq(a) /timeeq(b)", true, "x /timeeq(b)", "eq(a)"},
      {"comp", "", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    std::string qualifier;
    EXPECT_EQ(TakeQualifier(c.keyword, text, qualifier), c.found) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
    EXPECT_EQ(qualifier, c.qualifier) << c.text;
  }
}

TEST(ParseFilespecScale, LongFilespecsParseInLinearTime) {
  // Each token repeated 100,000 times. A parse that rescans or moves the rest of the text for every token
  // takes minutes here; the real one a fraction of a second. Loose on purpose: std::clock is processor time
  // on POSIX but wall time on Win32, and CI machines are busy.
  constexpr std::size_t kRepeats = 100000;
  const struct {
    const char* token;
    std::size_t stepsEach;
  } rows[] = {
      {"a.c ", 1},
      {"'x y.c' ", 1},
      {"/s ", 0},
      {"/ar-h ", 0},
      {"-name ", 0},
      {"/size ", 0},  // a keyword with no operand anywhere is an unknown switch
      {"--sizeeq(0) ", 0},
      // Qualifiers among the specs, each taken out where it stands.
      {"a.c /sizeeq(0) ", 1},
      {"/timegt(2001-01-01) b.c /ar ", 1},
      {"/sizeeq(0)/compeq(0x1)c.c ", 1},
  };
  for (const auto& row : rows) {
    std::string text;
    for (std::size_t i = 0; i < kRepeats; ++i)
      text += row.token;
    const std::clock_t start = std::clock();
    const std::size_t steps = ParseFilespec(text).size();
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#ifndef ZELVANE_SANITIZED
    EXPECT_LT(seconds, 5.0) << row.token;
#else
    EXPECT_LT(seconds, 30.0) << row.token;
#endif
    EXPECT_EQ(steps, kRepeats * row.stepsEach) << row.token;
  }
}

TEST(TokenEnd, QuotesBlanksAndTabs) {
  EXPECT_EQ(TokenEnd("abc def"), 3u);
  EXPECT_EQ(TokenEnd("abc\tdef"), 3u);
  EXPECT_EQ(TokenEnd("abc"), 3u);
  EXPECT_EQ(TokenEnd(""), 0u);
  EXPECT_EQ(TokenEnd("\"a 'b\" c"), 5u);
  EXPECT_EQ(TokenEnd("'a \"b' c"), 5u);
  EXPECT_EQ(TokenEnd("'a b"), 4u);
  EXPECT_EQ(TokenEnd("c:\\x\"y z\""), 6u);
}

}  // namespace
}  // namespace zelvane
