#include "search/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "checksum/checksum.h"
#include "command/run_settings.h"
#include "filespec/filespec.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "search/collect.h"
#include "search/walk.h"
#include "support/temp_dir.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

#ifndef _WIN32  // stored forms with the POSIX separator
TEST(SearchPaths, MakeFullPath) {
  EXPECT_EQ(MakeFullPath(DrivePrefix("/tmp"), "/tmp", "a.c"), "/tmp/a.c");
  EXPECT_EQ(MakeFullPath(DrivePrefix("/tmp/"), "/tmp/", "a.c"), "/tmp/a.c");
  EXPECT_EQ(MakeFullPath(DrivePrefix("/"), "/", "a.c"), "/a.c");
  EXPECT_EQ(MakeFullPath(DrivePrefix(""), "", "a.c"), "a.c");
  // A directory whose name ends in '\' is no path that ends in a separator: the name stays whole.
  EXPECT_EQ(MakeFullPath(DrivePrefix("/w/sub\\"), "/w/sub\\", "a.c"), "/w/sub\\/a.c");
}
#endif

TEST(SearchPaths, FixedAndRelativeWithoutDriveLetters) {
  if (platform::HasDriveLetters()) GTEST_SKIP() << "rules for paths without drive letters";
  struct Row {
    const char* text;
    bool fixed;
    bool relativeDir;
  };
  const Row rows[] = {
      {"/a/b.c", true, false},   {"\\a\\b.c", true, false}, {"/a/*.c", false, false},
      {"/a/b?.c", false, false}, {"a/b.c", false, true},    {"C:\\x", false, true},
      {"c:x", false, true},      {"", false, true},         {"\"/a/b\"", false, true},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(IsFixedPath(r.text), r.fixed) << r.text;
    EXPECT_EQ(IsRelativeDir(r.text), r.relativeDir) << r.text;
  }
}

TEST(SearchPaths, SplitSpec) {
  struct Row {
    const char* spec;
    const char* directory;
    const char* pattern;
  };
  const Row rows[] = {
      {"*.c", "", "*.c"}, {"a/b\\c.d", "a/b\\", "c.d"}, {"/x/", "/x/", ""}, {"../*.c", "../", "*.c"},
      {"/", "/", ""},     {"a.b/c", "a.b/", "c"},
  };
  for (const Row& r : rows) {
    const SpecParts parts = SplitSpec(r.spec);
    EXPECT_EQ(parts.drive, "") << r.spec;
    EXPECT_EQ(parts.directory, r.directory) << r.spec;
    EXPECT_EQ(parts.pattern, r.pattern) << r.spec;
  }
  if (!platform::HasDriveLetters()) {
    EXPECT_EQ(SplitSpec("c:*.c").pattern, "c:*.c");
  }
}

// A tree is kept whole when its listing and those of every subdirectory a walk would enter are kept; a
// link, a dot name or a file needs none.
TEST(ListingCacheTest, MarkKeptTrees) {
  const auto entry = [](const char* name, bool directory, bool link = false) {
    platform::DirEntry e;
    e.name = name;
    e.isDirectory = directory;
    e.isLink = link;
    return e;
  };
  struct Row {
    bool subListed;
    bool subWithAttributes;
    bool rootWithAttributes;
    bool kept;
    bool keptWithAttributes;
  };
  const Row rows[] = {
      {true, true, true, true, true},
      {true, false, true, true, false},
      {true, true, false, true, false},
      {false, false, true, false, false},
  };
  for (const Row& r : rows) {
    ListingCache cache;
    ListingCache::Node& root = cache.Root("/w");
    root.entries = {entry("sub", true), entry("up", true, true), entry(".git", true), entry("a.c", false)};
    root.listed = true;
    root.withAttributes = r.rootWithAttributes;
    ListingCache::Node& sub = ListingCache::Child(root, "sub");
    sub.entries = {entry("b.c", false)};
    sub.listed = r.subListed;
    sub.withAttributes = r.subWithAttributes;
    ListingCache::MarkKeptTrees(root);
    EXPECT_EQ(root.treeKept, r.kept);
    EXPECT_EQ(root.treeKeptWithAttributes, r.keptWithAttributes);
    EXPECT_EQ(sub.treeKept, r.subListed);
    EXPECT_EQ(ListingCache::FindChild(root, "up"), nullptr);
  }
}

// A tree to search, made current for the test and left again afterwards.
#ifndef _WIN32  // trees with symbolic links and POSIX permissions
class SearchTree : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::GetCurrentDir(saved_));
    for (const char* f :
         {"a.c", "B.c", "ab.c", "x.h", ".dot.c", "a/x.c", "a/b/y.C", "sub/q.c", ".hid/z.c", "sub/deep/r.c"})
      dir_.WriteFile(f);
    fs::create_directory_symlink("..", dir_ / "a/loop");
    ASSERT_TRUE(platform::SetCurrentDir(dir_.path()));
    ctx_.startDir = dir_.path();
  }
  void TearDown() override { platform::SetCurrentDir(saved_); }

  Lines Search(const std::string& spec, int recurse, std::uint32_t required = 0, std::uint32_t excluded = 0) {
    PathList list;
    SearchSpec(ctx_, spec, required, excluded, recurse, list);
    std::string now;
    platform::GetCurrentDir(now);
    EXPECT_EQ(now, dir_.path()) << "current directory after " << spec;
    return Entries(list);
  }
  std::string P(const std::string& relative) const { return dir_ / relative; }

  test::TempDir dir_;
  RunSettings ctx_;
  std::string saved_;
};

TEST_F(SearchTree, StoredFormsFollowHowTheSpecWasTyped) {
  EXPECT_EQ(Search("*.c", 0), (Lines{P("a.c"), P("ab.c"), P("B.c")}));
  EXPECT_EQ(Search("sub/*.c", 0), (Lines{P("sub/q.c")}));
  EXPECT_EQ(Search(P("sub") + "/*.c", 0), (Lines{P("sub/q.c")}));
  EXPECT_EQ(Search(dir_.path() + "//sub/./*.c", 0), (Lines{dir_.path() + "//sub/./q.c"}));
  EXPECT_EQ(Search("sub/../*.h", 0), (Lines{P("sub/../x.h")}));
  // Below the entry's directory too: the typed path and the names walked, never the resolved directory,
  // also through a symbolic link (a/loop is ..).
  EXPECT_EQ(Search("sub/../sub/*.c", 1), (Lines{P("sub/../sub/deep/r.c"), P("sub/../sub/q.c")}));
  EXPECT_EQ(Search("a/loop/sub/*.c", 1), (Lines{P("a/loop/sub/deep/r.c"), P("a/loop/sub/q.c")}));
  EXPECT_EQ(Search("\"*.h\"", 0), (Lines{P("x.h")}));
  // A literal name is found in any letter case, and stored as the directory holds it.
  EXPECT_EQ(Search("A.C", 0), (Lines{P("a.c")}));
}

TEST_F(SearchTree, SpecsThatYieldNothing) {
  for (const char* spec : {"", "sub/", "missing/*.c", "s*/*.c", "a.c/*.c"}) {
    EXPECT_EQ(Search(spec, 0), Lines{}) << spec;
    EXPECT_EQ(Search(spec, 1), Lines{}) << spec;
  }
}

TEST_F(SearchTree, RecursionSortsAllDepthsSkipsDotNamesAndLinks) {
  const Lines all{P("a.c"), P("a/b/y.C"), P("a/x.c"), P("ab.c"), P("B.c"), P("sub/deep/r.c"), P("sub/q.c")};
  EXPECT_EQ(Search("*.c", 1), all);
  ctx_.depthFirst = 1;
  EXPECT_EQ(Search("*.c", 1), all);
  EXPECT_EQ(Search("sub/*.c", 1), (Lines{P("sub/deep/r.c"), P("sub/q.c")}));
  // The link to ".." matches, but is not walked into (which would never end).
  EXPECT_EQ(Search("loop", 1), (Lines{P("a/loop")}));
}

TEST_F(SearchTree, AttributeMasks) {
  fs::permissions(dir_ / "B.c", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(Search("*.*", 0, 0x10), (Lines{P("a"), P("sub")}));
  EXPECT_EQ(Search("*", 0, 0, 0x10), (Lines{P("a.c"), P("ab.c"), P("B.c"), P("x.h")}));
  EXPECT_EQ(Search("*.c", 0, 0x01), (Lines{P("B.c")}));
  EXPECT_EQ(Search("*.c", 0, 0x20, 0x01), (Lines{P("a.c"), P("ab.c")}));
  // A link counts as what it points to; walking below masked-out directories goes on.
  EXPECT_EQ(Search("*", 1, 0x10), (Lines{P("a"), P("a/b"), P("a/loop"), P("sub"), P("sub/deep")}));
  EXPECT_EQ(Search("*.c", 1, 0, 0x02), Search("*.c", 1));
}

TEST_F(SearchTree, SearchPathEntriesAreEachSearchedAndMissingOnesSkipped) {
  ctx_.searchPath = "sub;;a;missing;" + P("sub");
  EXPECT_EQ(Search("*.c", 0), (Lines{P("a/x.c"), P("sub/q.c"), P("sub/q.c")}));
  EXPECT_EQ(Search("*.c", 1), (Lines{P("a/b/y.C"), P("a/x.c"), P("sub/deep/r.c"), P("sub/deep/r.c"),
                                     P("sub/q.c"), P("sub/q.c")}));
  // A fixed spec is searched once; one with a directory part, once per entry, from each entry.
  EXPECT_EQ(Search(P("a.c"), 0), (Lines{P("a.c")}));
  EXPECT_EQ(Search("deep/*.c", 0), (Lines{P("sub/deep/r.c"), P("sub/deep/r.c")}));
}

TEST_F(SearchTree, CollectMatchesRemovesDuplicatesOnlyWithoutRecursion) {
  PathList list;
  CollectMatches(ctx_, "*.c *.C /ad a", list);
  EXPECT_EQ(Entries(list), (Lines{P("a"), P("a.c"), P("ab.c"), P("B.c")}));
  ctx_.recurseSubdirs = 1;
  PathList twice;
  CollectMatches(ctx_, "sub/*.c 'sub/*.C'", twice);
  EXPECT_EQ(Entries(twice), (Lines{P("sub/deep/r.c"), P("sub/deep/r.c"), P("sub/q.c"), P("sub/q.c")}));
}

// Several specs read each directory once; what they find is what each finds on its own, whatever the
// order of specs that want attributes and specs that do not, and however their directories are typed.
TEST_F(SearchTree, KeptListingsChangeNoResult) {
  fs::permissions(dir_ / "B.c", fs::perms::owner_write, fs::perm_options::remove);
  ctx_.recurseSubdirs = 1;
  for (const char* spec : {"*.c /ar *.c *.C", "/ar *.c *.c", "sub/*.c *.c a/loop/sub/*.c /ad *",
                           "*.c sub/*.c sub/../sub/*.c", "/a-d * a/loop/a/*"}) {
    PathList plain;
    CollectMatches(ctx_, spec, plain);
    PathList kept;
    ListingCache listings;
    CollectMatches(ctx_, spec, kept, &listings);
    EXPECT_EQ(Entries(kept), Entries(plain)) << spec;
    EXPECT_FALSE(Entries(kept).empty()) << spec;
  }
}

// Paths far beyond any fixed buffer, and deeper than the OS accepts as one path.
TEST_F(SearchTree, LongNamesAndDeepTrees) {
  const std::string name(200, 'n');
  const int depth = 30;
  for (int i = 0; i < depth; ++i) {
    fs::create_directory(name);
    ASSERT_TRUE(platform::SetCurrentDir(name));
  }
  std::ofstream("bottom.c") << "hello";
  for (int i = 0; i < depth; ++i)
    platform::SetCurrentDir("..");
  std::string typed;
  for (int i = 0; i < depth; ++i)
    typed += name + "/";
  const std::string expected = P(typed + "bottom.c");
  const Lines found = Search("bot*.c", 1);
  EXPECT_EQ(found, Lines{expected});
  EXPECT_EQ(Search(name + "/" + name + "/*", 0), (Lines{P(name + "/" + name + "/" + name)}));
  // A directory typed longer than the system takes in one call, and the found file's own size and contents.
  EXPECT_EQ(Search(typed + "*.c", 0), Lines{expected});
  platform::FindData data;
  EXPECT_TRUE(platform::GetEntryData(expected, data));
  EXPECT_EQ(data.size, 5u);
  std::uint32_t crc = 0;
  EXPECT_EQ(ComputeChecksum(expected, false, crc), 0);
  EXPECT_EQ(crc, 0x3610A686u);
  // Remove it from the bottom up, by relative names.
  for (int i = 0; i < depth; ++i)
    platform::SetCurrentDir(name);
  fs::remove("bottom.c");
  for (int i = 0; i < depth; ++i) {
    platform::SetCurrentDir("..");
    fs::remove(name);
  }
}
TEST_F(SearchTree, TreesDeeperThanTheHeldDirectoriesAreWalkedWhole) {
  // Below a certain depth the walk lets go of its parents and finds them again by ".."; the siblings
  // after a deep branch must still be searched.
  std::string path;
  Lines expected;
  for (int level = 0; level < 300; ++level) {
    path += "d/";
    dir_.WriteFile(path + "deepf.c");
    dir_.WriteFile(path + "e/deepg.c");
    expected.push_back(P(path + "deepf.c"));
    expected.push_back(P(path + "e/deepg.c"));
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) { return ComparePaths(a, b) < 0; });
  EXPECT_EQ(Search("deep*.c", 1), expected);
}
#endif

}  // namespace
}  // namespace zelvane
