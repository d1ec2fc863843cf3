// The whole preparation of a run, from the command line to the final match list and the Command.
#pragma once

#include "app/run_context.h"

namespace zelvane {

// Fills the defaults and runs the whole preparation: options, search, exclusion, count, the Command.
void BuildRunContext(RunContext& ctx, int argc, char** argv);

}  // namespace zelvane
