#include "app/command_line.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "command/run_settings.h"
#include "filespec/filespec.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace zelvane {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` begins with `word`, letters compared without regard to case.
bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (Lower(text[i]) != Lower(word[i])) return false;
  }
  return true;
}

// The character at `index`, or NUL when the text is shorter (a character option given without one).
char CharAt(std::string_view text, std::size_t index) {
  return index < text.size() ? text[index] : '\0';
}

std::string Rest(std::string_view text, std::size_t index) {
  return index < text.size() ? std::string(text.substr(index)) : std::string();
}

// Leading white space, an optional sign, then digits up to the first other character; 0 without digits.
// Saturates rather than overflowing.
int DecimalValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<int>::max()) {
      value = static_cast<long long>(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
      break;
    }
  }
  return static_cast<int>(negative ? -value : value);
}

bool IsOption(const std::string& arg) {
  return platform::IsSwitchText(arg);
}

void UnrecognizedOption(const RunSettings& ctx, const std::string& arg) {
  platform::WriteOut("Unrecognized option \"" + arg + "\".\nPress any key to continue.\n");
  if (!ctx.batch) platform::ReadKey();
  PrintUsage(ctx);
}

}  // namespace

void ConvertCharacterCodes(std::string& text, char codeChar) {
  const std::size_t n = text.size();
  if (n <= 3) return;
  // One pass: while input position j has three characters after it, the shrinking text of the in-place
  // rule still has room for a code at the matching output position.
  std::string out;
  out.reserve(n);
  std::size_t j = 0;
  while (j + 3 < n) {
    if (text[j] == codeChar && IsDigit(text[j + 1]) && IsDigit(text[j + 2]) && IsDigit(text[j + 3])) {
      const int value = (text[j + 1] - '0') * 100 + (text[j + 2] - '0') * 10 + (text[j + 3] - '0');
      out += static_cast<char>(static_cast<unsigned char>(value % 256));
      j += 4;
    } else {
      out += text[j++];
    }
  }
  out.append(text, j, std::string::npos);
  text = std::move(out);
}

bool ExpandArgumentFiles(std::vector<std::string>& args, std::string& rawLine, char prefix,
                         std::vector<std::string>* rawForms) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string argument = args[i];
    if (argument.empty() || argument[0] != prefix) continue;
    const std::string name = argument.substr(1);
    // Every line is one argument, whatever its length; a CR before the LF is part of the line end. A
    // directory is no argument file. A byte-order mark that an editor put at the start of a UTF-8 file is
    // no part of the first line, and a file of the mark alone is empty.
    std::string bytes;
    if (!platform::ReadWholeFile(name, bytes)) {
      platform::WriteOut("Could not find file \"" + name + "\".\n");
      continue;
    }
    std::string_view rest = bytes;
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    std::vector<std::string> lines;
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      std::string& line = lines.emplace_back(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      platform::MakeUtf8Line(line);
    }
    for (const std::string& text : lines) {
      if (text.find('\0') == std::string::npos) continue;
      platform::WriteErr("Argument file \"" + name + "\" holds a NUL byte.\n");
      return false;
    }
    std::string joined;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (k > 0) joined += ' ';
      joined += lines[k];
    }
    // An argument whose typed text had a character code in it is not in the raw line as it stands; its
    // lines then reach the vector only.
    const std::size_t at = rawLine.find(argument);
    if (at != std::string::npos) rawLine.replace(at, argument.size(), joined);
    if (lines.empty()) {
      // The argument stays in the vector as typed, but stands for nothing in the raw line.
      if (rawForms != nullptr) (*rawForms)[i].clear();
      continue;
    }
    if (rawForms != nullptr) {
      (*rawForms)[i] = lines[0];
      rawForms->insert(rawForms->begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.begin() + 1,
                       lines.end());
    }
    args[i] = lines[0];
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.begin() + 1, lines.end());
    // Lines from a file are never expanded themselves.
    i += lines.size() - 1;
  }
  return true;
}

std::vector<std::string> RawForms(const std::vector<std::string>& args) {
  std::vector<std::string> forms = args;
  for (std::string& form : forms)
    ConvertCharacterCodes(form, '#');
  return forms;
}

std::string CommandFromArguments(const std::vector<std::string>& rawForms, std::size_t first) {
  std::string command;
  for (std::size_t i = first; i < rawForms.size(); ++i) {
    if (i > first) command += ' ';
    command += rawForms[i];
  }
  const std::size_t begin = command.find_first_not_of(" \t");
  return begin == std::string::npos ? std::string() : command.substr(begin);
}

void SetEnvironmentFromOption(const std::string& text) {
  // `text` follows "set"; its first character is the ':' and is not looked at.
  if (text.empty()) return;
  const std::string assignment = text.substr(1);
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos) return;
  platform::SetEnv(assignment.substr(0, equals), assignment.substr(equals + 1));
}

std::size_t ParseOptions(RunSettings& ctx, const std::vector<std::string>& args, std::size_t first) {
  if (args.size() > 1) {
    const std::string& spec = args[1];
    const bool prefixed = spec.size() >= 2 && spec[1] == 'f' && (spec[0] == '-' || spec[0] == '/') &&
                          platform::IsSwitchText(spec);
    ctx.filespec = prefixed ? spec.substr(2) : spec;
  }

  std::size_t i = first;
  for (; i < args.size() && IsOption(args[i]); ++i) {
    const std::string& arg = args[i];
    const std::string_view text = std::string_view(arg).substr(1);

    // Words first, in this order, each over exactly its own length.
    if (StartsWithWord(text, "lowercase")) {
      ctx.lowercase = 1;
    } else if (StartsWithWord(text, "NoCrLf")) {
      ctx.noCrLf = 1;
    } else if (StartsWithWord(text, "ignoreDST")) {
      ctx.ignoreDst = 1;
    } else if (StartsWithWord(text, "xo")) {
      ctx.outputFile = TypedPath(Rest(text, 2));
    } else if (StartsWithWord(text, "set")) {
      SetEnvironmentFromOption(Rest(text, 3));
    } else if (StartsWithWord(text, "sep")) {
      ctx.pathSeparator = CharAt(text, 3);
    } else if (StartsWithWord(text, "exp")) {
      ctx.expandPrefix = CharAt(text, 3);
    } else if (StartsWithWord(text, "Batch")) {
      ctx.batch = 1;
    } else if (StartsWithWord(text, "Stop:")) {
      ctx.stopFile = TypedPath(Rest(text, 5));
    } else if (StartsWithWord(text, "TimeSlop")) {
      ctx.timeSlop = DecimalValue(text.substr(8));
    } else if (StartsWithWord(text, "depthfirst")) {
      ctx.depthFirst = 1;
    } else if (StartsWithWord(text, "Jobs:")) {
      // -Jobs: and -Jobs:0 mean one per processor.
      ctx.jobs = std::max(0, DecimalValue(text.substr(5)));
    } else if (StartsWithWord(text, "ReturnCode")) {
      ctx.returnCode = 1;
    } else if (StartsWithWord(text, "Gather")) {
      // -Gather alone: as many files as one command line takes.
      ctx.gather = 1;
      ctx.gatherMost = CharAt(text, 6) == ':' ? std::max(0, DecimalValue(text.substr(7))) : 0;
    } else if (StartsWithWord(text, "QuitOnFail")) {
      ctx.quitOnFail = CharAt(text, 10) == ':' ? std::max(1, DecimalValue(text.substr(11))) : 1;
    } else if (StartsWithWord(text, "Progress")) {
      ctx.showProgress = 1;
    } else if (StartsWithWord(text, "Log:")) {
      ctx.logFile = TypedPath(Rest(text, 4));
    } else if (StartsWithWord(text, "Resume")) {
      ctx.resume = 1;
    } else if (StartsWithWord(text, "Why")) {
      ctx.why = 1;
    } else if (StartsWithWord(text, "KillAfter:")) {
      ctx.killAfter = std::max(0, DecimalValue(text.substr(10)));
    } else {
      // Then the letters, case-sensitive.
      switch (CharAt(text, 0)) {
        case 'n':
          ctx.shell.clear();
          break;
        case 'a':
          ctx.useAccessTime = 1;
          break;
        case 's':
          ctx.recurseSubdirs = 1;
          break;
        case 'S':
          ctx.searchPath = TypedPath(Rest(text, 1));
          break;
        case 'c':
          ctx.changeDir = 1;
          break;
        case '8':
          ctx.useShortNames = 1;
          break;
        case 'e':
          ctx.echoCommand = 1;
          if (CharAt(text, 1) == 'o') ctx.echoOnly = 1;
          break;
        case 'm':
          ctx.macroChar = CharAt(text, 1);
          break;
        case 't':
          ctx.codeChar = CharAt(text, 1);
          break;
        case 'b':
          ctx.breakChar = CharAt(text, 1);
          break;
        case 'p':
          ctx.confirm = 1;
          break;
        case 'f':
          ctx.filespec += ' ';
          ctx.filespec += Rest(text, 1);
          ConvertCharacterCodes(ctx.filespec, ctx.codeChar);
          break;
        case 'x':
          ctx.xspec += Rest(text, 1);
          ConvertCharacterCodes(ctx.xspec, ctx.codeChar);
          break;
        case '?':
        case 'h':
          PrintUsage(ctx);
          break;
        default:
          UnrecognizedOption(ctx, arg);
          break;
      }
    }
  }
  return i;
}

bool LocateCommand(const std::string& rawLine, const std::vector<std::string>& args,
                   std::size_t firstCommandArg, std::string& command) {
  command.clear();
  if (args.size() < 2) return false;
  const std::size_t end = rawLine.size();
  auto skipBlanks = [&](std::size_t pos) {
    while (pos < end && (rawLine[pos] == ' ' || rawLine[pos] == '\t'))
      ++pos;
    return pos;
  };

  // The search for the Filespec starts after the program's own name (and the opening quote of a quoted
  // Filespec), so a Filespec whose text also stands in the program's path, or an empty one, is found where
  // it was typed.
  std::size_t pos = 0;
  const std::size_t nameAt = rawLine.find(args[0]);
  if (nameAt != std::string::npos) {
    pos = nameAt + args[0].size();
    if (pos < end && rawLine[pos] == '"') ++pos;
  }
  pos = skipBlanks(pos);
  std::size_t specAt = std::string::npos;
  if (pos < end && rawLine[pos] == '"') specAt = rawLine.find(args[1], pos + 1);
  if (specAt == std::string::npos) specAt = rawLine.find(args[1], pos);
  if (specAt == std::string::npos) return false;
  pos = skipBlanks(specAt + args[1].size());
  if (pos < end && rawLine[pos] == '"') ++pos;

  for (std::size_t i = 2; i < firstCommandArg && i < args.size(); ++i) {
    pos = skipBlanks(pos);
    // An option typed as -x"/ad \*.?" lost its two quotes in the argument vector.
    std::size_t step = args[i].size();
    if (pos + 2 < end && rawLine[pos + 2] == '"') step += 2;
    pos = step > end - pos ? end : pos + step;
  }
  pos = skipBlanks(pos);
  command = rawLine.substr(pos);
  return true;
}

}  // namespace zelvane
