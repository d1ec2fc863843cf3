// The walk on several threads gives what the walk on one gives: the same entries in the same order,
// also among entries that compare equal, over a generated tree of a few hundred directories.
#include "search/walk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "command/run_settings.h"
#include "e2e/e2e_fixture.h"
#include "filespec/filespec.h"
#include "platform/paths.h"
#include "search/collect.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// 301 directories in three levels below the root, ten files in each. Where the file system tells letter
// case apart, siblings differ only in case ("a" and "A", "main.c" and "Main.c"), so whole paths from
// different directories compare equal and only the walk's order tells them apart; elsewhere they are one
// name. Hidden directories are walked but never match; a read-only file answers /ar.
void MakeWideTree(const test::TempDir& dir) {
  const char* const top[] = {"a", "A", "b", "src", "Src", "tools"};
  const char* const middle[] = {"x", "X", "lib", "Lib", "t", "docs", "Docs"};
  const char* const bottom[] = {"k", "K", "m", "n", ".git", "o"};
  const char* const files[] = {"main.c", "Main.c",    "MAIN.C",   "util.c",    "x.h",
                               "X.H",    "notes.txt", "Makefile", ".hidden.c", "ro.c"};
  std::vector<std::string> dirs{""};
  for (const char* t : top) {
    dirs.push_back(std::string(t) + "/");
    for (const char* m : middle) {
      dirs.push_back(std::string(t) + "/" + m + "/");
      for (const char* b : bottom)
        dirs.push_back(std::string(t) + "/" + m + "/" + b + "/");
    }
  }
  for (const std::string& d : dirs) {
    for (const char* f : files)
      dir.WriteFile(d + f);
    fs::permissions(dir / (d + "ro.c"), fs::perms::owner_write, fs::perm_options::remove);
  }
#ifndef _WIN32
  fs::create_directory_symlink("..", dir / "a/x/up");
#endif
}

// The search of a Filespec and Xspec as the run makes it (kept listings when there are several specs),
// on `threads` threads.
struct Search {
  const char* filespec;
  const char* xspec;
  bool depthFirst;
  const char* searchPath;
};

Lines Found(const test::TempDir& dir, const Search& s, int threads) {
  RunSettings ctx;
  ctx.startDir = dir.path();
  ctx.recurseSubdirs = 1;
  ctx.depthFirst = s.depthFirst ? 1 : 0;
  ctx.xspec = s.xspec;
  ctx.searchPath = s.searchPath;
  ctx.searchThreads = threads;
  std::string saved;
  EXPECT_TRUE(platform::GetCurrentDir(saved));
  EXPECT_TRUE(platform::SetCurrentDir(dir.path()));
  ctx.filespec = s.filespec;
  PathList matches = FindMatches(ctx);
  std::string now;
  EXPECT_TRUE(platform::GetCurrentDir(now));
  EXPECT_EQ(now, dir.path()) << "the current directory after " << s.filespec;
  platform::SetCurrentDir(saved);
  return Entries(matches);
}

class WalkThreads : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new test::TempDir;
    MakeWideTree(*tree_);
  }
  static void TearDownTestSuite() {
    delete tree_;
    tree_ = nullptr;
  }
  static test::TempDir* tree_;
};
test::TempDir* WalkThreads::tree_ = nullptr;

TEST_F(WalkThreads, FindTheOneThreadWalksEntriesInItsOrder) {
  const Search searches[] = {
      {"*.c", "", false, ""},
      {"*.c", "", true, ""},
      {"*.c *.h /ad x", "", false, ""},
      {"*.c *.h /ad x", "", true, ""},
      {"/a-d *", "*.txt", false, ""},
      {"/ar *.c", "", true, ""},
      {"/a-h-r * /ah *", "", false, ""},
      {"MAIN.C", "", false, ""},
      {"main.c", "", true, ""},
      {"src/*.c Src/*.C a/x/*", "a/x/k/*", false, ""},
      {"/sizeeq(0) *.c *.H", "", true, ""},
      {"*.c", "", false, "a;A;src;missing;tools/t"},
      {"*", "*.c *.H Makefile", true, "b"},
      {"*", "", false, ""},
      {"*", "", true, ""},
  };
  const std::uint64_t sharedBefore = DirectoriesShared();
  for (const Search& s : searches) {
    const Lines one = Found(*tree_, s, 1);
    EXPECT_FALSE(one.empty()) << s.filespec;
    for (int threads : {2, 3, 8}) {
      EXPECT_EQ(Found(*tree_, s, threads), one)
          << s.filespec << " -x" << s.xspec << (s.depthFirst ? " -DepthFirst" : "") << " -S" << s.searchPath
          << " on " << threads << " threads";
    }
  }
  // The comparison means something only if directories really went to other threads.
  EXPECT_GT(DirectoriesShared(), sharedBefore);
}

TEST(WalkThreadsSmallTree, ReadsAFewDirectoriesWithoutOtherThreads) {
  test::TempDir dir;
  for (const char* f : {"a.c", "x/b.c", "x/y/c.c", "z/d.c", "z/e/f.c"})
    dir.WriteFile(f);
  const std::uint64_t sharedBefore = DirectoriesShared();
  EXPECT_EQ(Found(dir, {"*.c", "", false, ""}, 8),
            (Lines{dir / "a.c", dir / "x/b.c", dir / "x/y/c.c", dir / "z/d.c", dir / "z/e/f.c"}));
  EXPECT_EQ(DirectoriesShared(), sharedBefore);
}

// A comb (every level a file, a side directory and the next level) deeper than a walker holds handles,
// and a plain chain: pieces handed off deep down are walked whole, and the chain is never cut up.
TEST(WalkThreadsDeepTree, CombsAndChainsAsOnOneThread) {
  test::TempDir dir;
  std::string comb = "comb/";
  std::string chain = "chain/";
#ifdef _WIN32
  const int depth = 100;  // every Win32 call takes the whole path, so a deep tree costs its square
#else
  const int depth = 300;
#endif
  for (int level = 0; level < depth; ++level) {
    comb += "d/";
    dir.WriteFile(comb + "f.c");
    dir.WriteFile(comb + "side/g.c");
    dir.WriteFile(comb + "Side/G.c");
    chain += "c/";
  }
  dir.WriteFile(chain + "end.c");
  for (const Search& s : {Search{"*.c", "", false, ""}, Search{"*.c", "", true, ""}}) {
    const Lines one = Found(dir, s, 1);
    EXPECT_EQ(one.size(),
              static_cast<std::size_t>(depth) * (fs::exists(dir / "comb/d/side/G.c") ? 2 : 3) + 1);
    for (int threads : {2, 3, 64})
      EXPECT_EQ(Found(dir, s, threads), one) << threads << " threads";
  }
}

// The first line where two outputs differ, for a failure: thousands of lines in full would bury it.
std::string FirstDifference(const std::string& actual, const std::string& expected) {
  std::size_t line = 0;
  while (line < actual.size() && line < expected.size()) {
    const std::size_t end = expected.find('\n', line);
    if (end == std::string::npos || actual.compare(line, end + 1 - line, expected, line, end + 1 - line) != 0)
      break;
    line = end + 1;
  }
  const auto lineAt = [line](const std::string& text) {
    return line >= text.size() ? std::string("(the end)") : text.substr(line, text.find('\n', line) - line);
  };
  return "\n  first difference, printed: " + lineAt(actual) + "\n  expected: " + lineAt(expected);
}

// The program itself, on all the processors it has, prints what the one-thread search finds, and the
// qualifier's message once for every file it tests, before the commands.
TEST_F(WalkThreads, TheProgramPrintsTheOneThreadWalksList) {
  struct Row {
    std::vector<std::string> args;
    Search search;    // the same search without its qualifier
    const char* bad;  // what the qualifier's bad date prints for each file it tests (every file passes)
  };
  const Row rows[] = {
      {{"*.c *.H", "-s", "-xa/lib/*"}, {"*.c *.H", "a/lib/*", false, ""}, ""},
      {{"*", "-s", "-DepthFirst", "-x*.c"}, {"*", "*.c", true, ""}, ""},
      // An operand that is no valid time counts as the earliest one, and every file is later.
      {{"/timegt(2024-13-01) *.c", "-s"}, {"*.c", "", false, ""}, "Invalid month:  13.\n"},
      {{"/a-d main.c x.h /timegt(2024-01-32)", "-s", "-DepthFirst"},
       {"/a-d main.c x.h", "", true, ""},
       "Invalid day: 32.\n"},
  };
  for (const Row& row : rows) {
    const Lines list = Found(*tree_, row.search, 1);
    std::string expected;
    for (std::size_t i = 0; i < list.size(); ++i)
      expected += row.bad;
    for (const std::string& path : list)
      expected += std::to_string(list.size()) + " " + path + "\n";
    std::vector<std::string> args = row.args;
    for (const char* word : {"-n", "echo", "$C", "$f"})
      args.emplace_back(word);
    const test::RunResult r = test::RunZelvane(*tree_, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out == expected) << row.args[0] << FirstDifference(r.out, expected);
  }
}

}  // namespace
}  // namespace zelvane
