// Testing a found file against the qualifier texts of /size, /time, /comp and /cont.
#pragma once

#include <string>

#include "filespec/filespec.h"

namespace zelvane {

struct RunContext;

// True when the file passes all four qualifier texts (an empty text passes).
bool PassesQualifiers(RunContext& ctx, const std::string& path, const QualifierSet& set);

}  // namespace zelvane
