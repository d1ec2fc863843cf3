// Runs the real zelvane binary on a pseudo-terminal of its own, for the POSIX tests of signals, job control
// and the terminal's mode: what the terminal showed, how the run ended and whether the terminal was left
// echoing. Must be called from a GoogleTest test: a missing pseudo-terminal, a key that cannot be typed or a
// run still going after 20 seconds (then killed) is recorded there as a failure.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zelvane::test {

// What happened to a run on a terminal of its own.
struct TerminalRun {
  std::string out;       // what the terminal showed, CR LF read as LF
  int status = -1;       // exit status; 128 + signal; -2 when the job was stopped (and then killed)
  bool echoing = false;  // the terminal echoes and reads by lines after the run
};

// Runs zelvane with `args` in `dir` on a fresh pseudo-terminal whose session leader starts it in a process
// group of its own: the terminal's foreground group, or with `background` a background job. A `keyAtPrompt`
// other than NUL (Ctrl-C, Ctrl-Z) is typed once the confirmation prompt shows. A job that stops is killed;
// `echoing` then tells how it left the terminal when it stopped.
TerminalRun RunOnTerminal(const TempDir& dir, const std::vector<std::string>& args, bool background,
                          char keyAtPrompt = '\0');

}  // namespace zelvane::test
