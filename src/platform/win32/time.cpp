// Local and UTC calendar times, by the system's own conversions.
#include <windows.h>

#include "platform/file_time.h"

namespace zelvane::platform {
namespace {

std::uint64_t Ticks(const FILETIME& ft) {
  return FileTimeFromHalves(ft.dwHighDateTime, ft.dwLowDateTime);
}

FILETIME FromTicks(std::uint64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

SystemTime FromSystemTime(const SYSTEMTIME& st) {
  SystemTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.dayOfWeek = st.wDayOfWeek;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.milliseconds = st.wMilliseconds;
  return t;
}

// The fields in a SYSTEMTIME; false when one cannot be held there. SystemTimeToFileTime checks the rest
// (the day within its month).
bool ToSystemTime(const SystemTime& t, SYSTEMTIME& st) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 ||
      t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59 ||
      t.milliseconds < 0 || t.milliseconds > 999) {
    return false;
  }
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDayOfWeek = 0;
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.milliseconds);
  return true;
}

}  // namespace

SystemTime LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st);
}

bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime& out) {
  const FILETIME utc = FromTicks(fileTime);
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return false;
  out = FromSystemTime(st);
  return true;
}

bool LocalSystemTimeToFileTime(const SystemTime& local, std::uint64_t& fileTime) {
  SYSTEMTIME st;
  FILETIME localTime, utc;
  if (!ToSystemTime(local, st) || !::SystemTimeToFileTime(&st, &localTime) ||
      !LocalFileTimeToFileTime(&localTime, &utc)) {
    return false;
  }
  fileTime = Ticks(utc);
  return true;
}

}  // namespace zelvane::platform
