// The Filespec and Xspec language: single specs, quotes, attribute switches and qualifier texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane {

// The four qualifier texts, each empty or an operator with its parenthesised operand ("gt(MY.EXE)").
struct QualifierSet {
  std::string size;
  std::string time;
  std::string comp;
  std::string cont;
};

// One single spec of a Filespec with the attribute masks and qualifier texts in force where it stands.
struct SearchStep {
  std::string spec;
  std::uint32_t requiredAttributes = 0;
  std::uint32_t excludedAttributes = 0;
  QualifierSet qualifiers;
};

// Typed text that names a path, as the search and the system take it: where '\' is no separator (POSIX),
// every '\' becomes '/'. Applied once, where the text is read and before any macro in it is expanded, so
// what a macro yields (a file name holding '\') is never converted.
std::string TypedPath(std::string_view text);

// Reads a Filespec or Xspec into the single specs it searches, in order, without touching the disk.
// Qualifiers are taken out first, wherever they stand and whatever their operands hold; then switches that
// are not attribute switches, and tokens that begin with '-', are consumed silently. Each single spec and
// qualifier text comes out as TypedPath gives it.
std::vector<SearchStep> ParseFilespec(std::string_view spec);

// Moves the first qualifier of kind `keyword` out of `specText` into `qualifierText`; false when none.
bool TakeQualifier(std::string_view keyword, std::string& specText, std::string& qualifierText);

// The letter of an attribute switch for one attribute bit ('d' for a directory), or '?'.
char AttributeLetter(std::uint32_t bit);

// Index at which the first token of `text` ends (its closing quote for a quoted token).
std::size_t TokenEnd(std::string_view text);

}  // namespace zelvane
