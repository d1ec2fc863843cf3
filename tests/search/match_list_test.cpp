#include "search/match_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace zelvane {
namespace {

std::vector<std::string> Insert(const std::vector<std::string>& paths) {
  PathList list;
  for (const std::string& p : paths)
    InsertSorted(list, p);
  return Entries(list);
}

TEST(ComparePaths, FoldsLettersAndComparesOtherBytesUnsigned) {
  EXPECT_EQ(ComparePaths("a.c", "A.C"), 0);
  EXPECT_EQ(ComparePaths("a", "ab"), -1);
  EXPECT_EQ(ComparePaths("ab", "a"), 1);
  // '.' < '\' < '_' < letters, and bytes above 0x7F after everything ASCII.
  EXPECT_EQ(ComparePaths("a.c", "a\\x"), -1);
  EXPECT_EQ(ComparePaths("a\\x", "a_x"), -1);
  EXPECT_EQ(ComparePaths("a_x", "aax"), -1);
  EXPECT_EQ(ComparePaths("z", "\xe9"), -1);
  // Folding maps upper onto lower, so '[' (0x5B) sorts before 'a' but after 'Z' unfolded would not.
  EXPECT_EQ(ComparePaths("[", "A"), -1);
  // Past a long equal beginning, and with letters that differ only in case before the first difference.
  EXPECT_EQ(ComparePaths("/data/dirA/x", "/data/dira/y"), -1);
  EXPECT_EQ(ComparePaths("/data/DIRECTORY/file.C", "/data/directory/FILE.c"), 0);
  EXPECT_EQ(ComparePaths("/data/directory/abc", "/data/directory/ab"), 1);
  EXPECT_EQ(ComparePaths("/data/directory/a\xe9", "/data/directory/aZ"), 1);
}

TEST(InsertSorted, OrdersCaseInsensitivelyAndKeepsEqualEntriesInInsertionOrder) {
  EXPECT_EQ(Insert({"B.c", "a.c"}), (std::vector<std::string>{"a.c", "B.c"}));
  EXPECT_EQ(Insert({"x\\A.C", "x\\b.c", "x\\a.c"}), (std::vector<std::string>{"x\\A.C", "x\\a.c", "x\\b.c"}));
  // A file of a directory, then the entries of its namesake subdirectory, then the longer names.
  EXPECT_EQ(Insert({"d\\ab.c", "d\\a\\z.c", "d\\a.c"}),
            (std::vector<std::string>{"d\\a.c", "d\\a\\z.c", "d\\ab.c"}));
}

TEST(InsertSorted, LaterInsertionsGoBehindEqualEntriesAlreadyRead) {
  PathList list;
  InsertSorted(list, "b");
  InsertSorted(list, "A");
  ASSERT_EQ(Entries(list), (std::vector<std::string>{"A", "b"}));
  InsertSorted(list, "a");
  InsertSorted(list, "B");
  InsertSorted(list, "0");
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"0", "A", "a", "b", "B"}));
  EXPECT_EQ(Count(list), 5u);
}

TEST(SamePath, FoldsCaseAndMakesTheEarlierSeparatorsLikeTheCurrentOnes) {
  EXPECT_TRUE(SamePath("C:\\x\\A.c", "c:\\X\\a.C"));
  // Where '\' is a separator both spellings name one file; elsewhere "x\a.c" is a name of its own.
  const bool backslashSeparates = platform::IsPathSeparator('\\');
  EXPECT_EQ(SamePath("c:/x/a.c", "c:\\x\\a.c"), backslashSeparates);
  EXPECT_EQ(SamePath("c:\\x\\a.c", "c:/x/a.c"), backslashSeparates);
  // Only the earlier copy is converted, and only when the current one holds a separator.
  EXPECT_FALSE(SamePath("a.c", "x\\a.c"));
  EXPECT_FALSE(SamePath("c:\\x\\a.c", ""));
}

TEST(RemoveAdjacentDuplicates, KeepsTheFirstOfEachRunOfSamePaths) {
  PathList list;
  for (const char* p : {"c:\\d\\a.c", "C:\\D\\A.C", "c:/d/a.c", "c:\\d\\b.c", "c:\\d\\b.c"})
    InsertSorted(list, p);
  RemoveAdjacentDuplicates(list);
  // '/' sorts before '\', so the slashed spelling leads the run and is the one kept.
  if (platform::IsPathSeparator('\\')) {
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"c:/d/a.c", "c:\\d\\b.c"}));
  } else {
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"c:/d/a.c", "c:\\d\\a.c", "c:\\d\\b.c"}));
  }
}

TEST(RemoveAdjacentDuplicates, ComparesOnlyWithTheEntryKeptBefore) {
  PathList list;
  // "/x/a" and "\x\a" are equal to "/x/a"'s eyes only when they stand next to each other.
  for (const char* p : {"/x/a", "/x/b", "/x/a"})
    InsertSorted(list, p);
  RemoveAdjacentDuplicates(list);
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"/x/a", "/x/b"}));
}

TEST(RemoveExactMatches, EachScratchEntryRemovesTheFirstExactlyEqualEntry) {
  PathList list, scratch;
  for (const char* p : {"d/a.c", "d/a.c", "d/A.c", "d/b.c"})
    InsertSorted(list, p);
  for (const char* p : {"d/a.c", "D/B.C", "d/x.c"})
    InsertSorted(scratch, p);
  RemoveExactMatches(list, scratch);
  // One copy of d/a.c stays; case matters, so D/B.C removes nothing.
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"d/a.c", "d/A.c", "d/b.c"}));
}

TEST(RemoveExactMatches, RemovesTheEarliestOfEqualButDifferentlyCasedNeighbours) {
  PathList list, scratch;
  for (const char* p : {"a", "A", "a"})
    InsertSorted(list, p);
  InsertSorted(scratch, "a");
  InsertSorted(scratch, "a");
  RemoveExactMatches(list, scratch);
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"A"}));
}

// Large lists are sorted in runs on several threads; equal entries still keep their insertion order.
TEST(InsertSorted, LargeListsKeepEqualEntriesInInsertionOrder) {
  std::vector<std::string> paths;
  std::uint32_t state = 777;
  for (int i = 0; i < 100000; ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned r = (state >> 8) % 5000;
    // Every path has letter-case twins: which one stands first is only the insertion order's to say.
    std::string p = "/data/d" + std::to_string(r % 50) + "/f" + std::to_string(r) + ".c";
    for (char& c : p)
      if ((state >> (c % 16)) & 1) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    paths.push_back(p);
  }
  std::vector<std::string> expected = paths;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) { return ComparePaths(a, b) < 0; });
  EXPECT_TRUE(Insert(paths) == expected);
}

TEST(MatchListScale, TwoHundredThousandEntriesInsertAndExcludeQuickly) {
  constexpr int kCount = 200000;
  std::vector<std::string> paths;
  paths.reserve(kCount);
  // A deterministic shuffle over directories and names, with letter-case variants.
  std::uint32_t state = 12345;
  for (int i = 0; i < kCount; ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned r = (state >> 8) % kCount;
    paths.push_back("/data/dir" + std::to_string(r % 1000) + ((r & 1) ? "/File" : "/file") +
                    std::to_string(r) + ".c");
  }
  // The bound catches a list that does work per entry in proportion to its length: that takes far longer
  // here, the real one a fraction of a second. It is loose on purpose: std::clock is processor time on POSIX
  // but wall time on Win32, and CI machines are busy.
  const std::clock_t start = std::clock();
  PathList list, scratch;
  for (const std::string& p : paths)
    InsertSorted(list, p);
  for (int i = 0; i < kCount; i += 2)
    InsertSorted(scratch, paths[static_cast<std::size_t>(i)]);
  RemoveExactMatches(list, scratch);
  RemoveAdjacentDuplicates(list);
  const std::vector<std::string>& entries = Entries(list);
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#ifndef ZELVANE_SANITIZED
  EXPECT_LT(seconds, 10.0);
#else
  // Instrumented code runs several times slower.
  EXPECT_LT(seconds, 60.0);
#endif
  for (std::size_t i = 1; i < entries.size(); ++i)
    ASSERT_LE(ComparePaths(entries[i - 1], entries[i]), 0);
  EXPECT_LE(entries.size(), static_cast<std::size_t>(kCount / 2));
}

}  // namespace
}  // namespace zelvane
