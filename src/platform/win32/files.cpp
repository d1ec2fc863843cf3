// Directory entries, the walk, reading files and the -xo file, over the wide calls. Every path reaches the
// system through OsPath, so a tree of any depth is listed and each of its files read by its own name.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directories.h"
#include "platform/file_time.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {

// A directory is held by its full path (never in the \\?\ form, which OsPath and LongForm add where the
// length needs it); a file by the system's handle. A handle that is not a disk file (a device, a pipe)
// reads as empty, so a checksum of it can never wait for input.
struct Dir {
  std::wstring path;
};
struct File {
  HANDLE handle;
  bool isDisk;
  std::uint64_t size;  // taken at the open: a checksum reads exactly this much
};

// Entries carry the system's attribute bits as they come, so the core's names must stand for the same bits.
static_assert(FILE_ATTRIBUTE_READONLY == attribute::kReadOnly);
static_assert(FILE_ATTRIBUTE_HIDDEN == attribute::kHidden);
static_assert(FILE_ATTRIBUTE_SYSTEM == attribute::kSystem);
static_assert(FILE_ATTRIBUTE_DIRECTORY == attribute::kDirectory);
static_assert(FILE_ATTRIBUTE_ARCHIVE == attribute::kArchive);
static_assert(FILE_ATTRIBUTE_TEMPORARY == attribute::kTemporary);
static_assert(FILE_ATTRIBUTE_COMPRESSED == attribute::kCompressed);

namespace win32 {

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return std::wstring();
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}

std::wstring LongForm(const std::wstring& fullPath) {
  if (fullPath.rfind(L"\\\\?\\", 0) == 0 || fullPath.rfind(L"\\\\.\\", 0) == 0) return fullPath;
  if (fullPath.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + fullPath.substr(2);
  return L"\\\\?\\" + fullPath;
}

std::wstring OsPath(const std::string& path) {
  std::wstring wide = Wide(path);
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  // A full path (C:\... or \\server\...) that is short needs no look at the current directory.
  const bool full = (wide.size() >= 3 && wide[1] == L':' && (wide[2] == L'\\' || wide[2] == L'/')) ||
                    (wide.size() >= 2 && (wide[0] == L'\\' || wide[0] == L'/') && wide[0] == wide[1]);
  if (full && wide.size() < kLongPath) return wide;
  std::wstring absolute = FullPath(wide);
  if (absolute.size() < kLongPath) return wide;
  return LongForm(absolute);
}

}  // namespace win32

namespace {

using win32::OsPath;
using win32::Utf8;

// A directory's path with `name` added, in the form the system takes at its length.
std::wstring Joined(const std::wstring& dir, const std::wstring& name) {
  std::wstring path = dir;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += name;
  return path;
}

// Where the first component of `path` begins that the system would change if it were handed the path as
// it stands, or npos. Windows drops the final '.' of every component and the final blanks of the last one
// ("C:\d\trail.\x" opens "C:\d\trail\x"); "." and ".." keep their meaning. A path in the \\?\ form
// reaches the file as it stands.
template <class Char>
std::size_t FirstRewrittenComponent(std::basic_string_view<Char> path) {
  constexpr std::size_t kNone = std::basic_string_view<Char>::npos;
  if (path.size() >= 4 && path[0] == '\\' && path[1] == '\\' && path[2] == '?' && path[3] == '\\')
    return kNone;
  std::size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  for (std::size_t i = start; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    const std::size_t length = i - start;
    if (length > 0) {
      const bool relative = path[start] == '.' && (length == 1 || (length == 2 && path[start + 1] == '.'));
      if (!relative && (path[i - 1] == '.' || (path[i - 1] == ' ' && i == path.size()))) return start;
    }
    start = i + 1;
  }
  return kNone;
}

// A directory's full path as the system takes it: in the \\?\ form past the length limit, and where a
// component of it would otherwise be read as another's.
std::wstring ForSystem(const std::wstring& fullPath) {
  if (fullPath.size() < win32::kLongPath &&
      FirstRewrittenComponent(std::wstring_view(fullPath)) == std::wstring::npos)
    return fullPath;
  return win32::LongForm(fullPath);
}

void Fill(const WIN32_FIND_DATAW& d, FindData& out) {
  out.attributes = d.dwFileAttributes;
  out.name = Utf8(d.cFileName);
  out.alternateName = Utf8(d.cAlternateFileName);
  out.size = FileTimeFromHalves(d.nFileSizeHigh, d.nFileSizeLow);
  // Past the last instant the calendar conversions take, a time is clamped rather than left to wrap.
  const auto clamped = [](const FILETIME& t) {
    const std::uint64_t ticks = FileTimeFromHalves(t.dwHighDateTime, t.dwLowDateTime);
    return ticks < kLastFileTime ? ticks : kLastFileTime;
  };
  out.lastWriteTime = clamped(d.ftLastWriteTime);
  out.lastAccessTime = clamped(d.ftLastAccessTime);
}

bool IsDotOrDotDot(const wchar_t* n) {
  return n[0] == L'.' && (n[1] == L'\0' || (n[1] == L'.' && n[2] == L'\0'));
}

// A listed name as the system is handed it for Zelvane's own reads: as OsPath gives it, but a path the
// system would read as another file's keeps its components whole in the \\?\ form (the full path of
// what comes before the first such component, then the rest as it stands), so "trail." is read as itself
// and not as "trail".
std::wstring ExactPath(const std::string& path) {
  const std::wstring wide = win32::Wide(path);
  const std::size_t at = FirstRewrittenComponent(std::wstring_view(wide));
  if (at == std::wstring::npos) return OsPath(path);
  // Up to the separator before it, which the system keeps ("C:" alone: that drive's current directory).
  std::wstring full = win32::FullPath(at == 0 ? std::wstring(L".") : wide.substr(0, at));
  if (full.empty()) return OsPath(path);
  if (full.back() != L'\\') full += L'\\';
  for (std::size_t i = at; i < wide.size(); ++i)
    full += wide[i] == L'/' ? L'\\' : wide[i];
  return win32::LongForm(full);
}

bool FindOne(const std::wstring& osPath, FindData& out) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(osPath.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  Fill(data, out);
  return true;
}

}  // namespace

bool SystemRewritesName(std::string_view path) {
  return FirstRewrittenComponent(path) != std::string_view::npos;
}

bool FindFirst(const std::string& pattern, FindData& out) {
  return FindOne(OsPath(pattern), out);
}

bool GetEntryData(const std::string& path, FindData& out) {
  // A Win32 name never holds '*' or '?', so without them in the last component the lookup is exact.
  const std::size_t cut = path.find_last_of("\\/:");
  if (path.find_first_of("*?", cut == std::string::npos ? 0 : cut + 1) != std::string::npos) return false;
  return FindOne(ExactPath(path), out);
}

bool NameExists(const std::string& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE h =
      FindFirstFileExW(OsPath(pattern).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(OsPath(path).c_str()) != 0;
}

namespace {

thread_local DWORD lastDirectoryError = 0;

template <typename T>
T DirectoryFailed(T value) {
  lastDirectoryError = GetLastError();
  return value;
}

}  // namespace

DirFailure LastDirectoryFailure() {
  switch (lastDirectoryError) {
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
      return DirFailure::Shortage;
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return DirFailure::Failed;
    default:
      // Denied, gone, no longer a directory, a drive not ready, a share out of reach: passed over.
      return DirFailure::Refused;
  }
}

std::string LastDirectoryFailureText() {
  return win32::ErrorText(lastDirectoryError);
}

DirHandle OpenCurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return kNoDirectory;
  std::wstring path(needed, L'\0');
  const DWORD n = GetCurrentDirectoryW(needed, path.data());
  if (n == 0 || n >= needed) return kNoDirectory;
  path.resize(n);
  return new Dir{path};
}

DirHandle OpenDirectory(const std::string& path) {
  if (path.empty()) return kNoDirectory;
  const std::wstring full = win32::FullPath(win32::Wide(path));
  if (full.empty()) return kNoDirectory;
  const DWORD attributes = GetFileAttributesW(ForSystem(full).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return DirectoryFailed(kNoDirectory);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    lastDirectoryError = ERROR_DIRECTORY;
    return kNoDirectory;
  }
  return new Dir{full};
}

DirHandle OpenSubdirectory(DirHandle parent, const std::string& name) {
  if (parent == kNoDirectory) return kNoDirectory;
  std::wstring path = parent->path;
  if (name == "..") {
    const std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return kNoDirectory;
    path.erase(cut == 2 && path[1] == L':' ? cut + 1 : cut);
    return new Dir{path};
  }
  path = Joined(path, win32::Wide(name));
  const DWORD attributes = GetFileAttributesW(ForSystem(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return DirectoryFailed(kNoDirectory);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    lastDirectoryError = ERROR_DIRECTORY;
    return kNoDirectory;
  }
  return new Dir{path};
}

DirIdentity IdentityOf(DirHandle dir) {
  if (dir == kNoDirectory) return {};
  // Opened for no access at all: enough to ask for the identity, and no sharing is refused to others.
  const HANDLE handle = CreateFileW(win32::LongForm(dir->path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const DirIdentity identity = win32::IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
}

void CloseDirectory(DirHandle dir) {
  delete dir;
}

bool ListDirectory(DirHandle dir, std::vector<DirEntry>& out, bool) {
  out.clear();
  if (dir == kNoDirectory) return false;
  // The basic level leaves out the 8.3 names, which the walk does not use; large fetches read the
  // directory in fewer calls. Attributes come with every entry, so they are always filled in.
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(ForSystem(Joined(dir->path, L"*")).c_str(), FindExInfoBasic, &data,
                              FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    // An empty root has nothing to list, not even "." and "..".
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    return DirectoryFailed(false);
  }
  do {
    if (IsDotOrDotDot(data.cFileName)) continue;
    DirEntry entry;
    entry.name = Utf8(data.cFileName);
    entry.attributes = data.dwFileAttributes;
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    out.push_back(std::move(entry));
  } while (FindNextFileW(h, &data));
  const DWORD error = GetLastError();
  FindClose(h);
  // A listing that stops early is no listing: the search must not take part of it for the whole.
  if (error != ERROR_NO_MORE_FILES) {
    lastDirectoryError = error;
    return false;
  }
  return true;
}

FileHandle OpenForReading(const std::string& path) {
  HANDLE h = CreateFileW(ExactPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  LARGE_INTEGER size;
  const bool disk = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size);
  return new File{h, disk, disk ? static_cast<std::uint64_t>(size.QuadPart) : 0};
}

std::uint64_t FileSizeOf(FileHandle file) {
  return file->size;
}

std::int64_t ReadBytes(FileHandle file, void* buffer, std::size_t size) {
  if (!file->isDisk) return 0;
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

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  // A directory does not open without backup semantics.
  HANDLE h = CreateFileW(OsPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  for (;;) {
    if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      ok = GetLastError() == ERROR_BROKEN_PIPE;  // a pipe whose writer has gone: its end
      break;
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  CloseHandle(h);
  return ok;
}

std::FILE* win32::CreateTextFile(const std::string& path) {
  // Opened by the system call without an inheritable handle, so the commands started while it is open
  // do not hold it; the stream on top of it writes "\n" as CR LF.
  HANDLE h =
      CreateFileW(OsPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return StreamOver(h, _O_TEXT, "w+");
}

std::FILE* win32::StreamOver(HANDLE handle, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

DirIdentity win32::IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return {};
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, true};
}

}  // namespace zelvane::platform
