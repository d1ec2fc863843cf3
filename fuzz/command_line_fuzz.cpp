// The command line as a run reads it: character codes of the raw line, argument files, options, the Command
// (searched for in a typed line, and as the arguments after the last option), and the no-shell words of
// each of its parts. The input is the argument vector, arguments separated by NUL bytes; the same bytes, one
// argument a line, are the argument file that any '@' argument with an odd length names (the others name a
// file that does not exist), so the harness never opens a name the input chose.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "command/command_template.h"
#include "command/run_settings.h"
#include "platform/child_text.h"

namespace {

std::string argumentFile;

void WriteArgumentFile(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(argumentFile.c_str(), "wb");
  if (file == nullptr) std::abort();
  for (std::size_t i = 0; i < size; ++i)
    std::fputc(data[i] == 0 ? '\n' : data[i], file);
  std::fclose(file);
}

// A macro value holding everything the word rules act on: were it re-read, it would split or lose quotes.
void HostileValue(char, std::string& out) {
  out += " a \"b\\\" ;$f\t";
}

void PlainValue(char, std::string& out) {
  out += 'v';
}

// The word rules over every part of the Command.
void CheckWords(const std::string& command) {
  using namespace zelvane;
  const CommandTemplate parsed = ParseCommandTemplate(command, ';', '$', true);
  for (const CommandPart& part : parsed.parts) {
    // Split first, expanded after: one argument per word whatever the values hold.
    const ExpandedPart expanded = ExpandPart(part, HostileValue);
    if (expanded.args.size() != part.words.size()) std::abort();
    // Every argument comes back unchanged from the command line a Win32 child would get.
    std::string line;
    for (const std::string& arg : expanded.args)
      line += zelvane::platform::QuoteCommandWord(arg) + ' ';
    if (SplitCommandWords(line) != expanded.args) std::abort();
    // Without quotes or backslashes the words are the text's runs between blanks and tabs, and no word
    // holds a separator.
    const std::string text = ExpandText(part.text, PlainValue);
    if (text.find_first_of("\"\\") != std::string::npos) continue;
    std::vector<std::string> runs;
    std::size_t pos = 0;
    while ((pos = text.find_first_not_of(" \t", pos)) != std::string::npos) {
      const std::size_t end = std::min(text.find_first_of(" \t", pos), text.size());
      runs.push_back(text.substr(pos, end - pos));
      pos = end;
    }
    if (SplitCommandWords(text) != runs) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The usage pages and option messages are not what is tested here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  char name[] = "/tmp/zelvane-fuzz-args-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  argumentFile = name;
  std::atexit([] { std::remove(argumentFile.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"zelvane"};
  std::string current;
  bool written = false;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      if (!current.empty() && current[0] == '@') {
        const bool exists = current.size() % 2 == 1;
        // Written only when named: the file system is the slow part of this target.
        if (exists && !written) WriteArgumentFile(data, size);
        written = written || exists;
        current = "@" + (exists ? argumentFile : argumentFile + ".missing");
      }
      args.push_back(std::move(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }

  // As the platform builds it on POSIX: the arguments joined by single blanks.
  std::string rawLine;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) rawLine += ' ';
    rawLine += args[i];
  }
  zelvane::ConvertCharacterCodes(rawLine, '#');
  const bool argumentFiles = rawLine.find('@') != std::string::npos;
  std::vector<std::string> rawForms = zelvane::RawForms(args);
  zelvane::ExpandArgumentFiles(args, rawLine, '@', &rawForms);
  if (rawForms.size() != args.size()) std::abort();

  zelvane::RunSettings ctx;
  ctx.batch = 1;  // no key waits
  const std::size_t firstCommandArg = zelvane::ParseOptions(ctx, args, 2);
  if (firstCommandArg > args.size() || (args.size() > 2 && firstCommandArg < 2)) std::abort();

  // The Command is always the tail of the raw line.
  std::string command;
  if (zelvane::LocateCommand(rawLine, args, firstCommandArg, command)) {
    if (command.size() > rawLine.size() ||
        rawLine.compare(rawLine.size() - command.size(), command.size(), command) != 0)
      std::abort();
  }

  // Without a typed line the Command is the arguments after the last option: no leading blank, and (where
  // no argument file rewrote the line) the tail of the raw line.
  const std::string posixCommand = zelvane::CommandFromArguments(rawForms, firstCommandArg);
  if (!posixCommand.empty() && (posixCommand[0] == ' ' || posixCommand[0] == '\t')) std::abort();
  if (!argumentFiles &&
      (posixCommand.size() > rawLine.size() ||
       rawLine.compare(rawLine.size() - posixCommand.size(), posixCommand.size(), posixCommand) != 0)) {
    std::abort();
  }
  CheckWords(posixCommand);

  // -set:name=value changes the process environment; start every input from an empty one.
  clearenv();
  return 0;
}
