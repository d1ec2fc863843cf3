#include "command/command_template.h"
#include "platform/child_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvane {
namespace {

using Words = std::vector<std::string>;

// Macro values that hold every character the word rules act on, so a test sees whether one was re-read.
void HostileValues(char letter, std::string& out) {
  switch (letter) {
    case 'f':
      out += "/d/my \"odd\" \\ name;$n.txt";
      break;
    case 'n':
      out += "a b";
      break;
    case 'v':
      break;
    default:
      out += '<';
      out += letter;
      out += '>';
  }
}

Words ExpandedWords(const std::string& part, char macroChar = '$') {
  const CommandTemplate parsed = ParseCommandTemplate(part, ';', macroChar, true);
  return ExpandPart(parsed.parts.at(0), HostileValues).args;
}

TEST(SplitCommandWords, RunTimeLibraryRules) {
  const struct {
    const char* text;
    Words words;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"a", {"a"}},
      {"  a  b\t\tc  ", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"\"\"\"\"", {""}},                // two empty quotings in one word
      {"a\"b c\"d", {"ab cd"}},          // quotes join a stretch to its word
      {"\"a b", {"a b"}},                // an unclosed quote runs to the end
      {"\\\"a", {"\"a"}},                // \" is a literal quote
      {"\\\\\"a b\"", {"\\a b"}},        // 2 backslashes + quote: one backslash, quoting toggles
      {"\\\\\\\"a", {"\\\"a"}},          // 3 backslashes + quote: one backslash and a literal quote
      {"\\\\\\\\\"a b\"", {"\\\\a b"}},  // 4 + quote: two, toggles
      {"a\\b\\\\c\\", {"a\\b\\\\c\\"}},  // backslashes before anything else are literal
      {"a\\ b", {"a\\", "b"}},
      {"\"a\\\"b\"", {"a\"b"}},
      {"x\\\\", {"x\\\\"}},
      {"'a b'", {"'a", "b'"}},   // only double quotes group
      {"a\nb\vc", {"a\nb\vc"}},  // only blanks and tabs separate
  };
  for (const auto& c : cases)
    EXPECT_EQ(SplitCommandWords(c.text), c.words) << c.text;
}

TEST(SplitWords, MacrosAreSplitFirstAndExpandedAfter) {
  const struct {
    const char* part;
    Words words;
  } cases[] = {
      {"rm $f", {"rm", "/d/my \"odd\" \\ name;$n.txt"}},
      {"rm \"$f\"", {"rm", "/d/my \"odd\" \\ name;$n.txt"}},
      {"cp $n \"$n.bak\" x$n\"y z\"", {"cp", "a b", "a b.bak", "xa by z"}},
      // A macro that yields nothing still makes its word.
      {"p $v x", {"p", "", "x"}},
      // Not a macro: literal text whatever its characters, which are then read as template text.
      {"p $$f $\"a b\" $", {"p", "$$f", "$a b", "$"}},
      // Backslashes before a macro are literal; a quote after a macro toggles as usual.
      {"p \\\\$n\" x\"", {"p", "\\\\a b x"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExpandedWords(c.part), c.words) << c.part;
  // The macro character is whatever -m made it, even a quote.
  EXPECT_EQ(ExpandedWords("p \"n x", '"'), (Words{"p", "a b", "x"}));
}

TEST(ParseCommandTemplate, CutsAtTheBreakCharacterBeforeAnythingElse) {
  const CommandTemplate parsed = ParseCommandTemplate("p \"a;b\";q $n;;", ';', '$', true);
  ASSERT_EQ(parsed.parts.size(), 5u);
  std::vector<std::string> texts;
  for (const CommandPart& part : parsed.parts)
    texts.push_back(ExpandPart(part, HostileValues).text);
  EXPECT_EQ(texts, (Words{"p \"a", "b\"", "q a b", "", ""}));
  EXPECT_EQ(ExpandPart(parsed.parts[0], HostileValues).args, (Words{"p", "a"}));

  // In shell mode a part is kept whole: no words.
  const CommandTemplate shell = ParseCommandTemplate("dir \"$n\" > x", ';', '$', false);
  ASSERT_EQ(shell.parts.size(), 1u);
  EXPECT_TRUE(shell.parts[0].words.empty());
  EXPECT_EQ(ExpandText(shell.parts[0].text, HostileValues), "dir \"a b\" > x");
}

TEST(ExpandPart, OneReusedValueTakesEachPartWhole) {
  // A run expands every part of every file into the same value: nothing of a longer part before may stay,
  // and an internal echo, which starts nothing, gets no words.
  const CommandTemplate parsed = ParseCommandTemplate("p $f x y;echo $n z;q \"$n\";ECHO\t$v", ';', '$', true);
  const struct {
    std::size_t part;
    const char* text;
    Words args;
  } rows[] = {
      {0, "p /d/my \"odd\" \\ name;$n.txt x y", {"p", "/d/my \"odd\" \\ name;$n.txt", "x", "y"}},
      {1, "echo a b z", {}},
      {2, "q \"a b\"", {"q", "a b"}},
      {3, "ECHO\t", {}},
      {0, "p /d/my \"odd\" \\ name;$n.txt x y", {"p", "/d/my \"odd\" \\ name;$n.txt", "x", "y"}},
  };
  ExpandedPart reused;
  for (const auto& row : rows) {
    ExpandPart(parsed.parts.at(row.part), HostileValues, reused);
    EXPECT_EQ(reused.text, row.text) << row.part;
    EXPECT_EQ(reused.args, row.args) << row.part;
  }
  // Expanded on its own, an echo part still has its words.
  EXPECT_EQ(ExpandPart(parsed.parts[1], HostileValues).args, (Words{"echo", "a b", "z"}));
}

TEST(ParseTemplateText, MacroCharacterAndTheNextGoTogether) {
  using P = TemplatePiece;
  EXPECT_EQ(ParseTemplateText("a$fb", '$'), (TemplateText{P{"a"}, P{"", 'f'}, P{"b"}}));
  EXPECT_EQ(ParseTemplateText("$$f$", '$'), (TemplateText{P{"$$f$"}}));
  EXPECT_EQ(ParseTemplateText("$x$K", '$'), (TemplateText{P{"$x"}, P{"", 'K'}}));
  EXPECT_TRUE(ParseTemplateText("", '$').empty());
}

TEST(QuoteCommandWord, EveryWordComesBackFromTheSplit) {
  const Words words = {"",      "plain", "a b",   "tab\there", "\"", "a\"b", "\\",         "a\\",
                       "a\\\\", "\\\"",  "a b\\", "x\\\\\"y",  "\n", "\"\"", "back\\slash"};
  std::string line;
  for (const std::string& word : words)
    line += platform::QuoteCommandWord(word) + " ";
  EXPECT_EQ(SplitCommandWords(line), words) << line;
  EXPECT_EQ(platform::QuoteCommandWord("plain\\"), "plain\\");
  EXPECT_EQ(platform::QuoteCommandWord("a b\\"), "\"a b\\\\\"");
}

TEST(InternalEcho, EchoAndABlankOrTabWithoutRegardToCase) {
  const struct {
    const char* text;
    bool echo;
    const char* printed;
  } cases[] = {
      {"echo hi", true, "hi"},     {"ECHO\t\"hi\"", true, "\"hi\""},
      {"Echo ", true, ""},         {"echo", false, ""},
      {"echohi", false, ""},       {" echo hi", false, ""},
      {"echo  two", true, " two"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInternalEcho(c.text), c.echo) << c.text;
    // With a shell every part goes to the shell, an echo too.
    EXPECT_EQ(ClassifyPart(c.text, false), c.echo ? PartKind::InternalEcho : PartKind::Program) << c.text;
    EXPECT_EQ(ClassifyPart(c.text, true), PartKind::Shell) << c.text;
    if (c.echo) {
      EXPECT_EQ(InternalEchoText(c.text), c.printed) << c.text;
    }
  }
}

}  // namespace
}  // namespace zelvane
