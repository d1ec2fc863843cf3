// Hostile input: huge arguments and argument files, deep trees and long paths, unreadable and vanishing
// files, names full of characters that mean something elsewhere, missing or closed standard streams, a
// shell that does not exist, a Stop file that cannot be deleted. Whatever comes, the run ends promptly,
// says what it has a message for and nothing else, and touches only the files the Command names.
// POSIX only: descriptors, pipes, permissions and relative directory calls are what is being tried.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "support/deep_tree_posix.h"
#include "support/terminal_posix.h"

namespace zelvane::test {
namespace {

const std::string kPrinter = ArgvPrinter();

struct Scenario {
  std::vector<std::string> args;
  RunOptions options;
  std::string out;
  std::string err;
  std::function<void(const TempDir&)> check;    // what must hold of the tree afterwards
  std::function<void(const TempDir&)> cleanUp;  // for what the fixture cannot remove itself
  std::string skip;                             // why this run cannot mean anything here
  int status = 0;
};

struct HostileRow {
  const char* name;
  Scenario (*make)(const TempDir& dir);
};

std::string Repeat(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

// "f<number>.tmp", built by appending: GCC 12 warns falsely on a chain of + with a temporary here.
std::string Numbered(int number) {
  std::string name = "f";
  name += std::to_string(number);
  name += ".tmp";
  return name;
}

std::string Printed(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args)
    out += "[" + a + "]\n";
  return out;
}

// Sets a file's last-write and last-access times to `seconds` after 1970.
void SetTime(const std::string& path, std::int64_t seconds) {
  struct timespec times[2] = {};
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

#ifndef ZELVANE_SANITIZED  // whose shadow memory and quarantine would swamp what is measured
// Peak resident memory of the largest child waited for so far, in KiB.
long PeakChildMemoryKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}
#endif

// Names that a shell, the command line, the macro expander or a terminal would each read as more than
// text, in the order the match list keeps them.
const std::vector<std::string> kOddNames = {
    "\"quoted\"", "#065hash",    "$n dollar", "'single'",  "-dash",
    ";semi",      "bad\xff\xfe", "new\nline", "tab\there",
};

// Files that a mangled odd name would hit instead.
const std::vector<std::string> kDecoys = {"quoted", "Ahash", "hash", "n dollar", "dollar", "single", "dash",
                                          "semi",   "bad",   "new",  "line",     "tab",    "here"};

// "a/b/x\..\..\precious" (5 bytes, "hello") beside the directory a/b/x, and the empty decoy a/precious that
// the name would reach if its '\\' were taken for separators.
const std::string kBackslashName = "a/b/x\\..\\..\\precious";

void MakeBackslashTree(const TempDir& dir) {
  dir.MakeDir("a/b/x");
  dir.WriteFile(kBackslashName, "hello");
  dir.WriteFile("a/precious");
}

// Fifty files removed with -e while nobody reads the echo: at most the command already under way runs, and
// the run ends quietly with status 0 whether or not its starter left SIGPIPE ignored.
Scenario RemovalIntoClosedPipe(const TempDir& dir, bool ignoreBrokenPipe) {
  for (int i = 0; i < 50; ++i)
    dir.WriteFile(Numbered(100 + i));
  return Scenario{.args = {"*.tmp", "-e", "rm", "$f"},
                  .options = {.outputToClosedPipe = true, .ignoreBrokenPipe = ignoreBrokenPipe},
                  .check = [](const TempDir& d) {
                    int left = 0;
                    for (int i = 0; i < 50; ++i)
                      left += d.Exists(Numbered(100 + i)) ? 1 : 0;
                    EXPECT_GE(left, 49);
                  }};
}

// A command with -c runs in its file's directory however long its path is, one at a time (the process
// enters it) or side by side (each child is started in a directory held open).
Scenario ChangeDirAtAnyDepth(const TempDir& dir, const std::string& jobs) {
  const std::string deep = MakeDeepTree(dir.path(), "directory", 500, "deep.txt");
  dir.WriteFile("top.txt");
  return Scenario{
      .args = {"*.txt", "-s", "-c", jobs, kPrinter, "$n"},
      .options = {.env = {{"ARGV_PRINTER_ENV", "cwd"}}},
      .out = "[deep.txt]\ncwd=" + deep.substr(0, deep.rfind('/')) + "\n[top.txt]\ncwd=" + dir.path() + "\n",
      .cleanUp = [](const TempDir& d) {
        const int fd = open(d.path().c_str(), O_RDONLY | O_DIRECTORY);
        RemoveTree(fd, "directory");
        close(fd);
      }};
}

const HostileRow kRows[] = {
    {"MebibyteFilespec",
     [](const TempDir& dir) {
       // No single argument of a mebibyte gets through exec; an argument file carries it.
       dir.WriteFile("a.c");
       dir.WriteFile("big.args", std::string(1 << 20, 'a') + ".c\n");
       return Scenario{.args = {"@big.args", kPrinter, "$n"}};
     }},
    {"MebibyteCommandWord",
     [](const TempDir& dir) {
       // The system refuses an argument this long to any program: the start fails, saying why, never cut.
       dir.WriteFile("a.c");
       dir.WriteFile("big.args", kPrinter + "\n" + std::string(1 << 20, 'w') + "\n");
       return Scenario{.args = {"*.c", "@big.args"},
                       .out = "Could not execute " + kPrinter + ": the command line is too long.\n"};
     }},
    {"TooLongCommandThenABlankPart",
     [](const TempDir& dir) {
       // The blank part names no program: the refusal of the part before it is not its reason.
       dir.WriteFile("a.c");
       dir.WriteFile("big.args", kPrinter + "\n" + std::string(1 << 20, 'w') + "\n");
       return Scenario{
           .args = {"*.c", "@big.args", ";  "},
           .out = "Could not execute " + kPrinter + ": the command line is too long.\nCould not execute .\n"};
     }},
    {"HundredThousandLineArgumentFile",
     [](const TempDir& dir) {
       dir.WriteFile("a.c");
       dir.WriteFile("many.args", Repeat("-Batch\n", 49999) + kPrinter + "\n" + Repeat("$b\n", 50000));
       return Scenario{.args = {"*.c", "@many.args"}, .out = Repeat("[a]\n", 50000)};
     }},
    {"DeepTreeAndLongPath",
     [](const TempDir& dir) {
       const std::string deep = MakeDeepTree(dir.path(), "directory", 500, "deep.txt");
       EXPECT_GT(deep.size(), 4096u);
       dir.WriteFile("top.txt");
       return Scenario{.args = {"*.txt", "-s", kPrinter, "$f"},
                       .out = Printed({deep, dir / "top.txt"}),
                       .cleanUp = RemovesTree("directory")};
     }},
    {"ThirtyThousandLevels",
     [](const TempDir& dir) {
       // Far deeper than a recursion on the stack could go. The Xspec makes a second walk, over the
       // listings kept from the first; what both keep must grow with the depth, not with its square
       // (a full path per level would be 900 MB here). Built in memory where there is a tmpfs: some disk
       // file systems take seconds to make 30,000 directories.
       std::string root = "/dev/shm/zelvane-deep-XXXXXX";
       if (mkdtemp(root.data()) == nullptr) root = dir.path();
       const std::string deep = MakeDeepTree(root, "d", 30000, "deep.txt");
       std::ofstream(root + "/top.txt").close();
       return Scenario{.args = {"*.txt", "-s", "-x*.none", kPrinter, "$f", "$S"},
                       .options = {.cwd = root},
                       .out = Printed({deep, "       0", root + "/top.txt", "       0"}),
                       .check =
                           [](const TempDir&) {
#ifndef ZELVANE_SANITIZED
                             EXPECT_LT(PeakChildMemoryKiB(), 128 * 1024);
#endif
                           },
                       .cleanUp =
                           [root](const TempDir&) {
                             const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
                             RemoveTree(fd, "d");
                             close(fd);
                             unlink((root + "/top.txt").c_str());
                             rmdir(root.c_str());  // fails, as it should, for the temporary directory itself
                           }};
     }},
    {"UnreadableDirectory",
     [](const TempDir& dir) {
       dir.WriteFile("a.txt");
       dir.WriteFile("locked/b.txt");
       dir.WriteFile("open/c.txt");
       chmod((dir / "locked").c_str(), 0);
       Scenario s{.args = {"*.txt", "-s", kPrinter, "$f"},
                  .out = Printed({dir / "a.txt", dir / "open/c.txt"}),
                  .check = [](const TempDir& d) {
                    chmod((d / "locked").c_str(), 0700);
                    EXPECT_TRUE(d.Exists("locked/b.txt"));
                  }};
       if (geteuid() == 0) s.skip = "running as root, whom permissions do not stop from reading";
       return s;
     }},
    {"FileVanishesBeforeItsCommand",
     [](const TempDir& dir) {
       // The first file's command deletes the second; the second's macros then describe a missing file.
       dir.WriteFile("a.tmp", "hello");
       dir.WriteFile("b.tmp", "hello");
       return Scenario{.args = {"*.tmp", "rm", "-f", "b.tmp;" + kPrinter, "$n", "$S", "$k", "$K"},
                       .out = Printed({"a.tmp", "       5", "0x3610A686", "0x3610A686", "b.tmp", "       0",
                                       "0x00000000", "0x00000000"}),
                       .check = [](const TempDir& d) { EXPECT_TRUE(d.Exists("a.tmp")); }};
     }},
    {"WildcardCharactersInFoundNamesAreTheirOwn",
     [](const TempDir& dir) {
       // Each empty file has a '?', '*' or '[' in its name; dozens of files beside them that such a name
       // would match as a pattern are not empty, and from another year.
       for (const std::string& name : {std::string("a?.c"), std::string("*"), std::string("[x]")}) {
         dir.WriteFile(name);
         SetTime(dir / name, 978307200);  // 2001-01-01
       }
       for (const char c : std::string("0123456789abcdefghijklmnopqrstuvwxyz"))
         dir.WriteFile(std::string("a") + c + ".c", "decoy");
       return Scenario{
           .args = {"/sizeeq(0) *", kPrinter, "$n", "$S", "$Y"},
           .out = Printed({"*", "       0", "2001", "[x]", "       0", "2001", "a?.c", "       0", "2001"})};
     }},
    // Special files: none is opened in a way that waits, none is read past the length its entry reports.
    {"FifoFoundByTheWalk",
     [](const TempDir& dir) {
       mkfifo((dir / "p.c").c_str(), 0600);
       dir.WriteFile("q.c", "abc");
       return Scenario{.args = {"*.c", kPrinter, "$n", "$S", "$k", "$K"},
                       .out = Printed({"p.c", "       0", "0x00000000", "0x00000000", "q.c", "       3",
                                       "0x352441C2", "0x352441C2"})};
     }},
    {"FifoAsChecksumOperandAndFoundFile",
     [](const TempDir& dir) {
       mkfifo((dir / "p.c").c_str(), 0600);
       dir.WriteFile("e.c");
       dir.WriteFile("q.c", "abc");
       return Scenario{.args = {"/compeq(p.c) /conteq(p.c) *.c", kPrinter, "$n"},
                       .out = Printed({"e.c", "p.c"})};
     }},
    {"DevZeroFound",
     [](const TempDir&) {
       return Scenario{.args = {"/dev/zero", kPrinter, "$n", "$S", "$k", "$K"},
                       .out = Printed({"zero", "       0", "0x00000000", "0x00000000"})};
     }},
    {"DevZeroAsChecksumOperand",
     [](const TempDir& dir) {
       symlink("/dev/zero", (dir / "zero").c_str());
       dir.WriteFile("e.c");
       dir.WriteFile("q.c", "abc");
       return Scenario{.args = {"/compeq(zero) *.c", kPrinter, "$n"}, .out = Printed({"e.c"})};
     }},
    {"OddNamesReachTheCommandUnchanged",
     [](const TempDir& dir) {
       for (const std::string& name : kOddNames)
         dir.WriteFile("odd/" + name);
       return Scenario{.args = {"odd/*", kPrinter, "$n"}, .out = Printed(kOddNames)};
     }},
    {"OddNamesRemoveOnlyThemselves",
     [](const TempDir& dir) {
       for (const std::string& name : kOddNames)
         dir.WriteFile("odd/" + name);
       for (const std::string& name : kDecoys) {
         dir.WriteFile(name);
         dir.WriteFile("odd-decoys/" + name);
       }
       return Scenario{.args = {"odd/*", "rm", "$f"}, .check = [](const TempDir& d) {
                         for (const std::string& name : kOddNames)
                           EXPECT_FALSE(d.Exists("odd/" + name)) << name;
                         for (const std::string& name : kDecoys)
                           EXPECT_TRUE(d.Exists(name) && d.Exists("odd-decoys/" + name)) << name;
                       }};
     }},
    {"NoStandardInputDeclines",
     [](const TempDir& dir) {
       // Without standard input no key says yes; the output file, opened first, is no keyboard either.
       dir.WriteFile("a.tmp");
       return Scenario{.args = {"*.tmp", "-p", "-xo$b.out", "rm", "$f"},
                       .options = {.closeInput = true},
                       .out = "Execute \"rm " + dir / "a.tmp" + "\"? [y/n] n\n",
                       .check = [](const TempDir& d) {
                         EXPECT_TRUE(d.Exists("a.tmp"));
                         EXPECT_EQ(d.ReadFile("a.out"), "");
                       }};
     }},
    {"NoStandardInputBetweenCommands",
     [](const TempDir& dir) {
       dir.WriteFile("a.c");
       dir.WriteFile("b.c");
       return Scenario{
           .args = {"*.c", kPrinter, "$n"}, .options = {.closeInput = true}, .out = Printed({"a.c", "b.c"})};
     }},
    {"ClosedOutputPipeStopsTheRun", [](const TempDir& dir) { return RemovalIntoClosedPipe(dir, false); }},
    {"ClosedOutputPipeStopsTheRunWithSigpipeIgnored",
     [](const TempDir& dir) { return RemovalIntoClosedPipe(dir, true); }},
    {"MissingShell",
     [](const TempDir& dir) {
       dir.WriteFile("a.c");
       dir.WriteFile("b.c");
       const std::string missing = dir / "no-such-shell";
       return Scenario{.args = {"*.c", "x;y"},
                       .options = {.env = {{"COMSPEC", missing}}},
                       .out = Repeat("Could not execute " + missing + ".\n", 4)};
     }},
    // A '\\' in a name is an ordinary character: the name below would reach a/precious if anything read it
    // as a separator. Every macro, qualifier, -c and -xo must see the matched file and nothing else.
    {"BackslashNameRemovesOnlyItself",
     [](const TempDir& dir) {
       MakeBackslashTree(dir);
       return Scenario{.args = {"a/b/x*precious", "rm", "$f"}, .check = [](const TempDir& d) {
                         EXPECT_FALSE(d.Exists(kBackslashName));
                         EXPECT_TRUE(d.Exists("a/precious"));
                       }};
     }},
    {"BackslashNameMacrosDescribeItself",
     [](const TempDir& dir) {
       MakeBackslashTree(dir);
       return Scenario{.args = {"a/b/x*precious", kPrinter, "$n", "$S", "$k"},
                       .out = Printed({"x\\..\\..\\precious", "       5", "0x3610A686"})};
     }},
    {"BackslashNameQualifiersTestItself",
     [](const TempDir& dir) {
       MakeBackslashTree(dir);
       return Scenario{.args = {"/sizeeq(0) a/b/x*precious", kPrinter, "$n"}, .out = ""};
     }},
    {"BackslashNameChangeDirAndOutputFile",
     [](const TempDir& dir) {
       MakeBackslashTree(dir);
       return Scenario{.args = {"a/b/x*precious", "-c", "-xo$n.out", "echo", "$S"},
                       .check = [](const TempDir& d) {
                         EXPECT_EQ(d.ReadFile(kBackslashName + ".out"), "       5\n");
                         EXPECT_FALSE(d.Exists("a/precious.out"));
                       }};
     }},
    // A directory whose name ends in '\\' is walked as that name: its files are not taken for files of a
    // directory whose path lacks the '\\'.
    {"BackslashDirectoryKeepsItsName",
     [](const TempDir& dir) {
       dir.WriteFile("d\\/f.txt", "1");
       dir.WriteFile("d/f.txt", "22");
       return Scenario{.args = {"f.txt", "-s", kPrinter, "$f", "$S"},
                       .out = Printed({dir / "d/f.txt", "       2", dir / "d\\/f.txt", "       1"})};
     }},
    {"ChangeDirAtAnyDepth", [](const TempDir& dir) { return ChangeDirAtAnyDepth(dir, "-Jobs:1"); }},
    {"ChangeDirAtAnyDepthSideBySide", [](const TempDir& dir) { return ChangeDirAtAnyDepth(dir, "-Jobs:2"); }},
    {"ChangeDirIntoARemovedDirectorySkipsTheFile",
     [](const TempDir& dir) {
       // The first command removes the second file's directory; its "rm y.tmp" must not run where Zelvane
       // stands, beside a file of the same name.
       dir.WriteFile("a/x.tmp");
       dir.WriteFile("gone/y.tmp");
       dir.WriteFile("y.tmp");
       return Scenario{.args = {"a/x.tmp gone/y.tmp", "-c", "rm", "-rf", "../gone;rm", "$n"},
                       .out = "Could not change to directory " + dir / "gone" + ".\n",
                       .check = [](const TempDir& d) {
                         EXPECT_FALSE(d.Exists("a/x.tmp"));
                         EXPECT_FALSE(d.Exists("gone"));
                         EXPECT_TRUE(d.Exists("y.tmp"));
                       }};
     }},
    {"ChangeDirIntoADirectorySwappedForALinkSkipsTheFile",
     [](const TempDir& dir) {
       // The first command puts a link to another tree where the second file's directory was: the second
       // command must not run there, though the path now names a directory with a file of that name.
       dir.WriteFile("run/a.tmp");
       dir.WriteFile("run/sub/x.tmp");
       dir.WriteFile("victim/x.tmp");
       return Scenario{.args = {"*.tmp", "-s", "-c", "-b+",
                                "test $n != a.tmp || { mv sub sub.old && ln -s ../victim sub; }+rm -f x.tmp"},
                       .options = {.cwd = dir / "run", .env = {{"COMSPEC", "/bin/sh"}}},
                       .out = "Could not change to directory " + dir / "run/sub" + ".\n",
                       .check = [](const TempDir& d) {
                         EXPECT_TRUE(d.Exists("victim/x.tmp"));
                         EXPECT_TRUE(d.Exists("run/sub.old/x.tmp"));
                       }};
     }},
    {"ChangeDirIgnoresDisplayOptions",
     [](const TempDir& dir) {
       dir.WriteFile("Sub/A.tmp");
       return Scenario{.args = {"Sub/*.tmp", "-c", "-lowercase", "-sep|", kPrinter, "$n"},
                       .options = {.env = {{"ARGV_PRINTER_ENV", "cwd"}}},
                       .out = "[a.tmp]\ncwd=" + dir / "Sub" + "\n"};
     }},
    {"ChildrenSeeTheRealDirectoryAfterARename",
     [](const TempDir& dir) {
       // The first command renames the directory Zelvane stands in; the second file's cwd is its new name.
       dir.WriteFile("work/a.tmp");
       dir.WriteFile("work/b.tmp");
       return Scenario{
           .args = {"*.tmp", "-b+", "test $c != 1 || mv ../work ../moved+" + kPrinter + " $n"},
           .options = {.cwd = dir / "work", .env = {{"COMSPEC", "/bin/sh"}, {"ARGV_PRINTER_ENV", "cwd"}}},
           .out = "[a.tmp]\ncwd=" + dir / "work" + "\n[b.tmp]\ncwd=" + dir / "moved" + "\n"};
     }},

    // Special files.
    {"FullOutputFileIsReportedAndEndsTheRun",
     [](const TempDir& dir) {
       dir.WriteFile("a.tmp");
       dir.WriteFile("b.tmp");
       return Scenario{.args = {"*.tmp", "-xo/dev/full", "echo", "$n;" + kPrinter, "$n"},
                       .err = "Could not write \"/dev/full\": No space left on device.\n"};
     }},
    {"DirectoryIsNoArgumentFile",
     [](const TempDir& dir) {
       dir.WriteFile("a.c");
       dir.MakeDir("sub");
       return Scenario{.args = {"*.c", kPrinter, "$n", "@sub"},
                       .out = "Could not find file \"sub\".\n[a.c]\n[@sub]\n"};
     }},
    {"ArgumentFileWithANulByteEndsTheRun",
     [](const TempDir& dir) {
       // Cut at the NUL, the line would name the directory instead of the files in it.
       dir.WriteFile("sub/b.txt");
       dir.WriteFile("spec.arg", std::string("sub\0/*.txt\n", 11));
       return Scenario{.args = {"@spec.arg", "-n", kPrinter, "$p"},
                       .err = "Argument file \"spec.arg\" holds a NUL byte.\n",
                       .status = 1};
     }},
    {"StopFileIsADirectory",
     [](const TempDir& dir) {
       dir.WriteFile("a.c");
       dir.WriteFile("b.c");
       dir.MakeDir("stopdir");
       return Scenario{.args = {"*.c", "-Stop:stopdir", kPrinter, "$n"},
                       .out = Printed({"a.c"}),
                       .err = "WARNING:  could not delete Stop file \"stopdir\".\n",
                       .check = [](const TempDir& d) { EXPECT_TRUE(d.Exists("stopdir")); }};
     }},
};

// Rows show by name, not as bytes.
void PrintTo(const HostileRow& row, std::ostream* os) {
  *os << row.name;
}

class Hostile : public ::testing::TestWithParam<HostileRow> {};

TEST_P(Hostile, EndsPromptlyAndSafely) {
  TempDir dir;
  const Scenario s = GetParam().make(dir);
  if (!s.skip.empty()) {
    if (s.cleanUp) s.cleanUp(dir);
    GTEST_SKIP() << s.skip;
  }
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = RunZelvane(dir, s.args, s.options);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 20);
  EXPECT_EQ(r.status, s.status);
  // A long output is shown by its size and first difference rather than as a diff of every line.
  if (s.out.size() > 4096) {
    EXPECT_EQ(r.out.size(), s.out.size());
    EXPECT_TRUE(r.out == s.out)
        << "first difference at byte "
        << std::mismatch(r.out.begin(), r.out.end(), s.out.begin(), s.out.end()).first - r.out.begin();
  } else {
    EXPECT_EQ(r.out, s.out);
  }
  EXPECT_EQ(r.err, s.err);
  if (s.check) s.check(dir);
  if (s.cleanUp) s.cleanUp(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, Hostile, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<HostileRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------------------
// Signals and the terminal: whatever dispositions Zelvane inherits and wherever its job stands, the run ends
// with its own status, its children get the signals a program expects, and the terminal keeps its mode.

struct SignalRow {
  const char* name;
  void (*run)(const TempDir& dir);
};

const SignalRow kSignalRows[] = {
    {"HeadOfThePipelineEndsTheRunWithStatusZero",
     [](const TempDir& dir) {
       for (int i = 0; i < 2000; ++i)
         dir.WriteFile(Numbered(10000 + i));
       // The run's own status, not the pipeline's; and it must not hang on a reader that left.
       const std::string script =
           "{ '" + ZelvaneBinary() + "' '*.tmp' -eo rm '$f'; echo \"status $?\" >&2; } | head -n 1";
       const RunResult r = RunProgram({"/bin/sh", "-c", script}, dir.path(), {});
       EXPECT_EQ(r.out, "rm " + dir / "f10000.tmp" + "\n");
       EXPECT_EQ(r.err, "status 0\n");
       EXPECT_TRUE(dir.Exists("f10000.tmp"));
     }},
    {"InheritedIgnoredChildSignalHidesNoExitStatus",
     [](const TempDir& dir) {
       dir.WriteFile("a.c");
       const std::string script =
           "trap '' CHLD; exec '" + ZelvaneBinary() + "' '*.c' -n '" + kPrinter + "' '$n'";
       // bash, since dash does not hand an ignored SIGCHLD on to what it executes.
       const RunResult r = RunProgram({"/bin/bash", "-c", script}, dir.path(), {});
       EXPECT_EQ(r.out, "[a.c]\n");
       EXPECT_EQ(r.status, 0);
     }},
    {"ChildrenGetTheDefaultBrokenPipeAction",
     [](const TempDir& dir) {
       // A child that signals itself with SIGPIPE dies of it, as it would started from a shell; with the
       // run's own "ignore" inherited it would go on and print.
       dir.WriteFile("a.c");
       const RunResult r =
           RunZelvane(dir, {"*.c", "-n", "-m%", "-b+", "/bin/sh", "-c", "\"kill -PIPE $$; echo alive\""});
       EXPECT_EQ(r.out, "");
       EXPECT_EQ(r.err, "");
       EXPECT_EQ(r.status, 0);
     }},
    {"ChildrenGetNoHandlerMaskOrIgnoreOfTheRunsOwn",
     [](const TempDir& dir) {
       // The run catches the ending signals and ignores SIGPIPE and SIGXFSZ for itself; its children start
       // with nothing blocked, with those two at their default, and with what its starter ignored (here
       // SIGHUP, as under nohup) still ignored. The masks as /proc shows them, one at a time and side by
       // side.
       dir.WriteFile("a.c");
       const auto ignored = [](const std::string& status) {
         const std::size_t at = status.find("SigIgn:");
         return at == std::string::npos ? 0ULL : std::stoull(status.substr(at + 7, 17), nullptr, 16);
       };
       for (const std::string jobs : {"-Jobs:1", "-Jobs:2"}) {
         const std::string script =
             "trap '' HUP PIPE XFSZ; grep -E '^Sig(Blk|Ign)' /proc/self/status; exec '" + ZelvaneBinary() +
             "' '*.c' " + jobs + " -n grep -E '^Sig(Blk|Ign)' /proc/self/status";
         const RunResult r = RunProgram({"/bin/bash", "-c", script}, dir.path(), {});
         const std::size_t child = r.out.find("SigBlk:", 1);
         ASSERT_NE(child, std::string::npos) << r.out;
         const unsigned long long starter = ignored(r.out.substr(0, child));
         const unsigned long long bit = 1;
         EXPECT_NE(starter & (bit << (SIGHUP - 1)), 0U) << r.out;
         EXPECT_EQ(ignored(r.out.substr(child)), starter & ~(bit << (SIGPIPE - 1)) & ~(bit << (SIGXFSZ - 1)))
             << jobs << "\n"
             << r.out;
         EXPECT_EQ(r.out.substr(child, 25), "SigBlk:\t0000000000000000\n") << jobs << "\n" << r.out;
       }
     }},
    {"BackgroundJobReadsNoKeyAndIsNeverStopped",
     [](const TempDir& dir) {
       dir.WriteFile("a.tmp");
       // The confirmation behaves as at the end of input, and the key test finds nothing.
       TerminalRun run = RunOnTerminal(dir, {"*.tmp", "-p", kPrinter, "$n"}, true);
       EXPECT_EQ(run.status, 0);
       EXPECT_EQ(run.out, "Execute \"" + kPrinter + " a.tmp\"? [y/n] n\n");
       run = RunOnTerminal(dir, {"*.tmp", "-Batch", kPrinter, "$n"}, true);
       EXPECT_EQ(run.status, 0);
       EXPECT_EQ(run.out, "[a.tmp]\n");
       EXPECT_TRUE(run.echoing);
     }},
    {"ProgressLineIsErasedBeforeEveryBlock",
     [](const TempDir& dir) {
       for (const char* name : {"a.tmp", "b.tmp", "c.tmp"})
         dir.WriteFile(name);
       const TerminalRun run =
           RunOnTerminal(dir, {"*.tmp", "-n", "-Progress", "sh", "-c", "\"sleep 0.3; echo $n\""}, false);
       EXPECT_EQ(run.status, 0);
       // The line shows, and each line of output comes after the blanks that erased it (the terminal's
       // record drops the carriage returns), never glued to the status text.
       EXPECT_NE(run.out.find("[1/3] 0:0"), std::string::npos) << run.out;
       std::size_t at = 0;
       for (const std::string name : {"a.tmp", "b.tmp", "c.tmp"}) {
         const std::size_t end = run.out.find('\n', at);
         ASSERT_NE(end, std::string::npos) << run.out;
         const std::string line = run.out.substr(at, end - at);
         ASSERT_TRUE(line.ends_with(name)) << line;
         EXPECT_TRUE(line.size() == name.size() || line.ends_with("  " + name)) << line;
         at = end + 1;
       }
       EXPECT_EQ(at, run.out.size());
       // Not on a terminal, not a byte of it.
       const RunResult piped = RunZelvane(dir, {"*.tmp", "-n", "-Progress", "echo", "$n"});
       EXPECT_EQ(piped.out, "a.tmp\nb.tmp\nc.tmp\n");
       EXPECT_EQ(piped.err, "");
     }},
    {"ProgressAfterResumeCountsOnlyTheFilesLeft",
     [](const TempDir& dir) {
       for (const char* name : {"a.tmp", "b.tmp", "c.tmp"})
         dir.WriteFile(name);
       // a.tmp succeeds and is passed over the second time: the line counts two files, and reaches them.
       const RunResult first = RunZelvane(dir, {"*.tmp", "-n", "-Log:run.log", "test", "$n", "=", "a.tmp"});
       ASSERT_EQ(first.status, 0);
       const TerminalRun run = RunOnTerminal(
           dir, {"*.tmp", "-n", "-Progress", "-Log:run.log", "-Resume", "sh", "-c", "\"sleep 0.3; echo $n\""},
           false);
       EXPECT_EQ(run.status, 0);
       EXPECT_NE(run.out.find("[1/2] "), std::string::npos) << run.out;
       EXPECT_EQ(run.out.find("/3] "), std::string::npos) << run.out;
     }},
    {"InterruptAtThePromptRestoresTheTerminal",
     [](const TempDir& dir) {
       dir.WriteFile("a.tmp");
       TerminalRun run = RunOnTerminal(dir, {"*.tmp", "-p", kPrinter, "$n"}, false, '\x03');
       EXPECT_EQ(run.status, 128 + SIGINT);
       EXPECT_TRUE(run.echoing);
       // Ctrl-Z: while the job is stopped the terminal echoes again.
       run = RunOnTerminal(dir, {"*.tmp", "-p", kPrinter, "$n"}, false, '\x1a');
       EXPECT_EQ(run.status, -2);
       EXPECT_TRUE(run.echoing);
     }},
};

void PrintTo(const SignalRow& row, std::ostream* os) {
  *os << row.name;
}

class Signals : public ::testing::TestWithParam<SignalRow> {};

TEST_P(Signals, RunEndsAsItsOwnAndLeavesTheTerminalAsItWas) {
  TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  GetParam().run(dir);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 20);
}

INSTANTIATE_TEST_SUITE_P(Rows, Signals, ::testing::ValuesIn(kSignalRows),
                         [](const ::testing::TestParamInfo<SignalRow>& info) { return info.param.name; });

#ifndef ZELVANE_SANITIZED  // the sanitizers' shadow memory cannot live under a small address-space limit
// Under any address-space limit the run either finishes or says it ran out of memory and ends with 1: no
// exception leaves a walker thread, and a walker that cannot start only means fewer walkers.
TEST(HostileStreams, ShortOfMemoryTheRunEndsWithItsMessage) {
  TempDir dir;
  for (int d = 0; d < 40; ++d)
    for (int f = 0; f < 25; ++f)
      dir.WriteFile(Numbered(d) + "/" + Numbered(f) + ".txt");
  const RunResult whole = RunZelvane(dir, {"*.txt", "-s", "-n", "echo", "$n"});
  ASSERT_EQ(whole.status, 0);
  for (const int kib : {6400, 6500, 8000, 16000}) {
    const std::string script = "ulimit -v " + std::to_string(kib) + "; exec \"$0\" '*.txt' -s -n echo '$n'";
    const RunResult r = RunProgram({"/bin/bash", "-c", script, ZelvaneBinary()}, dir.path(), {});
    if (r.status == 127) continue;  // too little for the dynamic loader: nothing of Zelvane ran
    const bool finished = r.status == 0 && r.err.empty() && r.out == whole.out;
    const bool said = r.status == 1 && r.err == "Out of memory.\n";
    EXPECT_TRUE(finished || said) << kib << " KiB: status " << r.status << ", " << r.out.size()
                                  << " bytes out, standard error: " << r.err;
  }
}
#endif

// Short of descriptors the walk lets go of those it holds and tries again: a 40-level chain is found whole,
// and an Xspec walked under the same limit still excludes the deepest file. With too few for even that,
// the run says which directory it could not read and starts no command.
TEST(HostileStreams, ShortOfDescriptorsTheWalkMissesNothing) {
  TempDir dir;
  std::string chain;
  for (int d = 1; d <= 40; ++d) {
    chain += "d";
    chain += std::to_string(d);
    chain += "/";
    dir.WriteFile(chain + Numbered(d));
  }
  const RunResult whole = RunZelvane(dir, {"*.tmp", "-s", "-n", "echo", "$n"});
  ASSERT_EQ(whole.status, 0);
  for (const int limit : {4, 5, 6, 16}) {
    std::string limited = "ulimit -n ";
    limited += std::to_string(limit);
    limited += "; exec \"$0\" ";
    const RunResult r =
        RunProgram({"/bin/bash", "-c", limited + "'*.tmp' -s -n echo '$n'", ZelvaneBinary()}, dir.path(), {});
    if (r.status == 127) continue;  // too few for the dynamic loader: nothing of Zelvane ran
    const bool finished = r.status == 0 && r.err.empty() && r.out == whole.out;
    const bool said = r.status == 1 && r.out.empty() &&
                      r.err.starts_with("Could not read directory " + dir.path()) &&
                      r.err.ends_with(": Too many open files.\n");
    EXPECT_TRUE(finished || said) << limit << ": status " << r.status << ", " << r.out.size()
                                  << " bytes out, standard error: " << r.err;
    if (limit == 16) {
      EXPECT_TRUE(finished);
    }
    const RunResult x = RunProgram(
        {"/bin/bash", "-c", limited + "'*.tmp' -s '-x*.tmp' -n rm '$f'", ZelvaneBinary()}, dir.path(), {});
    EXPECT_TRUE(dir.Exists(chain + Numbered(40))) << limit << ": " << x.err;
  }
}

// Standard output closed outright (not a pipe): the -xo file, the first file opened, must not become the
// program's standard output and take in the echo and the child's output.
TEST(HostileStreams, ClosedStandardOutputReachesNoOutputFile) {
  TempDir dir;
  dir.WriteFile("a.c");
  dir.WriteFile("b.c");
  const std::string script = "exec '" + ZelvaneBinary() + "' '*.c' '-xo$b.out' -e '" + kPrinter + "' x >&-";
  const RunResult r = RunProgram({"/bin/sh", "-c", script}, dir.path(), {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.ReadFile("a.out"), "");
  // The echo could not be written, so the run ended after the first file.
  EXPECT_FALSE(dir.Exists("b.out"));
}

}  // namespace
}  // namespace zelvane::test
