#include "platform/paths.h"

namespace zelvane::platform {

bool IsSwitchText(std::string_view text) {
  if (text.empty()) return false;
  if (text[0] == '-') return true;
  if (text[0] != '/') return false;
  // On POSIX an absolute path also begins with '/': one that holds a second '/' is a path.
  if (NativeSeparator() == '\\') return true;
  return text.find('/', 1) == std::string_view::npos;
}

}  // namespace zelvane::platform
