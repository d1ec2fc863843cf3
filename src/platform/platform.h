// The one door to the operating system. Everything the tool needs from the OS goes through these plain
// functions and small value types; no OS type or header appears here, so the core compiles unchanged over
// the POSIX and the Win32 implementations. The layer carries no policy: it answers questions and performs
// single operations, and the rules of the tool live in the core.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Win32 file-attribute bits, under their platform names. The Win32 backend gets the same values from the
// system headers, so the guards let either be seen first.
#ifndef FILE_ATTRIBUTE_READONLY
inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
#endif
#ifndef FILE_ATTRIBUTE_HIDDEN
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
#endif
#ifndef FILE_ATTRIBUTE_SYSTEM
inline constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
#endif
#ifndef FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
#endif
#ifndef FILE_ATTRIBUTE_ARCHIVE
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
#endif
#ifndef FILE_ATTRIBUTE_TEMPORARY
inline constexpr std::uint32_t FILE_ATTRIBUTE_TEMPORARY = 0x100;
#endif
#ifndef FILE_ATTRIBUTE_COMPRESSED
inline constexpr std::uint32_t FILE_ATTRIBUTE_COMPRESSED = 0x800;
#endif

namespace zelvane::platform {

// ---------------------------------------------------------------------------------------------------------
// Start-up and process

// The platform's own start-up. Fails when the process cannot learn its current directory (and, on Win32,
// its module handle or command line); the caller then prints the fatal message and ends with status 1.
// On POSIX it also settles the signals: SIGPIPE ignored (a write to a closed pipe fails instead of killing
// the run), SIGCHLD at its default (an inherited "ignore" would hide every child's exit status), and a
// terminal switched to raw input restored before a signal ends or stops the process.
bool StartUp();

// The whole command line as typed. On POSIX, which only has the argument vector, it is argv[0] and every
// argument joined by single spaces, nothing quoted, so each argument stands in it with its exact length.
std::string RawCommandLine(int argc, char** argv);

// Whether RawCommandLine is the line as the user typed it (Win32), so the Command is found by searching it.
// False where the layer had to build it from the argument vector (POSIX): the Command is then the arguments
// after the last option, and no quote or code in an earlier argument can shift where it begins.
bool HasTypedCommandLine();

// Flushes what the program wrote to standard output, so it stands before anything a child writes.
void FlushOutput();

// Zelvane's own text on standard output and standard error. Every message goes through here, so the
// layer alone decides how text reaches the console (on Win32: as UTF-16 to a console, in the console's
// code page when redirected). "\n" ends a line as the platform writes text.
void WriteOut(std::string_view text);
void WriteErr(std::string_view text);

// Whether a write to standard output has failed (a pipe nobody reads, a full disk).
bool OutputFailed();

// ---------------------------------------------------------------------------------------------------------
// Paths and the current directory

// '\' on Win32, '/' on POSIX.
char NativeSeparator();

// Whether `c` separates the components of a path: '/' on both targets, and '\' too on Win32. On POSIX a '\'
// that comes from a directory listing is an ordinary character of a name; only typed text (a Filespec, an
// option's file name) has its '\' turned into '/', once, where it is read.
bool IsPathSeparator(char c);

// Whether text that begins with '-' or '/' is a switch rather than a path. '-' always starts a switch. On
// POSIX a '/' starts a switch only when no other '/' follows before the end of the text (callers pass a
// Filespec token up to its first blank or tab); on Win32 '/' always starts a switch. Text that begins with
// neither character is never a switch.
bool IsSwitchText(std::string_view text);

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

// ---------------------------------------------------------------------------------------------------------
// Environment

// False when the variable is not set.
bool GetEnv(const std::string& name, std::string& value);

// Sets a variable of the process's own environment, which every child inherits. An empty value sets the
// variable to the empty text.
bool SetEnv(const std::string& name, const std::string& value);

// ---------------------------------------------------------------------------------------------------------
// Directory entries

// What a directory lookup reports of one entry, as Win32's find data does (names in UTF-8).
struct FindData {
  std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_* bits
  std::string name;              // the long name, in its stored letter case
  std::string alternateName;     // the 8.3 name where the file system has one; empty otherwise
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;   // a file time (see "Time")
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

// Deletes one file; false when it could not (a directory, no permission, a name with wildcards...).
bool RemoveFile(const std::string& path);

// Name matching as the DIR command does it, without regard to case (see the wildcard rules). Pure.
bool MatchesPattern(std::string_view pattern, std::string_view name);

// ---------------------------------------------------------------------------------------------------------
// Directory enumeration (the search)
//
// The search reads directories on several threads at once: these functions may run side by side on
// different handles (a handle may pass from one thread to another), and none touches the current directory.

// One entry of a directory listing. Reading a directory once serves both the name pattern and the
// walk into subdirectories: the type comes with the listing, attributes only when asked for.
struct DirEntry {
  std::string name;
  std::uint32_t attributes = 0;  // filled only by ListDirectory with wantAttributes
  bool isDirectory = false;      // a symbolic link counts as what it points to
  bool isLink = false;           // reached through a symbolic link (never walked into)
};

// A directory opened for listing, or kNoDirectory. The walk of a tree opens each directory relative to
// its parent instead of making it current, which saves two changes of directory per directory.
// Opaque: each backend defines `Dir`, so a handle can't be mixed up with a file or taken for a number.
struct Dir;
using DirHandle = Dir*;
inline constexpr DirHandle kNoDirectory = nullptr;

// Opens the current directory for listing.
DirHandle OpenCurrentDirectory();

// Opens the directory `path` (relative paths from the current directory; symbolic links in it followed,
// as a change of directory would follow them) without making it current. Any length of path.
// kNoDirectory when it is no directory or cannot be opened.
DirHandle OpenDirectory(const std::string& path);

// Opens the directory `name` inside the open directory `parent` ("..": its parent). Never through a
// symbolic link or reparse point, so a walk cannot loop. kNoDirectory when it cannot be opened.
DirHandle OpenSubdirectory(DirHandle parent, const std::string& name);

void CloseDirectory(DirHandle dir);

// Lists every entry of an open directory (once per handle), "." and ".." left out. With `wantAttributes`
// every entry's attributes are filled in (which may cost one status call per entry). False when it cannot be
// read.
bool ListDirectory(DirHandle dir, std::vector<DirEntry>& out, bool wantAttributes);

// Whether paths may begin with a drive letter and colon ("C:"). False on POSIX, where "c:x" is a
// relative name like any other.
bool HasDriveLetters();

// Whether the file system gives entries short (8.3) alternate names that a path may be typed with. False
// on POSIX, whose current directory always comes back in long names.
bool HasAlternateNames();

// ---------------------------------------------------------------------------------------------------------
// Reading files

// An open file for reading, or kNoFile. Opaque like `Dir`.
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

// ---------------------------------------------------------------------------------------------------------
// Time
//
// A file time is a count of 100-ns ticks since 1601-01-01 00:00 UTC, from 0 to kLastFileTime (30828-09-14
// 02:48:05.4775807 UTC, the last instant the Win32 conversions accept). A file's time outside that range
// is reported as the nearer end of it, never wrapped: a file dated in the year 60000 is the latest file,
// not one from 1601.

inline constexpr std::uint64_t kLastFileTime = 0x7FFFFFFFFFFFFFFFULL;

// Calendar fields as Win32's SYSTEMTIME holds them.
struct SystemTime {
  int year = 0;
  int month = 0;      // 1..12
  int dayOfWeek = 0;  // 0 = Sunday
  int day = 0;        // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// The current local time, read once.
SystemTime LocalNow();

// File time (UTC ticks) to local calendar fields; false when out of range.
bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime& out);

// Local calendar fields to a file time (UTC ticks); false when a field is out of range.
bool LocalSystemTimeToFileTime(const SystemTime& local, std::uint64_t& fileTime);

// ---------------------------------------------------------------------------------------------------------
// Console keys (from standard input; see the rules on terminals, pipes and end of input)

// A terminal is read only while the process is in its foreground: in the background no key is waiting and a
// read returns -1 at once, as at the end of input, and the terminal's mode is never changed from there.

// Is a key waiting? Never blocks. A pushed-back key counts.
bool KeyWaiting();

// Reads one key without echo, the pushed-back one first. Returns -1 at the end of input (no key).
int ReadKey();

// Hands one key back for the next KeyWaiting / ReadKey. There is room for one only.
void PushBackKey(int key);

// From now on keys are taken from a terminal as it is set (a line at a time, echoed), never by switching it
// to raw input: -Batch asks nothing, so it leaves the terminal's mode alone. Nothing to do on Win32.
void LeaveTerminalModeAlone();

// ---------------------------------------------------------------------------------------------------------
// Child processes
//
// One way to start a child for every run, one at a time or several at once: a child is started with its
// words or shell line, its environment, its starting directory and its standard handles, and the run waits
// for whichever of its children ends. Nothing here changes the process's own directory or environment.

// Processors this process may run on (at least 1).
int ProcessorCount();

// Whether standard output and standard error are one file (the same file, device, pipe or terminal), so one
// capture keeps their order.
bool OutputAndErrorAreOneFile();

// Whether the last call of this section that failed (StartChild, CreateCapture, OpenStartDirectory,
// CreateTextFileIn) failed for want of a resource: no descriptor, pipe, process slot or memory. Such a call
// may succeed once a running child has ended. Per thread.
bool WasShortage();

// One file's output on its way to the console while its commands run side by side with others': its
// children write into pipes (one when standard output and standard error are one file), which WaitForAny
// drains, and Zelvane's own text for the file goes in between, in order. What it takes in is held in memory
// up to a modest size and beyond it in an unlinked temporary file, so a command may print gigabytes. Opaque.
struct Capture;
using CaptureHandle = Capture*;
inline constexpr CaptureHandle kNoCapture = nullptr;

// kNoCapture when it cannot be made (see WasShortage).
CaptureHandle CreateCapture(bool oneStream);

// Appends Zelvane's own text, after everything its children wrote so far; `toError`: to the standard error
// part (the one stream when there is one).
void WriteToCapture(CaptureHandle capture, std::string_view text, bool toError);

// No more children of this file will be started: the capture's end comes once the last of them, and
// anything they left running, has let go of it.
void CloseCaptureInput(CaptureHandle capture);

// Whether every writer has let go of the capture (always true once CloseCaptureInput ran, where the
// backend's children write into a file rather than a pipe).
bool CaptureEnded(CaptureHandle capture);

// Writes what the capture holds and has not written yet to standard output (and its error part to standard
// error), in large blocks, after what the program itself wrote there: the oldest file's output goes out
// while it runs (where the children write into a file rather than a pipe, once its input is closed). False
// when a write to them failed. `message` is set to
// "Could not write \"<dir>\": <reason>.\n" when part of the capture could not be kept (the temporary
// directory was full or missing); the caller reports it and ends the run.
bool CopyCaptureToOutput(CaptureHandle capture, std::string& message);

void CloseCapture(CaptureHandle capture);

// A directory opened for children to start in, or kNoStartDirectory. Any length of path. Opaque.
struct StartDir;
using StartDirHandle = StartDir*;
inline constexpr StartDirHandle kNoStartDirectory = nullptr;

// Opens `path` for children to start in; kNoStartDirectory when it is not a directory a child can start in
// (see WasShortage).
StartDirHandle OpenStartDirectory(const std::string& path);

// The directory's full path, as the current directory reads inside it now (asked of the system, so a
// directory renamed since it was opened reads under its new name).
std::string StartDirectoryPath(StartDirHandle dir);

// Creates or truncates the text file `name`, taken relative to `dir` (a full name, or kNoStartDirectory:
// relative to the current directory), for reading and writing ("w+"); never inherited by children.
// nullptr when it cannot.
std::FILE* CreateTextFileIn(StartDirHandle dir, const std::string& name);

void CloseStartDirectory(StartDirHandle dir);

// What one child is started with.
struct ChildStart {
  // Shell mode when `shell` is not empty: `commandText` runs through it. The shell gets argument 0 `shell`
  // and argument 1 " /c " + text, as they stand (on Win32 their concatenation, unquoted, which is what
  // cmd.exe expects); on POSIX, when the shell's file name is a POSIX shell (sh, bash, dash, ksh, mksh, zsh,
  // ash, busybox), the arguments are `shell`, "-c", text.
  std::string shell;
  std::string commandText;
  // Otherwise the program and its arguments, looked up as the platform does (on POSIX a name holding '/' as
  // given, any other along PATH).
  std::vector<std::string> args;
  // Where it starts; kNoStartDirectory: the process's current directory.
  StartDirHandle directory = kNoStartDirectory;
  // Variables given to this child only, over the process's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // kNoCapture: the child shares the console (standard input, output and error, and the keys) with this
  // process; standard output is flushed first. Otherwise it writes into the capture, reads the null device,
  // and runs in a process group of its own, which EndChildren can end whole.
  CaptureHandle capture = kNoCapture;
};

// A started child, or kNoChild. Opaque.
struct Child;
using ChildHandle = Child*;
inline constexpr ChildHandle kNoChild = nullptr;

// Starts a child without waiting for it; kNoChild when it could not be started (see WasShortage). The child
// gets the signal dispositions a program expects (SIGPIPE at its default again) and this process's
// processor set and limits, unchanged.
ChildHandle StartChild(const ChildStart& start);

// What WaitForAny saw.
struct WaitResult {
  int child = -1;       // index into `running` of a child that ended (its handle is released), or -1
  int exitCode = 0;     // its exit code: on POSIX 128 + the signal number when a signal ended it
  bool signal = false;  // an ending signal arrived while they were deferred (DeferEndingSignals)
};

// Waits until a child of `running` ends, a capture of `reading` ends (CaptureEnded), an ending signal is
// deferred, or `timeoutMs` passes (-1: no limit), draining every capture of `reading` meanwhile; a child's
// own capture is drained of all it wrote before it is reported. Returns at once when both lists are empty.
WaitResult WaitForAny(const std::vector<ChildHandle>& running, const std::vector<CaptureHandle>& reading,
                      int timeoutMs);

// From now on SIGINT, SIGTERM and SIGHUP no longer end the process at once: WaitForAny reports them, and
// the run ends its children, writes what they printed and then calls EndBySignal. Nothing to do on Win32.
void DeferEndingSignals();

// Ends the children of `running` started with a capture, with their process groups: the deferred signal
// first, or, with `force`, for good.
void EndChildren(const std::vector<ChildHandle>& running, bool force);

// Restores the terminal and ends the process by the signal that was deferred.
void EndBySignal();

}  // namespace zelvane::platform
