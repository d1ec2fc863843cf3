#include "command/command_template.h"

#include <algorithm>

namespace zelvane {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Appends one literal character to a word, joining it to the literal stretch before it.
void AppendLiteral(TemplateText& word, char c) {
  if (word.empty() || word.back().macro != '\0') word.emplace_back();
  word.back().text += c;
}

void AppendLiterals(TemplateText& word, std::size_t count, char c) {
  for (std::size_t i = 0; i < count; ++i)
    AppendLiteral(word, c);
}

}  // namespace

bool IsMacroLetter(char letter) {
  static constexpr std::string_view kLetters = "fnbepdrvSTDMYCckK";
  return letter != '\0' && kLetters.find(letter) != std::string_view::npos;
}

TemplateText ParseTemplateText(std::string_view text, char macroChar) {
  TemplateText pieces;
  std::string literal;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == macroChar && i + 1 < text.size()) {
      const char letter = text[++i];
      if (IsMacroLetter(letter)) {
        if (!literal.empty()) pieces.push_back({std::move(literal), '\0'});
        literal.clear();
        pieces.push_back({std::string(), letter});
        continue;
      }
      literal += c;
      literal += letter;
      continue;
    }
    literal += c;
  }
  if (!literal.empty()) pieces.push_back({std::move(literal), '\0'});
  return pieces;
}

CommandTemplate ParseCommandTemplate(std::string_view command, char breakChar, char macroChar,
                                     bool splitWords) {
  CommandTemplate parsed;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = std::min(command.find(breakChar, begin), command.size());
    CommandPart part;
    part.text = ParseTemplateText(command.substr(begin, end - begin), macroChar);
    if (splitWords) part.words = SplitWords(part.text);
    part.typedWords = SplitWordsAsTyped(part.text);
    parsed.parts.push_back(std::move(part));
    if (end == command.size()) break;
    begin = end + 1;
  }
  return parsed;
}

std::vector<TemplateText> SplitWords(const TemplateText& text) {
  std::vector<TemplateText> words;
  TemplateText word;
  bool inWord = false;      // a word has begun (a quote alone begins one)
  bool quoted = false;      // between two quotes
  std::size_t pending = 0;  // backslashes seen, not yet known to stand before a quote
  for (const TemplatePiece& piece : text) {
    if (piece.macro != '\0') {
      AppendLiterals(word, pending, '\\');
      pending = 0;
      word.push_back(piece);
      inWord = true;
      continue;
    }
    for (const char c : piece.text) {
      if (c == '\\') {
        ++pending;
        inWord = true;
        continue;
      }
      if (c == '"') {
        AppendLiterals(word, pending / 2, '\\');
        if (pending % 2 == 1) {
          AppendLiteral(word, '"');
        } else {
          quoted = !quoted;
        }
        pending = 0;
        inWord = true;
        continue;
      }
      AppendLiterals(word, pending, '\\');
      pending = 0;
      if (IsBlank(c) && !quoted) {
        if (inWord) words.push_back(std::move(word));
        word.clear();
        inWord = false;
        continue;
      }
      AppendLiteral(word, c);
      inWord = true;
    }
  }
  AppendLiterals(word, pending, '\\');
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::vector<TemplateText> SplitWordsAsTyped(const TemplateText& text) {
  // The boundaries are those of SplitWords: a quote after an odd run of backslashes does not toggle.
  std::vector<TemplateText> words;
  TemplateText word;
  bool inWord = false;
  bool quoted = false;
  std::size_t backslashes = 0;
  for (const TemplatePiece& piece : text) {
    if (piece.macro != '\0') {
      backslashes = 0;
      word.push_back(piece);
      inWord = true;
      continue;
    }
    for (const char c : piece.text) {
      if (IsBlank(c) && !quoted) {
        backslashes = 0;
        if (inWord) words.push_back(std::move(word));
        word.clear();
        inWord = false;
        continue;
      }
      if (c == '"' && backslashes % 2 == 0) quoted = !quoted;
      backslashes = c == '\\' ? backslashes + 1 : 0;
      AppendLiteral(word, c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

bool IsPerFileWord(const TemplateText& word) {
  for (const TemplatePiece& piece : word)
    if (piece.macro != '\0' && piece.macro != 'C') return true;
  return false;
}

std::vector<std::string> SplitCommandWords(std::string_view text) {
  const TemplateText literal = text.empty() ? TemplateText() : TemplateText{{std::string(text), '\0'}};
  std::vector<std::string> words;
  for (const TemplateText& word : SplitWords(literal))
    words.push_back(word.empty() ? std::string() : word.front().text);
  return words;
}

void ExpandText(const TemplateText& text, const MacroValue& macro, std::string& out) {
  out.clear();
  for (const TemplatePiece& piece : text) {
    if (piece.macro != '\0') {
      macro(piece.macro, out);
    } else {
      out += piece.text;
    }
  }
}

std::string ExpandText(const TemplateText& text, const MacroValue& macro) {
  std::string out;
  ExpandText(text, macro, out);
  return out;
}

namespace {

void ExpandWords(const CommandPart& part, const MacroValue& macro, std::size_t count, ExpandedPart& out) {
  out.args.resize(count);
  for (std::size_t i = 0; i < count; ++i)
    ExpandText(part.words[i], macro, out.args[i]);
}

}  // namespace

void ExpandPart(const CommandPart& part, const MacroValue& macro, ExpandedPart& out) {
  ExpandText(part.text, macro, out.text);
  ExpandWords(part, macro, IsInternalEcho(out.text) ? 0 : part.words.size(), out);
}

ExpandedPart ExpandPart(const CommandPart& part, const MacroValue& macro) {
  ExpandedPart expanded;
  ExpandText(part.text, macro, expanded.text);
  ExpandWords(part, macro, part.words.size(), expanded);
  return expanded;
}

bool IsInternalEcho(std::string_view expandedText) {
  if (expandedText.size() < 5 || !IsBlank(expandedText[4])) return false;
  static constexpr std::string_view kEcho = "echo";
  for (std::size_t i = 0; i < kEcho.size(); ++i) {
    char c = expandedText[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kEcho[i]) return false;
  }
  return true;
}

PartKind ClassifyPart(std::string_view expandedText, bool shellMode) {
  if (shellMode) return PartKind::Shell;
  return IsInternalEcho(expandedText) ? PartKind::InternalEcho : PartKind::Program;
}

std::string_view InternalEchoText(std::string_view expandedText) {
  return expandedText.size() > 5 ? expandedText.substr(5) : std::string_view();
}

}  // namespace zelvane
