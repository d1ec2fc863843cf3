// The pseudo environment variables that every child sees, and the file stamps behind $S, $T, $D, $M, $Y.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_time.h"

namespace zelvane {

struct RunSettings;

// The five texts of one file's stamp.
struct FileStamp {
  std::string size;   // "%8" decimal of the whole size
  std::string day;    // "%02d"
  std::string month;  // "%02d"
  std::string year;   // the full year
  std::string time;   // "HH:MM:SS"
};

// The values of the five pseudo environment variables.
struct PseudoEnvironment {
  std::string wday;
  std::string weekday;
  std::string cwd;
  std::string date;  // MM/DD/YY
  std::string time;  // HH:MM:SS
};

// Name of a day of the week (0 is Sunday): "Sun" or "Sunday"; "Err" or "Error" outside 0 to 6.
const char* DayName(int dayOfWeek, bool full);

// The pseudo environment for the local time `now` and the directory `cwd`. Pure.
PseudoEnvironment MakePseudoEnvironment(const platform::SystemTime& now, const std::string& cwd);

// The stamp texts for a size and a local time. Pure.
FileStamp MakeFileStamp(std::uint64_t size, const platform::SystemTime& local);

// The stamp of the file `path`: its size and its last-write time (last-access time with -a) in local time.
// An entry named exactly NUL, or a file that cannot be found, has the current local time; a file that
// cannot be found has size 0.
FileStamp GetFileStamp(const RunSettings& ctx, const std::string& path);

// "YYYY-MM-DD HH:MM:SS" of a local time: the form a /time literal takes, and the log writes.
std::string LocalTimeText(int year, int month, int day, int hour, int minute, int second);

// The same of a file time, in local time; empty when it has no local calendar time.
std::string FileTimeText(std::uint64_t fileTime);

}  // namespace zelvane
