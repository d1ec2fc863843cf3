// Helpers shared by the Win32 backend files only. The core keeps its text in UTF-8; the system speaks
// UTF-16. Every conversion happens here, at the layer's edge, and every path the layer hands to the
// system goes through OsPath, so no name is replaced by '?' and no length is cut at MAX_PATH.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directories.h"

namespace zelvane::platform::win32 {

// The system's OEM code page: the one the console's own commands write in when there is no console. Asked
// of the system's locale, since a manifest that makes the process UTF-8 also changes what GetOEMCP says.
UINT SystemOemCodePage();
// The system's ANSI code page, asked of its locale for the same reason.
UINT SystemAnsiCodePage();

// UTF-8 to UTF-16. A three-byte sequence for a surrogate (what Utf8 writes for an unpaired one) gives that
// surrogate back. A byte that begins no valid sequence, as a character code typed as #nnn yields, is the
// character of that code in the system's OEM code page, which is what the console took such codes for.
std::wstring Wide(std::string_view text);

// UTF-16 to UTF-8. An unpaired surrogate, which an NTFS name may hold, becomes its own three-byte sequence,
// so Wide(Utf8(name)) is the name again: a name never becomes another name or '?'.
std::string Utf8(std::wstring_view text);

// Paths at least this long go to the system in their \\?\ form: below it every call takes them as they are
// (248 leaves room for an 8.3 name under a directory, as CreateDirectory requires).
inline constexpr std::size_t kLongPath = MAX_PATH - 12;

// The full path of `path` (relative to the current directory, '/' taken as '\'), as GetFullPathNameW
// gives it for any length; empty when it cannot be formed.
std::wstring FullPath(const std::wstring& path);

// The system's words for an error code, in UTF-8, without the period and line end that end them.
std::string ErrorText(unsigned long error);

// A full path in the form that lifts the length limit: \\?\C:\... or \\?\UNC\server\share\...; a path
// already in that form, or a device path (\\.\), is returned as it is.
std::wstring LongForm(const std::wstring& fullPath);

// `path` as the system is handed it: as it stands while its full path is short, else the full path's long
// form. The short form keeps the meanings the system gives typed names (NUL, trailing dots).
std::wstring OsPath(const std::string& path);

// The program `name` as given, then along PATH (with .exe when the name has no extension); empty when
// neither names a file.
std::wstring LocateProgram(const std::string& name);

// Creates or truncates a text file ("w+", "\n" written as CR LF) that children do not inherit; nullptr
// when it cannot.
std::FILE* CreateTextFile(const std::string& path);

// A stream over `handle` (which it takes over), in `mode` ("w+", "ab") with the run-time library's
// `flags` (_O_TEXT, _O_APPEND | _O_BINARY); nullptr, and the handle closed, when it cannot be made.
std::FILE* StreamOver(HANDLE handle, int flags, const char* mode);

// The identity (volume serial number and file index) of an open file or directory; unknown when it
// cannot be asked.
DirIdentity IdentityOfHandle(HANDLE handle);

// Zelvane's own text as it goes to a file or a pipe: UTF-8 (see MakeWrittenText), "\n" as CR LF.
std::string RedirectedText(std::string_view text);

// A child's exit code as Zelvane reports it: -1 stands for a child that could not be started, so a child
// that ends with -1 (0xFFFFFFFF) reports 255, as the same exit(-1) does on POSIX.
inline int ExitCodeOf(DWORD code) {
  return code == 0xFFFFFFFFu ? 255 : static_cast<int>(code);
}

}  // namespace zelvane::platform::win32
