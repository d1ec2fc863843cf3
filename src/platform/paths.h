// Paths: their separators, the switch rule for text that begins like one, drive letters and alternate
// names, and the current directory and drive.
#pragma once

#include <string>
#include <string_view>

namespace zelvane::platform {

// '\' on Win32, '/' on POSIX.
char NativeSeparator();

// Whether `c` separates the components of a path: '/' on both targets, and '\' too on Win32. On POSIX a '\'
// that comes from a directory listing is an ordinary character of a name; only typed text (a Filespec, an
// option's file name) has its '\' turned into '/', once, where it is read.
bool IsPathSeparator(char c);

// IsPathSeparator's answer as a value, for code that tests every character of many paths: the platform is
// asked once, when the rule is made, and each test is then inline.
class SeparatorRule {
 public:
  SeparatorRule() : backslash_(IsPathSeparator('\\')) {}
  bool operator()(char c) const { return c == '/' || (c == '\\' && backslash_); }

 private:
  bool backslash_;
};

// Whether text that begins with '-' or '/' is a switch rather than a path. '-' always starts a switch. On
// POSIX a '/' starts a switch only when no other '/' follows before the end of the text (callers pass a
// Filespec token up to its first blank or tab); on Win32 '/' always starts a switch. Text that begins with
// neither character is never a switch.
bool IsSwitchText(std::string_view text);

// Whether paths may begin with a drive letter and colon ("C:"). False on POSIX, where "c:x" is a
// relative name like any other.
bool HasDriveLetters();

// Whether the file system gives entries short (8.3) alternate names that a path may be typed with. False
// on POSIX, whose current directory always comes back in long names.
bool HasAlternateNames();

// Whether the file system takes names that differ only in letter case for one name (Win32), so that two
// such names in one directory are one file. On POSIX they are two.
bool NamesFoldCase();

// ---------------------------------------------------------------------------------------------------------
// The current directory and drive

// Full path of the current directory. False when it cannot be learned (for example it was deleted).
bool GetCurrentDir(std::string& out);

// The full path of the directory `path` (relative paths from the current directory; on Win32 "C:" alone is
// that drive's current directory), as the current directory would read inside it, without entering it: on
// POSIX with every symbolic link resolved, on Win32 as the system completes the text. Any length. False
// when it is no directory that could be entered.
bool ResolveDirectory(const std::string& path, std::string& full);

// Makes `path` the current directory, whatever its length. A relative path is taken from the current
// directory. False when it cannot be entered; the current directory is then the one it was before.
bool SetCurrentDir(const std::string& path);

// 1 = A:, 2 = B:, ...; 0 when the current directory has no drive letter (always on POSIX).
int CurrentDrive();

}  // namespace zelvane::platform
