#include "filespec/timestamp.h"

#include <cstdio>
#include <cstdlib>

#include "command/run_settings.h"
#include "platform/console.h"
#include "platform/file_time.h"

namespace zelvane {
namespace {

using platform::kSecondsFrom1601To1970;
constexpr std::int64_t kTicksPerSecond = platform::kFileTimeTicksPerSecond;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a number the way the C library's atoi does (white space, one sign, digits) from `pos`, kept
// modulo 2^16 as the field stores it. The scan itself then passes over the digits at `pos` only: white
// space or a sign that the number skipped is not consumed.
std::uint16_t ReadField(std::string_view text, std::size_t& pos) {
  std::size_t p = pos;
  while (p < text.size() && IsSpace(text[p]))
    ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }
  std::uint16_t value = 0;
  for (; p < text.size() && IsDigit(text[p]); ++p)
    value = static_cast<std::uint16_t>(value * 10 + (text[p] - '0'));
  while (pos < text.size() && IsDigit(text[pos]))
    ++pos;
  return negative ? static_cast<std::uint16_t>(0 - value) : value;
}

bool AtStop(std::string_view text, std::size_t pos) {
  return pos >= text.size() || text[pos] == ')';
}

void Report(std::string& messages, const char* format, std::uint16_t value) {
  char line[64];
  std::snprintf(line, sizeof line, format, static_cast<int>(value));
  messages += line;
}

// The fields after the year, in the order written. Any one character stands before each, except before the
// hour, where blanks and tabs are skipped instead (so a 'T' there is read as the hour, giving 0).
struct FieldStep {
  std::uint16_t TimestampFields::*field;
  bool separatorBefore;
  std::uint16_t limit;  // larger values are reported, though the limit itself forms no valid time either
  const char* message;
};

constexpr FieldStep kFieldSteps[] = {
    {&TimestampFields::month, true, 12, "Invalid month:  %d.\n"},
    {&TimestampFields::day, true, 31, "Invalid day: %d.\n"},
    {&TimestampFields::hour, false, 24, "Invalid hour: %d.\n"},
    {&TimestampFields::minute, true, 60, "Invalid minutes: %d.\n"},
    {&TimestampFields::second, true, 60, "Invalid seconds: %d.\n"},
};

}  // namespace

TimestampFields ReadTimestampFields(std::string_view text, std::string& messages) {
  TimestampFields f;
  std::size_t pos = 0;
  f.year = ReadField(text, pos);
  for (const FieldStep& step : kFieldSteps) {
    if (!step.separatorBefore) {
      while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    }
    if (AtStop(text, pos)) break;
    if (step.separatorBefore) ++pos;
    const std::uint16_t value = f.*step.field = ReadField(text, pos);
    if (value > step.limit) Report(messages, step.message, value);
  }
  return f;
}

std::uint64_t ParseTimestamp(std::string_view text) {
  std::string messages;
  const TimestampFields f = ReadTimestampFields(text, messages);
  if (!messages.empty()) platform::WriteOut(messages);

  const platform::SystemTime local{
      .year = f.year, .month = f.month, .day = f.day, .hour = f.hour, .minute = f.minute, .second = f.second};
  std::uint64_t fileTime = 0;
  if (platform::LocalSystemTimeToFileTime(local, fileTime)) return fileTime;
  // Fields that form no valid time count as the earliest local instant.
  const platform::SystemTime earliest{.year = 1601, .month = 1, .day = 1};
  if (platform::LocalSystemTimeToFileTime(earliest, fileTime)) return fileTime;
  return 0;
}

std::int64_t SecondsOf(std::uint64_t fileTime) {
  // The zone offset would cancel out of every difference of two times, so UTC serves directly.
  return static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
}

int CompareTimes(const RunSettings& ctx, std::uint64_t operandTime, std::uint64_t fileTime) {
  if (operandTime == fileTime) return 0;
  const int order = operandTime < fileTime ? -1 : 1;
  const std::int64_t d = SecondsOf(operandTime) - SecondsOf(fileTime);
  const std::int64_t slop = ctx.timeSlop;
  // Only an operand one hour later than the file is forgiven, not one hour earlier.
  if (ctx.ignoreDst && std::abs(d - 3600) < slop) return 0;
  if (std::abs(d) < slop) return 0;
  return order;
}

}  // namespace zelvane
