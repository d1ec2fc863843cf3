// File times and the local calendar, on both targets.
//
// A file time is a count of 100-ns ticks since 1601-01-01 00:00 UTC, the unit Win32 stores them in, from 0
// to kLastFileTime (30828-09-14 02:48:05.4775807 UTC, the last instant the Win32 conversions accept). A
// file's time outside that range is reported as the nearer end of it, never wrapped: a file dated in the
// year 60000 is the latest file, not one from 1601.
#pragma once

#include <cstdint>

namespace zelvane::platform {

inline constexpr std::uint64_t kLastFileTime = 0x7FFFFFFFFFFFFFFFULL;

inline constexpr std::int64_t kFileTimeTicksPerSecond = 10'000'000;

// Seconds from 1601-01-01 to 1970-01-01, where POSIX counts its time from.
inline constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// A file time from the two 32-bit halves that Win32's structures hold it in.
constexpr std::uint64_t FileTimeFromHalves(std::uint32_t high, std::uint32_t low) {
  return (std::uint64_t{high} << 32) | low;
}

// Calendar fields as Win32's SYSTEMTIME holds them.
struct SystemTime {
  int year = 0;
  int month = 0;      // 1..12
  int dayOfWeek = 0;  // 0 = Sunday
  int day = 0;        // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// The current local time, read once.
SystemTime LocalNow();

// File time (UTC ticks) to local calendar fields; false when out of range.
bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime& out);

// Local calendar fields to a file time (UTC ticks); false when a field is out of range.
bool LocalSystemTimeToFileTime(const SystemTime& local, std::uint64_t& fileTime);

}  // namespace zelvane::platform
