#include "platform/paths.h"

namespace zelvane::platform {

bool IsPathSeparator(char c) {
  // Win32 takes either character; on POSIX only '/' separates, and '\' may stand in a name.
  return c == '/' || c == NativeSeparator();
}

}  // namespace zelvane::platform
