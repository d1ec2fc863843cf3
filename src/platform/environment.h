// The process's own environment, which every child inherits.
#pragma once

#include <string>

namespace zelvane::platform {

// False when the variable is not set.
bool GetEnv(const std::string& name, std::string& value);

// Sets a variable of the process's own environment, which every child inherits. An empty value sets the
// variable to the empty text.
bool SetEnv(const std::string& name, const std::string& value);

}  // namespace zelvane::platform
