#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_util.h"

namespace zelvane::platform {

char NativeSeparator() {
  return '/';
}

namespace {

// Only this process changes its own current directory, and only through SetCurrentDir, so the answer
// of getcwd is kept until then: a command per file asks for it every time.
std::string knownDir;
bool knownDirValid = false;

}  // namespace

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
  return chdir(posix::ToOsPath(path).c_str()) == 0;
}

int CurrentDrive() {
  return 0;
}

bool SetCurrentDrive(int) {
  return true;
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
