// Timestamp literals of /time qualifiers and the comparison of two file times. The first bytes choose the
// tolerance, the DST flag and a file time; the rest is the literal. A literal whose fields form a valid
// local time must come back from the file time unchanged, and comparing is antisymmetric without the DST
// allowance.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "command/run_settings.h"
#include "filespec/timestamp.h"
#include "platform/file_time.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The messages of out-of-range fields are not what is tested here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  // Every local time exists exactly once in UTC, so the round trip below holds for every valid literal.
  setenv("TZ", "UTC", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 13) return 0;
  zelvane::RunSettings ctx;
  std::int32_t slop = 0;
  std::memcpy(&slop, data, sizeof slop);
  ctx.timeSlop = slop;
  ctx.ignoreDst = data[4] & 1;
  std::uint64_t fileTime = 0;
  std::memcpy(&fileTime, data + 5, sizeof fileTime);
  const std::string_view text(reinterpret_cast<const char*>(data) + 13, size - 13);

  std::string messages;
  const zelvane::TimestampFields f = zelvane::ReadTimestampFields(text, messages);
  const std::uint64_t parsed = zelvane::ParseTimestamp(text);

  const zelvane::platform::SystemTime local{
      .year = f.year, .month = f.month, .day = f.day, .hour = f.hour, .minute = f.minute, .second = f.second};
  std::uint64_t expected = 0;
  if (zelvane::platform::LocalSystemTimeToFileTime(local, expected)) {
    if (parsed != expected) std::abort();
    zelvane::platform::SystemTime back;
    if (!zelvane::platform::FileTimeToLocalSystemTime(parsed, back)) std::abort();
    if (back.year != local.year || back.month != local.month || back.day != local.day ||
        back.hour != local.hour || back.minute != local.minute || back.second != local.second)
      std::abort();
  }

  const int order = zelvane::CompareTimes(ctx, parsed, fileTime);
  if (order < -1 || order > 1) std::abort();
  if (!ctx.ignoreDst && zelvane::CompareTimes(ctx, fileTime, parsed) != -order) std::abort();
  zelvane::SecondsOf(fileTime);
  return 0;
}
