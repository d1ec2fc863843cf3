// A child for the end-to-end tests: prints each argument after argv[0] on a line of its own, in brackets
// so that empty arguments and blanks show. The environment variable ARGV_PRINTER_EXIT, when set, is the
// exit code; ARGV_PRINTER_ENV names variables whose values are printed as NAME=value lines. On Win32 the
// arguments and values are read in UTF-16 and printed in UTF-8, so every name shows exactly, and
// ARGV_PRINTER_HELD names a file: "held=yes" is printed when this process has a handle to it (one it
// inherited), else "held=no". With ARGV_PRINTER_ACTIONS set, two kinds of argument act instead of being
// printed: "sleep:<text>" sleeps as many milliseconds as the digits that end the text say,
// "err:<text>" prints [<text>] on standard error, "touch:<path>" creates the file <path>, and "reopen:<text>"
// opens its standard output again by name, truncating it as a shell's `>` would (>/dev/stdout on POSIX; on
// Win32 the file's final path, where standard output is a file), and prints [<text>] there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <cstdint>

#include "support/utf8_win32.h"

using zelvane::test::Utf8;
#endif

namespace {

std::optional<std::string> Variable(const char* name);

void PrintReopened(const std::string& text);

bool Act(const std::string& arg) {
  if (arg.rfind("touch:", 0) == 0) {
    if (std::FILE* made = std::fopen(arg.c_str() + 6, "w")) std::fclose(made);
    return true;
  }
  if (arg.rfind("reopen:", 0) == 0) {
    std::fflush(stdout);
    PrintReopened(arg.substr(7));
    return true;
  }
  if (arg.rfind("err:", 0) == 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "[%s]\n", arg.c_str() + 4);
    std::fflush(stderr);
    return true;
  }
  if (arg.rfind("sleep:", 0) == 0) {
    std::size_t digits = arg.size();
    while (digits > 6 && arg[digits - 1] >= '0' && arg[digits - 1] <= '9')
      --digits;
    const int ms = digits < arg.size() ? std::atoi(arg.c_str() + digits) : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  return false;
}

int Print(const std::vector<std::string>& args) {
  const bool actions = Variable("ARGV_PRINTER_ACTIONS").has_value();
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (actions && Act(args[i])) continue;
    std::printf("[%s]\n", args[i].c_str());
  }
  if (const std::optional<std::string> names = Variable("ARGV_PRINTER_ENV")) {
    const std::string& list = *names;
    std::size_t pos = 0;
    while (pos <= list.size()) {
      std::size_t comma = list.find(',', pos);
      if (comma == std::string::npos) comma = list.size();
      const std::string name = list.substr(pos, comma - pos);
      if (!name.empty()) {
        const std::optional<std::string> value = Variable(name.c_str());
        std::printf("%s=%s\n", name.c_str(), value ? value->c_str() : "(unset)");
      }
      pos = comma + 1;
    }
  }
  const std::optional<std::string> code = Variable("ARGV_PRINTER_EXIT");
  return code ? std::atoi(code->c_str()) : 0;
}

}  // namespace

#ifdef _WIN32
namespace {

std::wstring Wide(const std::string& text) {
  const int size = static_cast<int>(text.size());
  std::wstring out(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
                   L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()));
  return out;
}

std::optional<std::string> Variable(const char* name) {
  const std::wstring wideName = Wide(name);
  const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(wideName.c_str(), value.data(), needed));
  return Utf8(value);
}

// Whether any handle of this process refers to the file `path` (same volume, same file index).
bool HoldsHandleTo(const std::wstring& path) {
  HANDLE own =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION target;
  if (own == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(own, &target)) return false;
  bool held = false;
  for (std::uintptr_t value = 4; value < 0x1000 && !held; value += 4) {
    HANDLE h = reinterpret_cast<HANDLE>(value);
    BY_HANDLE_FILE_INFORMATION info;
    if (h == own || GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) continue;
    held = info.dwVolumeSerialNumber == target.dwVolumeSerialNumber &&
           info.nFileIndexHigh == target.nFileIndexHigh && info.nFileIndexLow == target.nFileIndexLow;
  }
  CloseHandle(own);
  return held;
}

void PrintReopened(const std::string& text) {
  const std::string line = "[" + text + "]\n";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::wstring name(32768, L'\0');
  const DWORD n = GetFileType(out) == FILE_TYPE_DISK
                      ? GetFinalPathNameByHandleW(out, name.data(), static_cast<DWORD>(name.size()), 0)
                      : 0;
  HANDLE again = INVALID_HANDLE_VALUE;
  if (n > 0 && n < name.size()) {
    name.resize(n);
    again = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // A pipe has no name to open again: it is written as it stands, which is what reopening it would give.
  if (again == INVALID_HANDLE_VALUE) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  DWORD written = 0;
  WriteFile(again, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(again);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i)
    args.push_back(Utf8(argv[i]));
  const int code = Print(args);
  if (const std::optional<std::string> held = Variable("ARGV_PRINTER_HELD"))
    std::printf("held=%s\n", HoldsHandleTo(Wide(*held)) ? "yes" : "no");
  return code;
}

#else
namespace {

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void PrintReopened(const std::string& text) {
  if (std::FILE* again = std::fopen("/dev/stdout", "w")) {
    std::fprintf(again, "[%s]\n", text.c_str());
    std::fclose(again);
  }
}

}  // namespace

int main(int argc, char** argv) {
  return Print(std::vector<std::string>(argv, argv + argc));
}
#endif
