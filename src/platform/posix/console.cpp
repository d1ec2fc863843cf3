// Keys come from standard input. On a terminal they are read raw, one at a time, without echo, and only
// while this process is in the terminal's foreground; from a pipe or a file its bytes are the keys. At the
// end of input there is no key.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "platform/console.h"
#include "platform/key_source.h"
#include "platform/posix/posix_util.h"

namespace zelvane::platform {
namespace {

bool endOfInput = false;
bool leaveModeAlone = false;

// The terminal's settings from before it was switched to raw input, while it is. The signal handlers read
// them, so they live outside any object and are written only with the signals' view in mind.
struct termios savedMode {};
struct termios rawMode {};
volatile std::sig_atomic_t rawActive = 0;

bool IsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

// Whether this process may use the terminal: a background job that reads from it or changes its mode is
// stopped by the system (SIGTTIN, SIGTTOU). A terminal that is not the process's controlling terminal has
// no job control to fear.
bool InForeground() {
  const pid_t group = tcgetpgrp(STDIN_FILENO);
  if (group < 0) return errno == ENOTTY;
  return group == getpgrp();
}

// Switches a terminal, which the caller found this process in the foreground of, to raw, unechoed input for
// as long as it lives.
class RawTerminal {
 public:
  explicit RawTerminal(bool terminal) {
    if (!terminal || leaveModeAlone) return;
    if (tcgetattr(STDIN_FILENO, &savedMode) != 0) return;
    rawMode = savedMode;
    rawMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    rawMode.c_cc[VMIN] = 1;
    rawMode.c_cc[VTIME] = 0;
    // Marked first: a signal that arrives during the switch still finds the settings to restore.
    rawActive = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &rawMode) != 0) rawActive = 0;
  }
  ~RawTerminal() {
    if (rawActive == 0) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    rawActive = 0;
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
};

// SIGINT, SIGTERM, SIGHUP, SIGQUIT: the terminal gets its settings back, then the signal does what it would
// have done (the handler was reset on entry and the signal is not blocked within it).
// While a run with captures defers them, SIGINT, SIGTERM and SIGHUP only note themselves: the run ends its
// children and writes what they printed first.
void RestoreAndDie(int signal) {
  if (signal != SIGQUIT && posix::SignalsDeferred()) {
    posix::DeferredSignal(signal);
    posix::CatchSignal(signal, RestoreAndDie, SA_RESETHAND | SA_NODEFER);
    return;
  }
  if (rawActive != 0) tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  raise(signal);
}

void StopHandler(int signal);

void InstallHandler(int signal, void (*handler)(int), int flags) {
  struct sigaction old {};
  if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  posix::CatchSignal(signal, handler, flags);
}

// SIGTSTP (Ctrl-Z at a prompt): the terminal gets its settings back while the process is stopped, and its raw
// mode again when the process continues in the foreground. No SA_RESTART, so a read that waits for a key
// returns and looks again whether the process is still in the foreground.
void StopHandler(int signal) {
  const int savedErrno = errno;
  if (rawActive != 0) tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  std::signal(signal, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, signal);
  raise(signal);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  // Continued.
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  InstallHandler(signal, StopHandler, 0);
  if (rawActive != 0 && InForeground()) tcsetattr(STDIN_FILENO, TCSANOW, &rawMode);
  errno = savedErrno;
}

// Reads one byte; -1 at the end of input or on an error, and -1 (without ending the input) when the process
// was sent to the background while it waited.
int ReadByte() {
  unsigned char c = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) {
      if (IsTerminal() && !InForeground()) return -1;
      continue;
    }
    endOfInput = true;
    return -1;
  }
}

}  // namespace

void posix::InstallTerminalGuards() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    InstallHandler(signal, RestoreAndDie, SA_RESETHAND | SA_NODEFER);
  InstallHandler(SIGTSTP, StopHandler, 0);
}

void posix::RestoreTerminal() {
  if (rawActive != 0) tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  rawActive = 0;
}

void LeaveTerminalModeAlone() {
  leaveModeAlone = true;
}

// Text is written as it is.
void MakeWrittenText(std::string&) {}

void FlushOutput() {
  std::fflush(stdout);
}

namespace {

thread_local bool holdsOutput = false;  // this thread has locked stdout (OutputHold)

}  // namespace

OutputHold::OutputHold() {
  flockfile(stdout);
  holdsOutput = true;
}

OutputHold::~OutputHold() {
  holdsOutput = false;
  funlockfile(stdout);
}

void WriteOut(std::string_view text) {
#ifdef __GLIBC__
  if (holdsOutput) {
    fwrite_unlocked(text.data(), 1, text.size(), stdout);
    return;
  }
#endif
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void WriteErr(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int ErrorTerminalWidth() {
  if (!isatty(STDERR_FILENO)) return 0;
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

bool OutputFailed() {
#ifdef __GLIBC__
  if (holdsOutput) return ferror_unlocked(stdout) != 0;
#endif
  return std::ferror(stdout) != 0;
}

bool KeysFromTerminal() {
  return IsTerminal();
}

namespace keys {

int TakeWaitingKey() {
  if (endOfInput) return -1;
  // In the background there is no key waiting: reading would stop the process.
  const bool terminal = IsTerminal();
  if (terminal && !InForeground()) return -1;
  RawTerminal raw(terminal);
  struct pollfd p {};
  p.fd = STDIN_FILENO;
  p.events = POLLIN;
  int r = 0;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return -1;
  if ((p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) return -1;
  if (p.revents & POLLNVAL) {
    endOfInput = true;
    return -1;
  }
  return ReadByte();
}

int WaitForKey() {
  if (endOfInput) return -1;
  // In the background a wait ends at once, as at the end of input; later, in the foreground, keys count
  // again.
  const bool terminal = IsTerminal();
  if (terminal && !InForeground()) return -1;
  RawTerminal raw(terminal);
  return ReadByte();
}

}  // namespace keys
}  // namespace zelvane::platform
