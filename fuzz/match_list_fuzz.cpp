// The match list against a plain reference: every entry inserted at its place one at a time (the slow,
// obviously right way), duplicates and exclusions removed by a search from the head. The real list only
// appends and settles its order when read, and removes by walking sorted runs; whatever the sequence of
// operations, both must hold the same texts in the same order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "search/match_list.h"

namespace {

using zelvane::ComparePaths;
using zelvane::PathList;

// Few letters, both cases and both separators, so equal-under-folding runs and exact copies are common.
constexpr char kAlphabet[] = {'a', 'A', 'b', 'B', '/', '\\', '.', 'z', '\xc3', '\x84', '\xa4'};

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  bool done() const { return pos >= size; }
  std::uint8_t next() { return pos < size ? data[pos++] : 0; }
  std::string path() {
    const std::size_t length = next() % 6;
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
      text += kAlphabet[next() % sizeof kAlphabet];
    return text;
  }
};

// One-by-one sorted insertion: after every entry that compares equal.
void ReferenceInsert(std::vector<std::string>& list, const std::string& path) {
  std::size_t at = list.size();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (ComparePaths(path, list[i]) < 0) {
      at = i;
      break;
    }
  }
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), path);
}

// Entries here have no directory: they are the same file when their texts are, letters folded.
bool SameFile(const std::string& a, const std::string& b) {
  return zelvane::FileKey(a, {}) == zelvane::FileKey(b, {});
}

void ReferenceRemoveDuplicates(std::vector<std::string>& list) {
  std::vector<std::string> kept;
  for (const std::string& entry : list) {
    bool seen = false;
    for (const std::string& k : kept)
      seen = seen || SameFile(entry, k);
    if (!seen) kept.push_back(entry);
  }
  list = kept;
}

void ReferenceRemoveSameFiles(std::vector<std::string>& list, const std::vector<std::string>& removals) {
  for (const std::string& removal : removals) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (SameFile(list[i], removal)) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
}

void Check(PathList& real, const std::vector<std::string>& reference) {
  if (zelvane::Entries(real) != reference || zelvane::Count(real) != reference.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  PathList real, scratch;
  std::vector<std::string> reference, scratchReference;
  while (!in.done()) {
    switch (in.next() % 6) {
      case 0:
      case 1: {
        const std::string path = in.path();
        zelvane::InsertSorted(real, path);
        ReferenceInsert(reference, path);
        break;
      }
      case 2: {
        const std::string path = in.path();
        zelvane::InsertSorted(scratch, path);
        ReferenceInsert(scratchReference, path);
        break;
      }
      case 3:
        zelvane::RemoveDuplicates(real);
        ReferenceRemoveDuplicates(reference);
        break;
      case 4:
        Check(scratch, scratchReference);
        zelvane::RemoveSameFiles(real, scratch);
        ReferenceRemoveSameFiles(reference, scratchReference);
        break;
      case 5:
        // Moving appends the source's entries in its order, as inserting each in turn would.
        for (const std::string& path : zelvane::Entries(scratch))
          ReferenceInsert(reference, path);
        zelvane::MoveEntries(scratch, real);
        scratchReference.clear();
        break;
    }
    Check(real, reference);
  }
  return 0;
}
