// Walking the match list: one Command per file, with the abort key and the Stop file between files.
#pragma once

#include "command/execute.h"
#include "search/match_list.h"

namespace zelvane {

struct RunSettings;

// Runs the Command for every file of `matches` (whose order it settles): one at a time, or with -Jobs
// several at once.
RunProgress RunLoop(const RunSettings& settings, PathList& matches);

}  // namespace zelvane
