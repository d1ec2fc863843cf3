// The Command template, read once per run: cut into parts at the break character, each part's macros found,
// and for a program started without a shell each part split into the words of its argument vector. Expanding
// it for a file then only fills in the macros, so nothing a macro yields (a blank, a quote, a break or macro
// character in a file name) is ever read as template text.
//
// Pure: no disk, no process, no run context. A parsed template is a plain value that is only read while the
// files are processed, so any number of files may be expanded from one at the same time.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane {

// A stretch of template text: literal characters, or one macro.
struct TemplatePiece {
  std::string text;   // the literal characters; empty for a macro
  char macro = '\0';  // the macro's letter ('f' for $f); '\0' for literal text
  bool operator==(const TemplatePiece&) const = default;
};

// Template text with its macros found: literal stretches and macros, in order.
using TemplateText = std::vector<TemplatePiece>;

// One part of the Command: the text between two break characters.
struct CommandPart {
  // The part as typed, quotes and blanks kept. Expanded, it is what a shell gets, what the echo and the
  // confirmation show, and what the internal echo prints.
  TemplateText text;
  // Without a shell: the program and its arguments, split by the word rules below, quotes removed.
  std::vector<TemplateText> words;
  // The same words as typed, quotes and backslashes kept (with a shell too): what -Gather repeats in the
  // text a shell gets and the echo shows.
  std::vector<TemplateText> typedWords;
};

struct CommandTemplate {
  std::vector<CommandPart> parts;  // in order; a part whose expansion is empty ends the Command there
};

// Whether `letter` after the macro character makes a macro ($f, $n, $b, $e, $p, $d, $r, $v, $S, $T, $D, $M,
// $Y, $C, $c, $k, $K). Letters are case-sensitive.
bool IsMacroLetter(char letter);

// Finds the macros of `text`. The macro character and the character after it go together: a macro when
// that is a macro letter, else both are literal text ("$$f" stays "$$f": there is no escape). A macro
// character at the very end is literal.
TemplateText ParseTemplateText(std::string_view text, char macroChar);

// Cuts `command` at every break character (before anything else, so a break character in a file name never
// cuts), finds each part's macros and, with `splitWords`, each part's words.
CommandTemplate ParseCommandTemplate(std::string_view command, char breakChar, char macroChar,
                                     bool splitWords);

// The words of a command line as a Win32 program's run-time library splits them, so one Command means the
// same on both targets: blanks and tabs outside double quotes separate words (a run of them is one
// separator); a double quote toggles quoting and is removed; 2n backslashes before a quote give n
// backslashes and the quote toggles, 2n+1 give n backslashes and a literal quote; backslashes before
// anything else are literal; "" is an empty word. A macro is one unit of the word it stands in: its value is
// never split, unquoted or unescaped.
std::vector<TemplateText> SplitWords(const TemplateText& text);

// The words SplitWords finds, each as typed: its quotes and backslashes kept.
std::vector<TemplateText> SplitWordsAsTyped(const TemplateText& text);

// Whether a word holds a macro of its file (any but $C, the count of the whole run): under -Gather such a
// word stands once for each file of the group.
bool IsPerFileWord(const TemplateText& word);

// SplitWords over plain text, without macros.
std::vector<std::string> SplitCommandWords(std::string_view text);

// Appends the value of the macro `letter` for the file being processed.
using MacroValue = std::function<void(char letter, std::string& out)>;

// The text with every macro replaced by its value.
std::string ExpandText(const TemplateText& text, const MacroValue& macro);
// The same into `out`, whose storage is reused: a run expands one template for every file.
void ExpandText(const TemplateText& text, const MacroValue& macro, std::string& out);

// One part expanded for one file.
struct ExpandedPart {
  std::string text;               // the part as it stands, macros filled in
  std::vector<std::string> args;  // one per word (without a shell)
};

ExpandedPart ExpandPart(const CommandPart& part, const MacroValue& macro);

// The same into `out`, reusing its storage, for running it: the words of an internal echo are not expanded
// (`args` is left empty), since nothing is started from them.
void ExpandPart(const CommandPart& part, const MacroValue& macro, ExpandedPart& out);

// Whether an expanded part is performed by Zelvane itself rather than started: it begins with "echo " or
// "echo\t", without regard to case. It then prints the text after those five characters, as it stands.
bool IsInternalEcho(std::string_view expandedText);
std::string_view InternalEchoText(std::string_view expandedText);

// How an expanded part is carried out: with a shell, every part through the shell; without one, an internal
// echo by Zelvane itself and anything else as a program started directly.
enum class PartKind { Shell, Program, InternalEcho };
PartKind ClassifyPart(std::string_view expandedText, bool shellMode);

}  // namespace zelvane
