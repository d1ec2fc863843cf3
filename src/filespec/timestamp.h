// Timestamp literals of /time qualifiers, and the comparison of two file times with the tolerance of
// -TimeSlop and -ignoreDST.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvane {

struct RunSettings;

// The calendar fields of a timestamp literal, each kept as an unsigned 16-bit value (so "-1" is 65535).
struct TimestampFields {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
};

// Reads "YYYY-MM-DD HH:MM:SS", where any one character separates the date fields and the minutes and
// seconds, blanks and tabs stand before the hour, and reading stops at a ')' or the end of the text
// (later fields stay 0). Appends one message for each field beyond its range to `messages`. Pure.
TimestampFields ReadTimestampFields(std::string_view text, std::string& messages);

// The UTC file time of the local calendar time written in `text`. Prints the messages of out-of-range
// fields to standard output. Fields that form no valid time give the earliest instant, 1601-01-01 00:00
// local time (0 when even that has no UTC file time).
std::uint64_t ParseTimestamp(std::string_view text);

// Whole seconds from 1970-01-01 00:00 UTC to `fileTime`, negative before 1970. Counted in 64 bits so that
// every file time has its own value.
std::int64_t SecondsOf(std::uint64_t fileTime);

// -1 when the operand time is earlier than the file time, +1 when later, 0 when they are equal or differ
// by less than `timeSlop` whole seconds; with `ignoreDst`, an operand one hour later (give or take the
// same tolerance) is equal too.
int CompareTimes(const RunSettings& ctx, std::uint64_t operandTime, std::uint64_t fileTime);

}  // namespace zelvane
