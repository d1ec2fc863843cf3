#include "command/stamps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "app/run_context.h"
#include "platform/platform.h"
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

// Day of the week of a calendar date, independent of the code under test.
int WeekdayOf(int year, int month, int day) {
  std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                  std::chrono::day{static_cast<unsigned>(day)}};
  return static_cast<int>(std::chrono::weekday{std::chrono::sys_days{ymd}}.c_encoding());
}

TEST(SetPseudoEnvironment, AgreesWithTheClockAndTheDirectory) {
  test::TempDir dir;
  // Far longer than any fixed buffer, where the system allows such a current directory.
  std::string deep = dir.path();
  const int levels = platform::NativeSeparator() == '/' ? 6 : 1;
  for (int i = 0; i < levels; ++i)
    deep += "/" + std::string(60, static_cast<char>('a' + i));
  fs::create_directories(deep);
  std::string before;
  ASSERT_TRUE(platform::GetCurrentDir(before));
  ASSERT_TRUE(platform::SetCurrentDir(deep));
  ASSERT_TRUE(platform::GetCurrentDir(deep));  // as the system spells it
  SetPseudoEnvironment();
  ASSERT_TRUE(platform::SetCurrentDir(before));

  std::string cwd, date, time, wday, weekday;
  ASSERT_TRUE(platform::GetEnv("cwd", cwd));
  ASSERT_TRUE(platform::GetEnv("date", date));
  ASSERT_TRUE(platform::GetEnv("time", time));
  ASSERT_TRUE(platform::GetEnv("wday", wday));
  ASSERT_TRUE(platform::GetEnv("weekday", weekday));
  EXPECT_EQ(cwd, deep);
  EXPECT_TRUE(std::regex_match(time, std::regex(R"(([01]\d|2[0-3]):[0-5]\d:[0-5]\d)"))) << time;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(date, m, std::regex(R"((\d\d)/(\d\d)/(\d\d))"))) << date;
  // One reading of the clock: the day name is the date's own.
  const int year = 2000 + std::stoi(m[3]);
  const int day = WeekdayOf(year, std::stoi(m[1]), std::stoi(m[2]));
  EXPECT_EQ(wday, DayName(day, false));
  EXPECT_EQ(weekday, DayName(day, true));
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

  RunContext ctx;
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
  RunContext ctx;
  const platform::SystemTime now = platform::LocalNow();
  const FileStamp stamp = GetFileStamp(ctx, dir / "gone.txt");
  EXPECT_EQ(stamp.size, "       0");
  EXPECT_EQ(stamp.year, std::to_string(now.year));
  EXPECT_TRUE(std::regex_match(stamp.time, std::regex(R"(\d\d:\d\d:\d\d)")));
}

}  // namespace
}  // namespace zelvane
