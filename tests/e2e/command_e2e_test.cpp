// Commands run for real: children started directly and through a shell, over temporary trees.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {

const std::string kPrinter = ArgvPrinter();

#ifndef _WIN32
RunOptions WithShell(const std::string& shell, const std::string& input = "") {
  RunOptions options;
  options.input = input;
  options.env = {{"COMSPEC", shell}};
  return options;
}
#endif

RunOptions WithInput(const std::string& input) {
  RunOptions options;
  options.input = input;
  return options;
}

TEST(CommandE2E, NoShellWordsFollowTheRunTimeLibraryRules) {
  TempDir dir;
#ifdef _WIN32
  const std::string odd = "my odd;file";  // Win32 names hold no quotes
#else
  const std::string odd = "my \"odd\" file";
#endif
  dir.WriteFile(odd + ".tmp", std::string(1234, 'x'));
  const std::string p = kPrinter;
  struct Case {
    std::vector<std::string> command;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // A macro is one argument whatever the name holds, quoted or not; quotes group and are removed.
      {{p, "$n", "\"$n\"", "\"a  b\"", "$S"}, "[" + odd + ".tmp]\n[" + odd + ".tmp]\n[a  b]\n[    1234]\n"},
      // Runs of blanks separate once; "" is an empty word; \" is a literal quote.
      {{p + "  a\t\tb", "", "\"\"", "x\\\"y"}, "[a]\n[b]\n[]\n[x\"y]\n"},
      // Backslashes are literal unless a quote follows them.
      {{p, "a\\b\\\\", "\"c\\\\\"d"}, "[a\\b\\\\]\n[c\\d]\n"},
      // Quotes around a part of a word join it to the rest.
      {{p, "pre\"$b mid\"post"}, "[pre" + odd + " midpost]\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"*.tmp", "-n"};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const RunResult r = RunZelvane(dir, args);
    EXPECT_EQ(r.out, c.expected) << c.command[1];
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
  // The echo and the internal echo show the part as it stands, quotes and all.
  const RunResult r = RunZelvane(dir, {"*.tmp", "-n", "-eo", p, "\"$b\";echo", "\"$e\"  x"});
  EXPECT_EQ(r.out, p + " \"" + odd + "\"\n\".tmp\"  x\n");
}

#ifndef _WIN32  // starts the POSIX rm
TEST(CommandE2E, RemovingAFileWithBlanksRemovesThatFile) {
  TempDir dir;
  dir.WriteFile("my file.tmp");
  dir.WriteFile("my");
  dir.WriteFile("file.tmp2");
  RunResult r = RunZelvane(dir, {"*.tmp", "rm", "$f"});
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(dir.Exists("my file.tmp"));
  EXPECT_TRUE(dir.Exists("my"));
  EXPECT_TRUE(dir.Exists("file.tmp2"));

  // The Win32 habit of quoting the macro works too.
  dir.WriteFile("my file.tmp");
  r = RunZelvane(dir, {"*.tmp", "-n", "rm", "\"$f\""});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(dir.Exists("my file.tmp"));
}

// Without a typed command line the Command is the arguments after the last option, so nothing typed before
// it (quotes, character codes, blanks) shifts where it begins.
TEST(CommandE2E, CommandIsTheArgumentsAfterTheLastOption) {
  TempDir dir;
  dir.WriteFile("a.tmp");
  dir.WriteFile("my file.txt");
  dir.WriteFile("cmd.args", kPrinter + "\n$n\n#065\n");
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"*.tmp", "-x\"my file.txt\"", kPrinter, "$n"}, "[a.tmp]\n"},
      {{"*.tmp", "-xo#065", kPrinter, "$n"}, "[a.tmp]\n"},
      {{"  *.tmp", kPrinter, "$n"}, "[a.tmp]\n"},
      {{"\"*.tmp\"", "-s", kPrinter, "$n"}, "[a.tmp]\n"},
      // Codes are converted in the Command's own words, an argument file's lines stay as they are, and an
      // argument holding blanks is split like any other text.
      {{"*.tmp", "-n", kPrinter, "#065", "b  c"}, "[A]\n[b]\n[c]\n"},
      {{"*.tmp", "@cmd.args"}, "[a.tmp]\n[#065]\n"},
      {{"*.tmp", "-n", "  " + kPrinter, "x"}, "[x]\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunZelvane(dir, c.args);
    EXPECT_EQ(r.out, c.expected) << c.args[1];
    EXPECT_EQ(r.err, "") << c.args[1];
  }
  // The -xo file of the second case is named as typed; only the Command has its codes converted.
  EXPECT_TRUE(dir.Exists("#065"));
}
#endif

#ifndef _WIN32  // a POSIX shell; cmd.exe is tested in tests/win32
TEST(CommandE2E, ShellModeHandsThePartToTheShell) {
  TempDir dir;
  dir.WriteFile("a.tmp");
  // -m frees $ for the shell's own variables; the shell does the redirection.
  RunResult r = RunZelvane(dir, {"*.tmp", "-m%", kPrinter, "%n", "'x  y'", "\"$weekday\"", ">", "%b.out"},
                           WithShell("/bin/sh"));
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(
      std::regex_match(dir.ReadFile("a.out"),
                       std::regex(R"(\[a.tmp\]\n\[x  y\]\n\[(Sun|Mon|Tues|Wednes|Thurs|Fri|Satur)day\]\n)")))
      << dir.ReadFile("a.out");

  // A shell that is not a POSIX shell gets " /c " and the part as one argument.
  r = RunZelvane(dir, {"*.tmp", "del", "$n", "x;dir"}, WithShell(kPrinter));
  EXPECT_EQ(r.out, "[ /c del a.tmp x]\n[ /c dir]\n");

  r = RunZelvane(dir, {"*.tmp", "-e", "true", "$n"}, WithShell("/no/such/sh"));
  EXPECT_EQ(r.out, "true a.tmp\nCould not execute /no/such/sh.\n");
}
#endif

#ifndef _WIN32  // PATH and the execute permission as POSIX has them
// A program is looked for as a shell looks for it, one at a time and side by side alike: a name holding '/'
// as it stands, from where the command starts; any other along PATH, past a file there that cannot be
// executed, with a relative PATH directory taken from where the command starts. A file without an
// interpreter line is not handed to a shell.
TEST(CommandE2E, ProgramsAreFoundAsAShellFindsThem) {
  TempDir dir;
  dir.WriteFile("sub/a.tmp");
  const auto script = [&](const std::string& name, const std::string& text, mode_t mode) {
    dir.WriteFile(name, text);
    chmod((dir / name).c_str(), mode);
  };
  script("sub/tools/tool", "#!/bin/sh\necho sub tool $1\n", 0755);
  script("locked/tool", "#!/bin/sh\necho locked\n", 0644);
  script("bin/tool", "#!/bin/sh\necho bin tool $1\n", 0755);
  script("bin/plain", "echo plain\n", 0755);
  const struct {
    std::vector<std::string> args;
    std::string path;
    std::string out;
  } rows[] = {
      {{"tool", "$n"}, dir / "locked:" + dir / "bin", "bin tool a.tmp\n"},
      {{"tool", "$n"}, dir / "locked", "Could not execute tool.\n"},
      {{"-c", "tool", "$n"}, "tools:" + dir / "bin", "sub tool a.tmp\n"},
      {{"-c", "./tools/tool", "$n"}, dir / "bin", "sub tool a.tmp\n"},
      {{"plain"}, dir / "bin", "Could not execute plain.\n"},
  };
  for (const auto& row : rows) {
    for (const std::vector<std::string>& jobs : {std::vector<std::string>{}, {"-Jobs:2"}}) {
      std::vector<std::string> args = {"sub/*.tmp", "-n"};
      args.insert(args.end(), jobs.begin(), jobs.end());
      args.insert(args.end(), row.args.begin(), row.args.end());
      RunOptions options;
      options.env = {{"PATH", row.path}};
      const RunResult r = RunZelvane(dir, args, options);
      EXPECT_EQ(r.out, row.out) << row.args[0] << " " << row.path << " " << jobs.size();
    }
  }
}
#endif

TEST(CommandE2E, BreakCharacterSplitsTheTemplate) {
  TempDir dir;
  dir.WriteFile("x;y.txt");
  const std::string p = kPrinter;
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{p + " a;" + p + " b"}, "[a]\n[b]\n"},
      {{p + " a;"}, "[a]\n"},
      {{p + " a;;" + p + " b"}, "[a]\n"},
      {{";" + p + " a"}, ""},
      {{"-b+", p + " a;b+" + p + " c"}, "[a;b]\n[c]\n"},
      // A break character inside a file name splits nothing.
      {{p + " $n;" + p + " $b"}, "[x;y.txt]\n[x;y]\n"},
      {{"-m%", p + " %n;" + p + " %b"}, "[x;y.txt]\n[x;y]\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"*.txt", "-n"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(RunZelvane(dir, args).out, c.expected) << c.args.back();
  }
}

TEST(CommandE2E, ConfirmationShowsTheWholeCommandAndOneAnswerCoversIt) {
  TempDir dir;
  dir.WriteFile("a.tmp");
  dir.WriteFile("b.tmp");
  dir.WriteFile("x;y.tmp");
  const std::string command = kPrinter + " $n;" + kPrinter + " $c";
  RunResult r = RunZelvane(dir, {"*.tmp", "-p", command}, WithInput("yNY"));
  EXPECT_EQ(r.out, "Execute \"" + kPrinter + " a.tmp;" + kPrinter + " 1\"? [y/n] y\n[a.tmp]\n[1]\n" +
                       "Execute \"" + kPrinter + " b.tmp;" + kPrinter + " 2\"? [y/n] n\n" + "Execute \"" +
                       kPrinter + " x;y.tmp;" + kPrinter + " 3\"? [y/n] y\n[x;y.tmp]\n[3]\n");

  // The end of input declines; -Batch asks nothing.
  r = RunZelvane(dir, {"*.tmp", "-p", kPrinter, "$n"}, WithInput("y"));
  EXPECT_EQ(r.out, "Execute \"" + kPrinter + " a.tmp\"? [y/n] y\n[a.tmp]\n" + "Execute \"" + kPrinter +
                       " b.tmp\"? [y/n] n\n" + "Execute \"" + kPrinter + " x;y.tmp\"? [y/n] n\n");
  r = RunZelvane(dir, {"*.tmp", "-p", "-Batch", kPrinter, "$n"});
  EXPECT_EQ(r.out, "[a.tmp]\n[b.tmp]\n[x;y.tmp]\n");
}

TEST(CommandE2E, AbortKeyAfterTheThirdOfFiveCommands) {
  TempDir dir;
  for (const char* name : {"1.tmp", "2.tmp", "3.tmp", "4.tmp", "5.tmp"})
    dir.WriteFile(name);
  // Each key the run loop reads after a command and pushes back answers the next prompt; the 'q' after the
  // third command ends the run.
  const RunResult r = RunZelvane(dir, {"*.tmp", "-p", kPrinter, "$n"}, WithInput("yyyq"));
  std::string expected;
  for (const char* n : {"1", "2", "3"})
    expected += "Execute \"" + kPrinter + " " + n + ".tmp\"? [y/n] y\n[" + n + ".tmp]\n";
  expected += "Aborting at user's request after " + (dir / "3.tmp") + ".\n";
  EXPECT_EQ(r.out, expected);
}

#ifndef _WIN32  // starts the POSIX touch
TEST(CommandE2E, StopFileCreatedByTheSecondCommand) {
  TempDir dir;
  for (const char* name : {"a.tmp", "b.tmp", "c.tmp"})
    dir.WriteFile(name);
  const RunResult r = RunZelvane(dir, {"*.tmp", "-Stop:stop2", kPrinter, "$n;touch", "stop$c"});
  EXPECT_EQ(r.out, "[a.tmp]\n[b.tmp]\n");
  EXPECT_TRUE(dir.Exists("stop1"));
  EXPECT_FALSE(dir.Exists("stop2"));
  EXPECT_FALSE(dir.Exists("stop3"));
}
#endif

TEST(CommandE2E, EchoOptions) {
  TempDir dir;
  dir.WriteFile("a.tmp");
  dir.WriteFile("b.tmp");
  const std::string p = kPrinter;
  RunResult r = RunZelvane(dir, {"*.tmp", "-e", p, "$n"});
  EXPECT_EQ(r.out, p + " a.tmp\n[a.tmp]\n" + p + " b.tmp\n[b.tmp]\n");

  // -eo starts nothing, but the internal echo is still performed.
  r = RunZelvane(dir, {"*.tmp", "-eo", "ECHO", "$b;" + p, "$n"});
  EXPECT_EQ(r.out, "a\n" + p + " a.tmp\nb\n" + p + " b.tmp\n");

  r = RunZelvane(dir, {"*.tmp", "-nocrlf", "echo", "[$n]"});
  EXPECT_EQ(r.out, "[a.tmp][b.tmp]");
  r = RunZelvane(dir, {"*.tmp", "echo\t$b", "x;echohello"});
  EXPECT_EQ(r.out, "a x\nCould not execute echohello.\nb x\nCould not execute echohello.\n");

  // Internal echo goes to the -xo file, created anew for each file, even when declined.
  r = RunZelvane(dir, {"*.tmp", "-p", "-xoout-$b.txt", "-c", "echo", "$c", "of", "$C"}, WithInput("yn"));
  EXPECT_EQ(r.out, "Execute \"echo 1 of 2\"? [y/n] y\nExecute \"echo 2 of 2\"? [y/n] n\n");
  EXPECT_EQ(dir.ReadFile("out-a.txt"), "1 of 2\n");
  EXPECT_TRUE(dir.Exists("out-b.txt"));
  EXPECT_EQ(dir.ReadFile("out-b.txt"), "");
}

TEST(CommandE2E, FileNumbersOverTheMatchList) {
  TempDir dir;
  for (int i = 1; i <= 12; ++i)
    dir.WriteFile(std::to_string(100 + i) + ".tmp");
  const RunResult r = RunZelvane(dir, {"*.tmp", kPrinter, "$c/$C"});
  std::string expected;
  for (int i = 1; i <= 12; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "[%2d/12]\n", i);
    expected += line;
  }
  EXPECT_EQ(r.out, expected);
}

TEST(CommandE2E, ChangeDirPutsRelativeOutputFilesBesideEachFile) {
  TempDir dir;
  dir.WriteFile("a.tmp");
  dir.WriteFile("sub/b.tmp");
  const RunResult r = RunZelvane(dir, {"*.tmp", "-s", "-c", "-xo$b.out", "echo", "[$r]"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(dir.ReadFile("a.out"), "[]\n");
  EXPECT_EQ(dir.ReadFile("sub/b.out"), std::string("[sub") + kSeparator + "]\n");
}

TEST(CommandE2E, ChildrenSeeThePseudoEnvironment) {
  TempDir dir;
  dir.WriteFile("a.tmp");
  dir.WriteFile("sub/b.tmp");
  RunOptions options;
  options.env = {{"ARGV_PRINTER_ENV", "cwd,date,time,wday,weekday"}};
  // An internal echo starts no child, but the child after it in the same Command sees the variables of
  // its own file.
  const RunResult r =
      RunZelvane(dir, {"*.tmp", "-s", "-c", "echo", std::string("first;") + kPrinter}, options);
  const auto block = [](const std::string& cwd) {
    return "first\ncwd=" + std::regex_replace(cwd, std::regex(R"([\\.^$|()\[\]{}*+?])"), R"(\$&)") +
           R"(\ndate=\d\d/\d\d/\d\d\ntime=\d\d:\d\d:\d\d\nwday=(Sun|Mon|Tue|Wed|Thu|Fri|Sat)\n)"
           R"(weekday=(Sun|Mon|Tues|Wednes|Thurs|Fri|Satur)day\n)";
  };
  const std::regex expected(block(dir.path()) + block(dir.path() + kSeparator + "sub"));
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}

}  // namespace
}  // namespace zelvane::test
