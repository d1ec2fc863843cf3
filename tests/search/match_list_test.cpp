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

// Letters beyond ASCII fold by the system's table, whatever the locale; bytes that are no UTF-8 stay bytes.
TEST(ComparePaths, FoldsLettersBeyondAsciiAndKeepsOtherBytes) {
  struct Row {
    const char* a;
    const char* b;
    int order;
  } rows[] = {
      {"d/\xc3\x84RGER.txt", "d/\xc3\xa4rger.txt", 0},                      // ÄRGER / ärger
      {"\xce\x91\xce\xb2\xce\xb3.txt", "\xce\xb1\xce\x92\xce\x93.TXT", 0},  // Αβγ / αΒΓ
      {"/data/long/common/part/\xc3\x84x", "/data/long/common/part/\xc3\xa4y", -1},
      {"\xc3\xa4", "z", 1},             // past every ASCII letter, as before
      {"\xe2\x84\xaa", "k", 1},         // the Kelvin sign is no ASCII k
      {"\xc4\xb1", "i", 1},             // nor is the dotless i an ASCII i
      {"\xc3\x28", "\xc3\x28", 0},      // an ill-formed sequence equals only itself
      {"\xc3\x41", "\xc3\x61", 0},      // and the ASCII letter after it still folds
      {"\xff", "\xc3\xa4", 1},          // a stray byte compares as the byte it is
      {"\xc8\xba", "\xe2\xb1\xa5", 0},  // Ⱥ and ⱥ are one letter though their UTF-8 lengths differ
      {"x\xcf", "x\xcf\x89", 1},        // a lone 0xCF, completed to ω, folds to Ω (0xCE 0xA9) below it
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ComparePaths(r.a, r.b), r.order) << r.a << " " << r.b;
    EXPECT_EQ(ComparePaths(r.b, r.a), -r.order) << r.a << " " << r.b;
  }
}

// Which file an entry is: its directory and its name, however the directory's path was spelled.
TEST(FileKey, IsTheDirectoryAndTheNameNotThePath) {
  const platform::DirIdentity d{7, 42, true};
  const platform::DirIdentity other{7, 43, true};
  EXPECT_EQ(FileKey("./keep", d), FileKey("/work/d/keep", d));
  EXPECT_EQ(FileKey("../d/keep", d), FileKey("link/keep", d));
  EXPECT_NE(FileKey("/work/d/keep", d), FileKey("/work/d/keep", other));
  EXPECT_NE(FileKey("/work/d/keep", d), FileKey("/work/d/keep2", d));
  // Two names that differ in case are one file only where the file system folds case.
  EXPECT_EQ(FileKey("d/A.txt", d) == FileKey("d/a.txt", d), platform::NamesFoldCase());
  EXPECT_EQ(FileKey("d/\xc3\x84RGER.txt", d) == FileKey("x/\xc3\xa4rger.txt", d), platform::NamesFoldCase());
  // Without a known directory only the text tells: letters folded, and both separators alike where '\'
  // separates.
  EXPECT_EQ(FileKey("C:\\x\\A.c", {}), FileKey("c:\\X\\a.C", {}));
  EXPECT_EQ(FileKey("c:/x/a.c", {}) == FileKey("c:\\x\\a.c", {}), platform::IsPathSeparator('\\'));
  EXPECT_NE(FileKey("/work/d/keep", {}), FileKey("/work/d/keep", d));
}

TEST(RemoveDuplicates, KeepsTheFirstOfEachFileHoweverItIsSpelled) {
  const platform::DirIdentity d{1, 10, true};
  const platform::DirIdentity e{1, 11, true};
  PathList list;
  InsertSorted(list, "/w/d/b.c", d);
  InsertSorted(list, "/w/link/b.c", d);  // the same directory through a link: found later, dropped
  InsertSorted(list, "/w/d/A.txt", d);
  InsertSorted(list, "/w/d/a.txt", d);  // a case twin: another file unless names fold case
  InsertSorted(list, "/w/e/b.c", e);    // the same name in another directory
  InsertSorted(list, "/w/d/b.c", d);
  RemoveDuplicates(list);
  std::vector<std::string> expected{"/w/d/A.txt", "/w/d/a.txt", "/w/d/b.c", "/w/e/b.c"};
  if (platform::NamesFoldCase()) expected.erase(expected.begin() + 1);
  EXPECT_EQ(Entries(list), expected);
  // What stays keeps its directory beside it.
  EXPECT_EQ(list.directories.size(), expected.size());
  EXPECT_EQ(list.directories.back(), e);
}

// A list holds no directories until one is known; from then on each entry keeps its own, through the sort,
// a move and a removal.
TEST(InsertSorted, DirectoriesTakeRoomOnlyOnceOneIsKnown) {
  const platform::DirIdentity d{1, 10, true};
  PathList list, other;
  InsertSorted(list, "/w/c");
  InsertSorted(list, "/w/b");
  EXPECT_TRUE(list.directories.empty());
  InsertSorted(other, "/w/a", d);
  InsertSorted(other, "/w/d");
  MoveEntries(other, list);
  KeepEntries(list, {true, true, false, true});  // /w/c goes
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"/w/a", "/w/b", "/w/d"}));
  EXPECT_EQ(DirectoryOf(list, 0), d);
  EXPECT_FALSE(DirectoryOf(list, 1).known);
  EXPECT_FALSE(DirectoryOf(list, 2).known);
}

TEST(RemoveSameFiles, EachScratchEntryRemovesTheFirstEntryOfItsFile) {
  const platform::DirIdentity d{1, 10, true};
  PathList list, scratch;
  for (const char* p : {"/w/d/a.c", "/w/d/a.c", "/w/d/A.c", "/w/d/b.c", "/w/d/keep"})
    InsertSorted(list, p, d);
  // Other spellings of the same directory; one a.c removes one copy; x.c is no file of the list.
  for (const char* p : {"./a.c", "../d/keep", "/w/d/x.c"})
    InsertSorted(scratch, p, d);
  RemoveSameFiles(list, scratch);
  // Of the two copies (and, where names fold case, the case twin) the earliest goes.
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"/w/d/a.c", "/w/d/A.c", "/w/d/b.c"}));
}

// The exclusion's rule, which -Why's account goes by too: removals of one file are used in their order,
// each once, however they interleave with other files'.
TEST(Removals, EachRemovalTakesOneEntryOfItsFileInOrder) {
  Removals rule;
  for (const char* key : {"a", "b", "a"})
    rule.Add(key);
  EXPECT_EQ(rule.Take("a"), 0u);
  EXPECT_EQ(rule.Take("x"), Removals::kNone);
  EXPECT_EQ(rule.Take("a"), 2u);
  EXPECT_EQ(rule.Take("a"), Removals::kNone);
  EXPECT_EQ(rule.Take("b"), 1u);
  FirstOfEachFile firsts(3);
  EXPECT_EQ(firsts.Add("a", 0), 0u);
  EXPECT_EQ(firsts.Add("b", 1), 1u);
  EXPECT_EQ(firsts.Add("a", 2), 0u);
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
  // Read half way: the second half, sorted on its own threads, goes behind its equals of the first.
  PathList list;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i == paths.size() / 2) {
      EXPECT_EQ(Entries(list).size(), i);
    }
    InsertSorted(list, paths[i]);
  }
  EXPECT_TRUE(Entries(list) == expected);
}

// Entries that share long beginnings, end at and around every eight-byte step, and hold letters beyond
// ASCII at any place are put in exactly the order of the comparison, equal ones in insertion order.
TEST(InsertSorted, LongSharedBeginningsSortAsTheComparisonSays) {
  const char* pieces[] = {"a",        "A",        "b",    "/",        ".",        "_",
                          "\xc3\xa9", "\xc3\x89", "\xcf", "\xcf\x89", "abcdefgh", "ABCDEFG"};
  std::uint32_t state = 4242;
  std::vector<std::string> paths;
  for (int i = 0; i < 40000; ++i) {
    std::string p = "/same/long/beginning/";
    state = state * 1103515245u + 12345u;
    const unsigned n = (state >> 16) % 9;
    for (unsigned k = 0; k < n; ++k) {
      state = state * 1103515245u + 12345u;
      p += pieces[(state >> 16) % (sizeof pieces / sizeof *pieces)];
    }
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
  RemoveSameFiles(list, scratch);
  RemoveDuplicates(list);
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
