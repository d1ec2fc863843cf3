#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {

std::FILE* OpenForAppending(const std::string& path) {
  // Not inheritable: a command started while the log is open does not hold it.
  const HANDLE h = CreateFileW(win32::OsPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return nullptr;
  }
  return win32::StreamOver(h, _O_APPEND | _O_BINARY, "ab");
}

bool SyncToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

}  // namespace zelvane::platform
