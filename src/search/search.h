// Finding the files and directories that match one single spec.
#pragma once

#include <cstdint>
#include <string>

#include "search/match_list.h"

namespace zelvane {

struct RunContext;

// Searches one single spec (along the search path of -S, and with `recurse` below it), inserting the full
// path of every match into `target`. Restores the current directory before it returns.
void SearchSpec(RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                std::uint32_t excludedAttributes, int recurse, PathList& target);

}  // namespace zelvane
