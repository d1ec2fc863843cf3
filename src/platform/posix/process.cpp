// Children: started with vfork and exec (their words or shell line, their own environment, a starting
// directory held open by descriptor, and either the console or a capture), and one wait for whichever ends.
// A capture is a pipe drained by that wait; a child's end is seen through SIGCHLD, whose handler writes a
// byte into a pipe the wait polls beside the captures.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/child_text.h"
#include "platform/console.h"
#include "platform/posix/posix_util.h"
#include "platform/processes.h"

extern char** environ;

namespace zelvane::platform {

namespace {

// What a capture holds in memory before the rest goes to a temporary file: a run of 64 files keeps at most
// a few megabytes, whatever its commands print.
constexpr std::size_t kCaptureMemory = std::size_t{128} * 1024;

thread_local bool lastWasShortage = false;
thread_local bool lastWasTooLong = false;

bool IsShortage(int error) {
  return error == EMFILE || error == ENFILE || error == EAGAIN || error == ENOMEM;
}

// Records whether a failure was for want of a resource; returns the failure value given.
template <typename T>
T Failed(T value, int error) {
  lastWasShortage = IsShortage(error);
  lastWasTooLong = error == E2BIG;
  return value;
}

// The pipe that wakes WaitForAny: SIGCHLD and a deferred ending signal write into it.
int wakeRead = -1;
volatile std::sig_atomic_t wakeWrite = -1;
volatile std::sig_atomic_t deferSignals = 0;
volatile std::sig_atomic_t pendingSignal = 0;

void Wake() {
  const int savedErrno = errno;
  const char byte = 0;
  // A full pipe already holds a wake-up.
  if (wakeWrite >= 0 && write(wakeWrite, &byte, 1) < 0) errno = savedErrno;
  errno = savedErrno;
}

void ChildEnded(int) {
  Wake();
}

// The signals CatchSignal installed a handler for.
sigset_t caught = [] {
  sigset_t none;
  sigemptyset(&none);
  return none;
}();

bool MakePipe(int fds[2]) {
  if (pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i)
    fcntl(fds[i], F_SETFD, FD_CLOEXEC);
  return true;
}

void EnsureWakePipe() {
  if (wakeRead >= 0) return;
  int fds[2];
  if (!MakePipe(fds)) return;
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  wakeRead = fds[0];
  wakeWrite = fds[1];
  posix::CatchSignal(SIGCHLD, ChildEnded, SA_RESTART | SA_NOCLDSTOP);
}

// Whether an ending signal was deferred and not yet reported; reporting it ends the deferral, so a second
// signal ends the process at once.
bool TakeDeferredSignal() {
  if (pendingSignal == 0 || deferSignals == 0) return false;
  deferSignals = 0;
  return true;
}

// Waits until a non-blocking descriptor that was full can take more.
void WaitWritable(int fd) {
  struct pollfd p {};
  p.fd = fd;
  p.events = POLLOUT;
  poll(&p, 1, -1);
}

// Writes all of `size` bytes, waiting while a non-blocking descriptor is full. False on an error.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitWritable(fd);
      continue;
    }
    return false;
  }
  return true;
}

std::string TemporaryDirectory() {
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') return tmp;
  return "/tmp";
}

// An unlinked temporary file, or -1 with errno set.
int CreateSpill(const std::string& dir) {
#ifdef O_TMPFILE
  // Never linked into the directory where the file system allows it; otherwise unlinked at once.
  const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  std::string name = dir + "/zelvane-XXXXXX";
  const int made = mkostemp(name.data(), O_CLOEXEC);
  if (made >= 0) unlink(name.c_str());
  return made;
}

}  // namespace

// One stream of a capture: the reading end of its pipe, and what came through it.
struct CaptureStream {
  int read = -1;   // -1 once its writers have all let go
  int write = -1;  // this process's writing end, handed to each child; -1 once input is closed
  std::string memory;
  int spill = -1;       // the temporary file beyond kCaptureMemory
  std::string failure;  // why what came through could not be kept
  bool failureSaid = false;
  // Once the capture's block is the oldest and has gone out as far as it came, what comes after goes
  // straight to this descriptor (standard output or error), as it would with one command at a time.
  int direct = -1;
  bool directFailed = false;

  // Keeps `size` bytes: in memory while there is room, then in the temporary file; or writes them out.
  void Keep(const char* data, std::size_t size) {
    if (direct >= 0) {
      if (!directFailed && !WriteAll(direct, data, size)) directFailed = true;
      return;
    }
    if (!failure.empty()) return;
    if (spill < 0 && memory.size() + size <= kCaptureMemory) {
      memory.append(data, size);
      return;
    }
    if (spill < 0) {
      const std::string dir = TemporaryDirectory();
      spill = CreateSpill(dir);
      if (spill < 0 || !WriteAll(spill, memory.data(), memory.size())) {
        failure = "Could not write \"" + dir + "\": " + std::strerror(errno) + ".\n";
        return;
      }
      std::string().swap(memory);
    }
    if (!WriteAll(spill, data, size))
      failure = "Could not write \"" + TemporaryDirectory() + "\": " + std::strerror(errno) + ".\n";
  }

  // Reads what the pipe holds now, without waiting; false once every writer has let go.
  bool Drain() {
    if (read < 0) return false;
    static thread_local std::vector<char> buffer(1 << 16);
    for (;;) {
      const ssize_t n = ::read(read, buffer.data(), buffer.size());
      if (n > 0) {
        Keep(buffer.data(), static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      close(read);
      read = -1;
      return false;
    }
  }

  // Writes what is held to `out` and lets go of it, so the next call writes only what came after.
  bool CopyTo(int out) {
    Drain();
    if (spill < 0) {
      const bool written = WriteAll(out, memory.data(), memory.size());
      memory.clear();
      return written;
    }
    if (lseek(spill, 0, SEEK_SET) != 0) return false;
    static std::vector<char> buffer(1 << 20);
    for (;;) {
      const ssize_t n = ::read(spill, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return false;
    }
    return ftruncate(spill, 0) == 0 && lseek(spill, 0, SEEK_SET) == 0;
  }

  void Close() {
    for (int* fd : {&read, &write, &spill}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }
};

struct Capture {
  CaptureStream output;
  CaptureStream error;  // unused when the two streams are one
  bool oneStream = true;
  CaptureStream& ErrorStream() { return oneStream ? output : error; }
};

struct StartDir {
  int fd;            // O_PATH where there is one: enough to start a child in, without read permission
  std::string path;  // as given
};

struct Child {
  pid_t pid;
  Capture* capture;  // drained of everything the child wrote before its end is reported
  bool ownGroup;     // leads a process group of its own
};

int ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool OutputAndErrorAreOneFile() {
  struct stat out {};
  struct stat err {};
  if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0) return false;
  return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

bool WasShortage() {
  return lastWasShortage;
}

bool WasTooLong() {
  return lastWasTooLong;
}

std::size_t CommandLineRoom(bool shellLine) {
  // The kernel takes the arguments and the environment together, each string with its NUL and pointer.
  long most = sysconf(_SC_ARG_MAX);
  if (most <= 0) most = 128L * 1024;
  std::size_t used = 0;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    used += std::strlen(*e) + 1 + sizeof(char*);
  // Room for the pseudo variables a child gets, the shell's own words and the end of the vectors.
  constexpr std::size_t kMargin = std::size_t{8} * 1024;
  const auto room = static_cast<std::size_t>(most);
  std::size_t left = room > used + kMargin ? room - used - kMargin : 0;
#ifdef __linux__
  // Linux takes no single string longer than 32 pages with its NUL, and the line for the shell is one.
  if (shellLine) {
    const long page = sysconf(_SC_PAGESIZE);
    left = std::min(left, static_cast<std::size_t>(page > 0 ? page : 4096) * 32);
  }
#else
  (void)shellLine;
#endif
  return left;
}

std::size_t WordCost(std::string_view word, bool shellLine) {
  // In a shell line a word is its bytes and the blank after it; as an argument, its bytes, NUL and pointer.
  return shellLine ? word.size() + 1 : word.size() + 1 + sizeof(char*);
}

CaptureHandle CreateCapture(bool oneStream) {
  auto* capture = new Capture;
  capture->oneStream = oneStream;
  for (CaptureStream* stream : {&capture->output, &capture->error}) {
    if (oneStream && stream == &capture->error) break;
    int fds[2];
    if (!MakePipe(fds)) {
      const int error = errno;
      capture->output.Close();
      delete capture;
      return Failed(kNoCapture, error);
    }
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    stream->read = fds[0];
    stream->write = fds[1];
  }
  return capture;
}

void WriteToCapture(CaptureHandle capture, std::string_view text, bool toError) {
  if (capture == kNoCapture) return;
  CaptureStream& stream = toError ? capture->ErrorStream() : capture->output;
  // What the file's children wrote so far stands before it.
  stream.Drain();
  stream.Keep(text.data(), text.size());
}

void CloseCaptureInput(CaptureHandle capture) {
  if (capture == kNoCapture) return;
  for (CaptureStream* stream : {&capture->output, &capture->error}) {
    if (stream->write >= 0) close(stream->write);
    stream->write = -1;
    // Usually the children have all ended: the end is there to read now, and the block can go out before
    // anything else starts.
    stream->Drain();
  }
}

bool CaptureEnded(CaptureHandle capture) {
  return capture == kNoCapture || (capture->output.read < 0 && capture->error.read < 0);
}

bool CopyCaptureToOutput(CaptureHandle capture, std::string& message, bool stream) {
  message.clear();
  if (capture == kNoCapture) return true;
  FlushOutput();
  bool written = capture->output.CopyTo(STDOUT_FILENO);
  if (!capture->oneStream) written = capture->error.CopyTo(STDERR_FILENO) && written;
  // From now on the block goes out as it comes.
  if (stream) {
    capture->output.direct = STDOUT_FILENO;
    if (!capture->oneStream) capture->error.direct = STDERR_FILENO;
  }
  written = written && !capture->output.directFailed && !capture->error.directFailed;
  // Said once: what could not be kept stays lost, and later output of the file is not kept either.
  for (CaptureStream* stream : {&capture->output, &capture->error}) {
    if (stream->failure.empty() || stream->failureSaid) continue;
    if (message.empty()) message = stream->failure;
    stream->failureSaid = true;
  }
  return written;
}

void CloseCapture(CaptureHandle capture) {
  if (capture == kNoCapture) return;
  capture->output.Close();
  capture->error.Close();
  delete capture;
}

// A POSIX shell takes any directory its children can start in.
StartDirHandle OpenStartDirectory(const std::string& path, bool /*forShell*/) {
  const std::string osPath = posix::ToOsPath(path);
#ifdef O_PATH
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  int fd = -1;
  if (!osPath.empty()) {
    fd = open(osPath.c_str(), kFlags);
    if (fd >= 0 && faccessat(AT_FDCWD, osPath.c_str(), X_OK, AT_EACCESS) != 0) {
      close(fd);
      return Failed(kNoStartDirectory, EACCES);
    }
    if (fd < 0 && errno == ENAMETOOLONG) {
      // Past the system's length: opened in pieces, each of which the kernel only passes through where it
      // may search every directory on the way; the last one is checked as above.
      std::string last;
      const int parent = posix::OpenParentInPieces(osPath, last);
      if (parent < 0) return Failed(kNoStartDirectory, errno);
      fd = openat(parent, last.c_str(), kFlags);
      const int error = errno;
      if (fd >= 0 && faccessat(parent, last.c_str(), X_OK, AT_EACCESS) != 0) {
        close(fd);
        fd = -1;
      }
      close(parent);
      if (fd < 0) return Failed(kNoStartDirectory, error);
    }
  }
  if (fd < 0) return Failed(kNoStartDirectory, errno);
  return new StartDir{fd, path};
}

std::string StartDirectoryPath(StartDirHandle dir) {
  if (dir == kNoStartDirectory) return std::string();
  std::string path;
  if (posix::NameOfOpenDirectory(dir->fd, path)) return path;
  // No such name (a path longer than the kernel names, or no /proc): the path as given, in the form the
  // current directory has, without a separator at its end.
  path = dir->path;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

std::FILE* CreateTextFileIn(StartDirHandle dir, const std::string& name) {
  const std::string osName = posix::ToOsPath(name);
  const int base = dir == kNoStartDirectory || (!osName.empty() && osName[0] == '/') ? AT_FDCWD : dir->fd;
  // Close-on-exec, so the commands started while it is open do not inherit it.
  const int fd = openat(base, osName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Failed(static_cast<std::FILE*>(nullptr), errno);
  std::FILE* file = fdopen(fd, "w+");
  if (file == nullptr) close(fd);
  return file;
}

DirIdentity StartDirectoryIdentity(StartDirHandle dir) {
  return dir == kNoStartDirectory ? DirIdentity{} : posix::IdentityOfDescriptor(dir->fd);
}

void CloseStartDirectory(StartDirHandle dir) {
  if (dir == kNoStartDirectory) return;
  close(dir->fd);
  delete dir;
}

int posix::ExitCodeOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

namespace {

// Everything a child is started with, worked out before the fork: until its exec the child makes system
// calls only, on what this holds.
struct ExecPlan {
  std::vector<std::string> programs;  // the paths to try in turn: the name as given, or along PATH
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  int input = -1;  // descriptors to become the child's standard input, output and error; -1: inherited
  int output = -1;
  int error = -1;
  int directory = -1;  // where it starts; -1: here
  bool newGroup = false;
  sigset_t mask;    // this process's signal mask, the child's once its handlers are reset
  int report = -1;  // where a child that shares no memory with this process writes why it could not start
};

// The null device for the standard input of children that get no keys: opened once.
int NullInput() {
  static const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  return fd;
}

// The paths execvp would try for `name`: itself when it holds a '/', otherwise each PATH directory in turn
// (an empty one is the directory the child starts in), as the child will see them after its change of
// directory.
std::vector<std::string> ProgramPaths(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return {name};
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/bin:/usr/bin";
  std::vector<std::string> programs;
  for (;;) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    std::string& program = programs.emplace_back(dir);
    if (!dir.empty() && dir.back() != '/') program += '/';
    program += name;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return programs;
}

// Makes `from` the child's descriptor `to`; a descriptor that is already there loses its close-on-exec.
bool Redirect(int from, int to) {
  if (from < 0) return true;
  if (from == to) return fcntl(to, F_SETFD, 0) == 0;
  return dup2(from, to) == to;
}

// The child, between its fork and its exec: system calls only, and nothing of the memory it shares with
// this process is changed but `failure`.
[[noreturn]] __attribute__((noinline)) void ExecChild(const ExecPlan& plan, volatile int* failure) {
  // A handler run here would act on this process's memory.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (posix::IsCaught(signal)) sigaction(signal, &byDefault, nullptr);
  }
  // Ignored here, to report a failed write instead of dying; a program expects their default. Other
  // signals ignored by whoever started this process (SIGHUP under nohup) stay ignored for the child too.
  sigaction(SIGPIPE, &byDefault, nullptr);
  sigaction(SIGXFSZ, &byDefault, nullptr);
  int error = 0;
  if (!Redirect(plan.input, STDIN_FILENO) || !Redirect(plan.output, STDOUT_FILENO) ||
      !Redirect(plan.error, STDERR_FILENO) || (plan.newGroup && setpgid(0, 0) != 0) ||
      (plan.directory >= 0 && fchdir(plan.directory) != 0)) {
    error = errno;
  } else {
    sigprocmask(SIG_SETMASK, &plan.mask, nullptr);
    // As execvp: a directory along PATH that cannot have it is passed over; EACCES is remembered.
    error = ENOENT;
    for (const std::string& program : plan.programs) {
      execve(program.c_str(), plan.argv, plan.envp);
      const bool passedOver = errno == EACCES || errno == ENOENT || errno == ESTALE || errno == ENOTDIR ||
                              errno == ENODEV || errno == ETIMEDOUT;
      // A directory's EACCES stands over the errors of the directories after it.
      if (!passedOver || error != EACCES) error = errno;
      if (!passedOver) break;
    }
  }
  *failure = error;
  if (plan.report >= 0 && write(plan.report, &error, sizeof error) < 0) error = 0;
  _exit(127);
}

// Forks and execs the child: vfork where there is one, so this process waits only for the child's few
// system calls and copies nothing of itself. Returns its pid, or 0 with the reason it could not start.
pid_t ForkAndExec(ExecPlan& plan, int& error) {
  volatile int failure = 0;
#if !ZELVANE_HAVE_VFORK
  // A forked child shares no memory to leave its reason in: it writes it into a pipe that its exec closes.
  int report[2];
  if (!MakePipe(report)) {
    error = errno;
    return 0;
  }
  plan.report = report[1];
#endif
  sigset_t all;
  sigfillset(&all);
  // Blocked across the fork: no handler of this process runs in the child before it has reset them.
  pthread_sigmask(SIG_SETMASK, &all, nullptr);
#if ZELVANE_HAVE_VFORK
  const pid_t pid = vfork();
#else
  const pid_t pid = fork();
#endif
  if (pid == 0) ExecChild(plan, &failure);
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &plan.mask, nullptr);
  int reported = failure;
#if !ZELVANE_HAVE_VFORK
  close(report[1]);
  ssize_t n = 0;
  int value = 0;
  while (pid > 0 && (n = read(report[0], &value, sizeof value)) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof value)) reported = value;
  close(report[0]);
#endif
  if (pid < 0) {
    error = forkError;
    return 0;
  }
  if (reported == 0) return pid;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  error = reported;
  return 0;
}

}  // namespace

ChildHandle StartChild(const ChildStart& start) {
  std::vector<std::string> shellArgs;
  if (!start.shell.empty()) shellArgs = ShellArguments(start.shell, start.commandText, /*posixShells=*/true);
  const std::span<const std::string> args = start.shell.empty() ? start.args : shellArgs;
  if (args.empty()) return Failed(kNoChild, ENOENT);
  EnsureWakePipe();
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> base;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    base.emplace_back(*e);
  std::vector<std::string> envText = MergeEnvironment(base, start.environment, /*ignoreCase=*/false);
  std::vector<char*> envp;
  envp.reserve(envText.size() + 1);
  for (std::string& e : envText)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  ExecPlan plan;
  // A name without '/' is looked up along PATH, as execvp does; with a starting directory, from there, as
  // it would be after a change of directory.
  plan.programs = ProgramPaths(posix::ToOsPath(args[0]));
  plan.argv = argv.data();
  plan.envp = envp.data();
  if (start.capture != kNoCapture) {
    plan.input = NullInput();
    if (plan.input < 0) return Failed(kNoChild, errno);
    plan.output = start.capture->output.write;
    plan.error = start.capture->ErrorStream().write;
    // A group of its own, so the run can end it with everything it started.
    plan.newGroup = true;
  } else {
    FlushOutput();
    // A group of its own away from the terminal would stop it at its first read of the keys.
    plan.newGroup = start.ownGroup && !isatty(STDIN_FILENO);
  }
  if (start.directory != kNoStartDirectory) plan.directory = start.directory->fd;
  pthread_sigmask(SIG_SETMASK, nullptr, &plan.mask);
  int error = 0;
  const pid_t pid = ForkAndExec(plan, error);
  if (pid == 0) return Failed(kNoChild, error);
  return new Child{pid, start.capture, plan.newGroup};
}

WaitResult WaitForAny(const std::vector<ChildHandle>& running, const std::vector<CaptureHandle>& reading,
                      int timeoutMs) {
  WaitResult result;
  if (running.empty() && reading.empty()) {
    // Asked only whether an ending signal came meanwhile.
    result.signal = TakeDeferredSignal();
    return result;
  }
  EnsureWakePipe();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<struct pollfd> fds;
  std::vector<CaptureStream*> streams;
  for (;;) {
    // The wake pipe is emptied before the children are asked, so an end that comes after the question
    // wakes the poll below.
    char bytes[256];
    while (read(wakeRead, bytes, sizeof bytes) > 0) {
    }
    if (TakeDeferredSignal()) {
      result.signal = true;
      return result;
    }
    for (std::size_t i = 0; i < running.size(); ++i) {
      int status = 0;
      if (waitpid(running[i]->pid, &status, WNOHANG) != running[i]->pid) continue;
      if (Capture* capture = running[i]->capture) {
        capture->output.Drain();
        capture->error.Drain();
      }
      // The child may have renamed the directory this process stands in.
      posix::ForgetCurrentDir();
      delete running[i];
      result.child = static_cast<int>(i);
      result.exitCode = posix::ExitCodeOf(status);
      return result;
    }
    fds.clear();
    streams.clear();
    fds.push_back({wakeRead, POLLIN, 0});
    bool ended = false;
    for (CaptureHandle capture : reading) {
      if (CaptureEnded(capture)) ended = true;
      for (CaptureStream* stream : {&capture->output, &capture->error}) {
        if (stream->read < 0) continue;
        fds.push_back({stream->read, POLLIN, 0});
        streams.push_back(stream);
      }
    }
    if (ended) return result;
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return result;
      wait = static_cast<int>(left.count());
    }
    if (poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) return result;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents != 0 && !streams[i - 1]->Drain()) ended = true;
    }
    if (ended) return result;
  }
}

void posix::CatchSignal(int signal, void (*handler)(int), int flags) {
  sigaddset(&caught, signal);
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal, &action, nullptr);
}

bool posix::IsCaught(int signal) {
  return sigismember(&caught, signal) == 1;
}

void posix::DeferredSignal(int signal) {
  pendingSignal = signal;
  Wake();
}

bool posix::SignalsDeferred() {
  return deferSignals != 0;
}

void DeferEndingSignals() {
  EnsureWakePipe();
  deferSignals = 1;
}

void EndChildren(const std::vector<ChildHandle>& running, bool force) {
  const int signal = force || pendingSignal == 0 ? SIGKILL : static_cast<int>(pendingSignal);
  for (ChildHandle child : running) {
    if (child->capture != nullptr) kill(-child->pid, signal);
  }
}

void EndChild(ChildHandle child, bool force) {
  const int signal = force ? SIGKILL : SIGTERM;
  if (child->ownGroup) {
    kill(-child->pid, signal);
  } else {
    kill(child->pid, signal);
  }
}

void EndBySignal() {
  posix::RestoreTerminal();
  const int signal = pendingSignal != 0 ? static_cast<int>(pendingSignal) : SIGTERM;
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  std::_Exit(128 + signal);
}

}  // namespace zelvane::platform
