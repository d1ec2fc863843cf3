#include "command/macros.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "command/run_settings.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace zelvane {
namespace {

struct Case {
  std::string templateText;
  std::string expected;
};

// Expands each template for one path, the stamp and checksums filled in so nothing touches the disk. Every
// row of every table is prepared in one reused FileMacros, as a run reuses it from file to file, so a part
// left over from an earlier path fails a row.
void ExpectExpansions(const RunSettings& ctx, const std::string& path, const std::vector<Case>& cases,
                      int fileNumber = 0, int totalCount = 0) {
  static FileMacros file;
  for (const Case& c : cases) {
    PrepareFileMacros(ctx, path, file);
    file.fileNumber = fileNumber;
    file.totalCount = totalCount;
    file.stamp = FileStamp{"    1234", "07", "03", "2001", "09:05:03"};
    file.checksum = 0xABCDEF01u;
    file.eolBlindChecksum = 0x0000002Au;
    EXPECT_EQ(ExpandTemplate(ctx, file, c.templateText), c.expected)
        << "path " << path << ", template " << c.templateText;
  }
}

RunSettings Win32Context(const std::string& startDir) {
  RunSettings ctx;
  ctx.startDir = startDir;
  ctx.pathSeparator = '\\';
  return ctx;
}

// Paths written with '\\' mean Win32 paths only where '\\' separates; on POSIX it is part of a name.
bool BackslashSeparates() {
  return platform::IsPathSeparator('\\');
}

RunSettings PosixContext(const std::string& startDir) {
  RunSettings ctx;
  ctx.startDir = startDir;
  ctx.pathSeparator = '/';
  return ctx;
}

TEST(ExpandTemplate, UsageExampleOnWin32Path) {
  if (!BackslashSeparates()) GTEST_SKIP() << "a Win32 path";
  ExpectExpansions(Win32Context("D:\\USR"), "D:\\USR\\DEFAULT\\SOMETHNG.TXT",
                   {{"$f", "D:\\USR\\DEFAULT\\SOMETHNG.TXT"},
                    {"$n", "SOMETHNG.TXT"},
                    {"$b", "SOMETHNG"},
                    {"$e", ".TXT"},
                    {"$p", "D:\\USR\\DEFAULT\\"},
                    {"$d", "\\USR\\DEFAULT\\"},
                    {"$r", "DEFAULT\\"},
                    {"$v", "D:"},
                    {"$S|$T|$D|$M|$Y", "    1234|09:05:03|07|03|2001"},
                    {"$k $K", "0xABCDEF01 0x0000002A"},
                    {"copy $f $v$dbak\\$b.old",
                     "copy D:\\USR\\DEFAULT\\SOMETHNG.TXT D:\\USR\\DEFAULT\\bak\\SOMETHNG.old"}});
}

TEST(ExpandTemplate, LowercaseAndSeparatorOptions) {
  if (!BackslashSeparates()) GTEST_SKIP() << "Win32 paths";
  RunSettings ctx = Win32Context("D:\\USR");
  ctx.lowercase = 1;
  ctx.pathSeparator = '/';
  // Literal text and the checksum's hexadecimal digits keep their case.
  ExpectExpansions(ctx, "D:\\USR\\DEFAULT\\SOMETHNG.TXT",
                   {{"$f", "d:/usr/default/somethng.txt"},
                    {"$d", "/usr/default/"},
                    {"$r", "default/"},
                    {"Copy $n $k", "Copy somethng.txt 0xABCDEF01"}});

  // The default backslash turns forward slashes of the directory into backslashes, nothing else.
  ExpectExpansions(Win32Context("C:\\x"), "D:/a/b.c/N/a.m/e.txt",
                   {{"$f", "D:\\a\\b.c\\N\\a.m\\e.txt"}, {"$n", "e.txt"}});
  // Separator 0 keeps every separator as it was written.
  RunSettings keep = Win32Context("C:\\x");
  keep.pathSeparator = 0;
  ExpectExpansions(keep, "D:\\a/b\\c.txt", {{"$d", "\\a/b\\"}});
}

TEST(ExpandTemplate, PosixPaths) {
  ExpectExpansions(PosixContext("/home/me"), "/home/me/src/a.tar.gz",
                   {{"$f", "/home/me/src/a.tar.gz"},
                    {"$n", "a.tar.gz"},
                    {"$b", "a.tar"},
                    {"$e", ".gz"},
                    {"$p", "/home/me/src/"},
                    {"$d", "/home/me/src/"},
                    {"$r", "src/"},
                    {"[$v]", "[]"}});
  ExpectExpansions(PosixContext("/home/me"), "/home/me/.profile", {{"[$b][$e][$r]", "[][.profile][]"}});
  ExpectExpansions(PosixContext("/home/me"), "/home/me/v1.2/Makefile", {{"[$b][$e]", "[Makefile][]"}});
  // No part is ever cut, however long.
  const std::string longName(300, 'n');
  const std::string longDir = "/" + std::string(280, 'd') + "/";
  ExpectExpansions(PosixContext("/"), longDir + longName + ".txt",
                   {{"$n", longName + ".txt"}, {"$d", longDir}});
}

TEST(ExpandTemplate, BackslashInAPosixNameIsPartOfTheName) {
  if (BackslashSeparates()) GTEST_SKIP() << "'\\' separates on this platform";
  RunSettings ctx = PosixContext("/d");
  ctx.lowercase = 1;
  ctx.pathSeparator = '|';
  ExpectExpansions(ctx, "/d/X\\..\\..\\precious.TXT",
                   {{"$f", "|d|x\\..\\..\\precious.txt"},
                    {"$n", "x\\..\\..\\precious.txt"},
                    {"$b", "x\\..\\..\\precious"},
                    {"[$r]", "[]"},
                    {"$p", "|d|"}});
  EXPECT_EQ(ShortenPath("/a\\b/c"), "/a\\b/c");
}

TEST(ExpandTemplate, RelativeDirectory) {
  struct RCase {
    std::string startDir;
    std::string path;
    char separator;
    std::string expected;
  };
  const std::vector<RCase> cases = {
      {"D:\\USR", "D:\\USR\\DEFAULT\\SOMETHNG.TXT", '\\', "DEFAULT\\"},
      {"D:\\", "D:\\USR\\DEFAULT\\SOMETHNG.TXT", '\\', "USR\\DEFAULT\\"},
      {"d:\\usr", "D:\\USR\\DEFAULT\\SOMETHNG.TXT", '\\', "DEFAULT\\"},  // without regard to case
      {"D:\\USR", "D:\\USR\\a.txt", '\\', ""},                           // directly in startDir
      {"D:\\OTHER", "D:\\USR\\a.txt", '\\', "D:\\USR\\"},                // elsewhere: like $p
      {"\\\\srv\\share\\", "\\\\srv\\share\\x\\a.txt", '\\', "x\\"},     // UNC root with separator
      {"/", "/home/me/a.txt", '/', "home/me/"},
      {"/home/me", "/home/me/a/b/c.txt", '/', "a/b/"},
      {"/home/me", "/home/ME/x/c.txt", '/', "x/"},
      {"/home/me", "/home/meadow/x/c.txt", '/', "/home/meadow/x/"},  // a prefix of a longer name
      {"/home/me", "/home/meadow.txt", '/', "/home/"},
      {"/home/me", "/srv/c.txt", '/', "/srv/"},
  };
  for (const RCase& c : cases) {
    if (c.separator == '\\' && !BackslashSeparates()) continue;
    RunSettings ctx;
    ctx.startDir = c.startDir;
    ctx.pathSeparator = c.separator;
    ExpectExpansions(ctx, c.path, {{"$r", c.expected}});
  }
}

// A path in the \\?\ form or on a network share: $v and everything built on it show the plain volume,
// $f the form that reaches the file.
TEST(ExpandTemplate, LongAndNetworkPathsShowTheirVolumePlain) {
  if (!BackslashSeparates()) GTEST_SKIP() << "Win32 paths";
  struct VCase {
    std::string startDir;
    std::string path;
    std::string expected;  // $f|$v|$p|$d|$r
  };
  const std::vector<VCase> cases = {
      {"C:\\USR", "\\\\?\\C:\\USR\\DEFAULT\\X.TXT",
       "\\\\?\\C:\\USR\\DEFAULT\\X.TXT|C:|C:\\USR\\DEFAULT\\|\\USR\\DEFAULT\\|DEFAULT\\"},
      {"D:\\", "\\\\?\\C:\\a.txt", "\\\\?\\C:\\a.txt|C:|C:\\|\\|C:\\"},
      {"C:\\USR", "\\\\srv\\share\\d\\x.txt",
       "\\\\srv\\share\\d\\x.txt|\\\\srv\\share|\\\\srv\\share\\d\\|\\d\\|\\\\srv\\share\\d\\"},
      {"\\\\srv\\share", "\\\\?\\UNC\\srv\\share\\d\\x.txt",
       "\\\\?\\UNC\\srv\\share\\d\\x.txt|\\\\srv\\share|\\\\srv\\share\\d\\|\\d\\|d\\"},
      {"\\\\SRV\\share\\", "\\\\?\\unc\\srv\\share\\x.txt",
       "\\\\?\\unc\\srv\\share\\x.txt|\\\\srv\\share|\\\\srv\\share\\|\\|"},
      // No volume that a macro could show: the text before the name is all directory.
      {"C:\\", "\\\\?\\Volume{1}\\d\\a.txt",
       "\\\\?\\Volume{1}\\d\\a.txt||\\\\?\\Volume{1}\\d\\|\\\\?\\Volume{1}\\d\\|\\\\?\\Volume{1}\\d\\"},
      {"C:\\", "\\\\srv\\a.txt", "\\\\srv\\a.txt||\\\\srv\\|\\\\srv\\|\\\\srv\\"},
  };
  for (const VCase& c : cases)
    ExpectExpansions(Win32Context(c.startDir), c.path, {{"$f|$v|$p|$d|$r", c.expected}});

  // -lowercase and -sep change the volume as they change the directory, but never the \\?\ form.
  RunSettings ctx = Win32Context("C:\\");
  ctx.lowercase = 1;
  ctx.pathSeparator = '/';
  ExpectExpansions(ctx, "\\\\?\\UNC\\Srv\\Share\\D\\X.txt",
                   {{"$f|$v|$d", "\\\\?\\unc\\srv/share/d/x.txt|//srv/share|/d/"}});
  ExpectExpansions(ctx, "\\\\?\\C:\\D\\X.txt", {{"$f|$v|$p", "\\\\?\\c:/d/x.txt|c:|c:/d/"}});
  // -c enters the directory in the form that reaches it.
  EXPECT_EQ(FileDirectory(ctx, "\\\\?\\C:\\D\\X.txt"), "\\\\?\\C:\\D\\");
}

TEST(ExpandTemplate, BareNameIsCompletedWithStartDir) {
  // $r compares the bare name itself, so it falls back to $p.
  ExpectExpansions(PosixContext("/home/me"), "notes.txt",
                   {{"$f", "/home/me/notes.txt"}, {"$p", "/home/me/"}, {"$r", "/home/me/"}});
  ExpectExpansions(PosixContext("/"), "notes.txt", {{"$f", "/notes.txt"}});
  if (!BackslashSeparates()) return;
  ExpectExpansions(Win32Context("D:\\USR"), "notes.txt",
                   {{"$f", "D:\\USR\\notes.txt"}, {"$p", "D:\\USR\\"}, {"$r", "D:\\USR\\"}});
}

TEST(ExpandTemplate, MacroCharacterRules) {
  ExpectExpansions(PosixContext("/d"), "/d/a.txt",
                   {{"no macros here", "no macros here"},
                    {"$$", "$$"},
                    {"$$f", "$$f"},
                    {"$x $s $", "$x $s $"},
                    {"a$", "a$"},
                    {"$f$", "/d/a.txt$"},
                    {"$n$n", "a.txta.txt"}});
  RunSettings ctx = PosixContext("/d");
  ctx.macroChar = '%';
  ExpectExpansions(ctx, "/d/a.txt", {{"$n %n %%n %", "$n a.txt %%n %"}});
}

TEST(ExpandTemplate, FileNumberWidthFollowsTotalCount) {
  struct CountCase {
    int total;
    int number;
    std::string expected;
  };
  const std::vector<CountCase> cases = {
      {9, 3, "[3/9]"}, {120, 7, "[  7/120]"}, {1000, 12, "[  12/1000]"},
      {0, 1, "[1/0]"}, {12, 12, "[12/12]"},   {1234567890, 5, "[         5/1234567890]"},
  };
  for (const CountCase& c : cases) {
    ExpectExpansions(PosixContext("/d"), "/d/a.txt", {{"[$c/$C]", c.expected}}, c.number, c.total);
  }
}

TEST(ShortenPath, KeepsNamesWithoutAlternatesAndMakesSeparatorsNative) {
  if (!BackslashSeparates()) GTEST_SKIP() << "Win32 paths";
  const char s = platform::NativeSeparator();
  const std::string expected = std::string(1, s) + "no" + s + "such" + s + "dir" + s + "file.txt";
  EXPECT_EQ(ShortenPath("/no\\such/dir\\file.txt"), expected);
  EXPECT_EQ(ShortenPath("file.txt"), "file.txt");

  // With -8, $r compares the shortened path with startDir.
  RunSettings ctx = PosixContext(std::string(1, s) + "no" + s + "such");
  ctx.pathSeparator = s;
  ctx.useShortNames = 1;
  ExpectExpansions(ctx, "/no\\such\\dir\\file.txt", {{"$r", std::string("dir") + s}});
}

TEST(ExpandMacros, ChecksumsAreReadOncePerFile) {
  test::TempDir dir;
  dir.WriteFile("a.txt", "a\r\nb");
  RunSettings ctx = PosixContext(dir.path());
  ctx.lowercase = 1;  // never touches the hexadecimal digits
  EXPECT_EQ(ExpandMacros(ctx, dir / "a.txt", "$k $K"), "0xF35534D7 0x9E83486D");
  EXPECT_EQ(ExpandMacros(ctx, dir / "gone.txt", "$k $K"), "0x00000000 0x00000000");

  // All templates of one file share one reading.
  FileMacros file = PrepareFileMacros(ctx, dir / "a.txt");
  EXPECT_EQ(ExpandTemplate(ctx, file, "$k"), "0xF35534D7");
  dir.WriteFile("a.txt", "changed");
  EXPECT_EQ(ExpandTemplate(ctx, file, "$k"), "0xF35534D7");
}

}  // namespace
}  // namespace zelvane
