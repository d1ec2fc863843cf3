#include "command/stamps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "command/run_settings.h"
#include "platform/file_time.h"
#include "support/temp_dir.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;

platform::SystemTime LocalTime(int year, int month, int day, int hour, int minute, int second) {
  platform::SystemTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

TEST(DayName, TableAndOutOfRange) {
  const char* const shortNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const char* const fullNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                   "Thursday", "Friday", "Saturday"};
  for (int d = 0; d < 7; ++d) {
    EXPECT_STREQ(DayName(d, false), shortNames[d]);
    EXPECT_STREQ(DayName(d, true), fullNames[d]);
  }
  EXPECT_STREQ(DayName(7, false), "Err");
  EXPECT_STREQ(DayName(-1, true), "Error");
}

TEST(MakePseudoEnvironment, Formats) {
  platform::SystemTime t = LocalTime(2000, 3, 5, 9, 5, 3);
  t.dayOfWeek = 0;
  const PseudoEnvironment env = MakePseudoEnvironment(t, "/some/dir");
  EXPECT_EQ(env.date, "03/05/00");
  EXPECT_EQ(env.time, "09:05:03");
  EXPECT_EQ(env.wday, "Sun");
  EXPECT_EQ(env.weekday, "Sunday");
  EXPECT_EQ(env.cwd, "/some/dir");
}

TEST(MakeFileStamp, SizeIsPaddedAndNeverCut) {
  const platform::SystemTime t = LocalTime(2001, 3, 7, 9, 5, 3);
  const FileStamp small = MakeFileStamp(1234, t);
  EXPECT_EQ(small.size, "    1234");
  EXPECT_EQ(small.time, "09:05:03");
  EXPECT_EQ(small.day, "07");
  EXPECT_EQ(small.month, "03");
  EXPECT_EQ(small.year, "2001");
  EXPECT_EQ(MakeFileStamp(123456789, t).size, "123456789");
  EXPECT_EQ(MakeFileStamp(5000000000ULL, t).size, "5000000000");
}

TEST(GetFileStamp, ReadsSizeAndLocalWriteTime) {
  test::TempDir dir;
  dir.WriteFile("a.txt", std::string(1234, 'x'));
  const platform::SystemTime local = LocalTime(2001, 3, 7, 9, 5, 3);
  std::uint64_t ticks = 0;
  ASSERT_TRUE(platform::LocalSystemTimeToFileTime(local, ticks));
  const std::chrono::sys_seconds utc{
      std::chrono::seconds{static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL}};
  fs::last_write_time(dir / "a.txt", std::chrono::file_clock::from_sys(utc));

  RunSettings ctx;
  const FileStamp stamp = GetFileStamp(ctx, dir / "a.txt");
  EXPECT_EQ(stamp.size, "    1234");
  EXPECT_EQ(stamp.time, "09:05:03");
  EXPECT_EQ(stamp.day, "07");
  EXPECT_EQ(stamp.month, "03");
  EXPECT_EQ(stamp.year, "2001");

  // The whole 64-bit size (a sparse file costs no disk).
  fs::resize_file(dir / "a.txt", 5000000000ULL);
  EXPECT_EQ(GetFileStamp(ctx, dir / "a.txt").size, "5000000000");
}

TEST(GetFileStamp, MissingFileHasSizeZeroAndTheCurrentTime) {
  test::TempDir dir;
  RunSettings ctx;
  const platform::SystemTime now = platform::LocalNow();
  const FileStamp stamp = GetFileStamp(ctx, dir / "gone.txt");
  EXPECT_EQ(stamp.size, "       0");
  EXPECT_EQ(stamp.year, std::to_string(now.year));
  EXPECT_TRUE(std::regex_match(stamp.time, std::regex(R"(\d\d:\d\d:\d\d)")));
}

}  // namespace
}  // namespace zelvane
