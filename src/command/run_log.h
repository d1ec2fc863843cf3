// The -Log file: one line for each file as its commands end, in a form a script reads and a later run
// (-Resume) takes up again. Pure: building and reading lines; the engine writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zelvane {

struct RunSettings;

// One file's line.
struct LogEntry {
  int number = 0;          // $c
  std::string path;        // the match list's entry
  std::uint64_t size = 0;  // after its commands ran
  std::string time;        // its last-write time then, local, "YYYY-MM-DD HH:MM:SS"
  std::string start;       // when its first command started, local, the same form
  double seconds = 0;      // from its start until its last command ended
  std::string exit;        // the exit code of its last command, or "timeout", "skipped", "not started"
  std::string command;     // the Command as expanded for it
};

// The first line of a new log: the names of the columns, tab-separated.
std::string LogHeader();

// The entry as one line, tab-separated, ending in "\n". A tab, line end or backslash in a field is written
// as "\t", "\n", "\r" or "\\", so every line is one line whatever a name holds.
std::string FormatLogLine(const LogEntry& entry);

// Reads one line (without its end) back; false for the header or a line that is not one of ours.
bool ParseLogLine(std::string_view line, LogEntry& entry);

// What identifies a file's state for -Resume: its path, size and time.
std::string ResumeKey(std::string_view path, std::uint64_t size, std::string_view time);

// The keys of every file the log text says succeeded (exit code 0).
std::unordered_set<std::string> SucceededFiles(std::string_view logText);

// For each of `paths`: whether the log `logFile` says it succeeded and it has not changed since (-Resume).
// A log that cannot be read says nothing is done.
std::vector<bool> DoneFiles(const std::string& logFile, const std::vector<std::string>& paths);

// The size and last-write time (local, as a log line holds it) of the file `path` now; false when it is gone.
bool CurrentFileState(const std::string& path, std::uint64_t& size, std::string& time);

// Appends `field` with a tab, line end or backslash written as "\t", "\n", "\r" or "\\", so a field
// never ends a column or a line, whatever a name holds.
void AppendEscaped(std::string& out, std::string_view field);

}  // namespace zelvane
