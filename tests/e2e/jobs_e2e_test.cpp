// Several commands at once (-Jobs) and the exit status on request (-ReturnCode), run for real. Nothing here
// depends on how fast a child runs: children sleep unevenly so that later files tend to end first, and
// every expectation holds whatever order they end in.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {

const std::string kPrinter = ArgvPrinter();

// Names sort in this order; the digits that end each base name are the milliseconds its command sleeps.
const std::vector<std::string> kUneven = {"a_090.txt", "b_010.txt", "c_070.txt",
                                          "d_000.txt", "e_050.txt", "f_030.txt"};

void WriteFiles(const TempDir& dir, const std::vector<std::string>& names) {
  for (const std::string& name : names)
    dir.WriteFile(name);
}

RunOptions Acting(bool errorToOutput, std::vector<std::pair<std::string, std::string>> env = {}) {
  RunOptions options;
  options.errorToOutput = errorToOutput;
  options.env = std::move(env);
  options.env.emplace_back("ARGV_PRINTER_ACTIONS", "1");
  return options;
}

TEST(JobsE2E, FourAtOncePrintEachFilesBlockInListOrder) {
  TempDir dir;
  WriteFiles(dir, kUneven);
  const std::vector<std::string> args = {"*.txt", "-n",     "-e",       "-Jobs:4", kPrinter,
                                         "$n",    "err:$b", "sleep:$b", "$c"};
  std::string expected;
  for (std::size_t i = 0; i < kUneven.size(); ++i) {
    const std::string base = kUneven[i].substr(0, 5);
    expected += kPrinter + " " + kUneven[i] + " err:" + base + " sleep:" + base + " " +
                std::to_string(i + 1) + "\n[" + kUneven[i] + "]\n[" + base + "]\n[" + std::to_string(i + 1) +
                "]\n";
  }
  // One file for both streams: one capture keeps their order within each block.
  RunResult r = RunZelvane(dir, args, Acting(true));
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 0);

  // Two files: each stream gets its own blocks, still in list order.
  r = RunZelvane(dir, args, Acting(false));
  std::string out;
  std::string err;
  for (std::size_t i = 0; i < kUneven.size(); ++i) {
    const std::string base = kUneven[i].substr(0, 5);
    out += kPrinter + " " + kUneven[i] + " err:" + base + " sleep:" + base + " " + std::to_string(i + 1) +
           "\n[" + kUneven[i] + "]\n[" + std::to_string(i + 1) + "]\n";
    err += "[" + base + "]\n";
  }
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
}

TEST(JobsE2E, EachChildStartsInItsOwnDirectoryWithItsOwnPseudoVariables) {
  TempDir dir;
  WriteFiles(dir, {"top.txt", "a/x.txt", "b/c/y.txt", "b/c/z.txt"});
  RunOptions options;
  options.env = {{"ARGV_PRINTER_ENV", "cwd"}};
  const std::vector<std::string> args = {
      "*.txt", "-s", "-n", "-c", "-Jobs:3", "-xo$b.out", "echo $c;" + kPrinter + " $n"};
  const RunResult r = RunZelvane(dir, args, options);
  EXPECT_EQ(r.out, "[x.txt]\ncwd=" + (dir / "a") + "\n[y.txt]\ncwd=" + (dir / "b/c") +
                       "\n[z.txt]\ncwd=" + (dir / "b/c") + "\n[top.txt]\ncwd=" + dir.path() + "\n");
  // Relative -xo names lie beside each file; the process itself never left the start directory.
  EXPECT_EQ(dir.ReadFile("a/x.out"), "1\n");
  EXPECT_EQ(dir.ReadFile("b/c/y.out"), "2\n");
  EXPECT_EQ(dir.ReadFile("b/c/z.out"), "3\n");
  EXPECT_EQ(dir.ReadFile("top.out"), "4\n");
  EXPECT_FALSE(dir.Exists("x.out"));

  // One -xo name for every file: it ends with the last file's lines, as one at a time leaves it.
  const RunResult shared = RunZelvane(
      dir, {"*.txt", "-s", "-n", "-Jobs:3", "-xo" + (dir / "all.out"), "echo $n;" + kPrinter + " sleep:$c"},
      Acting(false));
  EXPECT_EQ(shared.out, "");
  EXPECT_EQ(dir.ReadFile("all.out"), "top.txt\n");
}

#ifndef _WIN32  // starts the POSIX sh; the argv printer's rows run on both targets above
std::vector<std::string> With(std::vector<std::string> args, const std::string& option) {
  args.insert(args.begin() + 1, option);
  return args;
}

TEST(JobsE2E, EightAtOncePrintExactlyWhatOneAtATimePrints) {
  TempDir dir;
  WriteFiles(dir, kUneven);
  dir.WriteFile("sub/g_020.txt");
  dir.WriteFile("sub/h_060.txt");
  const std::string p = kPrinter;
  const std::vector<std::pair<std::string, std::string>> shell = {{"COMSPEC", "/bin/sh"}};
  struct Case {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
  };
  const std::vector<Case> cases = {
      {{"*.txt", "-s", "-n", "-e", p, "$n", "err:$n", "sleep:$b", "$c/$C"}, {}},
      // Internal echo, a program that cannot start and a second child, in part order.
      {{"*.txt", "-s", "-n", p + " $n sleep:$b;echo internal $c;no-such-program-zv $n;" + p + " err:$b"}, {}},
      {{"*.txt", "-s", "-n", "-eo", "-nocrlf", p + " $n;echo [$c]"}, {}},
      // A failed write to the -xo file ends the run where the one-at-a-time run ends it: before any child
      // starts when it comes first (files already running when it fails finish what they started).
      {{"*.txt", "-s", "-n", "-xo/dev/full", "echo $c;" + p + " $n;" + p + " after"}, {}},
      // The shell's own output on both streams, a failing exit and -c.
      {{"*.txt", "-s", "-c", "-e", "-m%", "sleep 0.0%c; echo out %n; pwd >&2; echo $cwd; exit %c"}, shell},
  };
  for (const Case& c : cases) {
    for (const bool oneFile : {true, false}) {
      const RunResult one = RunZelvane(dir, With(c.args, "-Jobs:1"), Acting(oneFile, c.env));
      const RunResult eight = RunZelvane(dir, With(c.args, "-Jobs:8"), Acting(oneFile, c.env));
      EXPECT_FALSE(one.out.empty() && one.err.empty()) << c.args.back();
      EXPECT_EQ(eight.out, one.out) << c.args.back() << (oneFile ? " (one file)" : "");
      EXPECT_EQ(eight.err, one.err) << c.args.back() << (oneFile ? " (one file)" : "");
      EXPECT_EQ(eight.status, 0);
    }
  }
}

TEST(JobsE2E, AbortKeyAndStopFileLetRunningFilesFinishAndPrint) {
  TempDir dir;
  WriteFiles(dir, {"1.tmp", "2.tmp", "3.tmp", "4.tmp", "5.tmp"});
  // Two start before any ends; the 'q' is read when the first command ends, so no third starts.
  RunOptions keys;
  keys.input = "q";
  RunResult r = RunZelvane(dir, {"*.tmp", "-n", "-Jobs:2", kPrinter, "$n"}, keys);
  EXPECT_EQ(r.out, "[1.tmp]\n[2.tmp]\nAborting at user's request after " + (dir / "2.tmp") + ".\n");

  // Another key is no abort; -p without -Batch asks in order, one file at a time.
  keys.input = "yxq";
  r = RunZelvane(dir, {"*.tmp", "-n", "-p", "-Jobs:4", kPrinter, "$n"}, keys);
  EXPECT_EQ(r.out, "Execute \"" + kPrinter + " 1.tmp\"? [y/n] y\n[1.tmp]\nExecute \"" + kPrinter +
                       " 2.tmp\"? [y/n] n\n" + "Aborting at user's request after " + (dir / "2.tmp") + ".\n");

  dir.WriteFile("halt");
  r = RunZelvane(dir, {"*.tmp", "-n", "-Jobs:2", "-Stop:halt", kPrinter, "$n"});
  EXPECT_EQ(r.out, "[1.tmp]\n[2.tmp]\n");
  EXPECT_FALSE(dir.Exists("halt"));

  // A Stop file that cannot be deleted is reported after the blocks of the files that ran.
  dir.WriteFile("halt");
  RunOptions merged;
  merged.errorToOutput = true;
  r = RunZelvane(dir, {"*.tmp", "-n", "-Jobs:2", "-Stop:hal?", kPrinter, "$n"}, merged);
  EXPECT_EQ(r.out, "[1.tmp]\n[2.tmp]\nWARNING:  could not delete Stop file \"hal?\".\n");
}

TEST(JobsE2E, OutputNobodyReadsStopsNewStarts) {
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 100; i < 160; ++i)
    names.push_back(std::to_string(i) + ".tmp");
  WriteFiles(dir, names);
  RunOptions closed;
  closed.outputToClosedPipe = true;
  closed.ignoreBrokenPipe = true;
  closed.env = {{"COMSPEC", "/bin/sh"}};
  const RunResult r = RunZelvane(dir, {"*.tmp", "-Jobs:2", "-m%", "touch %b.ran; echo %n"}, closed);
  EXPECT_EQ(r.status, 0);
  int ran = 0;
  for (int i = 100; i < 160; ++i)
    ran += dir.Exists(std::to_string(i) + ".ran") ? 1 : 0;
  // Files start only while fewer than a bounded number wait to be printed; the first failed write ends that.
  EXPECT_GE(ran, 1);
  EXPECT_LT(ran, 40);
}

TEST(JobsE2E, AFileWhoseDirectoryIsGoneIsSkippedWithAMessage) {
  TempDir dir;
  WriteFiles(dir, {"a/1.txt", "a/2.txt", "b/3.txt"});
  RunOptions options;
  options.env = {{"COMSPEC", "/bin/sh"}};
  // At two at once, the first two start together and both remove b; the third starts only after one of
  // them has ended.
  for (const char* jobs : {"-Jobs:1", "-Jobs:2"}) {
    dir.WriteFile("b/3.txt");
    const RunResult r =
        RunZelvane(dir, {"*.txt", "-s", "-c", jobs, "-ReturnCode", "-m%", "rm -rf ../b; echo %n"}, options);
    EXPECT_EQ(r.out, "1.txt\n2.txt\nCould not change to directory " + (dir / "b") + ".\n") << jobs;
    EXPECT_EQ(r.status, 1) << jobs;
  }
}

TEST(JobsE2E, TwoHundredMegabytesOfOutputPassThroughASmallProcess) {
  TempDir dir;
  WriteFiles(dir, {"1.big", "2.big"});
  RunOptions options;
  options.outputPath = dir / "out.bin";
  options.env = {{"COMSPEC", "/bin/sh"}};
  const RunResult r = RunZelvane(
      dir, {"*.big", "-Jobs:2", "-m%", "test %c = 1 && head -c 200000000 /dev/zero; echo %n"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::filesystem::file_size(options.outputPath), 200000000u + 12u);
  std::ifstream in(options.outputPath, std::ios::binary);
  in.seekg(-12, std::ios::end);
  std::string tail(12, '\0');
  in.read(tail.data(), 12);
  EXPECT_EQ(tail, "1.big\n2.big\n");
  // The largest child this test waited for: Zelvane (head and sh are far smaller).
  struct rusage usage {};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 64L * 1024) << "peak resident KiB";
}

// The state letter of a process ("R", "S", "Z", ...), or empty when there is no such process.
std::string ReadProcState(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const std::size_t paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() ? std::string() : stat.substr(paren + 2, 1);
}

// After the n-th failure no new file starts, with one slot or four: every command fails here, so the
// first four start together under -Jobs:4 and none after them.
TEST(JobsE2E, QuitOnFailStartsNothingAfterTheNthFailure) {
  TempDir dir;
  WriteFiles(dir, {"1.tmp", "2.tmp", "3.tmp", "4.tmp", "5.tmp", "6.tmp", "7.tmp", "8.tmp"});
  const std::string failing = "\"echo \\\"$@\\\" >> started.log && exit 3\"";
  struct Case {
    std::vector<std::string> args;
    std::string started;
    std::string err;
  };
  const Case cases[] = {
      {{"-Jobs:1", "-QuitOnFail"}, "1.tmp\n", "Stopped after 1 failed command(s).\n"},
      {{"-Jobs:1", "-QuitOnFail:3"}, "1.tmp\n2.tmp\n3.tmp\n", "Stopped after 3 failed command(s).\n"},
      {{"-Jobs:4", "-QuitOnFail"}, "1.tmp\n2.tmp\n3.tmp\n4.tmp\n", "Stopped after 4 failed command(s).\n"},
      // A group is one command: one failure for the three files it holds.
      {{"-Jobs:1", "-Gather:3", "-QuitOnFail"},
       "1.tmp 2.tmp 3.tmp\n",
       "Stopped after 1 failed command(s).\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"*.tmp", "-n"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    for (const char* word : {"sh", "-c"})
      args.push_back(word);
    args.push_back(failing);
    args.push_back("sh");
    args.push_back("$n");
    std::remove((dir / "started.log").c_str());
    const RunResult r = RunZelvane(dir, args);
    std::string started = dir.ReadFile("started.log");
    EXPECT_EQ(r.status, 1) << c.args.back();
    EXPECT_EQ(r.err, c.err) << c.args.back();
    // Side by side the four end in any order; which started is what counts.
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < started.size();) {
      const std::size_t end = started.find('\n', at);
      lines.push_back(started.substr(at, end - at + 1));
      at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    started.clear();
    for (const std::string& line : lines)
      started += line;
    EXPECT_EQ(started, c.started) << c.args.back();
  }
}

// A command past its time is asked to end and, if it will not, ended for good two seconds later, with what
// it started; either way it counts as a failure and says so on standard error.
TEST(JobsE2E, KillAfterEndsTheCommandAndWhatItStarted) {
  TempDir dir;
  WriteFiles(dir, {"1.tmp", "2.tmp"});
  for (const char* jobs : {"-Jobs:1", "-Jobs:2"}) {
    std::remove((dir / "1.tmp.pid").c_str());
    // 1.tmp leaves a grandchild behind and waits for it; 2.tmp will not be asked to end.
    const RunResult r = RunZelvane(
        dir,
        {"*.tmp", jobs, "-ReturnCode", "-KillAfter:1", "-m%", "-b+",
         "test %n = 2.tmp && { trap '' TERM; sleep 30; } || { sleep 30 & echo $! > %n.pid; wait; }"},
        {.env = {{"COMSPEC", "/bin/sh"}}});
    EXPECT_EQ(r.status, 1) << jobs;
    const std::string said =
        "Command timed out after 1 s: test 1.tmp = 2.tmp && { trap '' TERM; sleep 30; } || "
        "{ sleep 30 & echo $! > 1.tmp.pid; wait; }.\n";
    EXPECT_NE(r.err.find(said), std::string::npos) << jobs << ": " << r.err;
    EXPECT_NE(r.err.find("Command timed out after 1 s: test 2.tmp"), std::string::npos)
        << jobs << ": " << r.err;
    const std::string pid = dir.ReadFile("1.tmp.pid");
    ASSERT_FALSE(pid.empty()) << jobs;
    // The grandchild is gone (or a zombie no one waits for, which it may be a moment longer).
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
      const std::string state = ReadProcState(std::stoi(pid));
      gone = state.empty() || state == "Z";
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(gone) << jobs << ": pid " << pid;
  }
}

// Many files to one command: every file exactly once, in list order, over as many commands as the system's
// command line needs.
TEST(JobsE2E, GatherCrossesTheSystemsCommandLineLimit) {
  TempDir dir;
  // 20,000 names of 200 characters: over 4 MB of arguments, more than one command line takes.
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) {
    std::string name = std::to_string(100000 + i);
    name.append(190, 'x');
    name += ".t";
    names.push_back(name);
  }
  for (const std::string& name : names)
    dir.WriteFile(name);
  const RunResult r =
      RunZelvane(dir, {"*.t", "-n", "-Gather", "-ReturnCode", "sh", "-c", "\"echo $# $1\"", "sh", "$n"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Each command prints how many names it got and the first of them.
  std::size_t total = 0, commands = 0, at = 0;
  while (at < r.out.size() && total < names.size()) {
    const std::size_t blank = r.out.find(' ', at);
    const std::size_t end = r.out.find('\n', at);
    ASSERT_LT(blank, end) << r.out.substr(at, 200);
    EXPECT_EQ(r.out.substr(blank + 1, end - blank - 1), names[total]) << "command " << commands;
    total += std::stoul(r.out.substr(at, blank - at));
    ++commands;
    at = end + 1;
  }
  EXPECT_EQ(total, names.size());
  EXPECT_GE(commands, 2u);
#ifndef _WIN32
  // Through the shell, the whole line is one argument, which the system limits on its own: each group is
  // echoed once, as it runs, and not again for a line the system refused.
  const RunResult shell = RunZelvane(dir, {"*.t", "-e", "-Gather", "-ReturnCode", "echo $n | wc -w"},
                                     {.env = {{"COMSPEC", "/bin/sh"}}});
  ASSERT_EQ(shell.status, 0) << shell.err.substr(0, 200);
  std::size_t echoes = 0, words = 0;
  for (std::size_t line = 0; line < shell.out.size();) {
    const std::size_t end = shell.out.find('\n', line);
    if (shell.out.compare(line, 5, "echo ") == 0) {
      ++echoes;
    } else {
      words += std::stoul(shell.out.substr(line, end - line));
      EXPECT_EQ(echoes, 1u) << "echoes before the command that printed "
                            << shell.out.substr(line, end - line);
      echoes = 0;
    }
    line = end + 1;
  }
  EXPECT_EQ(words, names.size());
#endif
}

// The columns of each line of a log after its header that hold a file's number, name and exit code.
std::string LogSummary(const std::string& log) {
  std::string out;
  std::size_t at = log.find('\n') + 1;
  while (at < log.size()) {
    const std::size_t end = log.find('\n', at);
    const std::string line = log.substr(at, end - at);
    std::vector<std::string> fields;
    for (std::size_t f = 0; f <= line.size();) {
      const std::size_t tab = std::min(line.find('\t', f), line.size());
      fields.push_back(line.substr(f, tab - f));
      f = tab + 1;
    }
    const std::string name = fields.at(1).substr(fields.at(1).rfind('/') + 1);
    out += fields.at(0) + " " + name + " " + fields.at(6) + "\n";
    at = end + 1;
  }
  return out;
}

// One line per file as it ends: its exit code, or why it has none; -Resume then runs exactly the files
// that did not succeed, those never reached, and one changed since.
TEST(JobsE2E, LogSaysWhatBecameOfEachFileAndResumeRunsTheRest) {
  TempDir dir;
  WriteFiles(dir, {"1.tmp", "2.tmp", "3.tmp", "4.tmp", "5.tmp", "6.tmp", "7.tmp"});
  RunOptions keys;
  keys.env = {{"COMSPEC", "/bin/sh"}};
  // 1 succeeds, 2 fails, 3 is declined, 4 runs past its time, 5 names no program; the run is aborted
  // before 6 and 7.
  keys.input = "yyny yy";
  const std::string command = "case %n in 2.tmp) exit 2;; 4.tmp) sleep 30;; 5.tmp) no-such-program-zv;; esac";
  RunResult r = RunZelvane(
      dir,
      {"*.tmp", "-p", "-m%", "-b+", "-KillAfter:1", "-Log:run.log", "-Stop:halt", command + "+touch halt"},
      keys);
  (void)r;
  // The Stop file came from the commands: the run ends after the file that made it, 1.tmp.
  EXPECT_EQ(LogSummary(dir.ReadFile("run.log")), "1 1.tmp 0\n");
  dir.WriteFile("run.log", "");
  keys.input = "yynyyyy";
  r = RunZelvane(dir, {"*.tmp", "-p", "-m%", "-b+", "-KillAfter:1", "-Log:run.log", command}, keys);
  EXPECT_EQ(dir.ReadFile("run.log").substr(0, 7), "number\t");
  EXPECT_EQ(LogSummary(dir.ReadFile("run.log")),
            "1 1.tmp 0\n2 2.tmp 2\n3 3.tmp skipped\n4 4.tmp timeout\n5 5.tmp 127\n6 6.tmp 0\n7 7.tmp 0\n");
  // 1 changes size since; the second run is then aborted with 'q' after its first file.
  dir.WriteFile("1.tmp", "changed");
  keys.input = "q";
  r = RunZelvane(dir, {"*.tmp", "-n", "-Log:run.log", "-Resume", "echo", "$c/$C", "$n"}, keys);
  EXPECT_EQ(r.out, "1/7 1.tmp\nAborting at user's request after " + (dir / "1.tmp") + ".\n");
  r = RunZelvane(dir, {"*.tmp", "-n", "-Log:run.log", "-Resume", "-Gather", "echo", "$c:$n"});
  // Numbers count the whole list; a group ends before a file that is done.
  EXPECT_EQ(r.out, "2:2.tmp 3:3.tmp 4:4.tmp 5:5.tmp\n");
  // The group's command is on its first file's line; the others name that file.
  const std::string log = dir.ReadFile("run.log");
  std::string commands;
  for (std::size_t end = log.size() - 1, k = 0; k < 4; ++k, end = log.rfind('\n', end - 1))
    commands.insert(0, log.substr(log.rfind('\t', end) + 1, end - log.rfind('\t', end)));
  EXPECT_EQ(commands, std::string("echo 2:2.tmp 3:3.tmp 4:4.tmp 5:5.tmp\n") +
                          "same command as file 2\nsame command as file 2\nsame command as file 2\n");
  r = RunZelvane(dir, {"*.tmp", "-n", "-Log:run.log", "-Resume", "no-such-program-zv", "$n"});
  EXPECT_EQ(r.out, "");
  RunZelvane(dir, {"1.tmp", "-n", "-Log:other.log", "no-such-program-zv", "$n"});
  EXPECT_EQ(LogSummary(dir.ReadFile("other.log")), "1 1.tmp not started\n");
#ifndef _WIN32
  // Its last part never ran (the -xo file could not be written): not done, though the first succeeded.
  RunZelvane(dir, {"1.tmp", "-n", "-Log:cut.log", "-xo/dev/full", "true;echo x;true"});
  EXPECT_EQ(LogSummary(dir.ReadFile("cut.log")), "1 1.tmp not started\n");
  // Lines are held only until the next command starts: each command sees every earlier file's line.
  r = RunZelvane(dir, {"1.tmp 2.tmp 3.tmp", "-n", "-Log:seen.log", "wc", "-l", "seen.log"});
  EXPECT_EQ(r.out, "1 seen.log\n2 seen.log\n3 seen.log\n");
#endif
  // A log that cannot be written is reported, and nothing runs.
  r = RunZelvane(dir, {"*.tmp", "-n", "-Log:" + (dir / "no/such/dir/run.log"), "echo", "$n"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Could not write \"" + (dir / "no/such/dir/run.log") + "\": No such file or directory.\n");
}

TEST(JobsE2E, ReturnCodeSaysWhetherAnythingFailed) {
  TempDir dir;
  WriteFiles(dir, {"1.tmp", "2.tmp", "3.tmp"});
  const std::vector<std::pair<std::string, std::string>> shell = {{"COMSPEC", "/bin/sh"}};
  struct Case {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
    int status;
  };
  const std::vector<Case> cases = {
      {{"-ReturnCode", "-n", "true"}, {}, 0},
      {{"-ReturnCode", "-n", "false"}, {}, 1},
      {{"-n", "false"}, {}, 0},  // without the option the status stays 0
      {{"-ReturnCode", "-n", "no-such-program-zv"}, {}, 1},
      {{"-ReturnCode", "-n", "false;true"}, {}, 1},  // any part, not only the last
      {{"-ReturnCode", "-m%", "test %c != 2"}, shell, 1},
      {{"-ReturnCode", "-m%", "kill -9 $$"}, shell, 1},
      {{"-ReturnCode", "-n", "-eo", "false"}, {}, 0},  // nothing started
      {{"-ReturnCode", "-n", "echo x;true"}, {}, 0},
  };
  for (const Case& c : cases) {
    for (const char* jobs : {"-Jobs:1", "-Jobs:4"}) {
      std::vector<std::string> args = {"*.tmp", jobs};
      args.insert(args.end(), c.args.begin(), c.args.end());
      RunOptions options;
      options.env = c.env;
      EXPECT_EQ(RunZelvane(dir, args, options).status, c.status) << jobs << " " << c.args.back();
    }
  }
}
#endif

}  // namespace
}  // namespace zelvane::test
