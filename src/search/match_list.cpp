#include "search/match_list.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/paths.h"
#include "platform/processes.h"

namespace zelvane {
namespace {

inline unsigned char FoldByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

inline int Compare(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  // Paths in one list mostly share a long beginning: equal bytes are skipped eight at a time.
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      // The bytes before the first that differs are equal: start there.
      if constexpr (std::endian::native == std::endian::little) i += std::countr_zero(x ^ y) / 8;
      break;
    }
  }
  for (; i < n; ++i) {
    if (a[i] == b[i]) continue;  // most bytes of two paths agree: skip the folding for them
    const unsigned char x = FoldByte(a[i]);
    const unsigned char y = FoldByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// What the sorts order: an entry, and eight of its bytes (folded, most significant first) from where
// the entries of the sorted range begin to differ. Most comparisons are settled by those bytes, without
// reaching into the entries' text, which is scattered over memory.
struct SortKey {
  std::uint64_t bytes;
  const std::string* entry;
};

struct KeyLess {
  bool operator()(const SortKey& a, const SortKey& b) const {
    if (a.bytes != b.bytes) return a.bytes < b.bytes;
    return Compare(*a.entry, *b.entry) < 0;
  }
};

// The bytes of `entry` from `from` on, folded, the first the most significant. Past its end come zero
// bytes, below any byte a name holds, so a shorter entry still sorts first.
std::uint64_t KeyBytes(const std::string& entry, std::size_t from) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const std::size_t at = from + i;
    key = (key << 8) | (at < entry.size() ? FoldByte(entry[at]) : 0u);
  }
  return key;
}

using Order = std::vector<SortKey>;

// Below this many entries a second thread would cost more than it saves.
constexpr std::ptrdiff_t kEntriesPerSortingThread = 16384;

// A stable sort of [first, last) on up to one thread per processor: the range is cut into runs, each run
// sorted stably on a thread of its own, and neighbouring runs merged, the left one's equal entries first.
// The result is exactly the one-thread stable sort's.
void SortStably(Order::iterator first, Order::iterator last) {
  const std::ptrdiff_t n = last - first;
  const std::ptrdiff_t processors = std::max(1, platform::ProcessorCount());
  const std::ptrdiff_t runs = std::min<std::ptrdiff_t>(processors, n / kEntriesPerSortingThread);
  if (runs <= 1) {
    std::stable_sort(first, last, KeyLess());
    return;
  }
  std::vector<Order::iterator> bounds;
  for (std::ptrdiff_t r = 0; r <= runs; ++r)
    bounds.push_back(first + n * r / runs);
  std::vector<std::thread> helpers;
  for (std::ptrdiff_t r = 1; r < runs; ++r) {
    const Order::iterator from = bounds[static_cast<std::size_t>(r)];
    const Order::iterator to = bounds[static_cast<std::size_t>(r) + 1];
    try {
      helpers.emplace_back([from, to] { std::stable_sort(from, to, KeyLess()); });
    } catch (const std::system_error&) {
      std::stable_sort(from, to, KeyLess());  // no thread to spare: sorted here, with the same result
    } catch (const std::bad_alloc&) {
      std::stable_sort(from, to, KeyLess());
    }
  }
  std::stable_sort(bounds[0], bounds[1], KeyLess());
  for (std::thread& t : helpers)
    t.join();
  // Neighbours merged pairwise, then pairs of pairs: each entry is moved once per level.
  const auto count = static_cast<std::size_t>(runs);
  for (std::size_t width = 1; width < count; width *= 2) {
    for (std::size_t r = 0; r + width < count; r += 2 * width)
      std::inplace_merge(bounds[r], bounds[r + width], bounds[std::min(r + 2 * width, count)], KeyLess());
  }
}

// Brings the appended tail into order and merges it behind the equal entries already in place. Both
// steps are stable, so equal entries keep their insertion order, as one-by-one insertion would leave them.
void Settle(PathList& list) {
  std::vector<std::string>& entries = list.entries;
  const std::size_t total = entries.size();
  if (list.sortedCount == total) return;
  // Every entry begins with the first one's first `same` bytes, so the keys are taken after them.
  std::size_t same = entries[0].size();
  for (std::size_t i = 1; i < total && same > 0; ++i) {
    const std::string& e = entries[i];
    same = static_cast<std::size_t>(
        std::mismatch(entries[0].begin(),
                      entries[0].begin() + static_cast<std::ptrdiff_t>(std::min(same, e.size())), e.begin())
            .first -
        entries[0].begin());
  }
  Order order(total);
  for (std::size_t i = 0; i < total; ++i)
    order[i] = {KeyBytes(entries[i], same), &entries[i]};
  const auto middle = order.begin() + static_cast<std::ptrdiff_t>(list.sortedCount);
  SortStably(middle, order.end());
  std::inplace_merge(order.begin(), middle, order.end(), KeyLess());
  // Each entry is moved to its place along the cycles of the order, in place; a place done is marked.
  const std::string* const base = entries.data();
  for (std::size_t start = 0; start < total; ++start) {
    if (order[start].entry == nullptr) continue;
    std::string held = std::move(entries[start]);
    std::size_t to = start;
    for (;;) {
      const auto from = static_cast<std::size_t>(order[to].entry - base);
      order[to].entry = nullptr;
      if (from == start) {
        entries[to] = std::move(held);
        break;
      }
      entries[to] = std::move(entries[from]);
      to = from;
    }
  }
  list.sortedCount = total;
}

}  // namespace

int ComparePaths(std::string_view a, std::string_view b) {
  return Compare(a, b);
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
