#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/posix/posix_util.h"

namespace zelvane::platform {

char NativeSeparator() {
  return '/';
}

namespace {

// Only this process changes its own current directory, through SetCurrentDir, and only a child can rename it,
// so the answer of getcwd is kept until either happens: the search asks for it in every directory.
std::string knownDir;
bool knownDirValid = false;

// The longest stretch of a path handed to one chdir, well inside any system's limit.
constexpr std::size_t kStretch = 2048;

// Enters a path longer than the system takes in one call, one stretch of whole components at a time.
bool ChangeDirInStretches(const std::string& path) {
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.size();
    if (end - pos > kStretch) {
      end = path.rfind('/', pos + kStretch);
      // A single component longer than a stretch is more than any file system holds.
      if (end == std::string::npos || end <= pos) return false;
    }
    // The root of an absolute path stays with the first stretch; the later ones are relative.
    if (chdir(path.substr(pos, end - pos).c_str()) != 0) return false;
    pos = end;
    while (pos < path.size() && path[pos] == '/')
      ++pos;
  }
  return true;
}

}  // namespace

void posix::ForgetCurrentDir() {
  knownDirValid = false;
}

bool GetCurrentDir(std::string& out) {
  if (knownDirValid) {
    out = knownDir;
    return true;
  }
  std::vector<char> buffer(4096);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      knownDir.assign(buffer.data());
      knownDirValid = true;
      out = knownDir;
      return true;
    }
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
}

bool SetCurrentDir(const std::string& path) {
  if (path.empty()) return false;
  knownDirValid = false;
  if (chdir(path.c_str()) == 0) return true;
  if (errno != ENAMETOOLONG) return false;
    // Entered stretch by stretch; a failure halfway goes back to where it started, so the caller never runs
    // anything in a directory between the two.
#ifdef O_PATH
  const int start = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  const int start = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  if (start < 0) return false;
  const bool entered = ChangeDirInStretches(path);
  if (!entered && fchdir(start) != 0) {
    // Nothing sound is left to stand in; the caller skips the file either way.
  }
  close(start);
  return entered;
}

bool posix::NameOfOpenDirectory(int fd, std::string& name) {
  std::vector<char> buffer(4096);
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  for (;;) {
    const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || buffer[0] != '/') return false;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      name.assign(buffer.data(), static_cast<std::size_t>(n));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool ResolveDirectory(const std::string& path, std::string& full) {
  if (path.empty()) return false;
#ifdef O_PATH
  const int fd = posix::OpenAnyLength(posix::ToOsPath(path), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  const int fd = posix::OpenAnyLength(posix::ToOsPath(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  if (fd < 0) return false;
  // Entering a directory takes search permission on it.
  bool found = faccessat(fd, ".", X_OK, AT_EACCESS) == 0;
  if (found) {
    // The name the kernel holds for the open directory; where it has none to give, the system's own answer
    // from inside it, with this process back where it stood at once.
    if (!posix::NameOfOpenDirectory(fd, full)) {
      const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      found = here >= 0 && fchdir(fd) == 0;
      if (found) {
        knownDirValid = false;
        found = GetCurrentDir(full);
        knownDirValid = false;
        if (fchdir(here) != 0) found = false;
      }
      if (here >= 0) close(here);
    }
  }
  close(fd);
  return found;
}

int CurrentDrive() {
  return 0;
}

bool GetEnv(const std::string& name, std::string& value) {
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return false;
  value = v;
  return true;
}

bool SetEnv(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace zelvane::platform
