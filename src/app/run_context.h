// The run's one object: its settings, the match list the search found, and the run's progress. Only the
// entry point holds it whole; every other part takes the piece it reads.
#pragma once

#include "command/execute.h"
#include "command/run_settings.h"
#include "search/match_list.h"

namespace zelvane {

struct RunContext {
  RunSettings settings;  // const once the command line is read
  PathList MatchList;    // full paths of the files the run visits, in order
  RunProgress progress;  // the file number, the failures, the end of the run
};

}  // namespace zelvane
