// The platform layer over the real Win32 calls.
#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zelvane::platform {

// A directory handle holds the directory's full path; a file handle the system's handle.
struct Dir {
  std::string path;
};
struct File {
  HANDLE handle;
  std::uint64_t size;  // taken at the open
};

namespace {

std::uint64_t Ticks(const FILETIME& ft) {
  const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return ticks < kLastFileTime ? ticks : kLastFileTime;
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

void Fill(const WIN32_FIND_DATAA& d, FindData& out) {
  out.attributes = d.dwFileAttributes;
  out.name = d.cFileName;
  out.alternateName = d.cAlternateFileName;
  out.size = (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  out.lastWriteTime = Ticks(d.ftLastWriteTime);
  out.lastAccessTime = Ticks(d.ftLastAccessTime);
}

}  // namespace

bool StartUp() {
  if (GetModuleHandleA(nullptr) == nullptr || GetCommandLineA() == nullptr) return false;
  std::string dir;
  return GetCurrentDir(dir);
}

void UseConsoleCodePage() {
  SetFileApisToOEM();
}

std::string RawCommandLine(int, char**) {
  return GetCommandLineA();
}

void FlushOutput() {
  std::fflush(stdout);
}

void WriteOut(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void WriteErr(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

bool OutputFailed() {
  return std::ferror(stdout) != 0;
}

char NativeSeparator() {
  return '\\';
}

bool GetCurrentDir(std::string& out) {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return false;
  std::vector<char> buffer(needed + 1);
  const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return false;
  out.assign(buffer.data(), n);
  return true;
}

bool SetCurrentDir(const std::string& path) {
  if (path.empty()) return false;
  return SetCurrentDirectoryA(path.c_str()) != 0;
}

int CurrentDrive() {
  std::string dir;
  if (!GetCurrentDir(dir) || dir.size() < 2 || dir[1] != ':') return 0;
  char letter = dir[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return 0;
  return letter - 'A' + 1;
}

bool SetCurrentDrive(int drive) {
  if (drive <= 0) return true;
  return _chdrive(drive) == 0;
}

bool GetEnv(const std::string& name, std::string& value) {
  const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    value.clear();
    return true;
  }
  std::vector<char> buffer(needed + 1);
  const DWORD n = GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  value.assign(buffer.data(), n);
  return true;
}

bool SetEnv(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

bool FindFirst(const std::string& pattern, FindData& out) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  Fill(data, out);
  return true;
}

bool GetEntryData(const std::string& path, FindData& out) {
  // A Win32 name never holds '*' or '?', so without them in the last component the lookup is exact.
  const std::size_t cut = path.find_last_of("\\/:");
  if (path.find_first_of("*?", cut == std::string::npos ? 0 : cut + 1) != std::string::npos) return false;
  return FindFirst(path, out);
}

bool NameExists(const std::string& pattern) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

DirHandle OpenCurrentDirectory() {
  std::string path;
  if (!GetCurrentDir(path)) return kNoDirectory;
  return new Dir{path};
}

DirHandle OpenDirectory(const std::string& path) {
  if (path.empty()) return kNoDirectory;
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return kNoDirectory;
  std::vector<char> buffer(needed + 1);
  const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (n == 0 || n >= buffer.size()) return kNoDirectory;
  const DWORD attributes = GetFileAttributesA(buffer.data());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return kNoDirectory;
  return new Dir{std::string(buffer.data(), n)};
}

DirHandle OpenSubdirectory(DirHandle parent, const std::string& name) {
  if (parent == kNoDirectory) return kNoDirectory;
  std::string path = parent->path;
  if (name == "..") {
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return kNoDirectory;
    path.erase(cut == 2 && path[1] == ':' ? cut + 1 : cut);
  } else {
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += name;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return kNoDirectory;
    }
  }
  return new Dir{path};
}

void CloseDirectory(DirHandle dir) {
  delete dir;
}

bool ListDirectory(DirHandle dir, std::vector<DirEntry>& out, bool) {
  out.clear();
  if (dir == kNoDirectory) return false;
  std::string pattern = dir->path;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const char* n = data.cFileName;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    DirEntry entry;
    entry.name = n;
    entry.attributes = data.dwFileAttributes;
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    out.push_back(std::move(entry));
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return true;
}

FileHandle OpenForReading(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  // Only a disk file has a length to read; a pipe or a device counts as empty.
  LARGE_INTEGER size;
  const bool disk = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size);
  return new File{h, disk ? static_cast<std::uint64_t>(size.QuadPart) : 0};
}

std::uint64_t FileSizeOf(FileHandle file) {
  return file->size;
}

std::int64_t ReadBytes(FileHandle file, void* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(file->handle, buffer, want, &got, nullptr)) return -1;
  return got;
}

void CloseFile(FileHandle file) {
  if (file == kNoFile) return;
  CloseHandle(file->handle);
  delete file;
}

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

bool SystemTimeToFileTime(const SystemTime& utc, std::uint64_t& fileTime) {
  SYSTEMTIME st;
  FILETIME ft;
  if (!ToSystemTime(utc, st) || !::SystemTimeToFileTime(&st, &ft)) return false;
  fileTime = Ticks(ft);
  return true;
}

}  // namespace zelvane::platform

namespace zelvane::platform {

bool HasDriveLetters() {
  return true;
}

bool HasAlternateNames() {
  return true;
}

}  // namespace zelvane::platform
