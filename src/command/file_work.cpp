#include "command/file_work.h"

#include <algorithm>

#include "command/macros.h"
#include "command/run_settings.h"
#include "platform/console.h"
#include "platform/files.h"

namespace zelvane {
namespace {

// What an internal echo writes of the text after "echo ": the bytes standard output would get, which the
// -xo file gets too, and the line end unless -nocrlf.
void FinishEchoText(const RunSettings& ctx, std::string& text) {
  platform::MakeWrittenText(text);
  if (!ctx.noCrLf) text += '\n';
}

}  // namespace

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
      FinishEchoText(ctx, part.text);
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

bool EchoesAlone(const RunSettings& ctx, const CommandTemplate& command) {
  if (!ctx.shell.empty()) return false;
  for (const CommandPart& part : command.parts) {
    // A part with nothing typed is empty for every file: the Command ends there.
    if (part.text.empty()) return true;
    const TemplatePiece& first = part.text.front();
    if (first.macro != '\0' || !IsInternalEcho(first.text)) return false;
  }
  return true;
}

void PrepareEchoTexts(const RunSettings& ctx, const CommandTemplate& command, const std::string& path,
                      int fileNumber, int totalCount, std::vector<std::string>& texts) {
  thread_local FileMacros file;
  PrepareFileMacros(ctx, path, file);
  file.fileNumber = fileNumber;
  file.totalCount = totalCount;
  const MacroValue macros = MacroValues(ctx, file);
  std::size_t handled = 0;
  for (const CommandPart& part : command.parts) {
    if (part.text.empty()) break;
    if (handled == texts.size()) texts.emplace_back();
    std::string& text = texts[handled++];
    // What follows "echo ", without the part's expansion ever being made whole.
    text.assign(part.text.front().text, 5);
    for (std::size_t i = 1; i < part.text.size(); ++i) {
      const TemplatePiece& piece = part.text[i];
      if (piece.macro != '\0') {
        macros(piece.macro, text);
      } else {
        text += piece.text;
      }
    }
    FinishEchoText(ctx, text);
  }
  texts.resize(handled);
}

namespace {

// One part of a group: for each word, its values, one per file for a word of the file and one otherwise.
struct GroupPart {
  std::vector<std::vector<std::string>> typed;  // from the words as typed: the text
  std::vector<std::vector<std::string>> words;  // from the words without quotes: the arguments
  std::vector<bool> typedPerFile, wordsPerFile;
  std::size_t cost = 0;
};

// Expands the words of `from` that the file adds (every word for the group's first file, only the words of
// the file for the others) onto `into`; returns what they cost when `counts`.
std::size_t AddWords(const std::vector<TemplateText>& from, const std::vector<bool>& perFile,
                     const MacroValue& macros, bool firstFile, bool shellLine, const GroupLimits& limits,
                     bool counts, std::vector<std::vector<std::string>>& into) {
  std::size_t cost = 0;
  for (std::size_t w = 0; w < from.size(); ++w) {
    if (!firstFile && !perFile[w]) continue;
    std::string& value = into[w].emplace_back();
    ExpandText(from[w], macros, value);
    if (counts && limits.cost != nullptr) cost += limits.cost(value, shellLine);
  }
  return cost;
}

// Takes back what AddWords added for a file that is not in the group after all.
void DropWords(const std::vector<bool>& perFile, std::vector<std::vector<std::string>>& from) {
  for (std::size_t w = 0; w < from.size(); ++w)
    if (perFile[w]) from[w].pop_back();
}

// The values in order, moved out: each is used once.
void Flatten(std::vector<std::vector<std::string>>& values, std::vector<std::string>& out) {
  out.clear();
  for (std::vector<std::string>& word : values)
    for (std::string& value : word)
      out.push_back(std::move(value));
}

// The values in order, joined by one blank.
std::string Joined(const std::vector<std::vector<std::string>>& values) {
  std::size_t size = 0;
  for (const std::vector<std::string>& word : values)
    for (const std::string& value : word)
      size += value.size() + 1;
  std::string text;
  text.reserve(size);
  bool first = true;
  for (const std::vector<std::string>& word : values) {
    for (const std::string& value : word) {
      if (!first) text += ' ';
      first = false;
      text += value;
    }
  }
  return text;
}

}  // namespace

std::size_t PrepareGroupWork(const RunSettings& ctx, const CommandTemplate& command,
                             const std::vector<std::string>& paths, std::size_t first, int firstNumber,
                             int totalCount, const GroupLimits& limits, FileWork& work) {
  // The first file decides which parts are handled (an empty part ends the Command), the -xo name and the
  // directory, exactly as a run of single files would.
  PrepareFileWork(ctx, command, paths[first], firstNumber, totalCount, work);
  // A first file that is passed to no command is skipped alone.
  if (!work.notPassed.empty()) return 1;
  const bool shellMode = !ctx.shell.empty();
  const std::size_t handled = work.parts.size();
  std::vector<GroupPart> group(handled);
  for (std::size_t i = 0; i < handled; ++i) {
    const CommandPart& part = command.parts[i];
    group[i].typed.resize(part.typedWords.size());
    group[i].words.resize(part.words.size());
    for (const TemplateText& word : part.typedWords)
      group[i].typedPerFile.push_back(IsPerFileWord(word));
    for (const TemplateText& word : part.words)
      group[i].wordsPerFile.push_back(IsPerFileWord(word));
  }
  const std::size_t room = shellMode ? limits.shellRoom : limits.wordRoom;
  FileMacros file;
  std::vector<std::size_t> added(handled);
  std::size_t taken = 0;
  for (std::size_t j = first; j < paths.size(); ++j) {
    if (limits.most != 0 && taken == limits.most) break;
    if (taken > 0 && j >= limits.end) break;
    // A name the system would read as another file's starts a group of its own, which is then skipped.
    if (taken > 0 && platform::SystemRewritesName(paths[j])) break;
    if (taken > 0 && ctx.changeDir && FileDirectory(ctx, paths[j]) != work.directory) break;
    PrepareFileMacros(ctx, paths[j], file);
    file.fileNumber = firstNumber + static_cast<int>(taken);
    file.totalCount = totalCount;
    const MacroValue macros = MacroValues(ctx, file);
    bool fits = true;
    for (std::size_t i = 0; i < handled; ++i) {
      const CommandPart& part = command.parts[i];
      GroupPart& g = group[i];
      added[i] =
          AddWords(part.typedWords, g.typedPerFile, macros, taken == 0, true, limits, shellMode, g.typed);
      if (!shellMode)
        added[i] += AddWords(part.words, g.wordsPerFile, macros, taken == 0, false, limits, true, g.words);
      if (taken > 0 && g.cost + added[i] > room) fits = false;
    }
    if (!fits) {
      for (GroupPart& g : group) {
        DropWords(g.typedPerFile, g.typed);
        DropWords(g.wordsPerFile, g.words);
      }
      break;
    }
    for (std::size_t i = 0; i < handled; ++i)
      group[i].cost += added[i];
    ++taken;
  }
  if (taken <= 1) return 1;  // one file: exactly what a run of single files does
  work.command.clear();
  for (std::size_t i = 0; i < handled; ++i) {
    WorkPart& part = work.parts[i];
    const std::string text = Joined(group[i].typed);
    if (i > 0) work.command += ctx.breakChar;
    work.command += text;
    part.kind = ClassifyPart(text, shellMode);
    part.args.clear();
    if (part.kind == WorkPart::Kind::InternalEcho) {
      part.text = InternalEchoText(text);
      if (!ctx.noCrLf) part.text += '\n';
    } else {
      part.text = text;
      if (part.kind == WorkPart::Kind::Program) Flatten(group[i].words, part.args);
    }
  }
  return taken;
}

}  // namespace zelvane
