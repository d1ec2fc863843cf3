#include "command/file_work.h"

#include <algorithm>

#include "command/macros.h"
#include "command/run_settings.h"
#include "platform/console.h"
#include "platform/files.h"

namespace zelvane {

FileWork PrepareFileWork(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                         int fileNumber, int totalCount) {
  FileWork work;
  PrepareFileWork(ctx, command, path, fileNumber, totalCount, work);
  return work;
}

void PrepareFileWork(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                     int fileNumber, int totalCount, FileWork& work) {
  // Kept from file to file with `work`, so a run over a million files makes no new strings for them.
  thread_local FileMacros file;
  thread_local ExpandedPart expanded;
  work.path = path;
  work.command.clear();
  work.directory.clear();
  work.outputFile.clear();
  if (ctx.changeDir) work.directory = FileDirectory(ctx, path);

  PrepareFileMacros(ctx, path, file);
  file.fileNumber = fileNumber;
  file.totalCount = totalCount;
  const MacroValue macros = MacroValues(ctx, file);
  const bool shellMode = !ctx.shell.empty();
  std::size_t handled = 0;
  bool ended = false;
  for (std::size_t i = 0; i < command.parts.size(); ++i) {
    ExpandPart(command.parts[i], macros, expanded);
    if (i > 0) work.command += ctx.breakChar;
    work.command += expanded.text;
    // A doubled or leading break character ends the Command there.
    if (expanded.text.empty()) ended = true;
    if (ended) continue;
    if (handled == work.parts.size()) work.parts.emplace_back();
    WorkPart& part = work.parts[handled++];
    part.kind = ClassifyPart(expanded.text, shellMode);
    part.args.clear();
    if (part.kind == WorkPart::Kind::InternalEcho) {
      part.text = InternalEchoText(expanded.text);
      // The -xo file gets the bytes standard output would.
      platform::MakeWrittenText(part.text);
      if (!ctx.noCrLf) part.text += '\n';
    } else {
      part.text = expanded.text;
      if (part.kind == WorkPart::Kind::Program) part.args = expanded.args;
    }
  }
  work.parts.resize(handled);
  if (!ctx.outputFile.empty()) work.outputFile = ExpandTemplate(ctx, file, ctx.outputFile);
  // Internal echo alone hands the name to no one, so it prints the name as it is.
  work.notPassed.clear();
  const bool startsChild = std::any_of(work.parts.begin(), work.parts.end(), [](const WorkPart& part) {
    return part.kind != WorkPart::Kind::InternalEcho;
  });
  if (startsChild && platform::SystemRewritesName(path)) {
    work.notPassed = "Cannot pass \"" + MacroText(ctx, file, 'f') +
                     "\" to a command: Windows reads that name as another file.\n";
  }
}

}  // namespace zelvane
