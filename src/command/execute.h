// Running the Command for one file: confirmation, splitting, echo, shell or direct start, internal echo.
#pragma once

#include <string>

#include "command/command_template.h"

namespace zelvane {

struct RunContext;

// Executes the parsed Command for one matched file; returns the last part's result (the run loop does not
// act on it). With -c, a file whose directory cannot be entered is reported and its Command skipped. A write
// to the -xo file that fails is reported and sets `ctx.endRun`.
int ExecuteCommand(RunContext& ctx, const std::string& path, const CommandTemplate& command);

// "Could not change to directory %s.\n" for the file `path`, whose directory could not be entered.
std::string DirectoryNotEnteredMessage(const RunContext& ctx, const std::string& path);

}  // namespace zelvane
