// Child processes, started with CreateProcessW: a UTF-16 command line and the Unicode environment block.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {

namespace win32 {

std::wstring CommandLineOf(const std::vector<std::string>& args) {
  std::wstring line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring word = Wide(args[i]);
    if (i > 0) line += L' ';
    const bool plain = !word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos;
    if (plain) {
      line += word;
      continue;
    }
    line += L'"';
    if (i == 0) {
      // The program's name ends at the next quote, backslashes and all; a file name holds no quote.
      line += word;
      line += L'"';
      continue;
    }
    std::size_t backslashes = 0;
    for (wchar_t c : word) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      // Backslashes stand for themselves unless a quote follows them: then each is doubled, and the
      // quote escaped with one more.
      line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
  }
  return line;
}

}  // namespace win32

std::wstring win32::LocateProgram(const std::string& name) {
  const std::wstring given = OsPath(name);
  const DWORD attributes = GetFileAttributesW(given.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return given;
  const std::wstring wide = Wide(name);
  std::wstring found(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        SearchPathW(nullptr, wide.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (n == 0) return std::wstring();
    if (n < found.size()) {
      found.resize(n);
      return found;
    }
    found.resize(n);
  }
}

namespace {

int Start(const std::string& program, std::wstring commandLine) {
  FlushOutput();
  const std::wstring path = win32::LocateProgram(program);
  if (path.empty()) return -1;
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  // The environment as it stands now, variables set by this process included.
  wchar_t* environment = GetEnvironmentStringsW();
  const BOOL started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT, environment, nullptr, &startup, &info);
  if (environment != nullptr) FreeEnvironmentStringsW(environment);
  if (!started) return -1;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return win32::ExitCodeOf(code);
}

}  // namespace

int RunProcess(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  return Start(args[0], win32::CommandLineOf(args));
}

int RunShell(const std::string& shell, const std::string& commandText) {
  // Argument 0 and " /c " + text joined by one space and nothing quoted, so cmd.exe reads its switch.
  return Start(shell, win32::Wide(shell + "  /c " + commandText));
}

}  // namespace zelvane::platform
