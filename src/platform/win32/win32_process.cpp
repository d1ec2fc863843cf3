#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zelvane::platform {
namespace {

// Quotes one argument so the child's C runtime splits it back out unchanged.
void AppendQuoted(std::string& line, const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += arg;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      line.append(backslashes * 2 + 1, '\\');
    else
      line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

// The program as given, then along PATH (with .exe when the name has no extension).
std::string Locate(const std::string& name) {
  DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return name;
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD n =
        SearchPathA(nullptr, name.c_str(), ".exe", static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

int Start(const std::string& program, std::string commandLine) {
  FlushOutput();
  const std::string path = Locate(program);
  if (path.empty()) return -1;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return -1;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int RunProcess(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  std::string line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ' ';
    AppendQuoted(line, args[i]);
  }
  return Start(args[0], line);
}

int RunShell(const std::string& shell, const std::string& commandText) {
  // Argument 0 and " /c " + text joined by one space and nothing quoted, so cmd.exe reads its switch.
  return Start(shell, shell + "  /c " + commandText);
}

}  // namespace zelvane::platform
