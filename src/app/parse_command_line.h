// The first step of a run: the command line read into the run's settings.
#pragma once

#include "command/run_settings.h"

namespace zelvane {

enum class ParseResult {
  Ready,              // the settings are complete: search and run
  UsageShown,         // too few arguments: the usage text was shown, there is nothing to run
  Refused,            // an argument file could not be taken whole (it said why): the run ends, status 1
  CommandNotLocated,  // the Command could not be found in the line as typed: it is empty, and the usage text
                      // is shown after the search, where its messages stand before it
};

// Fills the defaults (start directory, COMSPEC) and reads the raw command line with its character codes,
// argument files, options and the Command.
ParseResult ParseCommandLine(RunSettings& ctx, int argc, char** argv);

}  // namespace zelvane
