#include "platform/child_text.h"

#include <algorithm>
#include <string_view>

namespace zelvane::platform {
namespace {

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  return std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

}  // namespace

std::vector<std::string> ShellArguments(const std::string& shell, const std::string& commandText,
                                        bool posixShells) {
  if (posixShells) {
    static const char* const kPosixShells[] = {"sh", "bash", "dash", "ksh", "mksh", "zsh", "ash", "busybox"};
    const std::size_t slash = shell.rfind('/');
    const std::string_view name =
        slash == std::string::npos ? std::string_view(shell) : std::string_view(shell).substr(slash + 1);
    for (const char* posixShell : kPosixShells) {
      if (name == posixShell) return {shell, "-c", commandText};
    }
  }
  return {shell, " /c " + commandText};
}

std::string QuoteCommandWord(std::string_view word) {
  if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string_view::npos) return std::string(word);
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes stand for themselves unless a quote follows them: then each is doubled, and the quote
    // escaped with one more.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  // Before the closing quote they are doubled too.
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string QuotedCommandLine(std::span<const std::string> args) {
  std::string line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ' ';
    const std::string& word = args[i];
    // The program's name ends at the next quote, backslashes and all; a file name holds no quote.
    if (i == 0 && (word.empty() || word.find_first_of(" \t\n\v\"") != std::string::npos)) {
      line += '"' + word + '"';
    } else {
      line += i == 0 ? word : QuoteCommandWord(word);
    }
  }
  return line;
}

std::vector<std::string> MergeEnvironment(const std::vector<std::string>& base,
                                          const std::vector<std::pair<std::string, std::string>>& overrides,
                                          bool ignoreCase) {
  std::vector<std::string> merged;
  merged.reserve(base.size() + overrides.size());
  for (const std::string& entry : base) {
    const std::size_t equals = entry.find('=', entry.empty() ? 0 : 1);
    const std::string_view name = std::string_view(entry).substr(0, equals);
    const bool replaced = std::any_of(overrides.begin(), overrides.end(), [&](const auto& variable) {
      return SameName(variable.first, name, ignoreCase);
    });
    if (!replaced) merged.push_back(entry);
  }
  for (const auto& [name, value] : overrides) {
    std::string& entry = merged.emplace_back(name);
    entry += '=';
    entry += value;
  }
  return merged;
}

}  // namespace zelvane::platform
