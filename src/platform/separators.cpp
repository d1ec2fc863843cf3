#include "platform/paths.h"

namespace zelvane::platform {

bool IsPathSeparator(char c) {
  // Win32 takes either character; on POSIX only '/' separates, and '\' may stand in a name.
  return c == '/' || c == NativeSeparator();
}

// Drive letters and 8.3 alternate names come with the one file system whose separator is '\'.
bool HasDriveLetters() {
  return NativeSeparator() == '\\';
}

bool HasAlternateNames() {
  return NativeSeparator() == '\\';
}

bool NamesFoldCase() {
  return NativeSeparator() == '\\';
}

}  // namespace zelvane::platform
