#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_util.h"

extern char** environ;

namespace zelvane::platform {

void posix::InitChildAttributes(posix_spawnattr_t& attributes) {
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
}

int RunProcess(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  FlushOutput();
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The child gets the dispositions a program expects: SIGPIPE, which this process ignores, at its default
  // again (handled signals return to theirs by themselves). Signals ignored by whoever started this process,
  // such as SIGHUP under nohup, stay ignored for the child too.
  posix_spawnattr_t attributes;
  posix::InitChildAttributes(attributes);
  pid_t pid = 0;
  // posix_spawnp searches PATH only for names without '/', as execvp does. The name goes to the system as
  // it was given.
  const int started = posix_spawnp(&pid, args[0].c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (started != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  // The child may have renamed the directory this process stands in.
  posix::ForgetCurrentDir();
  return posix::ExitCodeOf(status);
}

int posix::ExitCodeOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

std::vector<std::string> posix::ShellArguments(const std::string& shell, const std::string& commandText) {
  static const char* const kPosixShells[] = {"sh", "bash", "dash", "ksh", "mksh", "zsh", "ash", "busybox"};
  const std::size_t slash = shell.rfind('/');
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
  return std::fopen(path.c_str(), "w+e");
}

}  // namespace zelvane::platform
