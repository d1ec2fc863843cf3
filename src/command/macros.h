// Expanding the Command template (and -xo names, and qualifier file names) for one file.
#pragma once

#include <string>

namespace zelvane {

struct RunContext;

// Expands every macro of `templateText` for the file `path`. With `changeDirectory` the file's directory
// becomes current. Refreshes the pseudo environment variables on every call.
std::string ExpandMacros(RunContext& ctx, const std::string& path, int changeDirectory,
                         const std::string& templateText);

}  // namespace zelvane
