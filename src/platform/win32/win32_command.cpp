// What command execution needs beyond starting a process: the shell's argument vector and the -xo file.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zelvane::platform {

std::vector<std::string> ShellArguments(const std::string& shell, const std::string& commandText) {
  return {shell, " /c " + commandText};
}

std::FILE* CreateTextFile(const std::string& path) {
  return std::fopen(path.c_str(), "w+");
}

}  // namespace zelvane::platform
