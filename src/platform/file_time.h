// File times on both targets: 64-bit counts of 100-nanosecond ticks since 1601-01-01 00:00 UTC, the unit
// Win32 stores them in. One home for the constants that relate it to seconds and to the POSIX epoch.
#pragma once

#include <cstdint>

namespace zelvane::platform {

inline constexpr std::int64_t kFileTimeTicksPerSecond = 10'000'000;

// Seconds from 1601-01-01 to 1970-01-01, where POSIX counts its time from.
inline constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// A file time from the two 32-bit halves that Win32's structures hold it in.
constexpr std::uint64_t FileTimeFromHalves(std::uint32_t high, std::uint32_t low) {
  return (std::uint64_t{high} << 32) | low;
}

}  // namespace zelvane::platform
