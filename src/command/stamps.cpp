#include "command/stamps.h"

#include <cinttypes>
#include <cstdio>

#include "command/run_settings.h"
#include "platform/files.h"

namespace zelvane {
namespace {

std::string Format02(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string FormatClock(int hour, int minute, int second) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hour, minute, second);
  return buffer;
}

}  // namespace

const char* DayName(int dayOfWeek, bool full) {
  static const char* const kShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kFull[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
  if (dayOfWeek < 0 || dayOfWeek > 6) return full ? "Error" : "Err";
  return full ? kFull[dayOfWeek] : kShort[dayOfWeek];
}

PseudoEnvironment MakePseudoEnvironment(const platform::SystemTime& now, const std::string& cwd) {
  PseudoEnvironment env;
  env.wday = DayName(now.dayOfWeek, false);
  env.weekday = DayName(now.dayOfWeek, true);
  env.cwd = cwd;
  char date[48];
  std::snprintf(date, sizeof date, "%02d/%02d/%02d", now.month, now.day, now.year % 100);
  env.date = date;
  env.time = FormatClock(now.hour, now.minute, now.second);
  return env;
}

FileStamp MakeFileStamp(std::uint64_t size, const platform::SystemTime& local) {
  FileStamp stamp;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%8" PRIu64, size);
  stamp.size = buffer;
  stamp.day = Format02(local.day);
  stamp.month = Format02(local.month);
  stamp.year = Format02(local.year);
  stamp.time = FormatClock(local.hour, local.minute, local.second);
  return stamp;
}

FileStamp GetFileStamp(const RunSettings& ctx, const std::string& path) {
  // The file's own entry: '?' or '*' in a found name are characters of it, not wildcards.
  platform::FindData data;
  if (!platform::GetEntryData(path, data)) return MakeFileStamp(0, platform::LocalNow());
  platform::SystemTime local;
  if (data.name == "NUL" || !platform::FileTimeToLocalSystemTime(
                                ctx.useAccessTime ? data.lastAccessTime : data.lastWriteTime, local))
    local = platform::LocalNow();
  return MakeFileStamp(data.size, local);
}

std::string LocalTimeText(int year, int month, int day, int hour, int minute, int second) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

std::string FileTimeText(std::uint64_t fileTime) {
  platform::SystemTime local;
  if (!platform::FileTimeToLocalSystemTime(fileTime, local)) return {};
  return LocalTimeText(local.year, local.month, local.day, local.hour, local.minute, local.second);
}

}  // namespace zelvane
