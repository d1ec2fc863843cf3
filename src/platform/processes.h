// Child processes: started, captured, waited for and ended.
//
// One way to start a child for every run, one at a time or several at once: a child is started with its
// words or shell line, its environment, its starting directory and its standard handles, and the run waits
// for whichever of its children ends. Nothing here changes the process's own directory or environment.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/directories.h"

namespace zelvane::platform {

// Processors this process may run on (at least 1).
int ProcessorCount();

// Whether standard output and standard error are one file (the same file, device, pipe or terminal), so one
// capture keeps their order.
bool OutputAndErrorAreOneFile();

// Whether the last call declared here that failed (StartChild, CreateCapture, OpenStartDirectory,
// CreateTextFileIn) failed for want of a resource: no descriptor, pipe, process slot or memory. Such a call
// may succeed once a running child has ended. Per thread.
bool WasShortage();

// Whether the last StartChild that failed was refused because the child's command line is longer than the
// system takes (Win32: 32,767 characters, 8,191 for a line given to the shell; POSIX: the arguments and
// environment past the kernel's limit). Nothing was started and nothing was cut. Per thread.
bool WasTooLong();

// The room a child's command line has: for its words (`shellLine` false) or for the text handed to the
// shell (true), after the environment, the shell's own words and a margin are taken off. Measured in the
// units WordCost gives.
std::size_t CommandLineRoom(bool shellLine);

// What one more word of a command line takes of that room: on POSIX its bytes, its terminating NUL and its
// pointer; on Win32 its UTF-16 length as quoted for the command line, and the blank before it.
std::size_t WordCost(std::string_view word, bool shellLine);

// One file's output on its way to the console while its commands run side by side with others': its
// children write into pipes (one when standard output and standard error are one file), which are drained
// while the run waits (POSIX: by WaitForAny; Win32: by a reader thread per pipe), and Zelvane's own text for
// the file goes in between, in order. What it takes in is held in memory up to a modest size and beyond it
// in a temporary file that goes away with the capture, so a command may print gigabytes. Opaque.
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

// Whether every writer has let go of the capture: this process (CloseCaptureInput), the file's children and
// anything they left running.
bool CaptureEnded(CaptureHandle capture);

// Writes what the capture holds and has not written yet to standard output (and its error part to standard
// error), in large blocks, after what the program itself wrote there; from then on what comes into the
// capture goes straight out, so the oldest file's output goes out while it runs. False when a write to them
// failed. `message` is set to "Could not write \"<dir>\": <reason>.\n" when part of the capture could not be
// kept (the temporary directory was full or missing); the caller reports it and ends the run.
// With `stream` false the capture is not switched to going straight out: each call writes what came since,
// so the caller decides when output appears (a status line is erased first).
bool CopyCaptureToOutput(CaptureHandle capture, std::string& message, bool stream = true);

void CloseCapture(CaptureHandle capture);

// A directory opened for children to start in, or kNoStartDirectory. Any length of path. Opaque.
struct StartDir;
using StartDirHandle = StartDir*;
inline constexpr StartDirHandle kNoStartDirectory = nullptr;

// Opens `path` for children to start in; kNoStartDirectory when it is not a directory a child can start in
// (see WasShortage). `forShell`: the children are shell lines, so the shell must be able to take the
// directory as its own current directory too (cmd.exe takes no UNC path: it would run in %SystemRoot%).
// While it is open the directory cannot be removed or renamed where the system can prevent it (Win32).
StartDirHandle OpenStartDirectory(const std::string& path, bool forShell);

// The directory's full path, as the current directory reads inside it now (asked of the system, so a
// directory renamed since it was opened reads under its new name).
std::string StartDirectoryPath(StartDirHandle dir);

// Creates or truncates the text file `name`, taken relative to `dir` (a full name, or kNoStartDirectory:
// relative to the current directory), for reading and writing ("w+"); never inherited by children.
// nullptr when it cannot.
std::FILE* CreateTextFileIn(StartDirHandle dir, const std::string& name);

// The identity of the directory as opened (see DirIdentity in directories.h). While the handle is open the
// directory children start in is the one so identified, even if its path is given to another directory.
DirIdentity StartDirectoryIdentity(StartDirHandle dir);

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
  // given, any other along PATH). Held by the caller until StartChild returns: a group's vector of a
  // hundred thousand words is not copied for one start.
  std::span<const std::string> args;
  // Where it starts; kNoStartDirectory: the process's current directory.
  StartDirHandle directory = kNoStartDirectory;
  // Variables given to this child only, over the process's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // kNoCapture: the child shares the console (standard input, output and error, and the keys) with this
  // process; standard output is flushed first. Otherwise it writes into the capture, reads the null device,
  // and runs in a process group of its own (Win32: also a job object of its own), which EndChildren can end
  // whole. It inherits no handle but those three, so no other file's pipe is held open by it.
  CaptureHandle capture = kNoCapture;
  // A process group of its own even on the console, so that EndChild ends what it started too; only
  // where that does not take the terminal's keys away from it (standard input is no terminal).
  bool ownGroup = false;
};

// A started child, or kNoChild. Opaque.
struct Child;
using ChildHandle = Child*;
inline constexpr ChildHandle kNoChild = nullptr;

// Starts a child without waiting for it; kNoChild when it could not be started (see WasShortage and
// WasTooLong). The child gets the signal dispositions a program expects (SIGPIPE at its default again) and
// this process's processor set and limits, unchanged.
ChildHandle StartChild(const ChildStart& start);

// What WaitForAny saw.
struct WaitResult {
  int child = -1;       // index into `running` of a child that ended (its handle is released), or -1
  int exitCode = 0;     // its exit code: on POSIX 128 + the signal number when a signal ended it
  bool signal = false;  // an ending signal arrived while they were deferred (DeferEndingSignals)
};

// Waits until a child of `running` ends, a capture of `reading` ends (CaptureEnded), an ending signal is
// deferred, or `timeoutMs` passes (-1: no limit), draining every capture of `reading` meanwhile. Whatever a
// reported child wrote stands in its capture before any text WriteToCapture adds after the report. Any
// number of children and captures. With both lists empty it returns at once, telling only whether an ending
// signal was deferred since the last wait.
WaitResult WaitForAny(const std::vector<ChildHandle>& running, const std::vector<CaptureHandle>& reading,
                      int timeoutMs);

// From now on SIGINT, SIGTERM and SIGHUP (Win32: Ctrl-C, Ctrl-Break and closing the console) no longer end
// the process at once: WaitForAny reports them, and the run ends its children, writes what they printed and
// then calls EndBySignal. A second one, once the first was reported, ends the process at once.
void DeferEndingSignals();

// Ends the children of `running` started with a capture, with their process groups (Win32: their job
// objects): the deferred signal first, or, with `force`, for good (Win32: for good either way).
void EndChildren(const std::vector<ChildHandle>& running, bool force);

// Ends one child that ran past its time, with its process group where it has one of its own: asked to end
// (SIGTERM), or with `force` for good (SIGKILL). On Win32 it is terminated, with its job where it has one.
void EndChild(ChildHandle child, bool force);

// Restores the terminal and ends the process by the signal that was deferred (Win32: as Ctrl-C ends a
// console program, with exit code STATUS_CONTROL_C_EXIT).
void EndBySignal();

}  // namespace zelvane::platform
