// The end-to-end fixture for the Win32 build: programs start with CreateProcessW and an exact command line,
// as a user would type it at a console. Text crosses into UTF-16 only here: the tests speak UTF-8.
#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace fs = std::filesystem;

namespace {

// The build's paths as a Win32 program types them: the build system may hand over a host path
// (/work/build/x.exe under Wine, whose Z: drive is the host's root) or forward slashes.
std::string NativePath(std::string path) {
  if (!path.empty() && path[0] == '/') path.insert(0, "Z:");
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

std::string ZelvaneBinary() {
  return NativePath(ZELVANE_BINARY);
}
std::string ArgvPrinter() {
  return NativePath(ARGV_PRINTER);
}

namespace {

// What a user types for one argument at `index` of the vector: the program and the Filespec in quotes when
// they hold blanks, an option with blanks as -x"text" (the form the program's own examples show), and every
// other word as it is, so a Command given as several words stands on the line as they are joined.
std::string Typed(const std::string& arg, std::size_t index) {
  const bool blanks = arg.find_first_of(" \t") != std::string::npos;
  if (index <= 1) return blanks || arg.empty() ? "\"" + arg + "\"" : arg;
  if (blanks && arg.size() > 2 && (arg[0] == '-' || arg[0] == '/'))
    return arg.substr(0, 2) + "\"" + arg.substr(2) + "\"";
  return arg;
}

HANDLE TempFile() {
  char dir[MAX_PATH], name[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  GetTempFileNameA(dir, "zvt", 0, name);
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string Slurp(HANDLE h) {
  std::string data;
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
    data.append(buffer, got);
  return data;
}

std::wstring Wide(const std::string& text) {
  const int size = static_cast<int>(text.size());
  std::wstring out(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
                   L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()));
  return out;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}

// The parent's environment without COMSPEC, with TZ=UTC and the test's own variables, as a Unicode block.
std::wstring Environment(const RunOptions& options) {
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += std::wcslen(p) + 1) {
    const std::wstring entry = p;
    const std::wstring upper = Upper(entry.substr(0, entry.find(L'=', 1)));
    if (upper == L"COMSPEC" || upper == L"TZ") continue;
    bool replaced = false;
    for (const auto& [name, value] : options.env)
      if (Upper(Wide(name)) == upper) replaced = true;
    if (!replaced) block += entry + L'\0';
  }
  FreeEnvironmentStringsW(env);
  block += std::wstring(L"TZ=UTC") + L'\0';
  for (const auto& [name, value] : options.env)
    block += Wide(name + "=" + value) + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
                     const RunOptions& options) {
  std::string line;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (i > 0) line += ' ';
    line += Typed(argv[i], i);
  }
  return RunCommandLine(argv[0], line, cwd, options);
}

RunResult RunCommandLine(const std::string& program, const std::string& commandLine, const std::string& cwd,
                         const RunOptions& options) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE inRead = nullptr, inWrite = nullptr;
  // Standard input is written and closed before the program starts, so a key the test sends is already
  // waiting when the program first looks: no test depends on how fast the program gets there.
  const DWORD pipeSize = static_cast<DWORD>(options.input.size() + 4096);
  if (!CreatePipe(&inRead, &inWrite, &sa, pipeSize)) throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  DWORD written = 0;
  if (!options.input.empty() && (!WriteFile(inWrite, options.input.data(),
                                            static_cast<DWORD>(options.input.size()), &written, nullptr) ||
                                 written != options.input.size()))
    throw std::runtime_error("standard input does not fit the pipe");
  CloseHandle(inWrite);
  HANDLE out = TempFile(), err = TempFile();

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = out;
  startup.hStdError = options.errorToOutput ? out : err;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  std::wstring mutableLine = Wide(commandLine);
  std::wstring env = Environment(options);
  RunResult result;
  if (!CreateProcessW(Wide(program).c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT, env.data(), Wide(cwd).c_str(), &startup, &info)) {
    CloseHandle(inRead);
    CloseHandle(out);
    CloseHandle(err);
    return result;
  }
  CloseHandle(inRead);
  if (WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 137);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  result.rawOut = Slurp(out);
  result.out = WithoutCarriageReturns(result.rawOut);
  result.err = WithoutCarriageReturns(Slurp(err));
  CloseHandle(out);
  CloseHandle(err);
  result.status = static_cast<int>(code);
  return result;
}

}  // namespace zelvane::test
