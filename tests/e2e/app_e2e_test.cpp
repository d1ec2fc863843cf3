// The program as a whole: usage pages and their key waits, exit statuses, option errors, the abort key and
// the Stop file.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {

// clang-format off
const char* const kUsage =
    "Usage:\n"
    "  Zelvane <Filespecs> [-sS] [-n] [-c] [-e] [-p] [-x<Xspec>] <Command>\n"
    "\n"
    "  Zelvane executes Command once for each file that matches Filespec.\n"
    "  Both Filespec and Xspec can be any valid argument to the DIR command,\n"
    "  including multiple space-separated file specs, attribute specifications\n"
    "  (/a...), etc.  If either Filespec or Xspec contain spaces, they must be\n"
    "  enclosed in quotation marks.  Zelvane is a Win32 console app, and so\n"
    "  supports long file names, long command lines, and has no practical memory\n"
    "  limits.  It runs only under Windows NT, Windows95, or a compatible\n"
    "  environment.\n"
    "\n"
    "  Macros:\n"
    "    Given a matching file named D:\\USR\\DEFAULT\\SOMETHNG.TXT and a search\n"
    "    starting in D:\\USR, macros in Command expand as follows:\n"
    "\n"
    "      $f  D:\\USR\\DEFAULT\\SOMETHING.TXT\n"
    "      $n  SOMETHING.TXT\n"
    "      $b  SOMETHING\n"
    "      $e  .TXT\n"
    "      $p  D:\\USR\\DEFAULT\\\n"
    "      $d  \\USR\\DEFAULT\\\n"
    "      $r  DEFAULT\\  (path relative to current directory)\n"
    "      $v  D:\n"
    "      $S  size of D:\\USR\\DEFAULT\\SOMETHING.TXT\n"
    "      $T  timestamp of D:\\USR\\DEFAULT\\SOMETHING.TXT\n"
    "      $D  day part of D:\\USR\\DEFAULT\\SOMETHING.TXT's date\n"
    "      $M  month part of D:\\USR\\DEFAULT\\SOMETHING.TXT's date\n"
    "      $Y  year part of D:\\USR\\DEFAULT\\SOMETHING.TXT's date\n"
    "      $C  number of files matching Filespec, less number matching Xspec\n"
    "      $c  number of the current file\n"
    "      $k  checksum of the current file\n"
    "      $K  checksum of the current file ignoring EOLs\n"
    "\n"
    "      #<000..255>  Expands to a single character designated by number.\n"
    "\n"
    "  Options:\n"
    "          -s:  recurse into subdirectories.\n"
    "    -S<path>:  search along the specified list of directories.\n"
    "          -n:  noshell (suppresses use of shell specified by COMSPEC)\n"
    "          -a:  expand file timestamps using last-access times.\n"
    "          -c:  chdir to $p before executing Command.\n"
    "          -e:  echo Command to console before executing it.\n"
    "         -eo:  echo Command to console and don't execute it.\n"
    "          -p:  pause for confirmation before executing Command.\n"
    "          -8:  use DOS (8.3) filenames in macro expansions.\n"
    "      -Batch:  prevents pausing for input or confirmation.\n"
    "     -nocrlf:  prevents internal echo from appending CR/LF.\n"
    "  -ignoreDST:  ignore timestamp diffs of exactly one hour (+/- TimeSlop).\n"
    "  -lowercase:  forces use of lowercase in macro expansions.\n"
    " -DepthFirst:  forces directories to be searched first when used with -s.\n"
    "-Stop:<file>:  stop if this file exists after running command, then delete it.\n"
    "-TimeSlop<n>:  specifies number of seconds ignored in comparing timestamps.\n"
    "  -set:<x=y>:  sets environment variable named 'x' to value 'y'.\n"
    "   -xo<file>:  redirects output to <file> command by command.\n"
    "    -t<char>:  designate something other than '#' to start character codes.\n"
    "    -m<char>:  designate something other than '$' to start macros.\n"
    "    -b<char>:  designate something other than ';' to break Command into parts.\n"
    "  -sep<char>:  use <char> to separate path parts in macro expansions.\n"
    "  -exp<char>:  designate something other than '@' to prefix expanded files.\n"
    "    -f<spec>:  include files matching spec in Filespec.\n"
    "    -x<spec>:  exclude files matching spec from Filespec.\n"
    "\n"
    "  Extended file-spec qualifiers:\n"
    "    /size<[eq][ne][gte][lte][gt][lt]>([num][filename])\n"
    "    /time<[eq][ne][gte][lte][gt][lt]>([YYYY-MM-DD HH:MM:SS][filename])\n"
    "    /comp<[eq][ne]>([0x<checksum>][filename]) -- see $k macro\n"
    "    /cont<[eq][ne]>([0x<checksum excluding EOLs>][filename]) -- see $K macro\n"
    "        These qualifiers RESTRICT file specs that follow them.  You can use\n"
    "        macros in filename.\n"
    "\n"
    "  Psuedo environment variables:\n"
    "     cwd (Current Working Directory), date, time, wday, weekday.\n"
    "\n"
    "  Press 'q' at any time to abort cleanly AFTER execution of current command.\n"
    "\n"
    "  Examples:\n"
    "    Zelvane *.c -s comp $f j:$d$f\n"
    "    Zelvane \"/ar *.?\" comp $f j:$d$f\n"
    "    Zelvane \"\\*.bak\" -s -p del $f\n"
    "    Zelvane \"\\*.tmp \\*.bak \\tmp*.*\" -s move $f c:\\temp\n"
    "    Zelvane \"/sizeeq(0) *.sbr\" -s del $b.obj\n"
    "    Zelvane \"/timegt(MY.EXE) *.c\" echo $n is newer than MY.EXE.\n"
    "    Zelvane \"\\*.?\" -s -x\"/ad \\*.?\" echo $f\n"
    "\n";
// clang-format on

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(Usage, TooFewArgumentsPrintTheFourPagesAndEndWithStatusZero) {
  TempDir dir;
  dir.WriteFile("a.txt");
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"*.txt"}, {"-Batch"}}) {
    const RunResult r = RunZelvane(dir, args);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Usage, WaitsTakeOneKeyAfterEachOfTheFirstThreePages) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    dir.WriteFile(name);
  // -? prints the usage within a run: its three waits take "abc", so the 'q' aborts after the first file.
  RunResult r = RunZelvane(dir, {"*.txt", "-?", "-n", "echo", "hi"}, {.input = "abcq"});
  EXPECT_EQ(r.out, std::string(kUsage) + "hi\nAborting at user's request after " + dir / "a.txt" + ".\n");
  // With one key fewer, the waits swallow the 'q' and every file is processed.
  r = RunZelvane(dir, {"*.txt", "-?", "-n", "echo", "hi"}, {.input = "abq"});
  EXPECT_EQ(r.out, std::string(kUsage) + "hi\nhi\nhi\n");
  // -Batch before the option skips the waits; after it, it does not.
  r = RunZelvane(dir, {"*.txt", "-Batch", "-h", "-n", "echo", "hi"}, {.input = "q"});
  EXPECT_EQ(r.out, std::string(kUsage) + "hi\nAborting at user's request after " + dir / "a.txt" + ".\n");
  r = RunZelvane(dir, {"*.txt", "-h", "-Batch", "-n", "echo", "hi"}, {.input = "abcq"});
  EXPECT_EQ(CountOf(r.out, "Aborting"), 1u);
}

TEST(Usage, UnrecognizedOptionWaitsThenPrintsUsageAndTheRunGoesOn) {
  TempDir dir;
  dir.WriteFile("a.txt");
  const RunResult r = RunZelvane(dir, {"*.txt", "-E", "-n", "echo", "hi"});
  EXPECT_EQ(r.out,
            std::string("Unrecognized option \"-E\".\nPress any key to continue.\n") + kUsage + "hi\n");
  EXPECT_EQ(r.status, 0);
}

#ifdef _WIN32  // only a typed command line is searched for the Command
TEST(Usage, CommandThatCannotBeLocatedPrintsUsageAndRunsTheEmptyCommand) {
  TempDir dir;
  dir.WriteFile("a.txt");
  // The first argument holds a character code, so its typed text is not in the converted command line.
  const RunResult r = RunZelvane(dir, {"#097.txt", "-Batch", "-n", "echo", "hi"});
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.status, 0);
}
#endif

#ifndef _WIN32  // a Win32 process cannot delete its own current directory
TEST(Startup, AProcessWithoutACurrentDirectoryFailsWithStatusOne) {
  TempDir dir;
  dir.MakeDir("gone");
  const std::string script = "cd '" + (dir / "gone") + "' && rmdir '" + (dir / "gone") + "' && exec '" +
                             ZelvaneBinary() + "' '*' echo";
  const RunResult r = RunProgram({"/bin/sh", "-c", script}, dir.path(), {});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Fatal Error: MFC initialization failed\n");
  EXPECT_EQ(r.status, 1);
}
#endif

TEST(RunLoop, NoMatchesRunNothingAndReadNoKey) {
  TempDir dir;
  const RunResult r = RunZelvane(dir, {"*.none", "-?", "-n", "echo", "hi"}, {.input = "abc"});
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.status, 0);
}

TEST(RunLoop, OtherKeysAreLeftPendingAndAnUpperCaseQDoesNotAbort) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    dir.WriteFile(name);
  // The 'x' is read and pushed back after every command, so the 'q' behind it is never reached.
  RunResult r = RunZelvane(dir, {"*.txt", "-n", "echo", "hi"}, {.input = "xq"});
  EXPECT_EQ(r.out, "hi\nhi\nhi\n");
  r = RunZelvane(dir, {"*.txt", "-n", "echo", "hi"}, {.input = "Q"});
  EXPECT_EQ(r.out, "hi\nhi\nhi\n");
}

TEST(RunLoop, StopFilePresentBeforeTheRunEndsItAfterTheFirstCommandAndIsDeleted) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt"})
    dir.WriteFile(name);
  dir.WriteFile("halt");
  const RunResult r = RunZelvane(dir, {"*.txt", "-Stop:halt", "-n", "echo", "hi"});
  EXPECT_EQ(r.out, "hi\n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(dir.Exists("halt"));
}

TEST(RunLoop, StopFileThatCannotBeDeletedWarnsOnStandardError) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt"})
    dir.WriteFile(name);
  dir.MakeDir("halt.d");
  // A wildcard name matches but cannot be deleted; so does a directory.
  RunResult r = RunZelvane(dir, {"*.txt", "-Stop:hal*", "-n", "echo", "hi"});
  EXPECT_EQ(r.out, "hi\n");
  EXPECT_EQ(r.err, "WARNING:  could not delete Stop file \"hal*\".\n");
  r = RunZelvane(dir, {"*.txt", "-Stop:halt.d", "-n", "echo", "hi"});
  EXPECT_EQ(r.out, "hi\n");
  EXPECT_EQ(r.err, "WARNING:  could not delete Stop file \"halt.d\".\n");
  EXPECT_TRUE(dir.Exists("halt.d"));
}

TEST(RunLoop, AbortWinsOverTheStopFile) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt"})
    dir.WriteFile(name);
  dir.WriteFile("halt");
  const RunResult r = RunZelvane(dir, {"*.txt", "-Stop:halt", "-n", "echo", "hi"}, {.input = "q"});
  EXPECT_EQ(r.out, "hi\nAborting at user's request after " + dir / "a.txt" + ".\n");
  EXPECT_TRUE(dir.Exists("halt"));
}

TEST(ArgumentFiles, OptionsFromAFileAndAMissingFile) {
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt"})
    dir.WriteFile(name);
  dir.WriteFile("opts", "-n\n-Stop:halt\n");
  dir.WriteFile("halt");
  RunResult r = RunZelvane(dir, {"*.txt", "@opts", "echo", "hi"});
  EXPECT_EQ(r.out, "hi\n");
  EXPECT_FALSE(dir.Exists("halt"));
  // A name that cannot be opened is reported and stays as typed, here in the Command.
  r = RunZelvane(dir, {"*.txt", "-n", "echo", "@nothere"});
  EXPECT_EQ(r.out, "Could not find file \"nothere\".\n@nothere\n@nothere\n");
  // With only one argument after the name, the count is too small before any file is expanded.
  r = RunZelvane(dir, {"@opts"});
  EXPECT_EQ(r.out, kUsage);
}

}  // namespace
}  // namespace zelvane::test
