// The Win32 build as a user meets it at a console: drive letters and '\' in stored paths, 8.3 names, hidden
// and read-only files, cmd.exe as the shell, CR LF line ends and keys from a pipe. Every run starts
// zelvane.exe with an exact command line, as typed, so quotes and spacing reach it unchanged.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "support/utf8_win32.h"

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

// A full path (UTF-8, any length) as the system takes it whatever its length.
std::wstring Long(const std::string& path) {
  const int size = static_cast<int>(path.size());
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, path.data(), size, nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), size, wide.data(), static_cast<int>(wide.size()));
  return L"\\\\?\\" + wide;
}

// Creates the file `path` (a full path, any length) with `content`, and the directories it lies in.
void MakeFile(const std::string& path, const std::string& content = "") {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryW(Long(path.substr(0, at)).c_str(), nullptr);
  HANDLE h = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(h);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes a tree of any depth.
void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((Long(path) + L"\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::string child = path + "\\";
      for (wchar_t c : name)  // the tests' long names are ASCII
        child += static_cast<char>(c);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileW(Long(child).c_str());
    } while (FindNextFileW(h, &data));
    FindClose(h);
  }
  RemoveDirectoryW(Long(path).c_str());
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
  HANDLE h = CreateFileW(Long(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

  // Patterns see long names only: the alias of x.html ends in .HTM, yet *.htm does not select it.
  dir_.WriteFile("x.html");
  const std::string alias = ShortPath(dir_ / "x.html");
  ASSERT_EQ(alias.substr(alias.size() - 4), ".HTM");
  EXPECT_EQ(Typed(dir_.path(), "*.htm -n echo $n").out, "");
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
  // A blank and a final backslash ($p) stay within the macro's word; quotes group, \" is a literal quote.
  RunResult r = Typed(dir_.path(), "*.txt -s -n " + p + " $n $p \"a  b\\\"c");
  EXPECT_EQ(r.out, "[my file.txt]\n[" + dir_ / "my dir\\" + "]\n[a  b\"c]\n");
  EXPECT_EQ(r.rawOut, "[my file.txt]\r\n[" + dir_ / "my dir\\" + "]\r\n[a  b\"c]\r\n");

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

// A Filespec entry of a drive and a pattern without a directory searches that drive's current directory.
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

// Names beyond any code page: each file is found once, under its exact name, with its own size, and the
// walk enters a directory with such a name. Zelvane's own output, redirected, is UTF-8.
TEST_F(Win32E2e, EveryNameIsFoundOnceExactlyAsTheFileSystemHoldsIt) {
  MakeFile(dir_ / "\xce\xb1\xce\xb2\xce\xb3.txt", "a");   // αβγ.txt
  MakeFile(dir_ / "\xe6\x97\xa5\xe6\x9c\xac.txt", "bb");  // 日本.txt
  MakeFile(dir_ / "\xf0\x9f\x98\x80.txt", "ccc");         // 😀.txt
  MakeFile(dir_ / "ab.txt", "dddd");
  MakeFile(dir_ / "\xe6\x97\xa5\xe6\x9c\xac\\\xce\xb4.txt", "e");  // 日本\δ.txt
  const std::string p = ArgvPrinter();
  EXPECT_EQ(
      Typed(dir_.path(), "*.txt -n " + p + " $n $S").out,
      "[ab.txt]\n[       4]\n[\xce\xb1\xce\xb2\xce\xb3.txt]\n[       1]\n[\xe6\x97\xa5\xe6\x9c\xac.txt]\n"
      "[       2]\n[\xf0\x9f\x98\x80.txt]\n[       3]\n");
  EXPECT_EQ(Typed(dir_.path(), "*.txt -s -n " + p + " $r$n").out,
            "[ab.txt]\n[\xce\xb1\xce\xb2\xce\xb3.txt]\n[\xe6\x97\xa5\xe6\x9c\xac.txt]\n"
            "[\xe6\x97\xa5\xe6\x9c\xac\\\xce\xb4.txt]\n[\xf0\x9f\x98\x80.txt]\n");
  // Typed on the command line, in a Filespec entry and in the Command.
  EXPECT_EQ(Typed(dir_.path(), "\xe6\x97\xa5\xe6\x9c\xac\\*.txt -n " + p + " \xe2\x86\x92$n").out,
            "[\xe2\x86\x92\xce\xb4.txt]\n");
  EXPECT_EQ(Typed(dir_.path(), "\xce\xb1*.txt -n echo $n").out, "\xce\xb1\xce\xb2\xce\xb3.txt\n");
  // The -xo file holds the same bytes as standard output, a character code's character included.
  const char code = static_cast<char>(200);
  wchar_t oem = 0;
  ASSERT_EQ(MultiByteToWideChar(GetOEMCP(), 0, &code, 1, &oem, 1), 1);
  const std::string shown = Utf8(std::wstring(1, oem)) + "\xe6\x97\xa5\xe6\x9c\xac.txt\r\n";
  EXPECT_EQ(Typed(dir_.path(), "\xe6\x97\xa5*.txt -n echo #200$n").rawOut, shown);
  Typed(dir_.path(), "\xe6\x97\xa5*.txt -xoout.log -n echo #200$n");
  EXPECT_EQ(RawFile(dir_ / "out.log"), shown);
  // From an argument file of such a name, written by an editor that starts UTF-8 with a byte-order mark.
  MakeFile(dir_ / "\xce\xb4.arg", "\xef\xbb\xbf\xce\xb1*.txt\r\n");
  EXPECT_EQ(Typed(dir_.path(), "@\xce\xb4.arg -n echo $n").out, "\xce\xb1\xce\xb2\xce\xb3.txt\n");
}

// An excluded file stays however the Xspec spells it: drive letter, directory or name in other letter
// case, either separator, a relative path, or the name's 8.3 alias.
TEST_F(Win32E2e, AnExclusionKeepsItsFileHoweverItIsSpelled) {
  MakeFile(dir_ / "work\\keepalongname.tmp");
  MakeFile(dir_ / "work\\other.tmp");
  MakeFile(dir_ / "\xc3\x84RGER.txt");              // ÄRGER.txt
  MakeFile(dir_ / "\xce\x91\xce\xb2\xce\xb3.txt");  // Αβγ.txt
  const std::string work = dir_ / "work";
  std::string lowerDrive = work, upper = work, slashed = work;
  lowerDrive[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerDrive[0])));
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::string alias = ShortPath(work + "\\keepalongname.tmp");
  const std::string aliasName = alias.substr(alias.rfind('\\') + 1);
  ASSERT_NE(aliasName, "keepalongname.tmp");
  const std::vector<std::string> spellings{std::string(".\\keepalongname.tmp"), "..\\work\\keepalongname.tmp",
                                           slashed + "/keepalongname.tmp",      upper + "\\KEEPALONGNAME.TMP",
                                           lowerDrive + "\\keepalongname.tmp",  aliasName};
  for (const std::string& xspec : spellings) {
    EXPECT_EQ(Typed(work, "*.tmp -x\"" + xspec + "\" -n echo $n").out, "other.tmp\n") << xspec;
    EXPECT_EQ(Typed(work, lowerDrive + "\\*.tmp -x\"" + xspec + "\" -n echo $n").out, "other.tmp\n") << xspec;
  }
  EXPECT_EQ(Typed(dir_.path(), "*.txt -x\"\xc3\xa4rger.txt \xce\xb1\xce\xb2\xce\xb3.txt\" -n echo $n").out,
            "");
  EXPECT_EQ(Typed(dir_.path(), "\xc3\xa4rger.txt -n echo x").out, "x\n");
  // The same file typed twice in the Filespec runs once.
  EXPECT_EQ(Typed(work, "\"other.tmp " + upper + "\\OTHER.TMP\" -n echo $n").out, "other.tmp\n");
}

// Many files to one program: every file once, in order, over as many command lines as 32,767 characters
// need; a shell line past what cmd takes is refused whole, never cut.
TEST_F(Win32E2e, GatherKeepsEachCommandLineWithinTheSystemsLimit) {
  std::string expected;
  for (int i = 0; i < 600; ++i) {
    std::string name = std::to_string(1000 + i);
    name.append(96, 'x');
    name += ".t";
    MakeFile(dir_ / name);
    expected += "[" + name + "]\n";
  }
  const std::string p = ArgvPrinter();
  const RunResult r = Typed(dir_.path(), "*.t -n -e -Gather " + p + " $n");
  std::string printed;
  int commands = 0;
  for (std::size_t at = 0; at < r.out.size();) {
    const std::size_t end = r.out.find('\n', at);
    const std::string line = r.out.substr(at, end - at + 1);
    if (line.starts_with(p)) {
      ++commands;
      EXPECT_LE(line.size(), 32767u);
    } else {
      printed += line;
    }
    at = end + 1;
  }
  EXPECT_EQ(printed, expected);
  EXPECT_GE(commands, 2);
  const std::string longWord(9000, 'w');
  EXPECT_EQ(Typed(dir_.path(), "1000*.t echo " + longWord, WithCmd()).out,
            "Could not execute " + kCmd + ": the command line is too long.\n");
}

TEST_F(Win32E2e, AConfirmedDeleteRemovesExactlyThatFile) {
  for (const char* name : {"\xe6\x97\xa5\xe6\x9c\xac.txt", "ab.txt", "cd.txt"})
    MakeFile(dir_ / name);
  const RunResult r = Typed(dir_.path(), "*.txt -p del $f", WithCmd("nny"));
  EXPECT_FALSE(FileExists(dir_ / "\xe6\x97\xa5\xe6\x9c\xac.txt")) << r.out;
  EXPECT_TRUE(FileExists(dir_ / "ab.txt"));
  EXPECT_TRUE(FileExists(dir_ / "cd.txt"));
}

// A dry-run list redirected to a file is UTF-8, so after "chcp 65001" cmd reads exactly the names found:
// none turns into a wildcard, a quote or a second command on the way, and each line deletes the file it
// names. A name that Windows would read as another file's is not in the list; the reason stands in its
// place. (Wine's cmd reads a batch file in the OEM code page whatever chcp says, so each line is handed to
// cmd as the UTF-8 code page reads it.)
TEST_F(Win32E2e, ADryRunListDeletesExactlyTheNamedFiles) {
  const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac.txt";  // 日本.txt
  const std::string star = "\xef\xbc\x8a.txt";                  // ＊.txt
  // x＂&type nul＞pwned.flag&＂.log: full-width quotes and '>', which best fit makes real ones.
  const std::string injection = "x\xef\xbc\x82&type nul\xef\xbc\x9epwned.flag&\xef\xbc\x82.log";
  for (const std::string& name : {japanese, star, injection, std::string("ab.txt"), std::string("cd.txt"),
                                  std::string("trail"), std::string("trail.")})
    MakeFile(dir_ / name);
  const RunResult list =
      Typed(dir_.path(), Quoted(japanese + " " + star + " x*.log trail?") + " -ReturnCode -eo del \"$f\"");
  // In the match list's order.
  const std::vector<std::string> lines = {
      "Cannot pass \"" + dir_ / "trail." + "\" to a command: Windows reads that name as another file.",
      "del \"" + dir_ / injection + "\"", "del \"" + dir_ / japanese + "\"", "del \"" + dir_ / star + "\""};
  std::string expected;
  for (const std::string& line : lines)
    expected += line + "\r\n";
  EXPECT_EQ(list.rawOut, expected);
  EXPECT_EQ(list.status, 1);
  for (const std::string& line : lines)
    RunCommandLine(kCmd, "cmd /c " + line, dir_.path(), {});
  for (const std::string& gone : {japanese, star, injection})
    EXPECT_FALSE(FileExists(dir_ / gone)) << gone;
  for (const char* kept : {"ab.txt", "cd.txt", "trail", "trail."})
    EXPECT_TRUE(FileExists(dir_ / kept)) << kept;
  EXPECT_FALSE(FileExists(dir_ / "pwned.flag"));
  // Removed by its \\?\ form: the temporary directory's removal cannot reach it.
  DeleteFileW(Long(dir_ / "trail.").c_str());
}

// A name that ends in '.' or a blank, or lies in a directory whose name ends in '.', is read by Zelvane
// itself as that file, never as the one Windows would make of it; a command is never handed it, but an
// internal echo prints it as it is.
TEST_F(Win32E2e, ANameWindowsWouldRewriteIsReadAsItselfAndNeverPassed) {
  MakeFile(dir_ / "trail.", "trailed");
  MakeFile(dir_ / "trail", "abc");
  MakeFile(dir_ / "sub.\\dot.dat", "12345");
  MakeFile(dir_ / "sub\\plain.dat", "1");
  EXPECT_EQ(Typed(dir_.path(), "trail? -n echo [$n] $S $k").out, "[trail.]        7 0x3245691F\n");
  // A directory of such a name is walked as itself, and none of its files reaches a command.
  EXPECT_EQ(Typed(dir_.path(), "*.dat -s -n echo $r$n $S").out,
            "sub.\\dot.dat        5\nsub\\plain.dat        1\n");
  EXPECT_EQ(Typed(dir_.path(), "*.dat -s -eo del $f").out,
            "Cannot pass \"" + dir_ / "sub.\\dot.dat" +
                "\" to a command: Windows reads that name as another file.\ndel " + dir_ / "sub\\plain.dat" +
                "\n");
  EXPECT_EQ(Typed(dir_.path(), "\"/sizeeq(7) trail?\" -n echo $n").out, "trail.\n");
  EXPECT_EQ(Typed(dir_.path(), "\"/compeq(0x3245691F) trail?\" -n echo $n").out, "trail.\n");
  const RunResult r = Typed(dir_.path(), "trail? -ReturnCode -p del \"$f\"", WithCmd("y"));
  EXPECT_EQ(r.out, "Cannot pass \"" + dir_ / "trail." +
                       "\" to a command: Windows reads that name as another file.\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(FileExists(dir_ / "trail"));
  EXPECT_TRUE(FileExists(dir_ / "trail."));
  DeleteFileW(Long(dir_ / "trail.").c_str());
  RemoveTree(dir_ / "sub.");
}

// Far past MAX_PATH: found by the walk, with the size, time and checksum of the file itself (the same as
// those of a copy at a short path), and never a directory for a command with -c.
TEST_F(Win32E2e, FilesAtAnyDepthAreFoundWithTheirOwnStamps) {
  std::string deep = dir_.path();
  while (deep.size() < 300)
    deep += "\\" + std::string(60, 'd');
  std::string deeper = deep;
  while (deeper.size() < 1100)
    deeper += "\\" + std::string(120, 'e');
  const std::vector<std::string> files = {dir_ / "top.dat", deep + "\\mid.dat", deeper + "\\low.dat"};
  for (const std::string& f : files) {
    MakeFile(f, "hello");
    SetWriteTime(f, 2001, 2, 3, 4, 5, 6);
  }
  ASSERT_GT(files[1].size(), 300u);
  ASSERT_GT(files[2].size(), 1100u);
  const RunResult r = Typed(dir_.path(), "*.dat -s -n " + ArgvPrinter() + " $S|$T|$D|$k|$n");
  // 2001-02-03 04:05:06 UTC in local time, as $T and $D show it.
  SYSTEMTIME utc{2001, 2, 0, 3, 4, 5, 6, 0}, local;
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  char stamps[64];
  std::snprintf(stamps, sizeof stamps, "       5|%02d:%02d:%02d|%02d|0x3610A686|", local.wHour, local.wMinute,
                local.wSecond, local.wDay);
  EXPECT_EQ(r.out,
            std::string("[") + stamps + "low.dat]\n[" + stamps + "mid.dat]\n[" + stamps + "top.dat]\n");
  // A -S directory of that length is searched like any other.
  EXPECT_EQ(Typed(dir_.path(), "mid.dat -S" + deep + " -n echo $f").out, deep + "\\mid.dat\n");
  RemoveTree(dir_ / std::string(60, 'd'));
}

TEST_F(Win32E2e, TheOutputFileIsNotInheritedByCommands) {
  dir_.WriteFile("a.txt");
  const RunResult r = Typed(dir_.path(), "*.txt -xo$b.log -n " + ArgvPrinter() + " $n",
                            WithEnv({{"ARGV_PRINTER_HELD", dir_ / "a.log"}}));
  EXPECT_EQ(r.out, "[a.txt]\nheld=no\n");
}

// A no-shell Command is split into words as the run-time library splits a command line, and each word
// reaches the program exactly: "$f" is one argument whatever the name holds. A directory that a program
// cannot start in is not entered with -c; that file's Command is skipped.
TEST_F(Win32E2e, NoShellWordsReachTheProgramExactly) {
  const std::string file = dir_ / "my \xe6\x97\xa5 file.txt";
  MakeFile(file);
  const std::string p = ArgvPrinter();
  EXPECT_EQ(Typed(dir_.path(), "*.txt -n " + p + " \"$f\" x").out, "[" + file + "]\n[x]\n");
  EXPECT_EQ(Typed(dir_.path(), "*.txt -n " + p + " \"a  b\\\"c\" \"\" $n").out,
            "[a  b\"c]\n[]\n[my \xe6\x97\xa5 file.txt]\n");

  std::string deep = dir_ / "sub";
  while (deep.size() < 300)
    deep += "\\" + std::string(60, 'd');
  MakeFile(deep + "\\deep.dat");
  MakeFile(dir_ / "sub\\near.dat");
  // No child starts in a directory named only in the \\?\ form: CreateProcessW refuses it, and cmd.exe
  // would run in %SystemRoot% instead.
  struct Case {
    std::string typed;
    RunOptions options;
    std::string nearOut;
  };
  const std::vector<Case> cases = {
      {"*.dat -s -c -n " + p + " $n", WithEnv({{"ARGV_PRINTER_ENV", "cwd"}}),
       "[near.dat]\ncwd=" + dir_ / "sub" + "\n"},
      {"*.dat -s -c echo $n in %cwd%", WithCmd(), "near.dat in " + dir_ / "sub" + "\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = Typed(dir_.path(), c.typed, c.options);
    EXPECT_NE(r.out.find("Could not change to directory " + deep + ".\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("deep.dat"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.nearOut), std::string::npos) << r.out;
  }
  RemoveTree(dir_ / "sub");
}

std::string Repeat(const std::string& text, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i)
    out += text;
  return out;
}

// Several files at once: each file's commands write into pipes of its own, so every block comes whole and
// in list order however much a command prints (past what a capture keeps in memory) and however it writes.
TEST_F(Win32E2e, JobsPrintEveryFilesBlockWholeAndInOrder) {
  // The digits that end each base name are the milliseconds its command sleeps before it prints, so later
  // files print while earlier ones still run, and their blocks must wait, past what memory keeps.
  std::string all;
  for (const char* name : {"a_3000.big", "b_0000.big", "c_0700.big", "d_0000.big"}) {
    std::string content;
    for (int i = 0; i < 20000; ++i)
      content += std::string(name) + " line " + std::to_string(i) + "\r\n";
    MakeFile(dir_ / name, content);
    all += content;
  }
  const std::string p = ArgvPrinter();
  const std::string sleepThenType = " " + p + " sleep:$b& type $f";
  const std::vector<std::pair<std::string, std::string>> env = {{"COMSPEC", kCmd},
                                                                {"ARGV_PRINTER_ACTIONS", "1"}};
  RunOptions joined = WithEnv(env);
  joined.errorToOutput = true;
  std::string reopened;
  for (const char* base : {"a_3000", "b_0000", "c_0700", "d_0000"})
    reopened += "[" + std::string(base) + ".big]\r\n[" + base + "]\r\n[after]\r\n";
  // More files than one wait of the system takes handles, all running at once.
  std::string many;
  for (int i = 10; i < 90; ++i) {
    std::string name = "n";  // appended: GCC 12 warns falsely on a chain of + with a temporary here
    name += std::to_string(i);
    name += ".t";
    MakeFile(dir_ / name);
    many += "[" + name + "]\r\n";
  }
  struct Case {
    std::string typed;
    RunOptions options;
    std::string rawOut;
  };
  const std::vector<Case> cases = {
      {"*.big -Jobs:4" + sleepThenType, WithEnv(env), all},
      {"*.big -Jobs:8" + sleepThenType, joined, all},
      // A command that opens its standard output again by name: a file capture was cut by it.
      {"*.big -Jobs:4 -n " + p + " $n sleep:$b reopen:$b after", WithEnv(env), reopened},
      {"*.t -Jobs:64 -n " + p + " $n", {}, many},
  };
  for (const Case& c : cases) {
    const RunResult r = Typed(dir_.path(), c.typed, c.options);
    EXPECT_TRUE(r.rawOut == c.rawOut)
        << c.typed << ": " << r.rawOut.size() << " bytes, " << r.rawOut.substr(0, 200) << r.err;
    EXPECT_EQ(r.status, 0) << c.typed;
  }

  // Beyond what is kept in memory, a temporary directory that is missing ends the run, and says so.
  const std::string missing = dir_ / "missing";
  std::vector<std::pair<std::string, std::string>> noTemporary = env;
  noTemporary.insert(noTemporary.end(), {{"TMP", missing}, {"TEMP", missing}});
  const RunResult r = Typed(dir_.path(), "*.big -Jobs:2" + sleepThenType, WithEnv(noTemporary));
  EXPECT_EQ(r.err.rfind("Could not write \"" + missing + "\": ", 0), 0u) << r.err;
  EXPECT_LT(r.rawOut.size(), all.size());
}

// A command line longer than the system takes is refused whole, never cut, and counts as a failure; the
// file's other parts still run. The limits count UTF-16 units, not bytes: a line of 30,000 characters
// that takes three bytes each still runs.
TEST_F(Win32E2e, ACommandLineTooLongIsRefusedNotCut) {
  const std::string sub = dir_ / ("w" + Repeat("\xe6\x97\xa5", 80));  // w日日...
  MakeFile(sub + "\\f.txt");
  // $p in UTF-16 units: the directory, a separator at its end, each 日 one unit.
  const std::size_t units = sub.size() - 160 + 1;
  const std::string p = ArgvPrinter();
  const std::string pathMacro = sub + "\\";
  const std::size_t over = 32767 / units + 1;
  const std::size_t under = 30000 / units;
  const std::size_t shellOver = 8191 / units + 1;
  const std::string refused = "Could not execute " + p + ": the command line is too long.\n[after]\n";
  struct Case {
    std::string typed;
    RunOptions options;
    std::string out;
    int status;
  };
  const std::vector<Case> cases = {
      {"*.txt -ReturnCode -n " + p + " " + Repeat("$p", over) + ";" + p + " after", {}, refused, 1},
      {"*.txt -ReturnCode -Jobs:2 -n " + p + " " + Repeat("$p", over) + ";" + p + " after", {}, refused, 1},
      {"*.txt -ReturnCode -n " + p + " " + Repeat("$p", under),
       {},
       "[" + Repeat(pathMacro, under) + "]\n",
       0},
      {"*.txt -ReturnCode echo " + Repeat("$p", shellOver) + ";echo after", WithCmd(),
       "Could not execute " + kCmd + ": the command line is too long.\nafter\n", 1},
  };
  for (const Case& c : cases) {
    const RunResult r = Typed(sub, c.typed, c.options);
    EXPECT_TRUE(r.out == c.out) << c.typed.substr(0, 60) << ": " << r.out.substr(0, 200);
    EXPECT_EQ(r.status, c.status) << c.typed.substr(0, 60);
  }
}

}  // namespace
}  // namespace zelvane::test
