#include "command/file_work.h"

#include <algorithm>
#include <string_view>

#include "app/run_context.h"
#include "command/macros.h"

namespace zelvane {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// "echo " or "echo\t" at the start, without regard to case.
bool IsInternalEcho(std::string_view text) {
  if (text.size() < 5 || !IsBlank(text[4])) return false;
  static const char kEcho[] = "echo";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kEcho[i]) return false;
  }
  return true;
}

// Expands one part of the template. The cut at break characters comes first, so a break character inside
// a file name never splits the Command; in no-shell mode the part is split into words before each word is
// expanded, so a macro always yields exactly one argument.
WorkPart ExpandPart(const RunContext& ctx, FileMacros& file, std::string_view partTemplate, bool shellMode) {
  WorkPart part;
  if (shellMode) {
    part.kind = WorkPart::Kind::Shell;
    part.text = ExpandTemplate(ctx, file, partTemplate);
    return part;
  }
  std::size_t pieceBegin = 0;
  for (;;) {
    std::size_t pieceEnd = pieceBegin;
    while (pieceEnd < partTemplate.size() && !IsBlank(partTemplate[pieceEnd]))
      ++pieceEnd;
    part.args.push_back(ExpandTemplate(ctx, file, partTemplate.substr(pieceBegin, pieceEnd - pieceBegin)));
    part.text += part.args.back();
    if (pieceEnd == partTemplate.size()) break;
    part.text += partTemplate[pieceEnd];
    pieceBegin = pieceEnd + 1;
  }
  return part;
}

}  // namespace

std::string FileDirectory(const RunContext& ctx, const std::string& path) {
  const std::size_t last = path.find_last_of("\\/");
  if (last == std::string::npos) return ctx.startDir;
  // "/x", "C:\x": the root keeps its separator.
  if (last == 0 || (last == 2 && path[1] == ':')) return path.substr(0, last + 1);
  std::size_t end = last;
  while (end > 0 && IsSeparator(path[end - 1]))
    --end;
  return path.substr(0, end == 0 ? 1 : end);
}

FileWork PrepareFileWork(RunContext& ctx, const std::string& path) {
  ++ctx.fileNumber;
  FileWork work;
  work.path = path;
  work.now = platform::LocalNow();
  if (ctx.changeDir) work.directory = FileDirectory(ctx, path);

  FileMacros file = PrepareFileMacros(ctx, path);
  const bool shellMode = !ctx.shell.empty();
  const std::string_view commandTemplate = ctx.command;
  std::size_t begin = 0;
  bool handled = true;
  for (;;) {
    const std::size_t end = std::min(commandTemplate.find(ctx.breakChar, begin), commandTemplate.size());
    WorkPart part = ExpandPart(ctx, file, commandTemplate.substr(begin, end - begin), shellMode);
    if (begin > 0) work.command += ctx.breakChar;
    work.command += part.text;
    // A doubled or leading break character ends the Command there.
    if (part.text.empty()) handled = false;
    if (handled) {
      // Performed by Zelvane itself, in no-shell mode only.
      if (!shellMode && IsInternalEcho(part.text)) {
        part.kind = WorkPart::Kind::InternalEcho;
        part.text = part.text.substr(5) + (ctx.noCrLf ? "" : "\n");
        part.args.clear();
      }
      work.parts.push_back(std::move(part));
    }
    if (end == commandTemplate.size()) break;
    begin = end + 1;
  }
  if (!ctx.outputFile.empty()) work.outputFile = ExpandTemplate(ctx, file, ctx.outputFile);
  return work;
}

}  // namespace zelvane
