// Helpers shared by the POSIX backend files only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelvane::platform::posix {

// Every '\' becomes '/' before a path reaches the OS.
std::string ToOsPath(const std::string& path);

// 100-ns ticks since 1601 from a POSIX time.
std::uint64_t TicksFromTimespec(const struct timespec& ts);

// Win32 attribute bits of an entry named `name` whose status is `st`.
std::uint32_t AttributesOf(const std::string& name, const struct stat& st);

// The argument vector that runs `commandText` through `shell` (see RunShell).
std::vector<std::string> ShellArguments(const std::string& shell, const std::string& commandText);

}  // namespace zelvane::platform::posix
