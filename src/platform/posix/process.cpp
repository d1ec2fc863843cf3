#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_util.h"

extern char** environ;

namespace zelvane::platform {

bool StartUp() {
  // A closed standard descriptor would go to the next file opened: an -xo file at descriptor 1 would take
  // in every message and every child's output. Hold each free slot with /dev/null, read-only, so reads see
  // the end of input and writes fail just as they would on the closed descriptor.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int held = open("/dev/null", O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
  std::string dir;
  return GetCurrentDir(dir);
}

void UseConsoleCodePage() {}

std::string RawCommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) line += ' ';
    line += argv[i];
  }
  return line;
}

void FlushOutput() {
  std::fflush(stdout);
}

void WriteOut(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void WriteErr(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

bool OutputFailed() {
  return std::ferror(stdout) != 0;
}

int RunProcess(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  FlushOutput();
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  // posix_spawnp searches PATH only for names without '/', as execvp does. The child's own argv[0] keeps
  // the text as given.
  const std::string program = posix::ToOsPath(args[0]);
  if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::vector<std::string> posix::ShellArguments(const std::string& shell, const std::string& commandText) {
  static const char* const kPosixShells[] = {"sh", "bash", "dash", "ksh", "mksh", "zsh", "ash", "busybox"};
  const std::size_t slash = shell.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? shell : shell.substr(slash + 1);
  for (const char* posixShell : kPosixShells) {
    if (name == posixShell) return {shell, "-c", commandText};
  }
  return {shell, " /c " + commandText};
}

int RunShell(const std::string& shell, const std::string& commandText) {
  return RunProcess(posix::ShellArguments(shell, commandText));
}

std::FILE* CreateTextFile(const std::string& path) {
  // "e": close-on-exec, so the commands started while it is open do not inherit it.
  return std::fopen(posix::ToOsPath(path).c_str(), "w+e");
}

}  // namespace zelvane::platform
