// Walking the match list: one Command per file, with the abort key and the Stop file between files.
#pragma once

namespace zelvane {

struct RunContext;

// Runs the Command for every file of the match list: one at a time, or with -Jobs several at once.
void RunLoop(RunContext& ctx);

}  // namespace zelvane
