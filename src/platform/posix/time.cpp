#include <time.h>

#include <cstdint>

#include "platform/file_time.h"

namespace zelvane::platform {
namespace {

constexpr std::int64_t kEpochOffsetSeconds = kSecondsFrom1601To1970;
constexpr std::int64_t kTicksPerSecond = kFileTimeTicksPerSecond;

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Fields as SystemTimeToFileTime accepts them.
bool Valid(const SystemTime& t) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
    return false;
  return t.milliseconds >= 0 && t.milliseconds <= 999;
}

SystemTime FromTm(const struct tm& tm, int milliseconds) {
  SystemTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.dayOfWeek = tm.tm_wday;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.milliseconds = milliseconds;
  return t;
}

}  // namespace

SystemTime LocalNow() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  const time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &tm);
  return FromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime& out) {
  const std::int64_t seconds = static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kEpochOffsetSeconds;
  const int milliseconds = static_cast<int>((fileTime % kTicksPerSecond) / 10000);
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return false;
  out = FromTm(tm, milliseconds);
  return true;
}

bool LocalSystemTimeToFileTime(const SystemTime& local, std::uint64_t& fileTime) {
  if (!Valid(local)) return false;
  struct tm tm {};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  // The fields were checked above, so -1 here is the real second before 1970, not a failure.
  const time_t t = mktime(&tm);
  const std::int64_t seconds = static_cast<std::int64_t>(t) + kEpochOffsetSeconds;
  if (seconds < 0) return false;
  fileTime = static_cast<std::uint64_t>(seconds) * kTicksPerSecond +
             static_cast<std::uint64_t>(local.milliseconds) * 10000ULL;
  return true;
}

}  // namespace zelvane::platform
