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

namespace {

// One word of a part of a group, and its values: one per file for a word of the file (IsPerFileWord), one
// otherwise. Without a shell the values are the program's arguments; they are also the text a shell gets
// and the echo shows unless the word was typed with quotes or backslashes, whose typed form is then
// expanded apart for the text. Most words have none, so most files expand each word once.
struct GroupWord {
  const TemplateText* word = nullptr;   // without a shell: the word as the program gets it
  const TemplateText* typed = nullptr;  // the word as typed, when its values are not the text
  bool perFile = false;
  std::vector<std::string> values;  // of `word`
  std::string text;                 // of `typed`: the values joined by one blank
  std::size_t typedCount = 0;       // values in `text`
  std::string value, typedValue;    // the file's, until it is known to fit
};

struct GroupPart {
  std::vector<GroupWord> words;
  std::size_t cost = 0;
};

GroupPart MakeGroupPart(const CommandPart& part, bool shellMode) {
  GroupPart group;
  if (shellMode) {
    group.words.resize(part.typedWords.size());
    for (std::size_t w = 0; w < part.typedWords.size(); ++w) {
      group.words[w].typed = &part.typedWords[w];
      group.words[w].perFile = IsPerFileWord(part.typedWords[w]);
    }
    return group;
  }
  // Both splits find the same words, in the same places.
  group.words.resize(part.words.size());
  for (std::size_t w = 0; w < part.words.size(); ++w) {
    GroupWord& g = group.words[w];
    g.word = &part.words[w];
    g.perFile = IsPerFileWord(part.words[w]);
    if (w < part.typedWords.size() && part.typedWords[w] != part.words[w]) g.typed = &part.typedWords[w];
  }
  return group;
}

// Expands the words the file adds (every word for the group's first file, only the words of the file for
// the others) into their `value`s; returns what they take of the room.
std::size_t ExpandWords(GroupPart& group, const MacroValue& macros, bool firstFile, bool shellMode,
                        const GroupLimits& limits) {
  std::size_t cost = 0;
  for (GroupWord& g : group.words) {
    if (!firstFile && !g.perFile) continue;
    if (g.word != nullptr) {
      ExpandText(*g.word, macros, g.value);
      if (limits.cost != nullptr) cost += limits.cost(g.value, false);
    }
    if (g.typed != nullptr) {
      ExpandText(*g.typed, macros, g.typedValue);
      if (shellMode && limits.cost != nullptr) cost += limits.cost(g.typedValue, true);
    }
  }
  return cost;
}

// Keeps what ExpandWords expanded: the file is in the group.
void KeepWords(GroupPart& group, bool firstFile) {
  for (GroupWord& g : group.words) {
    if (!firstFile && !g.perFile) continue;
    if (g.word != nullptr) g.values.push_back(g.value);
    if (g.typed != nullptr) {
      if (g.typedCount++ > 0) g.text += ' ';
      g.text += g.typedValue;
    }
  }
}

// The text of the part: every word's values, in order, joined by one blank.
std::string JoinedText(const GroupPart& group) {
  std::size_t size = 0;
  for (const GroupWord& g : group.words) {
    if (g.typed != nullptr) {
      size += g.text.size() + 1;
    } else {
      for (const std::string& value : g.values)
        size += value.size() + 1;
    }
  }
  std::string text;
  text.reserve(size);
  bool first = true;
  const auto add = [&](const std::string& value) {
    if (!first) text += ' ';
    first = false;
    text += value;
  };
  for (const GroupWord& g : group.words) {
    if (g.typed != nullptr) {
      add(g.text);
    } else {
      for (const std::string& value : g.values)
        add(value);
    }
  }
  return text;
}

// The values in order, moved out: each is used once.
void Flatten(GroupPart& group, std::vector<std::string>& out) {
  std::size_t count = 0;
  for (const GroupWord& g : group.words)
    count += g.values.size();
  out.clear();
  out.reserve(count);
  for (GroupWord& g : group.words)
    for (std::string& value : g.values)
      out.push_back(std::move(value));
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
  std::vector<GroupPart> group;
  group.reserve(handled);
  for (std::size_t i = 0; i < handled; ++i)
    group.push_back(MakeGroupPart(command.parts[i], shellMode));
  const std::size_t room = shellMode ? limits.shellRoom : limits.wordRoom;
  FileMacros file;
  const MacroValue macros = MacroValues(ctx, file);
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
    bool fits = true;
    for (std::size_t i = 0; i < handled; ++i) {
      added[i] = ExpandWords(group[i], macros, taken == 0, shellMode, limits);
      if (taken > 0 && group[i].cost + added[i] > room) fits = false;
    }
    if (!fits) break;
    for (std::size_t i = 0; i < handled; ++i) {
      KeepWords(group[i], taken == 0);
      group[i].cost += added[i];
    }
    ++taken;
  }
  if (taken <= 1) return 1;  // one file: exactly what a run of single files does
  work.command.clear();
  for (std::size_t i = 0; i < handled; ++i) {
    WorkPart& part = work.parts[i];
    std::string text = JoinedText(group[i]);
    if (i > 0) work.command += ctx.breakChar;
    work.command += text;
    part.kind = ClassifyPart(text, shellMode);
    part.args.clear();
    if (part.kind == WorkPart::Kind::InternalEcho) {
      part.text = InternalEchoText(text);
      if (!ctx.noCrLf) part.text += '\n';
    } else {
      part.text = std::move(text);
      if (part.kind == WorkPart::Kind::Program) Flatten(group[i], part.args);
    }
  }
  return taken;
}

}  // namespace zelvane
