// Files: one entry looked up by name or pattern, the name matcher, removing a file, and reading one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace zelvane::platform {

// The file-attribute bits entries report, with Win32's values: the Win32 backend hands the system's bits
// through unchanged, and the POSIX backend derives them from a file's mode and name. Named apart from the
// system's FILE_ATTRIBUTE_* macros, so the core reads the same names on both targets.
namespace attribute {
inline constexpr std::uint32_t kReadOnly = 0x01;
inline constexpr std::uint32_t kHidden = 0x02;
inline constexpr std::uint32_t kSystem = 0x04;
inline constexpr std::uint32_t kDirectory = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;
inline constexpr std::uint32_t kTemporary = 0x100;
inline constexpr std::uint32_t kCompressed = 0x800;
}  // namespace attribute

// ---------------------------------------------------------------------------------------------------------
// Directory entries

// What a directory lookup reports of one entry, as Win32's find data does (names in UTF-8).
struct FindData {
  std::uint32_t attributes = 0;  // attribute::k* bits
  std::string name;              // the long name, in its stored letter case
  std::string alternateName;     // the 8.3 name where the file system has one; empty otherwise
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;   // a file time (see file_time.h)
  std::uint64_t lastAccessTime = 0;  // same unit
};

// Looks up the first entry that matches `pattern` (a path whose last component may hold '*' and '?'), as
// the Win32 find calls do, and closes the search at once. False when nothing matches. For names the user
// typed, where a wildcard may be meant; a file the search found is looked up with GetEntryData.
bool FindFirst(const std::string& pattern, FindData& out);

// Looks up the one entry that `path` names, exactly: no character of it is a wildcard, so a found file
// named "a?.c" reports its own size, times and attributes, never those of "ab.c" beside it. A symbolic
// link reports what it points to (a dangling one, itself). Any length of path. False when there is no
// such entry.
bool GetEntryData(const std::string& path, FindData& out);

// True when `pattern` (wildcards allowed) matches at least one existing file or directory.
bool NameExists(const std::string& pattern);

// Whether a program handed `path` would open another file than the one the path names: on Win32 when a
// component of it ends in '.', or the last one in a blank, which the system drops from the names programs
// give it ("trail." opens "trail", "d.\x" opens "d\x"). Zelvane's own reads (GetEntryData,
// OpenForReading) and its walk still reach such a file. False on POSIX.
bool SystemRewritesName(std::string_view path);

// Deletes one file; false when it could not (a directory, no permission, a name with wildcards...).
bool RemoveFile(const std::string& path);

// Name matching as the DIR command does it, without regard to case (see the wildcard rules). Pure.
bool MatchesPattern(std::string_view pattern, std::string_view name);

// ---------------------------------------------------------------------------------------------------------
// Reading files

// An open file for reading, or kNoFile. Opaque: each backend defines `File`, so a handle can't be mixed up
// with a directory or taken for a number.
struct File;
using FileHandle = File*;
inline constexpr FileHandle kNoFile = nullptr;

// Opens a file read-only, in binary, sharing reading and writing with other openers, without waiting (a
// FIFO with no writer, a device that waits for a line). Any length of path; kNoFile for a directory.
FileHandle OpenForReading(const std::string& path);
// The length of the file taken when it was opened, in bytes (64-bit). A file that is not a regular file
// (a FIFO, a device) has the length its entry reports: 0 for a FIFO or /dev/zero. A reader that wants the
// file's contents reads this many bytes and no more, so nothing can keep it reading without end.
std::uint64_t FileSizeOf(FileHandle file);
// Reads up to `size` bytes; returns how many were read, 0 at the end, -1 on an error.
std::int64_t ReadBytes(FileHandle file, void* buffer, std::size_t size);
void CloseFile(FileHandle file);

// Opens `path` to append to, creating it when missing (a log that outlives the run); never inherited by
// children. nullptr when it cannot, with errno saying why.
std::FILE* OpenForAppending(const std::string& path);

// Writes what `file` holds in its buffer and makes it durable on disk. False when either fails.
bool SyncToDisk(std::FILE* file);
// Reads the whole file `path` (any name, any length) into `bytes`, as it comes: a pipe is read until its
// writer ends it. False when it cannot be opened or read, a directory among them.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Makes a line of a text file the user wrote (an argument file) UTF-8: on Win32 a line that is no valid
// UTF-8 is read in the system's ANSI code page, the one its editors save in by default; on POSIX a line
// stays as it is.
void MakeUtf8Line(std::string& line);

}  // namespace zelvane::platform
