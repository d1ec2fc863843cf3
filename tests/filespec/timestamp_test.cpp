#include "filespec/timestamp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "command/run_settings.h"
#include "platform/file_time.h"

namespace zelvane {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 00:00 UTC as a file time

struct FieldsCase {
  const char* text;
  TimestampFields expected;
  const char* messages;
};

TEST(ReadTimestampFieldsTest, ReadsFieldsSeparatorsAndMessages) {
  const FieldsCase cases[] = {
      {"2001-03-07 12:34:56", {2001, 3, 7, 12, 34, 56}, ""},
      // Any one character separates; blanks and tabs may stand before the hour.
      {"2001/03.07 \t 12.34x56", {2001, 3, 7, 12, 34, 56}, ""},
      {"2001-03-07", {2001, 3, 7, 0, 0, 0}, ""},
      {"2001-03-07 12", {2001, 3, 7, 12, 0, 0}, ""},
      // The hour has no separator before it, so a 'T' reads as hour 0 and shifts the rest.
      {"2001-03-07T12:00:00", {2001, 3, 7, 0, 12, 0}, ""},
      // A ')' ends the literal wherever it stands between fields.
      {"2001)-03-07", {2001, 0, 0, 0, 0, 0}, ""},
      {"2001-03-07) 12:00:00", {2001, 3, 7, 0, 0, 0}, ""},
      // Two-digit years are not widened.
      {"01-03-07", {1, 3, 7, 0, 0, 0}, ""},
      {"2001-13-01 00:00:00", {2001, 13, 1, 0, 0, 0}, "Invalid month:  13.\n"},
      {"2001-03-32 25:61:61",
       {2001, 3, 32, 25, 61, 61},
       "Invalid day: 32.\nInvalid hour: 25.\nInvalid minutes: 61.\nInvalid seconds: 61.\n"},
      // The limits themselves are not reported, though they form no valid time.
      {"2001-00-31 24:60:60", {2001, 0, 31, 24, 60, 60}, ""},
      // A negative field is stored as an unsigned 16-bit value and reported as such. The scan passes only
      // digits, so a sign or blank that a number skipped is taken as the next separator.
      {"2001--1-01", {2001, 65535, 1, 65535, 1, 0}, "Invalid month:  65535.\nInvalid hour: 65535.\n"},
      {"2001- 3-07", {2001, 3, 3, 65529, 7, 0}, "Invalid hour: 65529.\n"},
      {"", {0, 0, 0, 0, 0, 0}, ""},
  };
  for (const FieldsCase& c : cases) {
    std::string messages;
    const TimestampFields f = ReadTimestampFields(c.text, messages);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(f.year, c.expected.year);
    EXPECT_EQ(f.month, c.expected.month);
    EXPECT_EQ(f.day, c.expected.day);
    EXPECT_EQ(f.hour, c.expected.hour);
    EXPECT_EQ(f.minute, c.expected.minute);
    EXPECT_EQ(f.second, c.expected.second);
    EXPECT_EQ(messages, c.messages);
  }
}

std::uint64_t LocalFileTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  const platform::SystemTime t{
      .year = year, .month = month, .day = day, .hour = hour, .minute = minute, .second = second};
  std::uint64_t fileTime = 0;
  EXPECT_TRUE(platform::LocalSystemTimeToFileTime(t, fileTime));
  return fileTime;
}

// 1601-01-01 00:00 local time, or 0 where that lies before the first file time.
std::uint64_t EarliestInstant() {
  std::uint64_t fileTime = 0;
  return platform::LocalSystemTimeToFileTime({.year = 1601, .month = 1, .day = 1}, fileTime) ? fileTime : 0;
}

TEST(ParseTimestampTest, ConvertsLocalTimeAndPrintsMessages) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseTimestamp("2001-03-07 12:34:56"), LocalFileTime(2001, 3, 7, 12, 34, 56));
  EXPECT_EQ(ParseTimestamp("2001-03-07"), LocalFileTime(2001, 3, 7));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseTimestamp("2001-13-01 00:00:00"), EarliestInstant());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid month:  13.\n");
}

TEST(ParseTimestampTest, InvalidFieldsGiveTheEarliestInstant) {
  const char* invalid[] = {"2001-03-07 24:00:00", "2001-00-07", "2001-03-07 12:60:00",
                           "2001-03-07 12:00:60", "01-03-07",   "1600-12-31",
                           "30828-01-01",         "2001--1-01", ""};
  for (const char* text : invalid) {
    testing::internal::CaptureStdout();
    const std::uint64_t parsed = ParseTimestamp(text);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(parsed, EarliestInstant()) << text;
  }
  EXPECT_EQ(ParseTimestamp("2000-02-29 23:59:59"), LocalFileTime(2000, 2, 29, 23, 59, 59));
}

TEST(SecondsOfTest, CountsWholeSecondsOutsideThe32BitRange) {
  EXPECT_EQ(SecondsOf(kUnixEpoch), 0);
  EXPECT_EQ(SecondsOf(kUnixEpoch + kTicksPerSecond - 1), 0);
  EXPECT_EQ(SecondsOf(kUnixEpoch - 1), -1);
  EXPECT_EQ(SecondsOf(0), -11644473600LL);
  // 1960-01-01 and 2040-01-01, 00:00 UTC.
  EXPECT_EQ(SecondsOf(kUnixEpoch - 315619200ULL * kTicksPerSecond), -315619200LL);
  EXPECT_EQ(SecondsOf(kUnixEpoch + 2208988800ULL * kTicksPerSecond), 2208988800LL);
}

struct CompareCase {
  double operandOffset;  // seconds after the file time
  int timeSlop;
  bool ignoreDst;
  int expected;
};

void ExpectComparisons(std::uint64_t fileTime, const char* label) {
  const CompareCase cases[] = {
      {0, 3, false, 0},
      {2, 3, false, 0},
      {3, 3, false, 1},
      {-2, 3, false, 0},
      {-3, 3, false, -1},
      // Each time is cut to its whole second first.
      {2.8, 3, false, 0},
      {0.5, 0, false, 1},
      {0, 0, false, 0},
      // -ignoreDST forgives an operand one hour later, not one hour earlier.
      {3601, 3, false, 1},
      {3601, 3, true, 0},
      {3598, 3, true, 0},
      {3603, 3, true, 1},
      {-3601, 3, true, -1},
      {-3599, 3, true, -1},
  };
  for (const CompareCase& c : cases) {
    RunSettings ctx;
    ctx.timeSlop = c.timeSlop;
    ctx.ignoreDst = c.ignoreDst ? 1 : 0;
    const auto offset = static_cast<std::int64_t>(c.operandOffset * kTicksPerSecond);
    const std::uint64_t operand = fileTime + static_cast<std::uint64_t>(offset);
    EXPECT_EQ(CompareTimes(ctx, operand, fileTime), c.expected)
        << label << " offset " << c.operandOffset << " slop " << c.timeSlop << " dst " << c.ignoreDst;
  }
}

TEST(CompareTimesTest, ToleranceAndOneHourAcrossEras) {
  // A whole second in 2001, and instants in 1960 and 2040, where 32-bit seconds would not reach.
  ExpectComparisons(kUnixEpoch + 983966400ULL * kTicksPerSecond, "2001");
  ExpectComparisons(kUnixEpoch - 315619200ULL * kTicksPerSecond, "1960");
  ExpectComparisons(kUnixEpoch + 2208988800ULL * kTicksPerSecond, "2040");
}

TEST(CompareTimesTest, WholeSecondCutDecidesNearTheBound) {
  RunSettings ctx;
  const std::uint64_t file = kUnixEpoch + 9 * kTicksPerSecond / 10;  // 0.9 s
  // 2.2 s apart, but 3 whole seconds: later.
  EXPECT_EQ(CompareTimes(ctx, file + 22 * kTicksPerSecond / 10, file), 1);
  // Across the start of 1970 the seconds still count one by one.
  EXPECT_EQ(CompareTimes(ctx, kUnixEpoch + 2 * kTicksPerSecond, kUnixEpoch - 2 * kTicksPerSecond), 1);
}

}  // namespace
}  // namespace zelvane
