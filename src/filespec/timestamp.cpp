#include "filespec/timestamp.h"

#include <cstdio>
#include <cstdlib>

#include "app/run_context.h"
#include "platform/platform.h"

namespace zelvane {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

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

}  // namespace

TimestampFields ReadTimestampFields(std::string_view text, std::string& messages) {
  TimestampFields f;
  std::size_t pos = 0;
  f.year = ReadField(text, pos);
  if (AtStop(text, pos)) return f;
  ++pos;
  f.month = ReadField(text, pos);
  if (f.month > 12) Report(messages, "Invalid month:  %d.\n", f.month);
  if (AtStop(text, pos)) return f;
  ++pos;
  f.day = ReadField(text, pos);
  if (f.day > 31) Report(messages, "Invalid day: %d.\n", f.day);
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
    ++pos;
  if (AtStop(text, pos)) return f;
  f.hour = ReadField(text, pos);  // no separator before the hour: "T" is read as part of it
  if (f.hour > 24) Report(messages, "Invalid hour: %d.\n", f.hour);
  if (AtStop(text, pos)) return f;
  ++pos;
  f.minute = ReadField(text, pos);
  if (f.minute > 60) Report(messages, "Invalid minutes: %d.\n", f.minute);
  if (AtStop(text, pos)) return f;
  ++pos;
  f.second = ReadField(text, pos);
  if (f.second > 60) Report(messages, "Invalid seconds: %d.\n", f.second);
  return f;
}

std::uint64_t ParseTimestamp(std::string_view text) {
  std::string messages;
  const TimestampFields f = ReadTimestampFields(text, messages);
  if (!messages.empty()) std::fputs(messages.c_str(), stdout);

  platform::SystemTime local;
  local.year = f.year;
  local.month = f.month;
  local.day = f.day;
  local.hour = f.hour;
  local.minute = f.minute;
  local.second = f.second;
  std::uint64_t fileTime = 0;
  if (platform::LocalSystemTimeToFileTime(local, fileTime)) return fileTime;

  // Fields that form no valid time count as the earliest local instant.
  platform::SystemTime earliest;
  earliest.year = 1601;
  earliest.month = 1;
  earliest.day = 1;
  if (platform::LocalSystemTimeToFileTime(earliest, fileTime)) return fileTime;
  return 0;
}

std::int64_t SecondsOf(std::uint64_t fileTime) {
  // The zone offset would cancel out of every difference of two times, so UTC serves directly.
  return static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
}

int CompareTimes(const RunContext& ctx, std::uint64_t operandTime, std::uint64_t fileTime) {
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
