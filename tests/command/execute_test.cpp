#include "command/execute.h"

#include <gtest/gtest.h>

#include <string>

#include "command/run_settings.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace zelvane {
namespace {

RunSettings NoShellContext() {
  RunSettings ctx;
  ctx.pathSeparator = platform::NativeSeparator();
  EXPECT_TRUE(platform::GetCurrentDir(ctx.startDir));
  return ctx;
}

// Parses the Command as the run loop does, with the context's characters and shell, and runs it for one
// file, one at a time.
int Execute(const RunSettings& ctx, const std::string& path, const std::string& command,
            RunProgress& progress) {
  return RunCommands(ctx, ParseCommandTemplate(command, ctx.breakChar, ctx.macroChar, ctx.shell.empty()),
                     {path}, {}, 1, progress);
}

TEST(RunCommands, ResultIsTheLastStartedPart) {
  if (platform::NativeSeparator() != '/') GTEST_SKIP() << "starts the POSIX programs true and false";
  struct Case {
    std::string command;
    int expected;
    std::string output;
  };
  const Case cases[] = {
      {"true", 0, ""},
      {"false", 1, ""},
      {"false;true", 0, ""},
      {"true;false", 1, ""},
      {"false;;true", 1, ""},  // the empty part stops the Command
      {"no-such-program-zv;true", 0, "Could not execute no-such-program-zv.\n"},
      {"true;no-such-program-zv", -1, "Could not execute no-such-program-zv.\n"},
      {"echo hi", 0, "hi\n"},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    RunSettings ctx = NoShellContext();
    RunProgress progress;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Execute(ctx, "/x/a.txt", c.command, progress), c.expected) << c.command;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output) << c.command;
    EXPECT_EQ(progress.fileNumber, 1);
  }
}

TEST(RunCommands, EchoOnlyAndDeclinedStartNothing) {
  RunSettings ctx = NoShellContext();
  ctx.echoCommand = ctx.echoOnly = 1;
  RunProgress progress;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Execute(ctx, "/x/a.txt", "false $n;echo $b", progress), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "false a.txt\na\n");

  RunSettings asked = NoShellContext();
  asked.confirm = 1;
  platform::PushBackKey('n');
  RunProgress declined;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Execute(asked, "/x/a.txt", "false;false", declined), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Execute \"false;false\"? [y/n] n\n");
  EXPECT_EQ(declined.fileNumber, 1);
}

TEST(RunCommands, ChangeDirWritesRelativeOutputFileBesideTheFileAndRestores) {
  test::TempDir dir;
  dir.WriteFile("sub/a.txt");
  RunSettings ctx = NoShellContext();
  ctx.changeDir = 1;
  ctx.outputFile = "$b.out";
  std::string before;
  ASSERT_TRUE(platform::GetCurrentDir(before));

  RunProgress progress;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Execute(ctx, dir / "sub/a.txt", "echo in $n", progress), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  std::string written = dir.ReadFile("sub/a.out");
  std::erase(written, '\r');  // a text file on Win32
  EXPECT_EQ(written, "in a.txt\n");

  std::string after;
  ASSERT_TRUE(platform::GetCurrentDir(after));
  EXPECT_EQ(after, before);
}

TEST(RunCommands, ChangeDirThatFailsSkipsTheFileAndStaysPut) {
  test::TempDir dir;
  dir.WriteFile("a.txt");
  RunSettings ctx = NoShellContext();
  ctx.changeDir = 1;
  ctx.outputFile = dir / "$b.out";
  std::string before;
  ASSERT_TRUE(platform::GetCurrentDir(before));

  // Nothing runs, no output file is created, Zelvane stays where it stands, and the run goes on.
  RunProgress progress;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Execute(ctx, dir / "gone/a.txt", "echo ran", progress), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could not change to directory " + (dir / "gone") + ".\n");
  EXPECT_FALSE(dir.Exists("a.out"));
  EXPECT_FALSE(progress.endRun);
  EXPECT_EQ(progress.fileNumber, 1);
  std::string after;
  ASSERT_TRUE(platform::GetCurrentDir(after));
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace zelvane

namespace zelvane {
namespace {

TEST(StatusLineText, CountsTimesAndTheFileCutToTheWidth) {
  struct Row {
    int done, total, failures;
    double elapsed;
    const char* current;
    int width;
    const char* text;
  } rows[] = {
      {0, 10, 0, 0.2, "/d/a.txt", 80, "[0/10] 0:00: /d/a.txt"},
      {4, 10, 1, 40, "/d/e.txt", 80, "[4/10] 1 failed, 0:40, ~1:00 left: /d/e.txt"},
      {9, 10, 0, 3700, "", 80, "[9/10] 1:01:40, ~6:51 left"},
      {10, 10, 0, 5, "", 80, "[10/10] 0:05"},
      // One column short of the width, and never inside a character.
      {0, 1, 0, 0, "/d/\xc3\xa4\xc3\xa4", 19, "[0/1] 0:00: /d/\xc3\xa4"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(StatusLineText(r.done, r.total, r.failures, r.elapsed, r.current, r.width), r.text) << r.text;
}

}  // namespace
}  // namespace zelvane
