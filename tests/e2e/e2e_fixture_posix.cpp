#include "e2e/e2e_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zelvane::test {
namespace fs = std::filesystem;

std::string ZelvaneBinary() {
  return ZELVANE_BINARY;
}
std::string ArgvPrinter() {
  return ARGV_PRINTER;
}

namespace {

std::string Slurp(int fd) {
  std::string data;
  lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

int TempFile() {
  char name[] = "/tmp/zelvane-out-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(name);
  return fd;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
                     const RunOptions& options) {
  std::vector<std::string> envText;
  const bool ownPath = std::any_of(options.env.begin(), options.env.end(),
                                   [](const auto& variable) { return variable.first == "PATH"; });
  if (const char* path = std::getenv("PATH"); path != nullptr && !ownPath)
    envText.push_back(std::string("PATH=") + path);
  envText.push_back("TZ=UTC");
  envText.push_back("LC_ALL=C");
  for (const auto& [name, value] : options.env)
    envText.push_back(name + "=" + value);

  std::vector<char*> args, env;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : envText)
    env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  const int outFd = TempFile();
  const int errFd = TempFile();
  // Standard input is written and closed before the program starts, so a key the test sends is already
  // waiting when the program first looks: no test depends on how fast the program gets there.
  int inPipe[2];
  if (pipe(inPipe) != 0) throw std::runtime_error("pipe failed");
  if (options.input.size() > 65536) fcntl(inPipe[1], F_SETPIPE_SZ, static_cast<int>(options.input.size()));
  // Input is not inherited by the program; a child that exits early must not kill us with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  std::size_t written = 0;
  while (written < options.input.size()) {
    const ssize_t n = write(inPipe[1], options.input.data() + written, options.input.size() - written);
    if (n <= 0) throw std::runtime_error("standard input does not fit the pipe");
    written += static_cast<std::size_t>(n);
  }
  close(inPipe[1]);
  int deadPipe[2] = {-1, -1};
  if (options.outputToClosedPipe) {
    if (pipe(deadPipe) != 0) throw std::runtime_error("pipe failed");
    close(deadPipe[0]);
  }

  int outputFileFd = -1;
  if (!options.outputPath.empty()) {
    outputFileFd = open(options.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outputFileFd < 0) throw std::runtime_error("cannot create " + options.outputPath);
  }

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(options.outputToClosedPipe ? deadPipe[1] : outputFileFd >= 0 ? outputFileFd : outFd, 1);
    dup2(options.errorToOutput ? 1 : errFd, 2);
    close(inPipe[0]);
    if (options.outputToClosedPipe) close(deadPipe[1]);
    if (options.closeInput) close(0);
    // Not inherited from this process, which ignores SIGPIPE below.
    signal(SIGPIPE, options.ignoreBrokenPipe ? SIG_IGN : SIG_DFL);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  close(inPipe[0]);
  if (options.outputToClosedPipe) close(deadPipe[1]);
  if (outputFileFd >= 0) close(outputFileFd);

  // A hung run fails the test instead of hanging the suite.
  int status = 0;
  for (int waited = 0;; ++waited) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (waited > 60 * 100) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10000);
  }
  RunResult result;
  result.out = Slurp(outFd);
  result.err = Slurp(errFd);
  close(outFd);
  close(errFd);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

}  // namespace zelvane::test
