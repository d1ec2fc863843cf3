#include "command/run_log.h"

#include <gtest/gtest.h>

#include <string>

namespace zelvane {
namespace {

TEST(RunLog, LinesReadBackWhateverANameHolds) {
  LogEntry entry;
  entry.number = 12;
  entry.path = "/d/tab\there\\and\nline.txt";
  entry.size = 1234567890123;
  entry.time = "2026-12-09 10:11:12";
  entry.start = "2026-12-09 10:11:13";
  entry.seconds = 1.5;
  entry.exit = "timeout";
  entry.command = "rm \"/d/tab\there\"";
  const std::string line = FormatLogLine(entry);
  EXPECT_EQ(
      line,
      "12\t/d/tab\\there\\\\and\\nline.txt\t1234567890123\t2026-12-09 10:11:12\t2026-12-09 10:11:13\t1.500\t"
      "timeout\trm \"/d/tab\\there\"\n");
  LogEntry back;
  ASSERT_TRUE(ParseLogLine(std::string_view(line).substr(0, line.size() - 1), back));
  EXPECT_EQ(back.number, 12);
  EXPECT_EQ(back.path, entry.path);
  EXPECT_EQ(back.size, entry.size);
  EXPECT_EQ(back.exit, "timeout");
  EXPECT_EQ(back.command, entry.command);
  EXPECT_FALSE(ParseLogLine(LogHeader().substr(0, LogHeader().size() - 1), back));
}

// Only whole lines of files that succeeded count: a failure, a timeout, a skip, a line cut short by an
// interrupted run, the header and anything else run again.
TEST(RunLog, SucceededFilesAreTheWholeLinesWithExitZero) {
  const std::string log = LogHeader() +
                          "1\t/a\t5\t2026-01-01 00:00:00\ts\t0.1\t0\tc\n"
                          "2\t/b\t5\t2026-01-01 00:00:00\ts\t0.1\t1\tc\n"
                          "3\t/c\t5\t2026-01-01 00:00:00\ts\t0.1\ttimeout\tc\n"
                          "4\t/d\t5\t2026-01-01 00:00:00\ts\t0.1\tskipped\tc\r\n"
                          "not a line\n"
                          "5\t/e\t5\t2026-01-01 00:00:00\ts\t0.1\t0\tc";
  const auto done = SucceededFiles(log);
  EXPECT_EQ(done.size(), 1u);
  EXPECT_TRUE(done.count(ResumeKey("/a", 5, "2026-01-01 00:00:00")));
  EXPECT_FALSE(done.count(ResumeKey("/a", 6, "2026-01-01 00:00:00")));
}

}  // namespace
}  // namespace zelvane
