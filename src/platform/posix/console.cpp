// Keys come from standard input. On a terminal they are read raw, one at a time, without echo; from a pipe
// or a file its bytes are the keys. At the end of input there is no key.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/key_source.h"

namespace zelvane::platform::keys {
namespace {

bool endOfInput = false;

// Switches a terminal to raw, unechoed input for as long as it lives.
class RawTerminal {
 public:
  RawTerminal() {
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0) {
      struct termios raw = saved_;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
  }
  ~RawTerminal() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

 private:
  struct termios saved_ {};
  bool active_ = false;
};

// Reads one byte; -1 at the end of input or on an error.
int ReadByte() {
  unsigned char c = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    endOfInput = true;
    return -1;
  }
}

}  // namespace

int TakeWaitingKey() {
  if (endOfInput) return -1;
  RawTerminal raw;
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
  RawTerminal raw;
  return ReadByte();
}

}  // namespace zelvane::platform::keys
