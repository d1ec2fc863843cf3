#include "support/terminal_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {

TerminalRun RunOnTerminal(const TempDir& dir, const std::vector<std::string>& args, bool background,
                          char keyAtPrompt) {
  TerminalRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return run;
  }
  const std::string slaveName = ptsname(master);
  int report[2];
  if (pipe(report) != 0) return run;
  std::vector<std::string> argv = {ZelvaneBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargs;
  for (std::string& a : argv)
    cargs.push_back(a.data());
  cargs.push_back(nullptr);

  const pid_t leader = fork();
  if (leader == 0) {
    close(master);
    close(report[0]);
    setsid();
    const int slave = open(slaveName.c_str(), O_RDWR);  // becomes the controlling terminal
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    signal(SIGTTOU, SIG_IGN);  // the leader hands the terminal over from its own group
    const pid_t job = fork();
    if (job == 0) {
      close(report[1]);
      setpgid(0, 0);
      signal(SIGTTOU, SIG_DFL);
      signal(SIGPIPE, SIG_DFL);
      if (chdir(dir.path().c_str()) != 0) _exit(126);
      execv(cargs[0], cargs.data());
      _exit(127);
    }
    setpgid(job, job);
    if (!background) tcsetpgrp(0, job);
    int status = 0;
    waitpid(job, &status, WUNTRACED);
    int code = -1;
    struct termios mode {};
    tcgetattr(0, &mode);
    if (WIFSTOPPED(status)) {
      kill(job, SIGKILL);
      waitpid(job, &status, 0);
      code = -2;
    } else if (WIFEXITED(status)) {
      code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      code = 128 + WTERMSIG(status);
    }
    const bool echoing = (mode.c_lflag & ECHO) != 0 && (mode.c_lflag & ICANON) != 0;
    const std::string line = std::to_string(code) + " " + (echoing ? "1" : "0");
    if (write(report[1], line.data(), line.size()) < 0) _exit(1);
    _exit(0);
  }
  close(report[1]);

  bool interrupted = false;  // the key has been typed
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    struct pollfd p {};
    p.fd = master;
    p.events = POLLIN;
    if (poll(&p, 1, 50) > 0) {
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) run.out.append(buffer, static_cast<std::size_t>(n));
    }
    if (keyAtPrompt != '\0' && !interrupted && run.out.find("[y/n] ") != std::string::npos) {
      // Time to switch the terminal to raw input and wait for the key.
      usleep(300000);
      if (write(master, &keyAtPrompt, 1) != 1) ADD_FAILURE() << "cannot type on the terminal";
      interrupted = true;
    }
    int status = 0;
    if (waitpid(leader, &status, WNOHANG) == leader) break;
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
      kill(leader, SIGKILL);
      waitpid(leader, &status, 0);
      ADD_FAILURE() << "the run on the terminal did not end";
      break;
    }
  }
  char line[64] = {};
  if (read(report[0], line, sizeof line - 1) > 0) {
    int echoing = 0;
    std::sscanf(line, "%d %d", &run.status, &echoing);
    run.echoing = echoing != 0;
  }
  close(report[0]);
  close(master);
  std::erase(run.out, '\r');
  return run;
}

}  // namespace zelvane::test
