#include "command/run_log.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "command/stamps.h"
#include "platform/file_time.h"
#include "platform/files.h"

namespace zelvane {

void AppendEscaped(std::string& out, std::string_view field) {
  for (const char c : field) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
}

namespace {

std::string Unescaped(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char c = field[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

bool Whole(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

std::string LogHeader() {
  return "number\tpath\tsize\ttime\tstart\tseconds\texit\tcommand\n";
}

std::string FormatLogLine(const LogEntry& entry) {
  std::string line = std::to_string(entry.number);
  line += '\t';
  AppendEscaped(line, entry.path);
  line += '\t';
  line += std::to_string(entry.size);
  line += '\t';
  line += entry.time;
  line += '\t';
  line += entry.start;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "\t%.3f\t", entry.seconds);
  line += seconds;
  line += entry.exit;
  line += '\t';
  AppendEscaped(line, entry.command);
  line += '\n';
  return line;
}

bool ParseLogLine(std::string_view line, LogEntry& entry) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  std::uint64_t number = 0;
  if (fields.size() != 8 || !Whole(fields[0], number) || !Whole(fields[2], entry.size)) return false;
  entry.number = static_cast<int>(number);
  entry.path = Unescaped(fields[1]);
  entry.time = std::string(fields[3]);
  entry.start = std::string(fields[4]);
  entry.seconds = std::strtod(std::string(fields[5]).c_str(), nullptr);
  entry.exit = std::string(fields[6]);
  entry.command = Unescaped(fields[7]);
  return true;
}

std::string ResumeKey(std::string_view path, std::uint64_t size, std::string_view time) {
  std::string key(path);
  key += '\t';
  key += std::to_string(size);
  key += '\t';
  key += time;
  return key;
}

std::unordered_set<std::string> SucceededFiles(std::string_view logText) {
  std::unordered_set<std::string> done;
  LogEntry entry;
  for (std::size_t at = 0; at < logText.size();) {
    std::size_t end = logText.find('\n', at);
    if (end == std::string_view::npos) end = logText.size();
    std::string_view line = logText.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A line cut short by an interrupted run is no line: its file runs again.
    if (end < logText.size() && ParseLogLine(line, entry) && entry.exit == "0")
      done.insert(ResumeKey(entry.path, entry.size, entry.time));
    at = end + 1;
  }
  return done;
}

std::vector<bool> DoneFiles(const std::string& logFile, const std::vector<std::string>& paths) {
  std::string text;
  if (!platform::ReadWholeFile(logFile, text)) text.clear();
  const std::unordered_set<std::string> succeeded = SucceededFiles(text);
  std::vector<bool> done(paths.size(), false);
  if (succeeded.empty()) return done;
  std::uint64_t size = 0;
  std::string time;
  for (std::size_t i = 0; i < paths.size(); ++i)
    done[i] = CurrentFileState(paths[i], size, time) && succeeded.count(ResumeKey(paths[i], size, time)) != 0;
  return done;
}

bool CurrentFileState(const std::string& path, std::uint64_t& size, std::string& time) {
  platform::FindData data;
  if (!platform::GetEntryData(path, data)) return false;
  size = data.size;
  time = FileTimeText(data.lastWriteTime);
  return !time.empty();
}

}  // namespace zelvane
