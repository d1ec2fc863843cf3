// The Filespec and Xspec language. Parsing is kept apart from searching so that the language is a pure
// function of the text; the search's CollectMatches then runs the steps against the disk.
#include "filespec/filespec.h"

#include <array>

#include "platform/files.h"
#include "platform/paths.h"

namespace zelvane {
namespace {

constexpr std::array<std::string_view, 4> kKeywords = {"size", "time", "comp", "cont"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

std::size_t BlankOrEnd(std::string_view text) {
  const std::size_t end = text.find_first_of(" \t");
  return end == std::string_view::npos ? text.size() : end;
}

std::uint32_t AttributeBit(char letter) {
  switch (letter) {
    case 'a':
    case 'A':
      return platform::attribute::kArchive;
    case 'c':
    case 'C':
      return platform::attribute::kCompressed;
    case 'd':
    case 'D':
      return platform::attribute::kDirectory;
    case 'h':
    case 'H':
      return platform::attribute::kHidden;
    case 'r':
    case 'R':
      return platform::attribute::kReadOnly;
    case 's':
    case 'S':
      return platform::attribute::kSystem;
    case 't':
    case 'T':
      return platform::attribute::kTemporary;
    default:
      return 0;
  }
}

// Reads an attribute switch ("/ar-h") at the front of `text` into both masks; returns its length. A '-'
// takes the next character as its letter whatever it is, a blank included, so "/ar- *.c" runs on.
std::size_t ReadAttributeSwitch(std::string_view text, std::uint32_t& required, std::uint32_t& excluded) {
  required = 0;
  excluded = 0;
  std::size_t i = 2;
  while (i < text.size() && !IsBlank(text[i])) {
    bool negated = false;
    if (text[i] == '-') {
      if (i + 1 >= text.size()) return text.size();
      negated = true;
      ++i;
    }
    (negated ? excluded : required) |= AttributeBit(text[i]);
    ++i;
  }
  return i;
}

// A qualifier at the front is left for the next cycle, which takes it: one cycle takes one of each kind.
bool StartsWithQualifier(std::string_view text) {
  for (std::string_view keyword : kKeywords) {
    if (text.substr(1, keyword.size()) == keyword) return text.find('(', 1) != std::string_view::npos;
  }
  return false;
}

// A qualifier's operand may name a file: typed text like the Filespec entry it stands in.
QualifierSet TypedQualifiers(const QualifierSet& set) {
  return {TypedPath(set.size), TypedPath(set.time), TypedPath(set.comp), TypedPath(set.cont)};
}

}  // namespace

std::string TypedPath(std::string_view text) {
  std::string path(text);
  if (!platform::IsPathSeparator('\\')) {
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
  }
  return path;
}

std::size_t TokenEnd(std::string_view text) {
  if (!text.empty() && IsQuote(text[0])) {
    const std::size_t close = text.find(text[0], 1);
    return close == std::string_view::npos ? text.size() : close;
  }
  return BlankOrEnd(text);
}

bool TakeQualifier(std::string_view keyword, std::string& specText, std::string& qualifierText) {
  std::size_t start = 0;
  for (;;) {
    if (start >= specText.size()) return false;
    const char c = specText[start];
    if (c != '/' && c != '-') {
      ++start;
      continue;
    }
    if (specText.compare(start + 1, keyword.size(), keyword) == 0) break;
    // The character after a '/' or '-' is never itself taken as a switch character.
    start += 2;
  }
  const std::size_t open = specText.find('(', start + 1);
  if (open == std::string::npos) return false;
  std::size_t close = specText.size() - 1;
  int depth = 0;
  for (std::size_t i = open + 1; i < specText.size(); ++i) {
    if (specText[i] == '(') {
      ++depth;
    } else if (specText[i] == ')') {
      if (depth == 0) {
        close = i;
        break;
      }
      --depth;
    }
  }
  const std::size_t textStart = start + 1 + keyword.size();
  qualifierText = specText.substr(textStart, close + 1 - textStart);
  specText.erase(start, close + 1 - start);
  return true;
}

std::vector<SearchStep> ParseFilespec(std::string_view spec) {
  std::vector<SearchStep> steps;
  std::string text(spec);
  QualifierSet qualifiers;
  std::uint32_t required = 0;
  std::uint32_t excluded = 0;
  // In the fixed order size, time, comp, cont, as kKeywords.
  const std::array<std::string QualifierSet::*, 4> kinds = {&QualifierSet::size, &QualifierSet::time,
                                                            &QualifierSet::comp, &QualifierSet::cont};
  while (!text.empty()) {
    for (std::size_t k = 0; k < kinds.size(); ++k)
      TakeQualifier(kKeywords[k], text, qualifiers.*kinds[k]);
    const std::size_t first = text.find_first_not_of(" \t");
    text.erase(0, first == std::string::npos ? text.size() : first);
    if (text.empty()) break;

    // A qualifier at the front is left for the next cycle, which takes it, whatever its operand holds: the
    // '/' rule below must not read "/sizelt(sub/ref)" as a path.
    if ((text[0] == '/' || text[0] == '-') && StartsWithQualifier(text)) continue;

    // On POSIX "/home/me/*.c" is a path, not a switch: the platform decides on the token's first word.
    if (platform::IsSwitchText(std::string_view(text).substr(0, BlankOrEnd(text)))) {
      if (text.size() > 1 && (text[1] == 'a' || text[1] == 'A')) {
        text.erase(0, ReadAttributeSwitch(text, required, excluded));
      } else {
        // Unknown switches (DIR's /s, /o...) and names beginning with '-' are not searched.
        text.erase(0, BlankOrEnd(text));
      }
      continue;
    }

    const std::size_t end = TokenEnd(text);
    std::string single;
    std::size_t consumed = end;
    if (IsQuote(text[0])) {
      single = text.substr(1, end > 0 ? end - 1 : 0);
      if (end < text.size()) consumed = end + 1;
    } else {
      single = text.substr(0, end);
    }
    text.erase(0, consumed);
    if (!single.empty())
      steps.push_back({TypedPath(single), required, excluded, TypedQualifiers(qualifiers)});
  }
  return steps;
}

}  // namespace zelvane
