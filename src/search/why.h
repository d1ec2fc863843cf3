// -Why: what the search made of every entry it looked at, as lines a script reads. The search notes each
// entry's fate as it goes; the fates that only the whole list decides (a duplicate, the exclusion) are
// worked out at the end by the same rules the list itself goes by.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/directories.h"

namespace zelvane {

struct WhyLog {
  struct Line {
    std::string path;
    const char* verdict;  // null: the place kept for a match, whose line the account writes
    std::string detail;
  };
  // An entry that passed its Filespec entry's pattern, attribute switches and qualifiers.
  struct Match {
    std::string path;
    platform::DirIdentity directory;
    std::string step;
    std::size_t looked;  // its place among the lines: where it stands among entries that compare equal
  };
  std::string step;  // the Filespec entry being searched, as the parse gives it
  std::vector<Line> lines;
  // Entry by entry of the Filespec, each one's in the order of its own list.
  std::vector<Match> matches;
  bool removesDuplicates = false;  // whether the search removes the same file found twice

  void Add(std::string path, const char* verdict, std::string detail) {
    lines.push_back({std::move(path), verdict, std::move(detail)});
  }
};

// The account of a search whose Filespec notes are `filespec` and whose Xspec's are `xspec`: every line,
// each match's final fate among them, in the order of the match list (entries that compare equal in the
// order they were looked at). One line each: verdict, path and detail, tab-separated, a tab, line end or
// backslash in a field escaped as the log escapes it.
// A match in `done` (-Resume: the log says it succeeded, unchanged since) is said to be done instead.
std::string WhyText(WhyLog& filespec, WhyLog& xspec, const std::unordered_set<std::string>& done = {});

}  // namespace zelvane
