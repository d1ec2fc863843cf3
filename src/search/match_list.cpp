#include "search/match_list.h"

#include <algorithm>
#include <string_view>

#include "platform/platform.h"

namespace zelvane {
namespace {

inline unsigned char FoldByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool PathLess(const std::string& a, const std::string& b) {
  return ComparePaths(a, b) < 0;
}

// Brings the appended tail into order and merges it behind the equal entries already in place. Both
// steps are stable, so equal entries keep their insertion order, as one-by-one insertion would leave them.
void Settle(PathList& list) {
  if (list.sortedCount == list.entries.size()) return;
  const auto middle = list.entries.begin() + static_cast<std::ptrdiff_t>(list.sortedCount);
  std::stable_sort(middle, list.entries.end(), PathLess);
  std::inplace_merge(list.entries.begin(), middle, list.entries.end(), PathLess);
  list.sortedCount = list.entries.size();
}

}  // namespace

int ComparePaths(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // most bytes of two paths agree: skip the folding for them
    const unsigned char x = FoldByte(a[i]);
    const unsigned char y = FoldByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void InsertSorted(PathList& list, std::string path) {
  list.entries.push_back(std::move(path));
}

const std::vector<std::string>& Entries(PathList& list) {
  Settle(list);
  return list.entries;
}

std::size_t Count(const PathList& list) {
  return list.entries.size();
}

void KeepEntries(PathList& list, const std::vector<bool>& keep) {
  Settle(list);
  std::size_t out = 0;
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    if (i < keep.size() && !keep[i]) continue;
    if (out != i) list.entries[out] = std::move(list.entries[i]);
    ++out;
  }
  list.entries.resize(out);
  list.sortedCount = out;
}

void MoveEntries(PathList& from, PathList& to) {
  Settle(from);
  to.entries.reserve(to.entries.size() + from.entries.size());
  for (std::string& path : from.entries)
    to.entries.push_back(std::move(path));
  from.entries.clear();
  from.sortedCount = 0;
}

bool SamePath(std::string_view current, std::string_view earlier) {
  // Where '\' is no separator it is part of a name, and "a\b" is another file than "a/b".
  if (!platform::IsPathSeparator('\\')) return ComparePaths(current, earlier) == 0;
  std::string copy(earlier);
  if (current.find('\\') != std::string_view::npos) {
    std::replace(copy.begin(), copy.end(), '/', '\\');
  } else if (current.find('/') != std::string_view::npos) {
    std::replace(copy.begin(), copy.end(), '\\', '/');
  }
  return ComparePaths(current, copy) == 0;
}

void RemoveAdjacentDuplicates(PathList& list) {
  const std::vector<std::string>& entries = Entries(list);
  std::vector<bool> keep(entries.size(), true);
  std::string_view earlier;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (SamePath(entries[i], earlier)) {
      keep[i] = false;
    } else {
      earlier = entries[i];
    }
  }
  KeepEntries(list, keep);
}

void RemoveExactMatches(PathList& list, PathList& scratch) {
  const std::vector<std::string>& entries = Entries(list);
  const std::vector<std::string>& removals = Entries(scratch);
  if (removals.empty() || entries.empty()) return;
  // Exactly equal texts are equal under the folding order too, so both sorted lists are walked side by
  // side, one run of fold-equal entries at a time. Which copy of a text goes does not show in the result,
  // but the earliest ones are taken, as a search from the head would.
  std::vector<bool> keep(entries.size(), true);
  std::vector<std::size_t> ours, theirs;
  std::size_t i = 0, j = 0;
  while (i < entries.size() && j < removals.size()) {
    const int order = ComparePaths(entries[i], removals[j]);
    if (order < 0) {
      ++i;
    } else if (order > 0) {
      ++j;
    } else {
      std::size_t iEnd = i + 1, jEnd = j + 1;
      while (iEnd < entries.size() && ComparePaths(entries[iEnd], entries[i]) == 0)
        ++iEnd;
      while (jEnd < removals.size() && ComparePaths(removals[jEnd], removals[j]) == 0)
        ++jEnd;
      if (iEnd - i == 1 && jEnd - j == 1) {
        if (entries[i] == removals[j]) keep[i] = false;
      } else {
        // Letter-case variants or repeated copies: match them up by their exact bytes.
        ours.clear();
        theirs.clear();
        for (std::size_t k = i; k < iEnd; ++k)
          ours.push_back(k);
        for (std::size_t k = j; k < jEnd; ++k)
          theirs.push_back(k);
        std::stable_sort(ours.begin(), ours.end(),
                         [&](std::size_t x, std::size_t y) { return entries[x] < entries[y]; });
        std::stable_sort(theirs.begin(), theirs.end(),
                         [&](std::size_t x, std::size_t y) { return removals[x] < removals[y]; });
        std::size_t a = 0, b = 0;
        while (a < ours.size() && b < theirs.size()) {
          const int exact = entries[ours[a]].compare(removals[theirs[b]]);
          if (exact < 0) {
            ++a;
          } else if (exact > 0) {
            ++b;
          } else {
            keep[ours[a++]] = false;
            ++b;
          }
        }
      }
      i = iEnd;
      j = jEnd;
    }
  }
  KeepEntries(list, keep);
}

}  // namespace zelvane
