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

// One word of a part of a group: a value for each file when it holds a macro of its file (IsPerFileWord),
// else one. Without a shell the values are the program's arguments; they are also the text a shell gets and
// the echo shows unless the word was typed with quotes or backslashes, whose typed form is then expanded
// apart for the text. Most words have none, so most files expand each word once.
struct GroupWord {
  const TemplateText* word = nullptr;   // without a shell: the word as the program gets it
  const TemplateText* typed = nullptr;  // the word as typed, when its values are not the text
  bool perFile = false;
  std::string text;            // of `typed`: the values joined by one blank
  std::size_t typedCount = 0;  // values in `text`
  std::string typedValue;      // the file's, until it is known to fit
  std::string value;           // the one value of a word after the first word of the file
};

// One part of a group. Its arguments are kept as they come, in the first `used` of `values`: those of the
// words before the first word of the file, then each file's values of the words of the file, file after
// file. They are put in the order of the words once the group is complete, which for a part with one word of
// the file (most) moves nothing. The strings after `used` are those of an earlier group, whose storage the
// values take.
struct GroupPart {
  std::vector<GroupWord> words;
  std::size_t lead = 0;       // words before the first word of the file
  std::size_t fileWords = 0;  // words of the file
  std::vector<std::string> values;
  std::size_t used = 0;
  std::size_t cost = 0;
};

std::string& NextValue(GroupPart& group) {
  if (group.used == group.values.size()) group.values.emplace_back();
  return group.values[group.used++];
}

// Whether the words of the file hold no macro but $f: then a file whose path $f shows as it stands needs
// nothing else worked out.
bool PathOnly(const TemplateText& word) {
  return std::all_of(word.begin(), word.end(),
                     [](const TemplatePiece& piece) { return piece.macro == '\0' || piece.macro == 'f'; });
}

GroupPart MakeGroupPart(const CommandPart& part, bool shellMode, bool& pathOnly) {
  GroupPart group;
  // Both splits find the same words, in the same places.
  const std::size_t count = shellMode ? part.typedWords.size() : part.words.size();
  group.words.resize(count);
  group.lead = count;
  for (std::size_t w = 0; w < count; ++w) {
    GroupWord& g = group.words[w];
    if (shellMode) {
      g.typed = &part.typedWords[w];
    } else {
      g.word = &part.words[w];
      if (w < part.typedWords.size() && part.typedWords[w] != part.words[w]) g.typed = &part.typedWords[w];
    }
    g.perFile = IsPerFileWord(g.word != nullptr ? *g.word : *g.typed);
    if (!g.perFile) continue;
    group.lead = std::min(group.lead, w);
    ++group.fileWords;
    if (g.word != nullptr && !PathOnly(*g.word)) pathOnly = false;
    if (g.typed != nullptr && !PathOnly(*g.typed)) pathOnly = false;
  }
  return group;
}

// Expands the words the file adds (every word for the group's first file, only the words of the file for
// the others); returns what they take of the room. Its arguments are added to `values` at once, and taken
// back by DropFile when the file does not fit; its typed values wait for KeepFile.
std::size_t ExpandFile(GroupPart& group, const MacroValue& macros, bool firstFile, bool shellMode,
                       const GroupLimits& limits) {
  std::size_t cost = 0;
  for (std::size_t w = 0; w < group.words.size(); ++w) {
    GroupWord& g = group.words[w];
    if (!firstFile && !g.perFile) continue;
    if (g.word != nullptr) {
      std::string& value = g.perFile || w < group.lead ? NextValue(group) : g.value;
      ExpandText(*g.word, macros, value);
      if (limits.cost != nullptr) cost += limits.cost(value, false);
    }
    if (g.typed != nullptr) {
      ExpandText(*g.typed, macros, g.typedValue);
      if (shellMode && limits.cost != nullptr) cost += limits.cost(g.typedValue, true);
    }
  }
  return cost;
}

// Room in `values` for as many files as the room takes when each costs what the first did (no more than
// `files`), so a long group does not move its values again and again while it grows. Called once the first
// file is in.
void ReserveFiles(GroupPart& group, std::size_t files, std::size_t room, const GroupLimits& limits) {
  if (group.fileWords == 0) return;
  std::size_t cost = 0;
  if (limits.cost != nullptr) {
    for (std::size_t k = group.used - group.fileWords; k < group.used; ++k)
      cost += limits.cost(group.values[k], false);
  }
  if (cost > 0) files = std::min(files, room / cost + 1);
  group.values.reserve(group.lead + group.fileWords * files);
}

void DropFile(GroupPart& group, bool shellMode) {
  if (!shellMode) group.used -= group.fileWords;
}

void KeepFile(GroupPart& group, bool firstFile) {
  for (GroupWord& g : group.words) {
    if (g.typed == nullptr || (!firstFile && !g.perFile)) continue;
    if (g.typedCount++ > 0) g.text += ' ';
    g.text += g.typedValue;
  }
}

// The arguments of a group of `files` files in the order of the words, moved out: each is used once.
std::vector<std::string> ArgumentsInOrder(GroupPart& group, std::size_t files) {
  group.values.resize(group.used);
  std::vector<std::string> args;
  if (group.fileWords <= 1) {
    args = std::move(group.values);
  } else {
    args.reserve(group.values.size() + group.words.size());
    for (std::size_t i = 0; i < group.lead; ++i)
      args.push_back(std::move(group.values[i]));
  }
  std::size_t column = 0;
  for (std::size_t w = group.lead; w < group.words.size(); ++w) {
    GroupWord& g = group.words[w];
    if (g.word == nullptr) continue;
    if (!g.perFile) {
      args.push_back(std::move(g.value));
    } else if (group.fileWords > 1) {
      for (std::size_t f = 0; f < files; ++f)
        args.push_back(std::move(group.values[group.lead + f * group.fileWords + column]));
      ++column;
    }
  }
  return args;
}

// The text of the part into `text`: every word's values in order, joined by one blank; `args` in the order
// of the words.
void JoinText(const GroupPart& group, const std::vector<std::string>& args, std::size_t files,
              std::string& text) {
  std::size_t size = 0;
  for (const GroupWord& g : group.words)
    if (g.typed != nullptr) size += g.text.size() + 1;
  for (const std::string& value : args)
    size += value.size() + 1;
  text.clear();
  text.reserve(size);
  bool first = true;
  const auto add = [&](const std::string& value) {
    if (!first) text += ' ';
    first = false;
    text += value;
  };
  std::size_t next = 0;
  for (const GroupWord& g : group.words) {
    const std::size_t count = g.word == nullptr ? 0 : g.perFile ? files : 1;
    if (g.typed != nullptr) {
      add(g.text);
    } else {
      for (std::size_t i = next; i < next + count; ++i)
        add(args[i]);
    }
    next += count;
  }
}

}  // namespace

std::size_t PrepareGroupWork(const RunSettings& ctx, const CommandTemplate& command,
                             const std::vector<std::string>& paths, std::size_t first, int firstNumber,
                             int totalCount, const GroupLimits& limits, FileWork& work) {
  // The arguments of the group `work` held before (a run hands a done job's work on to a later one): this
  // group's values take their storage, so a run makes new strings only for a group longer than the last.
  std::vector<std::vector<std::string>> earlier;
  for (WorkPart& part : work.parts) {
    earlier.push_back(std::move(part.args));
    part.args.clear();
  }
  // The first file decides which parts are handled (an empty part ends the Command), the -xo name and the
  // directory, exactly as a run of single files would.
  PrepareFileWork(ctx, command, paths[first], firstNumber, totalCount, work);
  // A first file that is passed to no command is skipped alone.
  if (!work.notPassed.empty()) return 1;
  const bool shellMode = !ctx.shell.empty();
  const std::size_t handled = work.parts.size();
  std::vector<GroupPart> group;
  group.reserve(handled);
  bool pathOnly = true;
  for (std::size_t i = 0; i < handled; ++i) {
    group.push_back(MakeGroupPart(command.parts[i], shellMode, pathOnly));
    if (i < earlier.size()) group[i].values = std::move(earlier[i]);
  }
  const std::size_t room = shellMode ? limits.shellRoom : limits.wordRoom;
  FileMacros file;
  const MacroValue macros = MacroValues(ctx, file);
  const std::string* path = nullptr;
  const MacroValue pathAlone = [&path](char, std::string& out) { out += *path; };
  std::vector<std::size_t> added(handled);
  // The most files the group can take whatever they cost.
  std::size_t most = std::min(paths.size(), std::max(limits.end, first + 1)) - first;
  if (limits.most != 0) most = std::min(most, limits.most);
  std::size_t taken = 0;
  for (std::size_t j = first; j < paths.size(); ++j) {
    if (limits.most != 0 && taken == limits.most) break;
    if (taken > 0 && j >= limits.end) break;
    // A name the system would read as another file's starts a group of its own, which is then skipped.
    if (taken > 0 && platform::SystemRewritesName(paths[j])) break;
    if (taken > 0 && ctx.changeDir && FileDirectory(ctx, paths[j]) != work.directory) break;
    // The walk made the paths in the order it found them, so in sorted order each one's text lies anywhere:
    // asked for a few files ahead, it is there when its turn comes.
    if (j + 8 < paths.size()) __builtin_prefetch(paths[j + 8].data());
    path = &paths[j];
    const bool alone = taken > 0 && pathOnly && PathShowsAsItIs(ctx, paths[j]);
    if (!alone) {
      PrepareFileMacros(ctx, paths[j], file);
      file.fileNumber = firstNumber + static_cast<int>(taken);
      file.totalCount = totalCount;
    }
    bool fits = true;
    for (std::size_t i = 0; i < handled; ++i) {
      added[i] = ExpandFile(group[i], alone ? pathAlone : macros, taken == 0, shellMode, limits);
      if (taken > 0 && group[i].cost + added[i] > room) fits = false;
    }
    if (!fits) {
      for (GroupPart& g : group)
        DropFile(g, shellMode);
      break;
    }
    for (std::size_t i = 0; i < handled; ++i) {
      KeepFile(group[i], taken == 0);
      group[i].cost += added[i];
      if (taken == 0 && !shellMode) ReserveFiles(group[i], most, room, limits);
    }
    ++taken;
  }
  if (taken <= 1) return 1;  // one file: exactly what a run of single files does
  work.command.clear();
  for (std::size_t i = 0; i < handled; ++i) {
    WorkPart& part = work.parts[i];
    // With a shell the words are text alone.
    std::vector<std::string> args;
    if (!shellMode) args = ArgumentsInOrder(group[i], taken);
    // Into the part's own strings, which keep the storage of the group before.
    JoinText(group[i], args, taken, part.text);
    if (i > 0) work.command += ctx.breakChar;
    work.command += part.text;
    part.kind = ClassifyPart(part.text, shellMode);
    part.args.clear();
    if (part.kind == WorkPart::Kind::InternalEcho) {
      part.text.assign(InternalEchoText(part.text));
      FinishEchoText(ctx, part.text);
    } else if (part.kind == WorkPart::Kind::Program) {
      part.args = std::move(args);
    }
  }
  return taken;
}

}  // namespace zelvane
