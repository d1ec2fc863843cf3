// -Jobs against the one-at-a-time run. Each parity row runs without -Jobs and then with two, eight and one
// per processor slots, each time in a fresh copy of its tree, and must print, end and leave the tree exactly
// as the one-slot run does. The fault rows after them pin down what once went wrong side by side.
// No expectation hangs on timing: where one child must come after another, the slot count or a bounded
// wait for a file orders them. POSIX only: shells, descriptor and process limits, affinity and signals are
// tried.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {
namespace fs = std::filesystem;
using Env = std::vector<std::pair<std::string, std::string>>;

const std::string kPrinter = ArgvPrinter();
const Env kShell = {{"COMSPEC", "/bin/sh"}};
// The digits that end each base name are the milliseconds its printer sleeps: later files tend to end first.
const std::vector<std::string> kUneven = {"a_090.txt", "b_010.txt", "c_070.txt",
                                          "d_000.txt", "e_050.txt", "f_030.txt"};
const std::vector<std::string> kNested = {"top.txt", "a/x.txt", "b/c/y.txt", "b/c/z.txt"};

// Standard output and standard error each through a pipe of its own, or both through one, as in a console
// user's pipeline: a child may then reopen them by name without truncating anything. pipefail keeps
// zelvane's own status.
const char kPipes[] = "set -o pipefail; { \"$0\" \"$@\" 2>&1 >&3 3>&- | cat >&2; } 3>&1 | cat";
const char kJoinedPipe[] = "set -o pipefail; \"$0\" \"$@\" 2>&1 | cat";

// Runs zelvane as $0 of a bash `script`, with `args` as "$@".
RunResult RunWrapped(const TempDir& dir, const std::string& script, const std::vector<std::string>& args,
                     const RunOptions& options = {}) {
  std::vector<std::string> argv = {"/bin/bash", "-c", script, ZelvaneBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, options.cwd.empty() ? dir.path() : options.cwd, options);
}

std::string Lines(int count) {
  std::string out;
  for (int i = 1; i <= count; ++i)
    out += std::to_string(i) + "\n";
  return out;
}

// `text` with every occurrence of `from` replaced: runs in different directories print alike.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Every path below `dir`, sorted, with each file's content.
std::string Listing(const TempDir& dir) {
  std::vector<std::string> entries;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir.path())) {
    const std::string relative = fs::relative(e.path(), dir.path()).string();
    entries.push_back(e.is_directory() ? relative + "/" : relative + ": " + dir.ReadFile(relative));
  }
  std::sort(entries.begin(), entries.end());
  std::string listing;
  for (const std::string& entry : entries)
    listing += entry + "\n";
  return listing;
}

// Control characters but the line end as \xNN: a NUL that fills a hole in a capture shows.
std::string Visible(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 || c == '\n') {
      out += c;
    } else {
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
    }
  }
  return out;
}

// Long texts are shown by their sizes and first difference, not as a diff of every line.
::testing::AssertionResult Same(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  if (expected.size() + actual.size() < 4096)
    return ::testing::AssertionFailure() << "one at a time:\n"
                                         << Visible(expected) << "side by side:\n"
                                         << Visible(actual);
  const auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first;
  const std::size_t offset = static_cast<std::size_t>(at - actual.begin());
  return ::testing::AssertionFailure()
         << actual.size() << " bytes against " << expected.size() << ", first difference at byte " << offset
         << ": \"" << Visible(actual.substr(offset, 40)) << "\"";
}

struct ParityRow {
  const char* name;
  std::vector<std::string> tree;  // files, each holding its own name; directories are made as needed
  std::vector<std::string> args;  // the Filespec first: -Jobs goes right after it
  Env env;
  bool joined = false;  // standard error is the same file as standard output
  bool pipes = false;   // both go to pipes (kPipes, kJoinedPipe) rather than to files
};

void PrintTo(const ParityRow& row, std::ostream* os) {
  *os << row.name;
}

struct Outcome {
  std::string out, err, tree;
  int status;
};

Outcome RunRow(const ParityRow& row, const std::string& jobs) {
  TempDir dir;
  for (const std::string& file : row.tree)
    dir.WriteFile(file, file + "\n");
  std::vector<std::string> args = row.args;
  if (!jobs.empty()) args.insert(args.begin() + 1, jobs);
  RunOptions options{.env = row.env, .errorToOutput = row.joined};
  options.env.emplace_back("ARGV_PRINTER_ACTIONS", "1");
  const RunResult r = row.pipes ? RunWrapped(dir, row.joined ? kJoinedPipe : kPipes, args, options)
                                : RunZelvane(dir, args, options);
  return {Replaced(r.out, dir.path(), "<dir>"), Replaced(r.err, dir.path(), "<dir>"), Listing(dir), r.status};
}

// Sixty-five files ahead of b/z.txt, more than -Jobs ever runs at once, so b/z.txt starts only after one of
// them has ended; and none ends before the first has removed b.
std::vector<std::string> RemovalTree() {
  std::vector<std::string> tree;
  for (int i = 100; i < 165; ++i)
    tree.push_back("a/" + std::to_string(i) + ".txt");
  tree.push_back("b/z.txt");
  return tree;
}

const std::string kStreams = "echo one %n; echo two %n >/dev/stderr; echo three %n >/dev/stdout";

const std::vector<ParityRow> kParityRows = {
    {"Program", kUneven, {"*.txt", "-n", kPrinter, "$n", "sleep:$b", "$c/$C"}},
    {"EchoBothStreamsJoined", kUneven, {"*.txt", "-n", "-e", kPrinter, "$n", "err:$b", "sleep:$b"}, {}, true},
    {"EchoOnly", kUneven, {"*.txt", "-n", "-eo", kPrinter + " $n;echo internal $c;no-such-program-zv"}},
    {"ShellCommandBroken", kUneven, {"*.txt", "echo $n is $c of $C;echo second $b >&2;exit $c"}, kShell},
    {"InternalEchoNoLineEnd",
     kUneven,
     {"*.txt", "-n", "-nocrlf", "echo [$n];" + kPrinter + " sleep:$b;echo ."}},
    // One at a time, internal echoes alone take a short way of their own.
    {"InternalEchoesAlone",
     kNested,
     {"*.txt", "-s", "-n", "-e", "-lowercase", "ECHO\t$c of $C: $r$n;echo [$e];"}},
    {"InternalEchoesAloneNoLineEnd", kNested, {"*.txt", "-s", "-n", "-nocrlf", "-sep|", "echo <$r$b>"}},
    {"OutputFileReadByLaterPart",
     {"a.s", "b.s", "c.s"},
     {"*.s", "-n", "-xo$b.out", "echo $n;/bin/cat $b.out;echo end $n"}},
    {"OneOutputFileForAll",
     kUneven,
     {"*.txt", "-n", "-xoall.out", "echo $n;echo $c;" + kPrinter + " $n sleep:$b"}},
    {"ChangeDirRelativeOutputFile",
     kNested,
     {"*.txt", "-s", "-c", "-n", "-xo$b.out", "echo $r$n;" + kPrinter + " $n"},
     {{"ARGV_PRINTER_ENV", "cwd"}}},
    {"CannotExecute", kUneven, {"*.txt", "-n", kPrinter + " $n;no-such-program-zv $n;" + kPrinter + " $c"}},
    {"DirectoryRemovedByEarlierFile",
     RemovalTree(),
     {"*.txt", "-s", "-c", "-ReturnCode", "-b+", "-m%",
      "test %c != 1 || rm -rf ../b; i=500; while test -d ../b && test $i -gt 0; do sleep 0.01; i=$((i-1)); "
      "done; echo %n"},
     kShell},
    {"ReturnCodeOfAFailure", kUneven, {"*.txt", "-ReturnCode", "-m%", "echo %n; test %c != 2"}, kShell},
    {"BothStreams", kUneven, {"*.txt", "-b+", "-m%", "echo out %n; echo err %n >&2; echo out %c"}, kShell},
    {"StreamsReopenedByName", kUneven, {"*.txt", "-b+", "-m%", kStreams}, kShell, false, true},
    {"StreamsReopenedByNameJoined", kUneven, {"*.txt", "-b+", "-m%", kStreams}, kShell, true, true},
    {"LargeOutput", {"a", "b", "c"}, {"?", "-n", "seq", "1", "200000"}},
    {"PseudoVariables", kNested, {"*.txt", "-s", "-n", "sh", "-c", "\"echo ${cwd} $n\""}},
    {"PseudoVariablesChangeDir", kNested, {"*.txt", "-s", "-c", "-n", "sh", "-c", "\"echo ${cwd} $n\""}},
    {"GatherProgram", kUneven, {"*.txt", "-n", "-e", "-Gather:2", kPrinter, "$n", "sleep:$b", "$c/$C"}},
    {"GatherShellChangeDir", kNested, {"*.txt", "-s", "-c", "-Gather", "-m%", "echo %n in; pwd"}, kShell},
};

class JobsParity : public ::testing::TestWithParam<ParityRow> {};

TEST_P(JobsParity, PrintsEndsAndLeavesTheTreeAsOneAtATime) {
  const Outcome one = RunRow(GetParam(), "");
  EXPECT_FALSE(one.out.empty());
  for (const char* jobs : {"-Jobs:2", "-Jobs:8", "-Jobs:0"}) {
    const Outcome many = RunRow(GetParam(), jobs);
    EXPECT_TRUE(Same(one.out, many.out)) << jobs << ": standard output";
    EXPECT_TRUE(Same(one.err, many.err)) << jobs << ": standard error";
    EXPECT_TRUE(Same(one.tree, many.tree)) << jobs << ": the tree left behind";
    EXPECT_EQ(many.status, one.status) << jobs;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, JobsParity, ::testing::ValuesIn(kParityRows),
                         [](const ::testing::TestParamInfo<ParityRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------------------
// Faults seen under -Jobs, one row each.

void WriteFiles(const TempDir& dir, const std::vector<std::string>& names) {
  for (const std::string& name : names)
    dir.WriteFile(name);
}

struct FaultRow {
  const char* name;
  void (*run)(const TempDir& dir);
};

const FaultRow kFaultRows[] = {
    {"ReopenedStandardErrorKeepsTheBlockWhole",
     [](const TempDir& dir) {
       WriteFiles(dir, {"a", "b", "c"});
       const RunResult r =
           RunWrapped(dir, kJoinedPipe, {"?", "-Jobs:2", "-m%", "echo 1 %n;echo 2 %n >/dev/stderr;echo 3 %n"},
                      {.env = kShell, .errorToOutput = true});
       EXPECT_EQ(r.out, "1 a\n2 a\n3 a\n1 b\n2 b\n3 b\n1 c\n2 c\n3 c\n");
     }},
    {"CwdIsTheStartDirectoryUnderItsNewName",
     [](const TempDir& dir) {
       // a renames the start directory; b ends only after that, so c, third of two slots, starts after it.
       const std::string command =
           "case %n in a) mv ../start ../moved;; b) for i in $(seq 500); do test -d ../moved && break; "
           "sleep 0.01; done;; c) echo ${cwd};; esac";
       for (const std::string jobs : {"-Jobs:1", "-Jobs:2"}) {
         const std::string start = "run" + jobs.substr(6) + "/start";
         WriteFiles(dir, {start + "/a", start + "/b", start + "/c"});
         const RunResult r =
             RunZelvane(dir, {"?", jobs, "-b+", "-m%", command}, {.cwd = dir / start, .env = kShell});
         EXPECT_EQ(r.out, dir / ("run" + jobs.substr(6) + "/moved") + "\n") << jobs;
       }
     }},
    {"SpillThatCannotBeWrittenIsReported",
     [](const TempDir& dir) {
       WriteFiles(dir, {"a", "b"});
       const RunResult r = RunZelvane(dir, {"?", "-Jobs:2", "-n", "seq", "1", "300000"},
                                      {.env = {{"TMPDIR", dir / "missing"}}});
       const bool whole = r.out == Lines(300000) + Lines(300000);
       EXPECT_TRUE(whole || r.err.find("Could not write") != std::string::npos)
           << r.out.size() << " bytes, status " << r.status << ", standard error: " << r.err;
       // A temporary directory that is full: files past the size limit cannot grow. Only the run is held to
       // the limit; its output goes through a pipe to a reader that is not.
       dir.MakeDir("tmp");
       const RunResult full =
           RunWrapped(dir, "set -o pipefail; (ulimit -f 64; exec \"$0\" \"$@\") | cat",
                      {"?", "-Jobs:2", "-n", "seq", "1", "300000"}, {.env = {{"TMPDIR", dir / "tmp"}}});
       EXPECT_TRUE(full.out == Lines(300000) + Lines(300000) ||
                   full.err.find("Could not write") != std::string::npos)
           << full.out.size() << " bytes, status " << full.status << ", standard error: " << full.err;
     }},
    {"PromptsGetEveryKeyAndChildrenNone",
     [](const TempDir& dir) {
       WriteFiles(dir, {"a", "b", "c"});
       const RunResult r =
           RunZelvane(dir, {"?", "-Jobs:4", "-p", "-n", "/bin/cat;echo $n"}, {.input = "yyy"});
       std::string expected;
       for (const std::string n : {"a", "b", "c"})
         expected += "Execute \"/bin/cat;echo " + n + "\"? [y/n] y\n" + n + "\n";
       EXPECT_EQ(r.out, expected);
     }},
    {"ClosedOutputStartsNoMoreThanTheSlots",
     [](const TempDir& dir) {
       WriteFiles(dir, {"1.tmp", "2.tmp", "3.tmp", "4.tmp", "5.tmp", "6.tmp"});
       const RunResult r =
           RunZelvane(dir, {"*.tmp", "-e", "-Jobs:2", "-n", "touch", "$b.ran"}, {.outputToClosedPipe = true});
       int ran = 0;
       for (const char* n : {"1", "2", "3", "4", "5", "6"})
         ran += dir.Exists(std::string(n) + ".ran") ? 1 : 0;
       EXPECT_LE(ran, 2);
       EXPECT_EQ(r.status, 0);
     }},
    {"FewDescriptorsDelayStartsInsteadOfFailingThem",
     [](const TempDir& dir) {
       std::string expected;
       for (int i = 10; i < 40; ++i) {
         std::string file = "d";  // appended: GCC 12 warns falsely on a chain of + with a temporary here
         file += std::to_string(i);
         file += "/f.txt";
         dir.WriteFile(file);
         expected += "[" + file + "]\n";
       }
       const RunResult r = RunWrapped(dir, "ulimit -n 16; exec \"$0\" \"$@\"",
                                      {"*.txt", "-s", "-c", "-Jobs:64", "-n", kPrinter, "$r$n"});
       EXPECT_EQ(r.out, expected);
       EXPECT_EQ(r.err, "");
     }},
    {"ShortOfDescriptorsForAnOutputFileNeverWaitsForItself",
     [](const TempDir& dir) {
       // With nothing else running, the file's own capture gives back nothing: the -xo file fails at once.
       WriteFiles(dir, {"a.tmp", "b.tmp", "c.tmp"});
       for (int limit = 5; limit <= 12; ++limit) {
         const RunResult r =
             RunWrapped(dir, "ulimit -n " + std::to_string(limit) + "; exec timeout 10 \"$0\" \"$@\"",
                        {"*.tmp", "-Jobs:2", "-xo$b.out", "-n", "echo", "$n"});
         EXPECT_NE(r.status, 124) << limit << ": " << r.err;
       }
     }},
    {"BackgroundWriterLandsInItsFilesBlock",
     [](const TempDir& dir) {
       WriteFiles(dir, {"a", "b"});
       const RunResult r = RunZelvane(
           dir, {"?", "-Jobs:2", "-b+", "-m%", "case %n in a) (sleep 0.3; echo LATE) & ;; b) echo B;; esac"},
           {.env = kShell});
       EXPECT_EQ(r.out, "LATE\nB\n");
     }},
};

void PrintTo(const FaultRow& row, std::ostream* os) {
  *os << row.name;
}

class JobsFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(JobsFault, Holds) {
  TempDir dir;
  GetParam().run(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, JobsFault, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return info.param.name; });

// Two busy processes beside the run make every processor look taken: the children must still be free to run
// on every processor the run may use.
TEST(JobsFaults, ChildrenKeepTheRunsProcessors) {
  std::ifstream status("/proc/self/status");
  std::string line, own;
  while (std::getline(status, line))
    if (line.rfind("Cpus_allowed_list:", 0) == 0) own = line + "\n";
  ASSERT_FALSE(own.empty());
  struct Spinners {
    std::vector<pid_t> pids;
    ~Spinners() {
      for (const pid_t pid : pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  } spinners;
  for (int i = 0; i < 2; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", "while :; do :; done", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0) spinners.pids.push_back(pid);
  }
  TempDir dir;
  // Each child is one more chance to catch one that was started pinned and not yet let free.
  std::string expected;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}) {
    dir.WriteFile(name);
    expected += own;
  }
  const RunResult r =
      RunZelvane(dir, {"?", "-Jobs:2", "-n", "grep", "Cpus_allowed_list:", "/proc/self/status"});
  EXPECT_EQ(r.out, expected);
}

// A process limit the run meets makes later files wait for a slot, not fail. Root is not held to the limit,
// so then the run is made by another user.
TEST(JobsFaults, ProcessLimitDelaysStartsInsteadOfFailingThem) {
#ifdef ZELVANE_SANITIZED
  GTEST_SKIP() << "the sanitizers' own threads count against the process limit";
#endif
  if (geteuid() != 0) GTEST_SKIP() << "the limit would count every process of this user, not only the run's";
  if (access("/usr/bin/prlimit", X_OK) != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "no prlimit or setpriv";
  const std::vector<std::string> prefix = {"/usr/bin/setpriv", "--reuid=65534",    "--regid=65534",
                                           "--clear-groups",   "/usr/bin/prlimit", "--nproc=4"};
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  std::vector<std::string> probe = prefix;
  probe.push_back("/bin/true");
  if (RunProgram(probe, dir.path(), {}).status != 0) GTEST_SKIP() << "cannot run as user 65534 under a limit";
  std::string expected;
  for (const char* n : {"1", "2", "3", "4", "5", "6", "7", "8"}) {
    dir.WriteFile(n);
    expected += std::string("[") + n + "]\n";
  }
  std::vector<std::string> argv = prefix;
  argv.insert(argv.end(), {ZelvaneBinary(), "?", "-Jobs:8", "-n", kPrinter, "$n", "sleep:100"});
  const RunResult r = RunProgram(argv, dir.path(), {.env = {{"ARGV_PRINTER_ACTIONS", "1"}}});
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// Processes still alive (not zombies) that are `pid`, in its process group, or its children.
std::vector<pid_t> Survivors(pid_t pid) {
  std::vector<pid_t> alive;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string text;
    std::getline(in, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 1));
    char state = 0;
    long parent = 0, group = 0;
    if (!(fields >> state >> parent >> group) || state == 'Z' || state == 'X') continue;
    const pid_t p = static_cast<pid_t>(std::stol(name));
    if (p == pid || parent == pid || group == pid) alive.push_back(p);
  }
  return alive;
}

// a waits until b runs, prints, then signals zelvane: what both printed so far comes out in list order, the
// run ends by that signal, and b's process group does not outlive it.
TEST(JobsFaults, TerminationSignalPrintsWhatRanAndEndsTheChildren) {
  for (const auto& [name, number] : {std::pair{"TERM", SIGTERM}, std::pair{"HUP", SIGHUP}}) {
    TempDir dir;
    WriteFiles(dir, {"a", "b"});
    const std::string command =
        std::string("case %n in a) for i in $(seq 500); do test -s b.pid && break; sleep 0.01; done; ") +
        "echo a-out; kill -" + name +
        " $PPID;; b) echo b-started; echo $$ >b.tmp; mv b.tmp b.pid; sleep 30;; esac";
    const RunResult r = RunZelvane(dir, {"?", "-Jobs:2", "-b+", "-m%", command}, {.env = kShell});
    const pid_t b = static_cast<pid_t>(std::atol(dir.ReadFile("b.pid").c_str()));
    EXPECT_EQ(r.status, 128 + number) << name;
    const std::size_t printedA = r.out.find("a-out\n");
    const std::size_t printedB = r.out.find("b-started\n");
    EXPECT_TRUE(printedA != std::string::npos && printedB != std::string::npos && printedB > printedA)
        << name << ": " << r.out;
    ASSERT_GT(b, 0) << name;
    bool gone = Survivors(b).empty();
    for (int i = 0; i < 300 && !gone; ++i) {
      usleep(10000);
      gone = Survivors(b).empty();
    }
    EXPECT_TRUE(gone) << name << ": b's processes outlived the run";
    for (const pid_t p : Survivors(b))
      kill(p, SIGKILL);
  }
}

}  // namespace
}  // namespace zelvane::test
