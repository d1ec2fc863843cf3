// The platform layer's start-up, and the command line as the process was given it.
#pragma once

#include <string>

namespace zelvane::platform {

// The platform's own start-up. Fails when the process cannot learn its current directory (and, on Win32,
// its module handle or command line); the caller then prints the fatal message and ends with status 1.
// On POSIX it also settles the signals: SIGPIPE ignored (a write to a closed pipe fails instead of killing
// the run), SIGCHLD at its default (an inherited "ignore" would hide every child's exit status), and a
// terminal switched to raw input restored before a signal ends or stops the process. With glibc, memory the
// run frees is kept for its next allocations rather than handed back to the system at once.
bool StartUp();

// The whole command line as typed. On POSIX, which only has the argument vector, it is argv[0] and every
// argument joined by single spaces, nothing quoted, so each argument stands in it with its exact length.
std::string RawCommandLine(int argc, char** argv);

// Whether RawCommandLine is the line as the user typed it (Win32), so the Command is found by searching it.
// False where the layer had to build it from the argument vector (POSIX): the Command is then the arguments
// after the last option, and no quote or code in an earlier argument can shift where it begins.
bool HasTypedCommandLine();

}  // namespace zelvane::platform
