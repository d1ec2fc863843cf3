// The search as the user sees it: which paths the Command is run for, and in which order.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "command/run_log.h"
#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {

namespace fs = std::filesystem;

RunOptions In(const std::string& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return options;
}

class SearchE2e : public ::testing::Test {
 protected:
  // Runs zelvane with `args` followed by "-n echo $f" and returns what it printed.
  std::string Paths(std::vector<std::string> args, const RunOptions& options = {}) {
    for (const char* word : {"-n", "echo", "$f"})
      args.push_back(word);
    const RunResult r = RunZelvane(dir_, args, options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return r.out;
  }
  std::string Lines(const std::vector<std::string>& relative) const { return PathLines(dir_, relative); }

  TempDir dir_;
};

TEST_F(SearchE2e, RecursiveMatchesStandInOneCaseInsensitiveOrder) {
  for (const char* f : {"b.c", "A.c", "a/z.C", "a/B/m.c", "ab.c", "_u.c", "x.h", ".hidden.c", ".git/k.c"})
    dir_.WriteFile(f);
  // Whole paths compare byte-wise with letters folded: '_' before letters, '.' before '/'.
  EXPECT_EQ(Paths({"*.c", "-s"}), Lines({"_u.c", "A.c", "a/B/m.c", "a/z.C", "ab.c", "b.c"}));
  EXPECT_EQ(Paths({"*.c", "-s", "-DepthFirst"}), Lines({"_u.c", "A.c", "a/B/m.c", "a/z.C", "ab.c", "b.c"}));
}

TEST_F(SearchE2e, SameFilesTwiceStayTwiceOnlyWithRecursion) {
  dir_.WriteFile("a.c");
  dir_.WriteFile("b.C");
  EXPECT_EQ(Paths({"*.c *.C"}), Lines({"a.c", "b.C"}));
  EXPECT_EQ(Paths({"*.c *.C", "-s"}), Lines({"a.c", "a.c", "b.C", "b.C"}));
  const RunResult count = RunZelvane(dir_, {"*.c *.C", "-s", "-x*.c", "-n", "echo", "$C", "$f"});
  EXPECT_EQ(count.out, "2 " + dir_ / "a.c\n" + "2 " + dir_ / "b.C\n");
}

TEST_F(SearchE2e, SearchPathEntriesAndFixedSpecs) {
  for (const char* f : {"top.c", "one/a.c", "two/b.c", "two/in/c.c"})
    dir_.WriteFile(f);
  // A missing entry is skipped, not replaced by the start directory.
  EXPECT_EQ(Paths({"*.c", "-Sone;missing;two"}), Lines({"one/a.c", "two/b.c"}));
  EXPECT_EQ(Paths({"*.c", "-s", "-Sone;;two"}), Lines({"one/a.c", "two/b.c", "two/in/c.c"}));
  EXPECT_EQ(Paths({"in/*.c", "-Sone;two"}), Lines({"two/in/c.c"}));
  EXPECT_EQ(Paths({dir_ / "top.c", "-s", "-Sone;two"}), Lines({"top.c"}));
}

TEST_F(SearchE2e, AttributeSwitchesAndDirectoryExclusion) {
  for (const char* f : {"f.c", "g.h", "ro.c", "d.x/in.c", "e.y/in.h"})
    dir_.WriteFile(f);
  fs::permissions(dir_ / "ro.c", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(Paths({"/ad *.*"}), Lines({"d.x", "e.y"}));
  EXPECT_EQ(Paths({"/a-d *.*"}), Lines({"f.c", "g.h", "ro.c"}));
  EXPECT_EQ(Paths({"/ar-h *.c"}), Lines({"ro.c"}));
  EXPECT_EQ(Paths({"/a-r *.c /a -x"}), Lines({"f.c"}));
  EXPECT_EQ(Paths({"*.?", "-x/ad *.?"}), Lines({"f.c", "g.h", "ro.c"}));
  EXPECT_EQ(Paths({"*.?", "-s", "-x/ad *.?"}), Lines({"d.x/in.c", "e.y/in.h", "f.c", "g.h", "ro.c"}));
}

TEST_F(SearchE2e, DirectoryPartsOfTheSpec) {
  for (const char* f : {"sub/a.c", "sub/deep/b.c", "c.c", "sub/.dot/d.c"})
    dir_.WriteFile(f);
  EXPECT_EQ(Paths({"sub/*.c", "-s"}), Lines({"sub/a.c", "sub/deep/b.c"}));
  EXPECT_EQ(Paths({"missing/*.c", "-s"}), "");
  EXPECT_EQ(Paths({"../*.c"}, In(dir_ / "sub")), Lines({"sub/../c.c"}));
  EXPECT_EQ(Paths({dir_ / "sub/*.c /home/nobody/none/*.c"}), Lines({"sub/a.c"}));
}

// The exclusion and duplicate removal go by the file, not by the text of its path.
TEST_F(SearchE2e, TheSameFileHoweverItsPathIsSpelled) {
  for (const char* f : {"d/keep", "d/other"})
    dir_.WriteFile(f);
  const std::string d = dir_ / "d";
  const std::string kept = Lines({"d/other"});
  const std::vector<std::string> spellings{"./keep", "../d/keep", "KEEP", d + "/keep", d + "/../d/keep"};
  for (const std::string& xspec : spellings)
    EXPECT_EQ(Paths({"keep other", "-x" + xspec}, In(d)), kept) << xspec;
  EXPECT_EQ(Paths({d + "/keep " + d + "/../d/other", "-x./keep"}, In(d)), Lines({"d/../d/other"}));
  // Two spellings of one file in the Filespec run it once: the first in the list stays.
  EXPECT_EQ(Paths({"./keep ../d/keep other"}, In(d)), Lines({"d/../d/keep", "d/other"}));
}

// -Why runs nothing and accounts for every entry each Filespec entry looked at, in the list's order; its
// "match" lines are exactly the files a run would visit.
TEST_F(SearchE2e, WhySaysWhatBecameOfEveryEntryLookedAt) {
  for (const char* f : {"a.txt", "b.log", ".h.txt", "sub/c.txt", "sub/.git/d.txt"})
    dir_.WriteFile(f);
  dir_.WriteFile("big.txt", std::string(5000, 'x'));
  std::string link;  // the lines a linked directory adds, where the platform makes one here
#ifndef _WIN32
  fs::create_directory_symlink("sub", dir_ / "lnk");
#endif
  const auto line = [&](const char* verdict, const std::string& relative, const std::string& detail) {
    // Fields escaped as the log escapes them: every backslash of a Win32 path doubled.
    std::string text = verdict;
    text += '\t';
    AppendEscaped(text, dir_ / relative);
    text += '\t';
    AppendEscaped(text, detail);
    text += '\n';
    return text;
  };
#ifndef _WIN32
  link = line("no-match", "lnk", "*.txt") + line("link", "lnk", "not entered");
#endif
  const auto matchesOf = [](const std::string& why) {
    std::string paths;
    for (std::size_t at = 0; at < why.size(); at = why.find('\n', at) + 1) {
      if (why.compare(at, 6, "match\t") != 0) continue;
      const std::size_t start = at + 6;
      std::string path = why.substr(start, why.find('\t', start) - start);
      for (std::size_t i = path.find("\\\\"); i != std::string::npos; i = path.find("\\\\", i + 1))
        path.erase(i, 1);
      paths += path + "\n";
    }
    return paths;
  };
  struct Row {
    std::vector<std::string> args;
    std::string expected;
  };
  const Row rows[] = {
      // Dot names, names the pattern misses, a qualifier with both values, a link not entered.
      {{"/sizelt(1000) *.txt", "-s"},
       line("dot-name", ".h.txt", "*.txt") + line("match", "a.txt", "*.txt") +
           line("no-match", "b.log", "*.txt") +
           line("qualifier", "big.txt", "/sizelt(1000): file 5000, operand 1000") + link +
           line("no-match", "sub", "*.txt") + line("dot-name", "sub/.git", "*.txt") +
           line("match", "sub/c.txt", "*.txt")},
      // Each entry's own lines; the same file found again is a duplicate of the first; the Xspec's entry.
      {{"*.txt big.txt", "-xa.txt"},
       line("dot-name", ".h.txt", "*.txt") + line("dot-name", ".h.txt", "big.txt") +
           line("excluded", "a.txt", "a.txt") + line("no-match", "a.txt", "big.txt") +
           line("no-match", "b.log", "*.txt") + line("no-match", "b.log", "big.txt") +
           line("match", "big.txt", "*.txt") + line("duplicate", "big.txt", dir_ / "big.txt") +
           (link.empty() ? "" : line("no-match", "lnk", "*.txt") + line("no-match", "lnk", "big.txt")) +
           line("no-match", "sub", "*.txt") + line("no-match", "sub", "big.txt")},
      // An attribute switch names the attribute that left an entry out.
      {{"/a-d *"},
       line("dot-name", ".h.txt", "*") + line("match", "a.txt", "*") + line("match", "b.log", "*") +
           line("match", "big.txt", "*") + (link.empty() ? "" : line("attribute", "lnk", "has d")) +
           line("attribute", "sub", "has d")},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = row.args;
    args.push_back("-Why");
    const RunResult r = RunZelvane(dir_, args);
    EXPECT_EQ(r.out, row.expected) << row.args[0];
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(matchesOf(r.out), Paths(row.args)) << row.args[0];
  }
  // Nothing runs, whatever Command follows.
  EXPECT_EQ(matchesOf(RunZelvane(dir_, {"a.txt", "-Why", "-n", "touch", "ran"}).out), dir_ / "a.txt\n");
  // Each entry's line for a name stands where it looked at it, a match's as much as any: the first entry's
  // match before the second's no-match, and that before the third's duplicate.
  dir_.WriteFile("two/x.c");
  dir_.WriteFile("two/y.c");
  EXPECT_EQ(RunZelvane(dir_, {"x.c y.c x.c", "-Why"}, In(dir_ / "two")).out,
            line("match", "two/x.c", "x.c") + line("no-match", "two/x.c", "y.c") +
                line("duplicate", "two/x.c", dir_ / "two/x.c") + line("no-match", "two/y.c", "x.c") +
                line("match", "two/y.c", "y.c") + line("no-match", "two/y.c", "x.c"));
  EXPECT_FALSE(fs::exists(dir_ / "ran"));
#ifndef _WIN32  // the system's own words
  EXPECT_EQ(RunZelvane(dir_, {"a.txt/*.c", "-Why"}).out, line("unreadable", "a.txt/", "Not a directory"));
#endif
  // With -Resume, a file the log says succeeded is done, not run again.
  RunZelvane(dir_, {"a.txt", "-n", "-Log:" + (dir_ / "w.log"), "echo", "$n"});
  const std::string resumed = RunZelvane(dir_, {"*.txt", "-Why", "-Resume", "-Log:" + (dir_ / "w.log")}).out;
  EXPECT_NE(resumed.find(line("done", "a.txt", "the log says it succeeded, and it is unchanged since")),
            std::string::npos)
      << resumed;
  EXPECT_NE(resumed.find(line("match", "big.txt", "*.txt")), std::string::npos) << resumed;
}

#ifndef _WIN32  // POSIX symbolic links, case twins and names made by the narrow calls
TEST_F(SearchE2e, CaseTwinsAreTwoFilesAndALinkedDirectoryIsOne) {
  for (const char* f : {"d/A.txt", "d/a.txt", "d/keep"})
    dir_.WriteFile(f);
  fs::create_directory_symlink("d", dir_ / "link");
  dir_.WriteFile("d/\xc3\x84RGER.txt");
  dir_.WriteFile("d/\xce\x91\xce\xb2\xce\xb3.txt");
  EXPECT_EQ(Paths({"?.txt"}, In(dir_ / "d")), Lines({"d/A.txt", "d/a.txt"}));
  EXPECT_EQ(Paths({"?.TXT", "-xa.txt"}, In(dir_ / "d")), Lines({"d/A.txt"}));
  EXPECT_EQ(Paths({"d/?.txt d/keep", "-xlink/keep"}), Lines({"d/A.txt", "d/a.txt"}));
  EXPECT_EQ(Paths({"d/keep link/keep"}), Lines({"d/keep"}));
  // Letters beyond A-Z fold in typed names and patterns alike, under LC_ALL=C as the runs here are.
  const RunOptions c = In(dir_ / "d");
  EXPECT_EQ(Paths({"\xc3\xa4rger.txt"}, c), Lines({"d/\xc3\x84RGER.txt"}));
  EXPECT_EQ(Paths({"*.txt", "-xa.txt A.txt \xc3\xa4rger.txt \xce\xb1\xce\x92\xce\x93.TXT"}, c), "");
  EXPECT_EQ(Paths({"\xce\xb1?\xce\x93*"}, c), Lines({"d/\xce\x91\xce\xb2\xce\xb3.txt"}));
}

TEST_F(SearchE2e, SymbolicLinksMatchButAreNotWalked) {
  dir_.WriteFile("real/a.c");
  fs::create_directory_symlink("..", dir_ / "real/up");
  fs::create_directory_symlink("real", dir_ / "alias");
  EXPECT_EQ(Paths({"*", "-s"}), Lines({"alias", "real", "real/a.c", "real/up"}));
}

TEST_F(SearchE2e, SpecThroughALinkKeepsTheLinksPathAtEveryDepth) {
  for (const char* f : {"real/a.c", "real/keep/x.c", "real/sub/b.c"})
    dir_.WriteFile(f);
  dir_.MakeDir("w");
  fs::create_directory_symlink("../real", dir_ / "w/src");
  // The Xspec, typed through the link too, removes what it names; the relative paths keep one form.
  EXPECT_EQ(Paths({"src/*.c", "-s", "-xsrc/keep/*.c"}, In(dir_ / "w")),
            Lines({"w/src/a.c", "w/src/sub/b.c"}));
  const RunResult r = RunZelvane(dir_, {"src/*.c", "-s", "-n", "echo", "$r$n"}, In(dir_ / "w"));
  EXPECT_EQ(r.out, "src/a.c\nsrc/keep/x.c\nsrc/sub/b.c\n");
}
#endif

#ifndef _WIN32  // starts the POSIX pwd
TEST_F(SearchE2e, CommandsRunInTheStartDirectory) {
  dir_.WriteFile("w/sub/a.c");
  dir_.WriteFile("w/other/b.c");
  // Four matches: sub/a.c twice (once per spec), other/b.c under both entries.
  const RunResult r = RunZelvane(dir_, {"sub/*.c *.c", "-s", "-S.;other", "-n", "pwd"}, In(dir_ / "w"));
  const std::string line = dir_ / "w\n";
  EXPECT_EQ(r.out, line + line + line + line);
}
#endif

}  // namespace
}  // namespace zelvane::test
