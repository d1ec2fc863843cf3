// The platform's own start-up: standard descriptors held, signal dispositions set, the terminal guarded;
// and the command line, which POSIX hands over only as an argument vector.
#include <fcntl.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/paths.h"
#include "platform/posix/posix_util.h"
#include "platform/startup.h"

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
  // Past the file-size limit (ulimit -f) a write fails with an error too, which is reported, instead of
  // killing the process in the middle of a run.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGCHLD, SIG_DFL);
  posix::InstallTerminalGuards();
  // A file or a pipe takes the output in large writes; a terminal keeps its line buffering. Every child
  // start, key read and message on standard error flushes first, so the order of lines is the same. The
  // buffer is given: without one the C library takes the file's block size (4 KiB for a pipe), whatever
  // size is asked for.
  static char outputBuffer[1 << 16];
  if (isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
#ifdef __GLIBC__
  // A run makes a string for every match and lets most go only at its end, or a whole -Gather group at a
  // time. Memory freed on the way is kept for what comes next instead of going back to the system at once
  // (above 128 KiB by default), since taking it back costs a page fault for every page, which on a virtual
  // machine took a fifth of a run's time. It is only address space until it is used.
  mallopt(M_TOP_PAD, 16 << 20);
#endif
  std::string dir;
  return GetCurrentDir(dir);
}

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

}  // namespace zelvane::platform
