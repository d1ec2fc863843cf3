#include "command/file_work.h"

#include "command/macros.h"
#include "command/run_settings.h"

namespace zelvane {

FileWork PrepareFileWork(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                         int fileNumber, int totalCount) {
  FileWork work;
  work.path = path;
  work.now = platform::LocalNow();
  if (ctx.changeDir) work.directory = FileDirectory(ctx, path);

  FileMacros file = PrepareFileMacros(ctx, path);
  file.fileNumber = fileNumber;
  file.totalCount = totalCount;
  const MacroValue macros = MacroValues(ctx, file);
  const bool shellMode = !ctx.shell.empty();
  bool handled = true;
  for (std::size_t i = 0; i < command.parts.size(); ++i) {
    ExpandedPart expanded = ExpandPart(command.parts[i], macros);
    if (i > 0) work.command += ctx.breakChar;
    work.command += expanded.text;
    // A doubled or leading break character ends the Command there.
    if (expanded.text.empty()) handled = false;
    if (!handled) continue;
    WorkPart part;
    part.kind = ClassifyPart(expanded.text, shellMode);
    if (part.kind == WorkPart::Kind::InternalEcho) {
      part.text = InternalEchoText(expanded.text);
      if (!ctx.noCrLf) part.text += '\n';
    } else {
      part.text = std::move(expanded.text);
      if (part.kind == WorkPart::Kind::Program) part.args = std::move(expanded.args);
    }
    work.parts.push_back(std::move(part));
  }
  if (!ctx.outputFile.empty()) work.outputFile = ExpandTemplate(ctx, file, ctx.outputFile);
  return work;
}

}  // namespace zelvane
