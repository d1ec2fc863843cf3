// The -xo file.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zelvane::platform {

std::FILE* CreateTextFile(const std::string& path) {
  return std::fopen(path.c_str(), "w+");
}

}  // namespace zelvane::platform
