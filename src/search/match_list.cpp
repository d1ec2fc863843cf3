#include "search/match_list.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/case_fold.h"
#include "platform/paths.h"
#include "platform/processes.h"

namespace zelvane {
namespace {

using platform::FoldAscii;

// The folded form of a text (see AppendFolded), a byte at a time, from a place where a character begins.
class FoldedBytes {
 public:
  FoldedBytes(std::string_view text, std::size_t from) : text_(text), at_(from) {}
  // The next byte, or -1 at the end.
  int Next() {
    if (pos_ < held_.size()) return static_cast<unsigned char>(held_[pos_++]);
    if (at_ >= text_.size()) return -1;
    const auto u = static_cast<unsigned char>(text_[at_]);
    if (u < 0x80) {
      ++at_;
      return FoldAscii(static_cast<char>(u));
    }
    const std::size_t length = platform::ReadNameChar(text_, at_).length;
    held_.clear();
    platform::AppendFolded(held_, text_.substr(at_, length));
    at_ += length;
    pos_ = 1;
    return static_cast<unsigned char>(held_[0]);
  }

 private:
  std::string_view text_;
  std::size_t at_;
  std::string held_;  // the folded bytes of the character read last
  std::size_t pos_ = 0;
};

// Moves `at` back to where a character begins: past no byte of a multi-byte character. An ASCII byte is
// a character of its own, and no character goes on past one, so what stands before it reads the same in
// every text that shares those bytes.
std::size_t CharacterStart(std::string_view text, std::size_t at) {
  while (at > 0 && static_cast<unsigned char>(text[at - 1]) >= 0x80)
    --at;
  return at;
}

int CompareFolded(std::string_view a, std::string_view b, std::size_t from) {
  FoldedBytes x(a, from), y(b, from);
  for (;;) {
    const int p = x.Next();
    const int q = y.Next();
    if (p != q) return p < q ? -1 : 1;
    if (p < 0) return 0;
  }
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
    // Letters beyond ASCII fold by the system's table, a character at a time: the rest is compared that
    // way from the character the difference stands in.
    if (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[i]) >= 0x80)
      return CompareFolded(a, b, CharacterStart(a, i));
    const unsigned char x = FoldAscii(a[i]);
    const unsigned char y = FoldAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  // A byte beyond ASCII that goes on may complete the shorter one's last character, which then folds to
  // other bytes (a lone 0xCF, but 0xCF 0x89 folds to 0xCE 0xA9): compared folded from that character.
  if (static_cast<unsigned char>((a.size() < b.size() ? b : a)[n]) >= 0x80)
    return CompareFolded(a, b, CharacterStart(a, n));
  // What remains of the longer one may fold to nothing shorter, but never to nothing at all.
  return a.size() < b.size() ? -1 : 1;
}

// What the sorts order: an entry, and eight of its bytes (folded, most significant first) from where
// the entries of the sorted range begin to differ. Most comparisons are settled by those bytes, without
// reaching into the entries' text, which is scattered over memory.
//
// Entries that compare equal are told apart by their place in the list, so no two keys are equivalent:
// a sort that is not stable gives exactly the stable order, and needs no buffer beside the keys. Held in
// 12 bytes (a list of four thousand million entries would need far more memory than a run has).
struct SortKey {
  std::uint32_t high;  // the eight bytes, most significant half first
  std::uint32_t low;
  std::uint32_t index;  // the entry's place in the list
};
static_assert(sizeof(SortKey) == 12);

constexpr std::uint32_t kPlaced = UINT32_MAX;  // an index no entry has: the entry is in its place

struct KeyLess {
  const std::string* entries;
  bool operator()(const SortKey& a, const SortKey& b) const {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    const int order = Compare(entries[a.index], entries[b.index]);
    return order != 0 ? order < 0 : a.index < b.index;
  }
};

// The first eight bytes of the folded form of `entry` from `from` on (where a character begins), the first
// the most significant. Past its end come zero bytes, below any byte a name holds, so a shorter entry
// still sorts first.
std::uint64_t KeyBytes(const std::string& entry, std::size_t from) {
  std::uint64_t key = 0;
  if (from + 8 <= entry.size()) {
    std::uint64_t raw;
    std::memcpy(&raw, entry.data() + from, 8);
    if ((raw & 0x8080808080808080u) == 0) {
      for (std::size_t i = 0; i < 8; ++i)
        key = (key << 8) | FoldAscii(entry[from + i]);
      return key;
    }
  }
  FoldedBytes folded(entry, from);
  for (std::size_t i = 0; i < 8; ++i) {
    const int byte = folded.Next();
    key = (key << 8) | static_cast<std::uint64_t>(byte < 0 ? 0 : byte);
  }
  return key;
}

using Order = std::vector<SortKey>;

// Sorts [first, last) into KeyLess's order, reading as little of the entries' text as it can: by the keys
// and places alone first, then each run of equal keys by the entries' next eight bytes, and so on, while
// the bytes a run's keys were taken from are ASCII (so the folded form and the text keep step). A run
// whose bytes are not is sorted by the whole comparison. Entries that share a directory share their keys
// for a long way, and reading each one's text once a step is far cheaper than comparing pairs of them.
// `from` is where the keys were taken; every key is as it was when the sort returns.
void SortByKeys(Order::iterator first, Order::iterator last, const std::string* entries, std::size_t from) {
  const auto byKeyAndPlace = [](const SortKey& a, const SortKey& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return a.index < b.index;
  };
  struct Run {
    Order::iterator first;
    Order::iterator last;
    std::size_t from;  // where this run's keys were taken
  };
  struct Held {
    Order::iterator first;
    Order::iterator last;
    SortKey key;
  };
  std::sort(first, last, byKeyAndPlace);
  std::vector<Run> pending{{first, last, from}};
  std::vector<Held> restore;
  while (!pending.empty()) {
    const Run run = pending.back();
    pending.pop_back();
    for (auto begin = run.first; begin != run.last;) {
      auto end = begin + 1;
      while (end != run.last && end->high == begin->high && end->low == begin->low)
        ++end;
      const auto at = begin;
      begin = end;
      if (end - at < 2) continue;
      // Equal keys of ASCII bytes are equal text so far: the order goes on from the next eight bytes, or,
      // for entries that end within these, is their place (they are the same text).
      bool ascii = true;
      bool anyLonger = false;
      for (auto k = at; k != end && ascii; ++k) {
        const std::string& e = entries[k->index];
        const std::size_t stop = std::min(e.size(), run.from + 8);
        for (std::size_t i = run.from; i < stop && ascii; ++i)
          ascii = static_cast<unsigned char>(e[i]) < 0x80;
        anyLonger = anyLonger || e.size() > run.from + 8;
      }
      if (!ascii) {
        std::sort(at, end, KeyLess{entries});
        continue;
      }
      // Every one ends within these bytes: with equal keys they are the same text, in place order.
      if (!anyLonger) continue;
      const SortKey held = *at;
      for (auto k = at; k != end; ++k) {
        const std::uint64_t key = KeyBytes(entries[k->index], run.from + 8);
        k->high = static_cast<std::uint32_t>(key >> 32);
        k->low = static_cast<std::uint32_t>(key);
      }
      std::sort(at, end, byKeyAndPlace);
      pending.push_back({at, end, run.from + 8});
      // The run's own keys are put back once it is in order: the sort's merges compare by them.
      restore.push_back({at, end, held});
    }
  }
  // The innermost runs last held first: each outer run then puts back its own keys over them.
  for (std::size_t r = restore.size(); r-- > 0;) {
    for (auto k = restore[r].first; k != restore[r].last; ++k) {
      k->high = restore[r].key.high;
      k->low = restore[r].key.low;
    }
  }
}

// Below this many entries a second thread would cost more than it saves.
constexpr std::ptrdiff_t kEntriesPerSortingThread = 16384;

// Sorts [first, last) on up to one thread per processor: the range is cut into runs, each run sorted on a
// thread of its own, and neighbouring runs merged. No two keys are equivalent, so the result is exactly the
// one-thread sort's. The keys were taken at `from`.
void SortKeys(Order::iterator first, Order::iterator last, KeyLess less, std::size_t from) {
  const std::ptrdiff_t n = last - first;
  const std::ptrdiff_t processors = std::max(1, platform::ProcessorCount());
  const std::ptrdiff_t runs = std::min<std::ptrdiff_t>(processors, n / kEntriesPerSortingThread);
  if (runs <= 1) {
    SortByKeys(first, last, less.entries, from);
    return;
  }
  std::vector<Order::iterator> bounds;
  for (std::ptrdiff_t r = 0; r <= runs; ++r)
    bounds.push_back(first + n * r / runs);
  std::vector<std::thread> helpers;
  for (std::ptrdiff_t r = 1; r < runs; ++r) {
    const Order::iterator start = bounds[static_cast<std::size_t>(r)];
    const Order::iterator end = bounds[static_cast<std::size_t>(r) + 1];
    try {
      helpers.emplace_back([start, end, less, from] { SortByKeys(start, end, less.entries, from); });
    } catch (const std::system_error&) {
      SortByKeys(start, end, less.entries, from);  // no thread to spare: sorted here, with the same result
    } catch (const std::bad_alloc&) {
      SortByKeys(start, end, less.entries, from);
    }
  }
  SortByKeys(bounds[0], bounds[1], less.entries, from);
  for (std::thread& t : helpers)
    t.join();
  // Neighbours merged pairwise, then pairs of pairs: each entry is moved once per level.
  const auto count = static_cast<std::size_t>(runs);
  for (std::size_t width = 1; width < count; width *= 2) {
    for (std::size_t r = 0; r + width < count; r += 2 * width)
      std::inplace_merge(bounds[r], bounds[r + width], bounds[std::min(r + 2 * width, count)], less);
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
  same = CharacterStart(entries[0], same);
  Order order(total);
  for (std::size_t i = 0; i < total; ++i) {
    const std::uint64_t key = KeyBytes(entries[i], same);
    order[i] = {static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key),
                static_cast<std::uint32_t>(i)};
  }
  const KeyLess less{entries.data()};
  const auto middle = order.begin() + static_cast<std::ptrdiff_t>(list.sortedCount);
  SortKeys(middle, order.end(), less, same);
  std::inplace_merge(order.begin(), middle, order.end(), less);
  // Each entry is moved to its place along the cycles of the order, in place; a place done is marked.
  std::vector<platform::DirIdentity>& directories = list.directories;
  const bool withDirectories = !directories.empty();
  for (std::size_t start = 0; start < total; ++start) {
    if (order[start].index == kPlaced) continue;
    std::string held = std::move(entries[start]);
    const platform::DirIdentity heldDirectory =
        withDirectories ? directories[start] : platform::DirIdentity{};
    std::size_t to = start;
    for (;;) {
      const std::size_t from = order[to].index;
      order[to].index = kPlaced;
      if (from == start) {
        entries[to] = std::move(held);
        if (withDirectories) directories[to] = heldDirectory;
        break;
      }
      entries[to] = std::move(entries[from]);
      if (withDirectories) directories[to] = directories[from];
      to = from;
    }
  }
  list.sortedCount = total;
}

}  // namespace

int ComparePaths(std::string_view a, std::string_view b) {
  return Compare(a, b);
}

void InsertSorted(PathList& list, std::string path, platform::DirIdentity directory) {
  list.entries.push_back(std::move(path));
  // Unknown directories take no room until one is known.
  if (!list.directories.empty()) {
    list.directories.push_back(directory);
  } else if (directory.known) {
    list.directories.resize(list.entries.size());
    list.directories.back() = directory;
  }
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
    if (out != i) {
      list.entries[out] = std::move(list.entries[i]);
      if (!list.directories.empty()) list.directories[out] = list.directories[i];
    }
    ++out;
  }
  list.entries.resize(out);
  if (!list.directories.empty()) list.directories.resize(out);
  list.sortedCount = out;
}

void MoveEntries(PathList& from, PathList& to) {
  Settle(from);
  to.entries.reserve(to.entries.size() + from.entries.size());
  for (std::string& path : from.entries)
    to.entries.push_back(std::move(path));
  if (!from.directories.empty() || !to.directories.empty()) {
    to.directories.resize(to.entries.size() - from.entries.size());
    if (from.directories.empty()) {
      to.directories.resize(to.entries.size());
    } else {
      to.directories.insert(to.directories.end(), from.directories.begin(), from.directories.end());
    }
  }
  from.entries.clear();
  from.directories.clear();
  from.sortedCount = 0;
}

std::string FileKey(std::string_view path, const platform::DirIdentity& directory) {
  if (!directory.known) {
    // Only the text to go by: letters folded, and where '\' separates, either separator taken as the other.
    std::string key(1, 't');
    platform::AppendFolded(key, path);
    if (platform::IsPathSeparator('\\')) std::replace(key.begin(), key.end(), '\\', '/');
    return key;
  }
  static const platform::SeparatorRule isSeparator;
  std::size_t name = path.size();
  while (name > 0 && !isSeparator(path[name - 1]))
    --name;
  char identity[1 + 2 * sizeof(std::uint64_t)] = {'d'};
  std::memcpy(identity + 1, &directory.volume, sizeof directory.volume);
  std::memcpy(identity + 1 + sizeof directory.volume, &directory.index, sizeof directory.index);
  std::string key(identity, sizeof identity);
  if (platform::NamesFoldCase()) {
    platform::AppendFolded(key, path.substr(name));
  } else {
    key.append(path.substr(name));
  }
  return key;
}

void Removals::Add(std::string key) {
  const std::size_t j = next_.size();
  next_.push_back(kNone);
  const auto [chain, added] = chains_.try_emplace(std::move(key), Chain{j, j});
  if (added) return;
  if (chain->second.head == kNone) {
    chain->second.head = j;
  } else {
    next_[chain->second.tail] = j;
  }
  chain->second.tail = j;
}

std::size_t Removals::Take(const std::string& key) {
  const auto found = chains_.find(key);
  if (found == chains_.end() || found->second.head == kNone) return kNone;
  const std::size_t j = found->second.head;
  found->second.head = next_[j];
  return j;
}

void RemoveDuplicates(PathList& list) {
  const std::vector<std::string>& entries = Entries(list);
  std::vector<bool> keep(entries.size(), true);
  FirstOfEachFile rule(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    keep[i] = rule.Add(FileKey(entries[i], DirectoryOf(list, i)), i) == i;
  KeepEntries(list, keep);
}

void RemoveSameFiles(PathList& list, PathList& scratch) {
  const std::vector<std::string>& removals = Entries(scratch);
  if (removals.empty() || Count(list) == 0) return;
  Removals rule;
  for (std::size_t j = 0; j < removals.size(); ++j)
    rule.Add(FileKey(removals[j], DirectoryOf(scratch, j)));
  const std::vector<std::string>& entries = Entries(list);
  std::vector<bool> keep(entries.size(), true);
  for (std::size_t i = 0; i < entries.size(); ++i)
    keep[i] = rule.Take(FileKey(entries[i], DirectoryOf(list, i))) == Removals::kNone;
  KeepEntries(list, keep);
}

}  // namespace zelvane
