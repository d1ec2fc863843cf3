#include "command/execute.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/run_context.h"
#include "command/macros.h"
#include "command/stamps.h"
#include "platform/platform.h"

namespace zelvane {
namespace {

// The whole expanded Command, break characters included, as the confirmation shows it.
std::string JoinParts(const std::vector<ExpandedPart>& parts, char breakChar) {
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

int Reported(RunContext& ctx, int result, const std::string& name) {
  if (result == -1) platform::WriteOut(NotExecutedMessage(name));
  if (result != 0) ctx.commandFailed = 1;
  return result;
}

// Whether the expanded Command may start a child: a shell part, or a part that is no internal echo, before
// the first empty part; never with -eo.
bool MayStartChild(const RunContext& ctx, const std::vector<ExpandedPart>& parts) {
  if (ctx.echoOnly) return false;
  for (const ExpandedPart& part : parts) {
    if (part.text.empty()) return false;
    if (ClassifyPart(part.text, !ctx.shell.empty()) != PartKind::InternalEcho) return true;
  }
  return false;
}

void RestoreStartDirectory(const RunContext& ctx) {
  platform::SetCurrentDrive(ctx.startDrive);
  platform::SetCurrentDir(ctx.startDir);
}

// The -xo file of one file: every internal echo of the Command goes into it, each written through at once,
// so a later part of the same Command sees it and a failure shows where it happens.
class OutputFile {
 public:
  OutputFile(const RunContext& ctx, FileMacros& file) {
    if (ctx.outputFile.empty()) return;
    name_ = ExpandTemplate(ctx, file, ctx.outputFile);
    stream_ = platform::CreateTextFile(name_);
  }
  ~OutputFile() {
    if (stream_ != nullptr) std::fclose(stream_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return stream_ != nullptr; }

  // False, with the message on standard error, when the text could not be written (a full disk).
  bool Write(const std::string& text) {
    std::string message;
    if (WriteThrough(stream_, text, name_, message)) return true;
    platform::WriteErr(message);
    return false;
  }

 private:
  std::string name_;
  std::FILE* stream_ = nullptr;
};

}  // namespace

std::string NotExecutedMessage(const std::string& name) {
  return "Could not execute " + name + ".\n";
}

bool WriteThrough(std::FILE* stream, std::string_view text, const std::string& name, std::string& message) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0)
    return true;
  const int error = errno;
  message = "Could not write \"" + name +
            "\": " + (error != 0 ? std::strerror(error) : "Input/output error") + ".\n";
  return false;
}

std::string DirectoryNotEnteredMessage(const RunContext& ctx, const std::string& path) {
  // The directory as the match list holds it, without the separator that ends it (a root keeps its own).
  std::string directory = FileDirectory(ctx, path);
  if (directory.size() > 1 && platform::IsPathSeparator(directory.back()) &&
      directory[directory.size() - 2] != ':') {
    directory.pop_back();
  }
  return "Could not change to directory " + directory + ".\n";
}

int ExecuteCommand(RunContext& ctx, const std::string& path, const CommandTemplate& command) {
  ++ctx.fileNumber;

  // A command never runs in a directory the user did not mean: when the file's own directory cannot be
  // entered (removed by an earlier command, say), its Command is skipped, not run where Zelvane stands.
  if (ctx.changeDir && !EnterFileDirectory(ctx, path)) {
    platform::WriteOut(DirectoryNotEnteredMessage(ctx, path));
    ctx.commandFailed = 1;
    return 0;
  }

  // One preparation serves the Command and the -xo name: at most one stamp lookup and one read per
  // checksum. Kept from file to file, so their strings are reused rather than made anew for every file.
  thread_local FileMacros file;
  thread_local std::vector<ExpandedPart> parts;
  PrepareFileMacros(ctx, path, file);
  const bool shellMode = !ctx.shell.empty();
  const MacroValue macros = MacroValues(ctx, file);
  parts.resize(command.parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i)
    ExpandPart(command.parts[i], macros, parts[i]);

  // Only a child can see the pseudo environment, so it is brought up to date only when one may start:
  // after the directory change, before the question.
  if (MayStartChild(ctx, parts)) SetPseudoEnvironment();

  // Created before the question, so it exists even when the user declines.
  OutputFile output(ctx, file);

  int result = 0;
  if (!ctx.confirm || ctx.batch || Confirmed(JoinParts(parts, ctx.breakChar))) {
    for (const ExpandedPart& part : parts) {
      // A doubled or leading break character ends the Command there.
      if (part.text.empty()) break;
      const PartKind kind = ClassifyPart(part.text, shellMode);
      if (kind == PartKind::Shell) {
        if (ctx.echoCommand) platform::WriteOut(part.text + "\n");
        if (!ctx.echoOnly) result = Reported(ctx, platform::RunShell(ctx.shell, part.text), ctx.shell);
      } else if (kind == PartKind::InternalEcho) {
        // Performed here even with -eo; the only writer of the -xo file.
        if (!output.IsOpen()) {
          platform::WriteOut(InternalEchoText(part.text));
          if (!ctx.noCrLf) platform::WriteOut("\n");
          continue;
        }
        std::string text(InternalEchoText(part.text));
        if (!ctx.noCrLf) text += "\n";
        if (!output.Write(text)) {
          // Like a failed write to standard output, this ends the run: nothing more is started.
          ctx.endRun = true;
          break;
        }
      } else {
        if (ctx.echoCommand) platform::WriteOut(part.text + "\n");
        // A part of blanks alone names no program.
        const std::string program = part.args.empty() ? std::string() : part.args.front();
        if (!ctx.echoOnly)
          result = Reported(ctx, part.args.empty() ? -1 : platform::RunProcess(part.args), program);
      }
    }
  }

  if (ctx.changeDir) RestoreStartDirectory(ctx);
  return result;
}

}  // namespace zelvane
