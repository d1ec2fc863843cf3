// The Filespec and Xspec language. Parsing is kept apart from searching so that the language is a pure
// function of the text; the search's CollectMatches then runs the steps against the disk.
#include "filespec/filespec.h"

#include <algorithm>
#include <array>

#include "platform/files.h"
#include "platform/paths.h"

namespace zelvane {
namespace {

constexpr std::array<std::string_view, 4> kKeywords = {"size", "time", "comp", "cont"};
constexpr std::size_t kLongestKeyword = 4;

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

}  // namespace

char AttributeLetter(std::uint32_t bit) {
  for (const char letter : std::string_view("acdhrst")) {
    if (AttributeBit(letter) == bit) return letter;
  }
  return '?';
}

namespace {

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

// Where the qualifier whose '/' or '-' stands at `start` ends: the parenthesis that closes its operand (the
// last character, when none does). npos when no '(' follows.
std::size_t QualifierEnd(std::string_view text, std::size_t start) {
  const std::size_t open = text.find('(', start + 1);
  if (open == std::string_view::npos) return open;
  int depth = 0;
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '(') {
      ++depth;
    } else if (text[i] == ')') {
      if (depth == 0) return i;
      --depth;
    }
  }
  return text.size() - 1;
}

// Moves the qualifier whose '/' or '-' stands at `start` out of `specText`, up to the parenthesis that
// closes its operand (the end, when none does); false when no '(' follows.
bool TakeQualifierAt(std::string_view keyword, std::string& specText, std::size_t start,
                     std::string& qualifierText) {
  const std::size_t close = QualifierEnd(specText, start);
  if (close == std::string::npos) return false;
  const std::size_t textStart = start + 1 + keyword.size();
  qualifierText = specText.substr(textStart, close + 1 - textStart);
  specText.erase(start, close + 1 - start);
  return true;
}

bool IsSwitchChar(char c) {
  return c == '/' || c == '-';
}

// Whether TakeQualifier's scan, begun at `from`, lands on the '/' or '-' at `sign`: it steps over the
// character after every '/' or '-' it lands on, so it lands there exactly when the run of '/' and '-'
// before it (back to `from`) is even.
bool ScanLandsOn(std::string_view text, std::size_t sign, std::size_t from) {
  if (sign < from || !IsSwitchChar(text[sign])) return false;
  std::size_t run = 0;
  while (sign - run > from && IsSwitchChar(text[sign - run - 1]))
    ++run;
  return run % 2 == 0;
}

// Where TakeQualifier's scan, begun at `from`, would find `keyword`, found without the scan, looking at
// occurrences whose sign stands at `start` or later. npos when it would find none.
std::size_t FindQualifier(std::string_view text, std::string_view keyword, std::size_t from,
                          std::size_t start) {
  for (std::size_t at = start; at < text.size();) {
    const std::size_t word = text.find(keyword, at + 1);
    if (word == std::string_view::npos) return word;
    at = word;
    if (ScanLandsOn(text, word - 1, from)) return word - 1;
  }
  return std::string_view::npos;
}

// Whether the scan from `from` finds `keyword` with its sign at `sign`.
bool QualifierAt(std::string_view text, std::string_view keyword, std::size_t from, std::size_t sign) {
  return sign + 1 < text.size() && text.compare(sign + 1, keyword.size(), keyword) == 0 &&
         ScanLandsOn(text, sign, from);
}

// The qualifiers a parse has still to take, each kind's next one found once and kept while the parse goes
// on: a long Filespec is read in time linear in its length.
//
// A qualifier is taken out of the text by moving what stands between the parse's place and it to the right
// over it, never the rest of the text, so what follows it keeps its place and what was found there stays
// found. Only two places can show a qualifier that was not there before: one that spans the join, and one
// after a run of '/' and '-' that begins at the join, since the scan's steps over such a run now count
// from further back.
class PendingQualifiers {
 public:
  explicit PendingQualifiers(const std::string& text) {
    next_.fill(kUnknown);
    lastOpen_ = text.rfind('(');
  }

  // Where the scan from `from` finds kind `k`, or npos.
  std::size_t Next(std::size_t k, const std::string& text, std::size_t from) {
    // The parse moves on only past whole tokens, never into a run of '/' and '-', so what the scan would
    // find from further on is what it found before, unless the parse has passed it.
    if (next_[k] == kUnknown || (next_[k] != std::string::npos && next_[k] < from))
      next_[k] = FindQualifier(text, kKeywords[k], from, from);
    return next_[k];
  }

  // Takes the qualifier of kind `taken` at `at` out of `text` into `qualifierText`: [pos, at) moves right
  // over it, and `pos` with it. False when no '(' follows it.
  bool Take(std::size_t taken, std::string& text, std::size_t& pos, std::size_t at,
            std::string& qualifierText) {
    const std::size_t close = QualifierEnd(text, at);
    if (close == std::string::npos) return false;
    const std::size_t textStart = at + 1 + kKeywords[taken].size();
    qualifierText.assign(text, textStart, close + 1 - textStart);
    const std::size_t removed = close + 1 - at;
    const std::size_t join = close + 1;
    std::copy_backward(text.begin() + static_cast<std::ptrdiff_t>(pos),
                       text.begin() + static_cast<std::ptrdiff_t>(at),
                       text.begin() + static_cast<std::ptrdiff_t>(join));
    const std::size_t oldPos = pos;
    pos += removed;
    for (std::size_t k = 0; k < next_.size(); ++k) {
      std::size_t& found = next_[k];
      if (found == kUnknown) continue;
      if (found != std::string::npos && found < oldPos) {
        found = kUnknown;  // passed before this cycle asked for it: found again when it is asked
        continue;
      }
      if (found != std::string::npos && found < at) {
        found += removed;  // before the qualifier taken: moved with the text
        continue;
      }
      const std::string_view keyword = kKeywords[k];
      // What the scan found after the join stays found; one found inside what was taken is looked for
      // again after it. The place after a run of '/' and '-' that begins at the join is decided below.
      if (found != std::string::npos && found <= close) found = FindQualifier(text, keyword, join, join);
      std::size_t run = 0;
      while (join + run < text.size() && IsSwitchChar(text[join + run]))
        ++run;
      if (run > 0 && found == join + run - 1 && !QualifierAt(text, keyword, pos, found)) {
        found = FindQualifier(text, keyword, pos, found + 1);
      }
      // Earlier candidates: across the join, then after the run that begins there.
      std::size_t first = found;
      const std::size_t span = keyword.size() + 1;
      for (std::size_t sign = std::max(pos, join > span ? join - span : 0); sign < join; ++sign) {
        if (QualifierAt(text, keyword, pos, sign)) {
          first = sign;
          break;
        }
      }
      if (first == found && run > 0 && QualifierAt(text, keyword, pos, join + run - 1))
        first = std::min(first, join + run - 1);
      found = first;
    }
    if (lastOpen_ != std::string::npos && lastOpen_ >= oldPos && lastOpen_ < at) {
      lastOpen_ += removed;
    } else if (lastOpen_ != std::string::npos && lastOpen_ >= at && lastOpen_ <= close) {
      lastOpen_ = text.rfind('(');
      if (lastOpen_ != std::string::npos && lastOpen_ < pos) lastOpen_ = std::string::npos;
    }
    return true;
  }

  // Whether a '(' stands after `at`.
  bool OpenAfter(std::size_t at) const { return lastOpen_ != std::string::npos && lastOpen_ > at; }

 private:
  static constexpr std::size_t kUnknown = std::string::npos - 1;
  std::array<std::size_t, kKeywords.size()> next_{};
  std::size_t lastOpen_ = std::string::npos;
};

// A qualifier at the front is left for the next cycle, which takes it: one cycle takes one of each kind.
// `text` begins with the '/' or '-'; the caller asks whether a '(' follows anywhere.
bool StartsWithQualifier(std::string_view text) {
  for (std::string_view keyword : kKeywords) {
    if (text.substr(1, keyword.size()) == keyword) return true;
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
  return TakeQualifierAt(keyword, specText, start, qualifierText);
}

std::vector<SearchStep> ParseFilespec(std::string_view spec) {
  std::vector<SearchStep> steps;
  std::string text(spec);
  // What is left to parse is text[pos, end): the front is never erased, so each token costs its length.
  // What stands before `pos` is no longer read.
  std::size_t pos = 0;
  PendingQualifiers pending(text);
  // At most one step per token: room for them all at once, so a long Filespec's steps are written once
  // rather than moved each time the list grows (only the room used is ever touched).
  std::size_t tokens = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsBlank(text[i]) && (i == 0 || IsBlank(text[i - 1]))) ++tokens;
  }
  steps.reserve(tokens);
  QualifierSet qualifiers;
  std::uint32_t required = 0;
  std::uint32_t excluded = 0;
  // In the fixed order size, time, comp, cont, as kKeywords.
  const std::array<std::string QualifierSet::*, 4> kinds = {&QualifierSet::size, &QualifierSet::time,
                                                            &QualifierSet::comp, &QualifierSet::cont};
  while (pos < text.size()) {
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      const std::size_t at = pending.Next(k, text, pos);
      if (at == std::string::npos || !pending.OpenAfter(at)) continue;
      pending.Take(k, text, pos, at, qualifiers.*kinds[k]);
    }
    const std::size_t first = text.find_first_not_of(" \t", pos);
    pos = first == std::string::npos ? text.size() : first;
    if (pos == text.size()) break;
    const std::string_view rest = std::string_view(text).substr(pos);

    // A qualifier at the front is left for the next cycle, which takes it, whatever its operand holds: the
    // '/' rule below must not read "/sizelt(sub/ref)" as a path.
    if ((rest[0] == '/' || rest[0] == '-') && StartsWithQualifier(rest.substr(0, 1 + kLongestKeyword)) &&
        pending.OpenAfter(pos))
      continue;

    // On POSIX "/home/me/*.c" is a path, not a switch: the platform decides on the token's first word.
    if (platform::IsSwitchText(rest.substr(0, BlankOrEnd(rest)))) {
      if (rest.size() > 1 && (rest[1] == 'a' || rest[1] == 'A')) {
        pos += ReadAttributeSwitch(rest, required, excluded);
      } else {
        // Unknown switches (DIR's /s, /o...) and names beginning with '-' are not searched.
        pos += BlankOrEnd(rest);
      }
      continue;
    }

    const std::size_t end = TokenEnd(rest);
    std::string_view single;
    std::size_t consumed = end;
    if (IsQuote(rest[0])) {
      single = rest.substr(1, end > 0 ? end - 1 : 0);
      if (end < rest.size()) consumed = end + 1;
    } else {
      single = rest.substr(0, end);
    }
    pos += consumed;
    if (!single.empty())
      steps.push_back({TypedPath(single), required, excluded, TypedQualifiers(qualifiers)});
  }
  return steps;
}

}  // namespace zelvane
