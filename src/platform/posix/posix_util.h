// Helpers shared by the POSIX backend files only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/directories.h"

namespace zelvane::platform::posix {

// The path as the OS takes it: unchanged. A '\' in a name is an ordinary character on POSIX; typed text had
// its '\' turned into '/' where it was read, and nothing converts a path again on its way to the system.
std::string ToOsPath(const std::string& path);

// Drops the remembered current directory, so the next GetCurrentDir asks the system: after a child has run,
// which may have renamed it.
void ForgetCurrentDir();

// Installs `handler` for `signal` and remembers the signal as caught. Every handler this process has goes in
// through here, since a child, which shares this process's memory until its exec, takes each caught signal
// back to its default first. Safe in a signal handler.
void CatchSignal(int signal, void (*handler)(int), int flags);

// Whether `signal` was ever caught through CatchSignal. Safe in a signal handler and in a child before its
// exec.
bool IsCaught(int signal);

// Installs the handlers that restore a terminal switched to raw input before SIGINT, SIGTERM, SIGHUP or
// SIGQUIT ends the process, and around a stop by SIGTSTP. Signals that were ignored stay ignored.
void InstallTerminalGuards();

// The file time of a POSIX time, clamped to 0 .. kLastFileTime.
std::uint64_t TicksFromTimespec(const struct timespec& ts);

// Opens the directory that holds the last component of a path that is too long for the system to take in
// one call, walking it in pieces (each shorter than PATH_MAX and ending at a '/'), and sets `last` to that
// component ("." when the path ends in '/'). Returns the descriptor, or -1 with errno set.
int OpenParentInPieces(const std::string& path, std::string& last);

// open(2) for a path of any length: in pieces, as above, when the system finds the path too long.
int OpenAnyLength(const std::string& path, int flags);

// The identity (device and inode) of the directory open as `fd`; unknown when it cannot be asked.
DirIdentity IdentityOfDescriptor(int fd);

// Win32 attribute bits of an entry named `name` whose status is `st`.
std::uint32_t AttributesOf(const std::string& name, const struct stat& st);

// A child's exit code from its wait status: its own code, or 128 plus the signal that ended it; -1 for
// anything else.
int ExitCodeOf(int waitStatus);

// Whether SIGINT, SIGTERM and SIGHUP are deferred (DeferEndingSignals); the terminal guard then hands the
// signal to DeferredSignal instead of ending the process. Both are safe in a signal handler.
bool SignalsDeferred();
void DeferredSignal(int signal);

// The full path the kernel holds for the open directory `fd` (what the current directory reads inside it).
// False where it has none to give: past the length it names, or without /proc.
bool NameOfOpenDirectory(int fd, std::string& name);

// Gives a terminal switched to raw input its settings back.
void RestoreTerminal();

}  // namespace zelvane::platform::posix
