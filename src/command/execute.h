// Running the Command for one file: confirmation, splitting, echo, shell or direct start, internal echo.
#pragma once

#include <string>

namespace zelvane {

struct RunContext;

// Executes the Command template for one matched file; returns the last part's result (the run loop does
// not act on it).
int ExecuteCommand(RunContext& ctx, const std::string& path, const std::string& commandTemplate);

}  // namespace zelvane
