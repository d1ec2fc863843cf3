// Walking the match list: one Command per file, with the abort key and the Stop file between files.
#pragma once

#include <string>

namespace zelvane {

struct RunContext;

// Runs the Command for every file of the match list: one at a time, or with -Jobs several at once.
void RunLoop(RunContext& ctx);

// What the checks after a command found.
enum class StopRequest { None, AbortKey, StopFile };

// Reads a waiting key (pushing back any but the abort key), then looks for the Stop file and deletes it.
// `warning` receives the text for standard error when the Stop file could not be deleted.
StopRequest CheckForStop(const RunContext& ctx, std::string& warning);

}  // namespace zelvane
