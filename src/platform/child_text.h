// What both backends hand a child, worked out alike on both: the words that run a line through the shell,
// the one command line that gives a Win32 child its words back, and a child's environment. Pure, so each
// rule is written once and tested without starting anything.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelvane::platform {

// The argument vector that runs `commandText` through `shell`: `shell`, "-c", text when `posixShells` and
// the shell's file name is a POSIX shell (sh, bash, dash, ksh, mksh, zsh, ash, busybox); otherwise `shell`
// and " /c " + text, which joined by one blank and left unquoted is the command line cmd.exe expects.
std::vector<std::string> ShellArguments(const std::string& shell, const std::string& commandText,
                                        bool posixShells);

// One word as the run-time library's split gives it back whole (see QuotedCommandLine).
std::string QuoteCommandWord(std::string_view word);

// The command line (UTF-8) that gives a child exactly `args` as its argument vector when the run-time
// library splits it (CommandLineToArgvW's rules): a word with a blank, a tab or a quote, or an empty word,
// is quoted; a quote inside is escaped, and the backslashes before a quote or the closing quote are
// doubled. The program's name (args[0]) is split by another rule, without escapes, so it is only put in
// quotes.
std::string QuotedCommandLine(std::span<const std::string> args);

// The environment `base` ("NAME=value" entries) with `overrides` replacing or adding variables, the
// overrides last. Names are compared exactly, or without regard to ASCII case with `ignoreCase` (Win32,
// where "Path" and "PATH" are one variable); an entry that begins with '=' ("=C:=C:\dir") has its name up
// to the second '='.
std::vector<std::string> MergeEnvironment(const std::vector<std::string>& base,
                                          const std::vector<std::pair<std::string, std::string>>& overrides,
                                          bool ignoreCase);

}  // namespace zelvane::platform
