// Running the Command for one file: confirmation, splitting, echo, shell or direct start, internal echo.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "command/command_template.h"

namespace zelvane {

struct RunContext;

// Executes the parsed Command for one matched file; returns the last part's result (the run loop does not
// act on it). With -c, a file whose directory cannot be entered is reported and its Command skipped. A write
// to the -xo file that fails is reported and sets `ctx.endRun`.
int ExecuteCommand(RunContext& ctx, const std::string& path, const CommandTemplate& command);

// "Could not change to directory %s.\n" for the file `path`, whose directory could not be entered.
std::string DirectoryNotEnteredMessage(const RunContext& ctx, const std::string& path);

// "Could not execute %s.\n" for the program (or shell) `name` that could not be started.
std::string NotExecutedMessage(const std::string& name);

// Writes `text` to the -xo file `stream` and flushes it, so the text is on disk before anything else runs
// and a failure shows at the echo that met it. On a failure returns false with `message` set to
// "Could not write \"%s\": <reason>.\n" for the file `name`.
bool WriteThrough(std::FILE* stream, std::string_view text, const std::string& name, std::string& message);

}  // namespace zelvane
