#include "search/why.h"

#include <algorithm>

#include "command/run_log.h"
#include "search/match_list.h"

namespace zelvane {
namespace {

// Matches in the order of the list they make: each Filespec entry's in its own list's order, then the
// entries' lists merged stably, as the search's list is.
void PutInListOrder(std::vector<WhyLog::Match>& matches) {
  std::stable_sort(matches.begin(), matches.end(), [](const WhyLog::Match& a, const WhyLog::Match& b) {
    return ComparePaths(a.path, b.path) < 0;
  });
}

const std::string kDone = "the log says it succeeded, and it is unchanged since";

struct Ordered {
  const std::string* path;
  const char* verdict;
  const std::string* detail;
  std::size_t looked;
};

}  // namespace

std::string WhyText(WhyLog& filespec, WhyLog& xspec, const std::unordered_set<std::string>& done) {
  // The Xspec's list as the exclusion takes it: its duplicates gone where its search removes them.
  PutInListOrder(xspec.matches);
  Removals removals;
  std::vector<const std::string*> removedBy;  // the Xspec entry of each removal
  {
    FirstOfEachFile firsts(xspec.matches.size());
    for (std::size_t i = 0; i < xspec.matches.size(); ++i) {
      const WhyLog::Match& m = xspec.matches[i];
      std::string key = FileKey(m.path, m.directory);
      if (xspec.removesDuplicates && firsts.Add(key, i) != i) continue;
      removals.Add(std::move(key));
      removedBy.push_back(&m.step);
    }
  }

  std::vector<Ordered> lines;
  lines.reserve(filespec.lines.size() + filespec.matches.size());
  for (std::size_t i = 0; i < filespec.lines.size(); ++i) {
    const WhyLog::Line& line = filespec.lines[i];
    if (line.verdict == nullptr) continue;  // a match's place: its line follows
    lines.push_back({&line.path, line.verdict, &line.detail, i});
  }
  // A directory the Xspec could not read leaves the exclusion short: that is part of the answer too.
  for (const WhyLog::Line& line : xspec.lines) {
    if (line.verdict != nullptr && std::string_view(line.verdict) == "unreadable")
      lines.push_back({&line.path, line.verdict, &line.detail, filespec.lines.size()});
  }

  // Each match's fate, by the rules the list goes by: a later copy of a file is a duplicate of the first;
  // then the Xspec's files take out the earliest of theirs.
  PutInListOrder(filespec.matches);
  FirstOfEachFile firsts(filespec.matches.size());
  for (std::size_t i = 0; i < filespec.matches.size(); ++i) {
    const WhyLog::Match& m = filespec.matches[i];
    const std::string key = FileKey(m.path, m.directory);
    const std::size_t first = filespec.removesDuplicates ? firsts.Add(key, i) : i;
    if (first != i) {
      lines.push_back({&m.path, "duplicate", &filespec.matches[first].path, m.looked});
      continue;
    }
    const std::size_t by = removals.Take(key);
    if (by != Removals::kNone) {
      lines.push_back({&m.path, "excluded", removedBy[by], m.looked});
    } else if (done.count(m.path) != 0) {
      lines.push_back({&m.path, "done", &kDone, m.looked});
    } else {
      lines.push_back({&m.path, "match", &m.step, m.looked});
    }
  }

  std::stable_sort(lines.begin(), lines.end(), [](const Ordered& a, const Ordered& b) {
    const int order = ComparePaths(*a.path, *b.path);
    return order != 0 ? order < 0 : a.looked < b.looked;
  });
  std::string text;
  for (const Ordered& line : lines) {
    text += line.verdict;
    text += '\t';
    AppendEscaped(text, *line.path);
    text += '\t';
    AppendEscaped(text, *line.detail);
    text += '\n';
  }
  return text;
}

}  // namespace zelvane
