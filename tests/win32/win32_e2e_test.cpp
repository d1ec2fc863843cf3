// The Win32 build as a user meets it at a console: drive letters and '\' in stored paths, 8.3 names, hidden
// and read-only files, cmd.exe as the shell, CR LF line ends and keys from a pipe. Every run starts
// zelvane.exe with an exact command line, as typed, so quotes and spacing reach it unchanged.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {

// The system's own command interpreter (Wine's sits at the same place).
const std::string kCmd = "C:\\windows\\system32\\cmd.exe";

// Runs zelvane in `cwd` with `typed` as everything after the program's name on the command line.
RunResult Typed(const std::string& cwd, const std::string& typed, const RunOptions& options = {}) {
  return RunCommandLine(ZelvaneBinary(), "zelvane " + typed, cwd, options);
}

RunOptions WithCmd(const std::string& input = "") {
  RunOptions options;
  options.input = input;
  options.env = {{"COMSPEC", kCmd}};
  return options;
}

RunOptions WithEnv(std::vector<std::pair<std::string, std::string>> env) {
  RunOptions options;
  options.env = std::move(env);
  return options;
}

// "C:\users\me\Temp\x" as typed relative to the root of the current drive: "\users\me\Temp\x".
std::string RootRelative(const std::string& path) {
  return path.substr(2);
}

// A root-relative spec stores the current drive's letter in lower case.
std::string LowerDrive(std::string path) {
  path[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
  return path;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The directory part of a path, its final '\' included.
std::string DirectoryOf(const std::string& path) {
  return path.substr(0, path.rfind('\\') + 1);
}

// A file's bytes as written, CR LF kept (TempDir::ReadFile reads line ends as LF).
std::string RawFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ShortPath(const std::string& path) {
  const DWORD needed = GetShortPathNameA(path.c_str(), nullptr, 0);
  std::string out(needed, '\0');
  out.resize(GetShortPathNameA(path.c_str(), out.data(), needed));
  return out;
}

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
}

void SetWriteTime(const std::string& path, WORD year, WORD month, WORD day, WORD hour, WORD minute,
                  WORD second) {
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  st.wHour = hour;
  st.wMinute = minute;
  st.wSecond = second;
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
  CloseHandle(h);
}

// A temporary tree on a drive with a letter, whose attributes are cleared again before it is removed.
class Win32E2e : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(dir_.path().substr(1, 2), ":\\") << dir_.path(); }
  void TearDown() override {
    for (const std::string& path : marked_)
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  void Mark(const std::string& relative, DWORD attributes) {
    marked_.push_back(dir_ / relative);
    SetAttributes(dir_ / relative, attributes);
  }
  std::string Lines(const std::vector<std::string>& relative) const { return PathLines(dir_, relative); }

  TempDir dir_;
  std::vector<std::string> marked_;
};

TEST_F(Win32E2e, UsageExampleComparesEachFileWithItsPlaceOnAnotherDrive) {
  dir_.WriteFile("a.c");
  dir_.WriteFile("sub\\b.c");
  dir_.WriteFile("x.h");
  const std::string d = RootRelative(dir_.path());
  const RunResult r = Typed(dir_.path(), "*.c -s -eo comp $f j:$d$f", WithCmd());
  EXPECT_EQ(r.out, "comp " + dir_ / "a.c" + " j:" + d + "\\" + dir_ / "a.c" + "\n" + "comp " +
                       dir_ / "sub\\b.c" + " j:" + d + "\\sub\\" + dir_ / "sub\\b.c" + "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Win32E2e, UsageExampleDeletesWithConfirmationFromTheRootOfTheDrive) {
  dir_.WriteFile("a.bak");
  dir_.WriteFile("sub\\b.bak");
  dir_.WriteFile("c.txt");
  // The keys come from a pipe: y for the first file, n for the second.
  const std::string spec = Quoted(RootRelative(dir_.path()) + "\\*.bak");
  const RunResult r = Typed(dir_.path(), spec + " -s -p del $f", WithCmd("yn"));
  // The searched directory gets the current drive's letter in lower case, and so does every path below it:
  // the path as typed, then the names walked.
  EXPECT_EQ(r.out, "Execute \"del " + LowerDrive(dir_ / "a.bak") + "\"? [y/n] y\n" + "Execute \"del " +
                       LowerDrive(dir_ / "sub\\b.bak") + "\"? [y/n] n\n");
  EXPECT_FALSE(dir_.Exists("a.bak"));
  EXPECT_TRUE(dir_.Exists("sub\\b.bak"));
  EXPECT_TRUE(dir_.Exists("c.txt"));
}

TEST_F(Win32E2e, UsageExampleMovesSeveralRootRelativeSpecs) {
  for (const char* f : {"x.tmp", "y.bak", "tmpnote.txt", "keep.txt", "sub\\z.tmp"})
    dir_.WriteFile(f);
  dir_.MakeDir("out");
  const std::string d = RootRelative(dir_.path());
  const std::string spec = Quoted(d + "\\*.tmp " + d + "\\*.bak " + d + "\\tmp*.*");
  const RunResult r = Typed(dir_.path(), spec + " -s move $f " + dir_ / "out", WithCmd());
  for (const char* moved : {"x.tmp", "y.bak", "tmpnote.txt", "z.tmp"})
    EXPECT_TRUE(dir_.Exists(std::string("out\\") + moved)) << moved << r.out;
  EXPECT_FALSE(dir_.Exists("x.tmp"));
  EXPECT_FALSE(dir_.Exists("sub\\z.tmp"));
  EXPECT_TRUE(dir_.Exists("keep.txt"));
}

TEST_F(Win32E2e, UsageExampleDeletesTheObjectOfEveryEmptyBrowseFile) {
  dir_.WriteFile("a.sbr");
  dir_.WriteFile("b.sbr", "data");
  dir_.WriteFile("sub\\c.sbr");
  for (const char* f : {"a.obj", "b.obj", "c.obj", "sub\\c.obj"})
    dir_.WriteFile(f);
  // $b carries no directory, so del works in the start directory, also for the match in sub.
  Typed(dir_.path(), "\"/sizeeq(0) *.sbr\" -s del $b.obj", WithCmd());
  EXPECT_FALSE(dir_.Exists("a.obj"));
  EXPECT_TRUE(dir_.Exists("b.obj"));
  EXPECT_FALSE(dir_.Exists("c.obj"));
  EXPECT_TRUE(dir_.Exists("sub\\c.obj"));
}

TEST_F(Win32E2e, UsageExampleNamesTheSourcesNewerThanTheProgram) {
  for (const char* f : {"MY.EXE", "new.c", "old.c", "same.c"})
    dir_.WriteFile(f);
  SetWriteTime(dir_ / "MY.EXE", 2020, 1, 1, 12, 0, 0);
  SetWriteTime(dir_ / "new.c", 2021, 6, 1, 8, 0, 0);
  SetWriteTime(dir_ / "old.c", 2019, 6, 1, 8, 0, 0);
  SetWriteTime(dir_ / "same.c", 2020, 1, 1, 12, 0, 2);  // within the default slop of three seconds
  const std::string typed = "\"/timegt(MY.EXE) *.c\" echo $n is newer than MY.EXE.";
  // Without COMSPEC the echo is the program's own; with cmd.exe the shell's.
  EXPECT_EQ(Typed(dir_.path(), typed).out, "new.c is newer than MY.EXE.\n");
  EXPECT_EQ(Typed(dir_.path(), typed, WithCmd()).out, "new.c is newer than MY.EXE.\n");
}

TEST_F(Win32E2e, UsageExampleExcludesDirectoriesWithAQuotedXspec) {
  dir_.WriteFile("a.c");
  dir_.WriteFile("b.txt");
  dir_.WriteFile("d.x\\f.y");
  const std::string all = RootRelative(dir_.path()) + "\\*.?";
  EXPECT_EQ(Typed(dir_.path(), Quoted(all) + " -s echo $f").out, LowerDrive(dir_ / "a.c") + "\n" +
                                                                     LowerDrive(dir_ / "d.x") + "\n" +
                                                                     LowerDrive(dir_ / "d.x\\f.y") + "\n");
  // The quotes stand inside the option on the raw line; the Command after it is found all the same.
  const RunResult r = Typed(dir_.path(), Quoted(all) + " -s -x\"/ad " + all + "\" echo $f");
  EXPECT_EQ(r.out, LowerDrive(dir_ / "a.c") + "\n" + LowerDrive(dir_ / "d.x\\f.y") + "\n");
}

TEST_F(Win32E2e, AttributeSwitchesSelectHiddenAndReadOnlyEntries) {
  for (const char* f : {"plain.txt", "hidden.txt", "ro.txt", "both.txt", "hdir\\inner.txt", "hdir\\h.txt"})
    dir_.WriteFile(f);
  Mark("hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  Mark("ro.txt", FILE_ATTRIBUTE_READONLY);
  Mark("both.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  Mark("hdir\\h.txt", FILE_ATTRIBUTE_HIDDEN);
  Mark("hdir", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
  struct Case {
    std::string spec;
    std::string options;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"*.txt", "", {"both.txt", "hidden.txt", "plain.txt", "ro.txt"}},
      // With attribute switches directories match like files.
      {"/ah *", "", {"both.txt", "hdir", "hidden.txt"}},
      {"/ar *.txt", "", {"both.txt", "ro.txt"}},
      {"/ar-h *.txt", "", {"ro.txt"}},
      {"/a-r-h *", "", {"plain.txt"}},
      {"/ad *", "", {"hdir"}},
      // A hidden directory is walked; only its hidden entries are left out.
      {"/a-h *.txt", " -s", {"hdir\\inner.txt", "plain.txt", "ro.txt"}},
      {"/ah *.txt", " -s", {"both.txt", "hdir\\h.txt", "hidden.txt"}},
  };
  for (const Case& c : cases) {
    const RunResult r = Typed(dir_.path(), Quoted(c.spec) + c.options + " -n echo $f");
    EXPECT_EQ(r.out, Lines(c.expected)) << c.spec << c.options;
  }
}

TEST_F(Win32E2e, ShortNamesAreTheOnesTheFileSystemReports) {
  dir_.WriteFile("Long Directory Name\\Read me long name.txt");
  const std::string file = dir_ / "Long Directory Name\\Read me long name.txt";
  const std::string shortFile = ShortPath(file);
  ASSERT_NE(shortFile, file);
  const std::string shortName = shortFile.substr(shortFile.rfind('\\') + 1);
  // The stored path keeps the long names; -8 shortens each component for the macros. $r compares the
  // short path with the start directory's long one, so it falls back to $p.
  EXPECT_EQ(Typed(dir_.path(), "*.txt -s -n echo $f|$n|$r").out,
            file + "|Read me long name.txt|Long Directory Name\\\n");
  EXPECT_EQ(Typed(dir_.path(), "*.txt -s -8 -n echo $f|$n|$r").out,
            shortFile + "|" + shortName + "|" + DirectoryOf(shortFile) + "\n");

  // A current directory typed in 8.3 form still stores long names.
  const std::string shortDir = ShortPath(dir_.path());
  EXPECT_EQ(Typed(shortDir, "*.txt -s -n echo $f").out, file + "\n");
}

TEST_F(Win32E2e, ShellModeHandsEachPartToCmd) {
  dir_.WriteFile("a.txt");
  RunResult r = Typed(dir_.path(), "*.txt echo $n", WithCmd());
  EXPECT_EQ(r.out, "a.txt\n");
  EXPECT_EQ(r.rawOut, "a.txt\r\n");
  // Broken at ';': each part is one shell; a doubled break character ends the Command.
  EXPECT_EQ(Typed(dir_.path(), "*.txt -e echo $n;echo $b;;echo never", WithCmd()).out,
            "echo a.txt\na.txt\necho a\na\n");
  // The shell's own redirection and variables, the pseudo environment among them.
  Typed(dir_.path(), "*.txt echo $n in %cwd%> out.log", WithCmd());
  EXPECT_EQ(RawFile(dir_ / "out.log"), "a.txt in " + dir_.path() + "\r\n");
  // A shell named without a directory or extension is looked up along PATH.
  EXPECT_EQ(Typed(dir_.path(), "*.txt echo $n", WithEnv({{"COMSPEC", "cmd"}})).out, "a.txt\n");
  r = Typed(dir_.path(), "*.txt echo $n", WithEnv({{"COMSPEC", "C:\\no\\such\\cmd.exe"}}));
  EXPECT_EQ(r.out, "Could not execute C:\\no\\such\\cmd.exe.\n");
}

TEST_F(Win32E2e, NoShellModeGivesEachMacroOneArgument) {
  dir_.WriteFile("my dir\\my file.txt");
  const std::string p = ArgvPrinter();
  // A blank and a final backslash ($p), quotes with no meaning, two blanks giving an empty argument.
  RunResult r = Typed(dir_.path(), "*.txt -s -n " + p + " $n $p \"a  b\\\"c");
  EXPECT_EQ(r.out, "[my file.txt]\n[" + dir_ / "my dir\\" + "]\n[\"a]\n[]\n[b\\\"c]\n");
  EXPECT_EQ(r.rawOut, "[my file.txt]\r\n[" + dir_ / "my dir\\" + "]\r\n[\"a]\r\n[]\r\n[b\\\"c]\r\n");

  // A name without an extension is looked up along PATH as a program.
  const std::string printerDir = DirectoryOf(p);
  std::string path;
  path.resize(GetEnvironmentVariableA("PATH", nullptr, 0));
  path.resize(GetEnvironmentVariableA("PATH", path.data(), static_cast<DWORD>(path.size())));
  r = Typed(dir_.path(), "*.txt -s -n argv_printer $b", WithEnv({{"PATH", printerDir + ";" + path}}));
  EXPECT_EQ(r.out, "[my file]\n");
  r = Typed(dir_.path(), "*.txt -s -n no_such_program $b");
  EXPECT_EQ(r.out, "Could not execute no_such_program.\n");
}

TEST_F(Win32E2e, LinesEndInCrLfOnTheConsoleAndInTheOutputFile) {
  dir_.WriteFile("a.txt");
  dir_.WriteFile("b.txt");
  RunResult r = Typed(dir_.path(), "*.txt -n echo $n", {});
  EXPECT_EQ(r.rawOut, "a.txt\r\nb.txt\r\n");
  r = Typed(dir_.path(), "*.txt -n -nocrlf echo $n", {});
  EXPECT_EQ(r.rawOut, "a.txtb.txt");
  r = Typed(dir_.path(), "*.txt -xo$b.log -n echo $n", {});
  EXPECT_EQ(r.rawOut, "");
  EXPECT_EQ(RawFile(dir_ / "a.log"), "a.txt\r\n");
}

TEST_F(Win32E2e, StampsAreTheSystemsLocalTimes) {
  dir_.WriteFile("a.txt", std::string(70000, 'x'));
  dir_.WriteFile("b.txt");
  SetWriteTime(dir_ / "a.txt", 2001, 2, 3, 23, 59, 58);
  SetWriteTime(dir_ / "b.txt", 1999, 12, 31, 0, 0, 1);
  std::string expected;
  for (const char* name : {"a.txt", "b.txt"}) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((dir_ / name).c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToLocalFileTime(&data.ftLastWriteTime, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    char line[64];
    std::snprintf(line, sizeof line, "%8lu %02d:%02d:%02d %02d %02d %d\n", data.nFileSizeLow, st.wHour,
                  st.wMinute, st.wSecond, st.wDay, st.wMonth, st.wYear);
    expected += line;
  }
  EXPECT_EQ(Typed(dir_.path(), "*.txt -n echo $S $T $D $M $Y").out, expected);
}

// A spec of a drive and a pattern without a directory searches that drive's current directory.
TEST_F(Win32E2e, DriveRelativeSpecSearchesTheDrivesCurrentDirectory) {
  dir_.WriteFile("a.c");
  dir_.WriteFile("sub\\b.c");
  const std::string drive = dir_.path().substr(0, 2);
  EXPECT_EQ(Typed(dir_.path(), drive + "*.c -s -n echo $f").out, Lines({"a.c", "sub\\b.c"}));
}

TEST_F(Win32E2e, PathMacrosCarryTheDriveLetter) {
  dir_.WriteFile("a.txt");
  dir_.WriteFile("sub\\x.txt");
  const std::string d = RootRelative(dir_.path());
  const std::string drive = dir_.path().substr(0, 2);
  const std::string echo = " -n echo [$v] [$p] [$d] [$r]";
  EXPECT_EQ(Typed(dir_.path(), "*.txt -s" + echo).out, "[" + drive + "] [" + dir_.path() + "\\] [" + d +
                                                           "\\] []\n" + "[" + drive + "] [" + dir_ / "sub\\" +
                                                           "] [" + d + "\\sub\\] [sub\\]\n");
  // From the drive's root, $r starts right after it.
  EXPECT_EQ(Typed(drive + "\\", dir_ / "sub\\*.txt" + echo).out,
            "[" + drive + "] [" + dir_ / "sub\\" + "] [" + d + "\\sub\\] [" + d.substr(1) + "\\sub\\]\n");
  // From another drive, $r is $p; with -c the file's drive and directory are current for the command.
  const std::string elsewhere = DirectoryOf(ZelvaneBinary());
  ASSERT_NE(elsewhere.substr(0, 2), drive);
  EXPECT_EQ(Typed(elsewhere, dir_ / "sub\\*.txt" + echo).out,
            "[" + drive + "] [" + dir_ / "sub\\" + "] [" + d + "\\sub\\] [" + dir_ / "sub\\" + "]\n");
  const RunResult r = Typed(elsewhere, dir_ / "sub\\*.txt -c -n " + ArgvPrinter() + " $n",
                            WithEnv({{"ARGV_PRINTER_ENV", "cwd"}}));
  EXPECT_EQ(r.out, "[x.txt]\ncwd=" + dir_ / "sub" + "\n");
}

}  // namespace
}  // namespace zelvane::test
#endif  // _WIN32
