// The Win32 layer's edge: UTF-8 and UTF-16 both ways without loss, the \\?\ form of long paths, the
// command line a child splits back into its words, the current directory a child can start in, and the
// manifest the build embeds.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "platform/child_text.h"
#include "platform/directories.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform::win32 {
namespace {

TEST(Win32Text, NamesComeBackUnchangedThroughUtf8) {
  struct Row {
    std::wstring wide;
    std::string utf8;
  };
  const std::vector<Row> rows = {
      {L"ab.txt", "ab.txt"},
      {L"\u03b1\u03b2\u03b3.txt", "\xce\xb1\xce\xb2\xce\xb3.txt"},
      {L"\u65e5\u672c", "\xe6\x97\xa5\xe6\x9c\xac"},
      {L"\U0001F600", "\xf0\x9f\x98\x80"},
      // Unpaired surrogates, which NTFS names may hold, each as its own three-byte sequence.
      {std::wstring(1, wchar_t(0xD83D)) + L"x", "\xed\xa0\xbdx"},
      {std::wstring(1, wchar_t(0xDE00)), "\xed\xb8\x80"},
      {std::wstring{wchar_t(0xDE00), wchar_t(0xD83D)}, "\xed\xb8\x80\xed\xa0\xbd"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Utf8(row.wide), row.utf8);
    EXPECT_EQ(Wide(row.utf8), row.wide) << row.utf8;
  }
}

TEST(Win32Text, AByteOutsideUtf8IsACharacterOfTheOemCodePage) {
  // What a character code (#130) yields: on its own, or cut short in a sequence.
  for (const std::string& text : {std::string("\x82"), std::string("a\xe6\x97")}) {
    std::wstring expected;
    for (unsigned char c : text) {
      wchar_t w = c;
      if (c >= 0x80) MultiByteToWideChar(GetOEMCP(), 0, reinterpret_cast<const char*>(&c), 1, &w, 1);
      expected += w;
    }
    EXPECT_EQ(Wide(text), expected);
  }
}

TEST(Win32Text, AnArgumentFileLineThatIsNoUtf8IsInTheAnsiCodePage) {
  const std::string ansi = "caf\xe9 \x80";
  wchar_t wide[8] = {};
  const int n =
      MultiByteToWideChar(SystemAnsiCodePage(), 0, ansi.data(), static_cast<int>(ansi.size()), wide, 8);
  const std::vector<std::pair<std::string, std::string>> rows = {
      {ansi, Utf8(std::wstring(wide, static_cast<std::size_t>(n)))},
      // UTF-8 stays as it is, even where it could be read in the ANSI code page.
      {"caf\xc3\xa9 \xe6\x97\xa5", "caf\xc3\xa9 \xe6\x97\xa5"},
      {"plain", "plain"},
  };
  for (const auto& [line, expected] : rows) {
    std::string converted = line;
    MakeUtf8Line(converted);
    EXPECT_EQ(converted, expected) << line;
  }
}

// The names a program would be handed as another file's: a component that ends in '.', or a last one that
// ends in a blank. Zelvane's own reads of them go to the system in the \\?\ form, which keeps them whole.
TEST(Win32Paths, NamesTheSystemWouldRewrite) {
  const std::vector<std::pair<std::string, bool>> rows = {
      {"C:\\d\\trail.", true},
      {"C:\\d\\trail ", true},
      {"trail.", true},
      {"C:trail.", true},
      {"C:\\d.\\x", true},
      {"C:/d../x", true},
      {"C:\\d \\x", false},
      {"C:\\d\\.", false},
      {"..\\d\\..\\x", false},
      {"C:\\d\\x.txt", false},
      {"\\\\?\\C:\\d.\\trail.", false},  // reaches the file as it stands
  };
  for (const auto& [path, rewritten] : rows)
    EXPECT_EQ(SystemRewritesName(path), rewritten) << path;
}

TEST(Win32Paths, LongPathsGoToTheSystemInTheirLongForm) {
  const std::string longDir = "C:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
  const std::string share = "\\\\server\\share\\" + std::string(300, 'c');
  EXPECT_EQ(OsPath("C:\\short\\x.txt"), L"C:\\short\\x.txt");
  EXPECT_EQ(OsPath("NUL"), L"NUL");
  EXPECT_EQ(OsPath(longDir + "\\x.txt"), L"\\\\?\\" + Wide(longDir) + L"\\x.txt");
  EXPECT_EQ(OsPath(longDir + "/sub/../x.txt"), L"\\\\?\\" + Wide(longDir) + L"\\x.txt");
  EXPECT_EQ(OsPath(share), L"\\\\?\\UNC\\server\\share\\" + Wide(std::string(300, 'c')));
  EXPECT_EQ(OsPath("\\\\?\\C:\\x"), L"\\\\?\\C:\\x");
  // A relative name is long when its full path is.
  const std::wstring relative = OsPath(std::string(300, 'r'));
  EXPECT_EQ(relative.rfind(L"\\\\?\\", 0), 0u);
  EXPECT_EQ(relative.substr(relative.size() - 301), L"\\" + std::wstring(300, L'r'));
}

TEST(Win32Process, TheChildSplitsItsCommandLineBackIntoTheWords) {
  const std::vector<std::vector<std::string>> rows = {
      {"prog", "plain", "two words", ""},
      {"prog", "\"", "a\"b", "\"quoted\""},
      {"prog", "a\\", "a\\\\", "a\\b", "a\\\"b", "a\\\\\"b", "\\\\server\\share\\"},
      {"prog", "tab\there", "  lead", "trail  "},
      {"C:\\Program Files\\dir\\prog.exe", "\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80.txt",
       "C:\\dir with blank\\"},
  };
  for (const std::vector<std::string>& words : rows) {
    const std::wstring line = Wide(QuotedCommandLine(words));
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    std::vector<std::string> back;
    for (int i = 0; i < count; ++i)
      back.push_back(Utf8(argv[i]));
    LocalFree(argv);
    EXPECT_EQ(back, words) << Utf8(line);
  }
}

// A temporary directory with one directory below it whose path is too long to start a child in.
TEST(Win32Paths, NoCurrentDirectoryAChildCannotStartIn) {
  const test::TempDir dir;
  const std::string fits = dir / std::string(200 - dir.path().size(), 'f');
  const std::string tooLong = fits + "\\" + std::string(100, 'g');
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + Wide(fits)).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + Wide(tooLong)).c_str(), nullptr));
  std::string start;
  ASSERT_TRUE(GetCurrentDir(start));
  EXPECT_FALSE(SetCurrentDir(tooLong));
  EXPECT_TRUE(SetCurrentDir(fits));
  std::string now;
  EXPECT_TRUE(GetCurrentDir(now));
  EXPECT_EQ(now, fits);
  EXPECT_TRUE(SetCurrentDir(start));
  RemoveDirectoryW((L"\\\\?\\" + Wide(tooLong)).c_str());
}

// A directory children start in is held open, so it cannot be renamed while held, and it is known by the
// identity the walk sees. A directory a child would be handed under another name is refused.
TEST(Win32Process, AStartDirectoryIsHeldAndKnownByItsIdentity) {
  const test::TempDir dir;
  for (const char* name : {"sub", "x", "x."})
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + Wide(dir / name)).c_str(), nullptr)) << name;
  struct Row {
    std::string path;
    bool forShell;
    std::string opens;  // the directory as it reads inside; empty: refused
  };
  const std::vector<Row> rows = {
      {dir / "sub", true, dir / "sub"},
      {"\\\\?\\" + dir / "sub\\", false, dir / "sub"},
      // Windows would hand a child x instead.
      {dir / "x.", false, ""},
      // cmd.exe would start in %SystemRoot% instead; refused before the network is asked.
      {"\\\\server\\share\\dir", true, ""},
  };
  for (const Row& row : rows) {
    const StartDirHandle start = OpenStartDirectory(row.path, row.forShell);
    EXPECT_EQ(start != kNoStartDirectory, !row.opens.empty()) << row.path;
    if (start == kNoStartDirectory) continue;
    EXPECT_EQ(StartDirectoryPath(start), row.opens);
    CloseStartDirectory(start);
  }

  const StartDirHandle start = OpenStartDirectory(dir / "sub", false);
  ASSERT_NE(start, kNoStartDirectory);
  const DirHandle listed = OpenDirectory(dir / "sub");
  const DirIdentity identity = StartDirectoryIdentity(start);
  EXPECT_TRUE(identity.known);
  EXPECT_EQ(identity, IdentityOf(listed));
  CloseDirectory(listed);
  EXPECT_FALSE(MoveFileW(Wide(dir / "sub").c_str(), Wide(dir / "moved").c_str()));
  CloseStartDirectory(start);
  EXPECT_TRUE(MoveFileW(Wide(dir / "sub").c_str(), Wide(dir / "moved").c_str()));
  for (const char* name : {"moved", "x", "x."})
    RemoveDirectoryW((L"\\\\?\\" + Wide(dir / name)).c_str());
}

TEST(Win32Build, TheProgramCarriesItsManifest) {
  HMODULE program = LoadLibraryExW(Wide(test::ZelvaneBinary()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
  HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(resource, nullptr);
  const auto* data = static_cast<const char*>(LockResource(LoadResource(program, resource)));
  const std::string manifest(data, SizeofResource(program, resource));
  FreeLibrary(program);
  EXPECT_NE(manifest.find("<longPathAware"), std::string::npos);
  EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
}

}  // namespace
}  // namespace zelvane::platform::win32
