// The current directory, the drive and the environment, over the wide calls.
#include <windows.h>

#include <string>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {

using win32::Utf8;
using win32::Wide;

char NativeSeparator() {
  return '\\';
}

bool GetCurrentDir(std::string& out) {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return false;
  std::wstring buffer(needed, L'\0');
  const DWORD n = GetCurrentDirectoryW(needed, buffer.data());
  if (n == 0 || n >= needed) return false;
  buffer.resize(n);
  out = Utf8(buffer);
  return true;
}

bool SetCurrentDir(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = Wide(path);
  // A child starts in the current directory, and the system starts none in a directory whose path, with
  // its final '\', does not fit in MAX_PATH. Such a directory is refused here, whether or not this system
  // would let the process itself enter it, so no command ever runs somewhere else than meant.
  std::wstring full = win32::FullPath(wide);
  if (full.empty()) return false;
  if (full.back() != L'\\') full += L'\\';
  if (full.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return SetCurrentDirectoryW(wide.c_str()) != 0;
}

bool ResolveDirectory(const std::string& path, std::string& full) {
  if (path.empty()) return false;
  std::wstring wide = win32::FullPath(Wide(path));
  if (wide.empty()) return false;
  const DWORD attributes = GetFileAttributesW(win32::LongForm(wide).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // As the current directory reads: no separator at the end but for a drive's root.
  while (wide.size() > 3 && wide.back() == L'\\' && wide[wide.size() - 2] != L':')
    wide.pop_back();
  full = Utf8(wide);
  return true;
}

int CurrentDrive() {
  std::string dir;
  if (!GetCurrentDir(dir) || dir.size() < 2 || dir[1] != ':') return 0;
  char letter = dir[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return 0;
  return letter - 'A' + 1;
}

bool GetEnv(const std::string& name, std::string& value) {
  const std::wstring wideName = Wide(name);
  std::wstring buffer(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n =
        GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();
      return true;
    }
    // Too small: n is the size needed, its terminator included.
    if (n >= buffer.size()) {
      buffer.resize(n);
      continue;
    }
    buffer.resize(n);
    value = Utf8(buffer);
    return true;
  }
}

bool SetEnv(const std::string& name, const std::string& value) {
  if (name.empty()) return false;
  return SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str()) != 0;
}

}  // namespace zelvane::platform
