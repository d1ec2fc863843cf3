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
  // A write to a pipe nobody reads fails with an error, which ends the run quietly with status 0, rather
  // than killing the process with SIGPIPE. An inherited "ignore" on SIGCHLD would make the system reap
  // every child itself, so waiting for one would fail as if it could not be started.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGCHLD, SIG_DFL);
  posix::InstallTerminalGuards();
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

bool HasTypedCommandLine() {
  return false;
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
  // The child gets the dispositions a program expects: SIGPIPE, which this process ignores, at its default
  // again (handled signals return to theirs by themselves). Signals ignored by whoever started this process,
  // such as SIGHUP under nohup, stay ignored for the child too.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
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
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int RunShell(const std::string& shell, const std::string& commandText) {
  static const char* const kPosixShells[] = {"sh", "bash", "dash", "ksh", "mksh", "zsh", "ash", "busybox"};
  const std::size_t slash = shell.rfind('/');
  const std::string name = slash == std::string::npos ? shell : shell.substr(slash + 1);
  for (const char* posixShell : kPosixShells) {
    if (name == posixShell) return RunProcess({shell, "-c", commandText});
  }
  return RunProcess({shell, " /c " + commandText});
}

std::FILE* CreateTextFile(const std::string& path) {
  // "e": close-on-exec, so the commands started while it is open do not inherit it.
  return std::fopen(path.c_str(), "w+e");
}

}  // namespace zelvane::platform
