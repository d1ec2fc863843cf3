// Helpers shared by the POSIX backend files only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace zelvane::platform::posix {

// Every '\' becomes '/' before a path reaches the OS.
std::string ToOsPath(const std::string& path);

// The file time of a POSIX time, clamped to 0 .. kLastFileTime.
std::uint64_t TicksFromTimespec(const struct timespec& ts);

// Opens the directory that holds the last component of a path that is too long for the system to take in
// one call, walking it in pieces (each shorter than PATH_MAX and ending at a '/'), and sets `last` to that
// component ("." when the path ends in '/'). Returns the descriptor, or -1 with errno set.
int OpenParentInPieces(const std::string& path, std::string& last);

// open(2) for a path of any length: in pieces, as above, when the system finds the path too long.
int OpenAnyLength(const std::string& path, int flags);

// Win32 attribute bits of an entry named `name` whose status is `st`.
std::uint32_t AttributesOf(const std::string& name, const struct stat& st);

}  // namespace zelvane::platform::posix
