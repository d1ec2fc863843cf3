// The run loop with several commands at once (-Jobs): files start in list order, each file's parts run in
// order, and each file's output is captured and printed as one block, in list order, so the run prints
// exactly what the one-at-a-time run prints.
#pragma once

#include "command/command_template.h"

namespace zelvane {

struct RunContext;

// Runs the parsed Command for every file of the match list with up to `jobs` children at once.
void RunInParallel(RunContext& ctx, const CommandTemplate& command, int jobs);

}  // namespace zelvane
