#include "platform/child_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvane::platform {
namespace {

TEST(ShellArguments, PosixShellsGetDashCAnyOtherShellItsSwitch) {
  struct Row {
    const char* shell;
    bool posixShells;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"/bin/sh", true, {"/bin/sh", "-c", "x y"}},
      {"busybox", true, {"busybox", "-c", "x y"}},
      {"/usr/bin/fish", true, {"/usr/bin/fish", " /c x y"}},
      {"/opt/sh/cmd", true, {"/opt/sh/cmd", " /c x y"}},  // only the file name counts
      {"sh", false, {"sh", " /c x y"}},                   // Win32: every shell is cmd.exe-like
  };
  for (const Row& row : rows)
    EXPECT_EQ(ShellArguments(row.shell, "x y", row.posixShells), row.expected) << row.shell;
}

TEST(MergeEnvironment, OverridesReplaceByNameAndComeLast) {
  const std::vector<std::string> base = {"PATH=/bin", "cwd=/old", "CWD=/other", "=C:=C:\\dir", "A=b=c"};
  EXPECT_EQ(
      MergeEnvironment(base, {{"cwd", "/new"}, {"date", "x"}}, false),
      (std::vector<std::string>{"PATH=/bin", "CWD=/other", "=C:=C:\\dir", "A=b=c", "cwd=/new", "date=x"}));
  // Win32 takes names without regard to case; a drive's entry is named up to its second '='.
  EXPECT_EQ(MergeEnvironment(base, {{"cwd", "/new"}, {"=c:", "D:\\"}}, true),
            (std::vector<std::string>{"PATH=/bin", "A=b=c", "cwd=/new", "=c:=D:\\"}));
}

}  // namespace
}  // namespace zelvane::platform
