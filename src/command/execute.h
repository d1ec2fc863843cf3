// Running the Command for the files of a run: one engine, whether one file runs at a time or several at once.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "command/command_template.h"
#include "platform/directories.h"

namespace zelvane {

struct RunSettings;

// What a run has done so far.
struct RunProgress {
  int totalCount = 0;  // the files of the match list ($C)
  int fileNumber = 0;  // the number of the file taken last, from 1 ($c); a declined file counts too
  // A command could not be started or ended with a non-zero code, or a file's directory could not be
  // entered: with -ReturnCode the exit status is 1.
  int commandFailed = 0;
  bool endRun = false;      // a write to the -xo file failed: no further file is processed
  int failures = 0;         // failures as -ReturnCode counts them
  bool quitOnFail = false;  // -QuitOnFail stopped the run: its exit status is 1
};

// What the checks between two files found.
enum class StopRequest { None, AbortKey, StopFile };

// Takes a waiting key if it is the abort key (any other is left waiting), then looks for the Stop file and
// deletes it.
// `warning` receives the text for standard error when the Stop file could not be deleted.
StopRequest CheckForStop(const RunSettings& ctx, std::string& warning);

// Runs the parsed Command for each of `paths`, in order, with up to `slots` files at once, and returns the
// result of the last file that ran (the exit code of its last started part, -1 when that part could not be
// started, 0 when it started none). Each file gets the same steps: its number, the -c directory, the -xo
// file, the question, then its parts (echo, internal echo, shell or program). With one slot the commands
// share the console and its keys, and what the run prints goes straight out; with more, each file's output
// is captured and printed whole, in list order, and the commands read the null device. Between files the
// abort key and the Stop file are looked for; a failed write to standard output or to an -xo file ends the
// run. Neither the process's current directory nor its environment changes. `directories` runs parallel to
// `paths` (or is empty): the identity of the directory the search listed each file in, so that -c enters
// that directory and no other that has taken its path since.
int RunCommands(const RunSettings& ctx, const CommandTemplate& command, const std::vector<std::string>& paths,
                const std::vector<platform::DirIdentity>& directories, int slots, RunProgress& progress);

// Ends the process when memory ran out: what was written so far goes out, then "Out of memory.\n" on
// standard error and status 1, before anything more starts. For any thread, the search's walkers too.
[[noreturn]] void EndOutOfMemory();

// Ends the process when the search cannot read a directory for a reason other than permission or its being
// gone (a read error, or no descriptor even after the walk let go of those it held): a run over part of the
// tree would act on less than the user named. "Could not read directory %s: <reason>.\n" on standard error
// and status 1, before any command starts. For any thread.
[[noreturn]] void EndUnreadableDirectory(const std::string& path, const std::string& reason);

// "Could not change to directory %s.\n" for the file `path`, whose directory could not be entered.
std::string DirectoryNotEnteredMessage(const RunSettings& ctx, const std::string& path);

// "Could not execute %s.\n" for the program (or shell) `name` that could not be started.
std::string NotExecutedMessage(const std::string& name);

// The status line of -Progress: files done of all, failures, time so far and an estimate of the time left,
// and the file now running, cut to fit a terminal `width` columns wide.
std::string StatusLineText(int done, int total, int failures, double elapsedSeconds, std::string_view current,
                           int width);

// "Could not execute %s: the command line is too long.\n": the line was refused whole, never cut.
std::string TooLongMessage(const std::string& name);

// Writes `text` to the -xo file `stream` and flushes it, so the text is on disk before anything else runs
// and a failure shows at the echo that met it. On a failure returns false with `message` set to
// "Could not write \"%s\": <reason>.\n" for the file `name`.
bool WriteThrough(std::FILE* stream, std::string_view text, const std::string& name, std::string& message);

}  // namespace zelvane
