#include "search/match_list.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "app/run_context.h"
#include "filespec/filespec.h"

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
  const std::vector<std::string>& source = Entries(from);
  to.entries.reserve(to.entries.size() + source.size());
  for (const std::string& path : source)
    to.entries.push_back(path);
  from.entries.clear();
  from.sortedCount = 0;
}

bool SamePath(std::string_view current, std::string_view earlier) {
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
  if (removals.empty()) return;
  // For each text, its first position in list order; next[i] chains the later positions of the same text.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::unordered_map<std::string_view, std::size_t> first;
  first.reserve(entries.size());
  std::vector<std::size_t> next(entries.size(), kNone);
  for (std::size_t i = entries.size(); i-- > 0;) {
    auto [it, inserted] = first.try_emplace(entries[i], i);
    if (!inserted) {
      next[i] = it->second;
      it->second = i;
    }
  }
  std::vector<bool> keep(entries.size(), true);
  for (const std::string& path : removals) {
    auto it = first.find(path);
    if (it == first.end() || it->second == kNone) continue;
    keep[it->second] = false;
    it->second = next[it->second];
  }
  first.clear();
  KeepEntries(list, keep);
}

void ExcludeMatches(RunContext& ctx) {
  PathList scratch;
  CollectMatches(ctx, ctx.xspec, scratch);
  RemoveExactMatches(ctx.MatchList, scratch);
}

}  // namespace zelvane
