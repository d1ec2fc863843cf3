#include "command/execute.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "app/run_context.h"
#include "command/macros.h"
#include "command/stamps.h"
#include "platform/platform.h"

namespace zelvane {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// One part of the Command, expanded for the file.
struct CommandPart {
  std::string text;               // the whole part
  std::vector<std::string> args;  // no-shell mode: one argument per blank-separated piece of the template
};

// Cuts the template at every break character and expands each part. The cut comes first, so a break
// character inside a file name never splits the Command. In no-shell mode each part's template is split at
// every blank and tab (adjacent ones give empty arguments, quotes mean nothing) before its pieces are
// expanded, so a macro always yields exactly one argument, blanks in file names included.
std::vector<CommandPart> ExpandParts(const RunContext& ctx, FileMacros& file,
                                     std::string_view commandTemplate, bool splitArguments) {
  std::vector<CommandPart> parts;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = std::min(commandTemplate.find(ctx.breakChar, begin), commandTemplate.size());
    const std::string_view partTemplate = commandTemplate.substr(begin, end - begin);
    CommandPart part;
    if (!splitArguments) {
      part.text = ExpandTemplate(ctx, file, partTemplate);
    } else {
      std::size_t pieceBegin = 0;
      for (;;) {
        std::size_t pieceEnd = pieceBegin;
        while (pieceEnd < partTemplate.size() && !IsBlank(partTemplate[pieceEnd]))
          ++pieceEnd;
        part.args.push_back(
            ExpandTemplate(ctx, file, partTemplate.substr(pieceBegin, pieceEnd - pieceBegin)));
        part.text += part.args.back();
        if (pieceEnd == partTemplate.size()) break;
        part.text += partTemplate[pieceEnd];
        pieceBegin = pieceEnd + 1;
      }
    }
    parts.push_back(std::move(part));
    if (end == commandTemplate.size()) break;
    begin = end + 1;
  }
  return parts;
}

// The whole expanded Command, break characters included, as the confirmation shows it.
std::string JoinParts(const std::vector<CommandPart>& parts, char breakChar) {
  std::string whole;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) whole += breakChar;
    whole += parts[i].text;
  }
  return whole;
}

// Asks "Execute ...? [y/n]" and reads one key; only y or Y agrees. The end of input declines.
bool Confirmed(const std::string& command) {
  platform::WriteOut("Execute \"" + command + "\"? [y/n] ");
  platform::FlushOutput();
  const int key = platform::ReadKey();
  const bool yes = key == 'y' || key == 'Y';
  platform::WriteOut(yes ? "y\n" : "n\n");
  return yes;
}

// "echo " or "echo\t" at the start, without regard to case.
bool IsInternalEcho(const std::string& text) {
  if (text.size() < 5 || !IsBlank(text[4])) return false;
  static const char kEcho[] = "echo";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kEcho[i]) return false;
  }
  return true;
}

int Reported(RunContext& ctx, int result, const std::string& name) {
  if (result == -1) platform::WriteOut("Could not execute " + name + ".\n");
  if (result != 0) ctx.commandFailed = 1;
  return result;
}

void RestoreStartDirectory(const RunContext& ctx) {
  platform::SetCurrentDrive(ctx.startDrive);
  platform::SetCurrentDir(ctx.startDir);
}

}  // namespace

int ExecuteCommand(RunContext& ctx, const std::string& path, const std::string& commandTemplate) {
  ++ctx.fileNumber;

  // One preparation serves the Command and the -xo name: the directory change, the pseudo environment
  // (after that change, before any child starts), and at most one stamp lookup and one read per checksum.
  FileMacros file = PrepareFileMacros(ctx, path);
  if (ctx.changeDir) ChangeToFileDirectory(file);
  SetPseudoEnvironment();

  const bool shellMode = !ctx.shell.empty();
  const std::vector<CommandPart> parts = ExpandParts(ctx, file, commandTemplate, !shellMode);

  // Created before the question, so it exists even when the user declines.
  std::FILE* output = nullptr;
  if (!ctx.outputFile.empty()) output = platform::CreateTextFile(ExpandTemplate(ctx, file, ctx.outputFile));

  int result = 0;
  if (!ctx.confirm || ctx.batch || Confirmed(JoinParts(parts, ctx.breakChar))) {
    for (const CommandPart& part : parts) {
      // A doubled or leading break character ends the Command there.
      if (part.text.empty()) break;
      if (shellMode) {
        if (ctx.echoCommand) platform::WriteOut(part.text + "\n");
        if (!ctx.echoOnly) result = Reported(ctx, platform::RunShell(ctx.shell, part.text), ctx.shell);
      } else if (IsInternalEcho(part.text)) {
        // Performed here even with -eo; the only writer of the -xo file.
        const std::string text = part.text.substr(5) + (ctx.noCrLf ? "" : "\n");
        if (output != nullptr) {
          std::fputs(text.c_str(), output);
        } else {
          platform::WriteOut(text);
        }
      } else {
        if (ctx.echoCommand) platform::WriteOut(part.text + "\n");
        if (!ctx.echoOnly) result = Reported(ctx, platform::RunProcess(part.args), part.args.front());
      }
    }
  }

  if (ctx.changeDir) RestoreStartDirectory(ctx);
  if (output != nullptr) std::fclose(output);
  return result;
}

}  // namespace zelvane
