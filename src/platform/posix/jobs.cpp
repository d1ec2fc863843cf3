// Children started side by side: captures in unlinked temporary files, a starting directory held open by
// descriptor, the child's own environment, and a wait for whichever child ends first.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_util.h"

extern char** environ;

namespace zelvane::platform {

struct Capture {
  int fd;
};

struct StartDir {
  int fd;            // O_PATH: enough to start a child in, without read permission on the directory
  std::string path;  // as given
};

struct Child {
  pid_t pid;
  int slot;  // the processor it was started on (its index among the allowed ones), or -1
};

namespace {

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

// The environment a child gets: the process's own, with `overrides` replacing or adding variables.
std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* entry = *e;
    const char* equals = std::strchr(entry, '=');
    const std::size_t nameLength =
        equals != nullptr ? static_cast<std::size_t>(equals - entry) : std::strlen(entry);
    bool replaced = false;
    for (const auto& [name, value] : overrides) {
      if (name.size() == nameLength && name.compare(0, nameLength, entry, nameLength) == 0) {
        replaced = true;
        break;
      }
    }
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [name, value] : overrides) {
    std::string& entry = env.emplace_back(name);
    entry += '=';
    entry += value;
  }
  return env;
}

// Where the next child starts. A child started with posix_spawn begins on the processor of its parent, and
// the kernel's choice at exec and its balancing keep it there as long as the other processors are busy
// (with anything, this machine's other work included): children of one parent would then take turns on one
// processor. So when every processor has other work, each child is started pinned to the allowed processor
// with the fewest of this run's children (the parent's own when that is one of them, which spares moving
// the parent), and let free once it has started. While a processor is free of other work the kernel's own
// choice is better: pinning then costs system calls, and with one other busy process it sends the parent
// and half the children to queue behind it (measured: 11 s against 7.3 s for 5,000 children).
class ProcessorRota {
 public:
  ProcessorRota() {
    CPU_ZERO(&allowed_);
    if (sched_getaffinity(0, sizeof allowed_, &allowed_) != 0) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &allowed_)) cpus_.push_back(cpu);
    }
    running_.assign(cpus_.size(), 0);
  }
  ~ProcessorRota() {
    if (loadAverage_ >= 0) close(loadAverage_);
  }
  ProcessorRota(const ProcessorRota&) = delete;
  ProcessorRota& operator=(const ProcessorRota&) = delete;

  // Pins this process to the processor for the next child and returns its slot; -1 when the child is left
  // to the kernel.
  int PinNext(cpu_set_t& one) {
    if (cpus_.size() < 2 || !EveryProcessorBusy()) return -1;
    const int current = sched_getcpu();
    std::size_t best = 0;
    for (std::size_t i = 1; i < cpus_.size(); ++i) {
      if (running_[i] < running_[best] || (running_[i] == running_[best] && cpus_[i] == current)) best = i;
    }
    CPU_ZERO(&one);
    CPU_SET(cpus_[best], &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) return -1;
    return static_cast<int>(best);
  }

  // Lets this process and the child `pid` run anywhere again. The child keeps a choice of its own: a
  // program such as taskset may already have pinned itself elsewhere.
  void Release(int slot, pid_t pid, const cpu_set_t& one) {
    sched_setaffinity(0, sizeof allowed_, &allowed_);
    if (pid <= 0) return;
    ++running_[static_cast<std::size_t>(slot)];
    cpu_set_t now;
    CPU_ZERO(&now);
    if (sched_getaffinity(pid, sizeof now, &now) == 0 && CPU_EQUAL(&now, &one))
      sched_setaffinity(pid, sizeof allowed_, &allowed_);
  }

  void Started() { ++children_; }

  void Ended(int slot) {
    if (children_ > 0) --children_;
    if (slot >= 0 && running_[static_cast<std::size_t>(slot)] > 0) --running_[static_cast<std::size_t>(slot)];
  }

 private:
  // Whether the machine's runnable tasks, less this process and every child of the run not yet reaped,
  // are at least one per allowed processor. An estimate: the count is the whole machine's (work on
  // processors this process may not use counts too), and a child that sleeps is taken away all the same,
  // so children that wait on a disk can hide other work and leave the kernel to place the next ones.
  // Looked at every few milliseconds, not for every child. When the count cannot be read the answer is
  // yes: pinning is what keeps a busy machine from starving the run.
  bool EveryProcessorBusy() {
    const auto now = std::chrono::steady_clock::now();
    // The first look is always taken: the clock is far past its epoch, where lastLook_ starts.
    if (now - lastLook_ < std::chrono::milliseconds(20)) return busy_;
    lastLook_ = now;
    if (loadAverage_ < 0) loadAverage_ = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    char text[256];
    const ssize_t n = loadAverage_ >= 0 ? pread(loadAverage_, text, sizeof text, 0) : -1;
    const int runnable =
        n > 0 ? posix::RunnableTasks(std::string_view(text, static_cast<std::size_t>(n))) : -1;
    busy_ = runnable < 0 || runnable - 1 - children_ >= static_cast<int>(cpus_.size());
    return busy_;
  }

  cpu_set_t allowed_;
  std::vector<int> cpus_;
  std::vector<int> running_;  // this run's pinned children started on each processor and not yet ended
  int children_ = 0;          // this run's children started and not yet ended
  int loadAverage_ = -1;
  bool busy_ = true;
  std::chrono::steady_clock::time_point lastLook_;
};

ProcessorRota& Rota() {
  static ProcessorRota rota;
  return rota;
}

}  // namespace

int posix::RunnableTasks(std::string_view text) {
  // The fourth field: runnable tasks, a slash, all tasks.
  std::size_t pos = 0;
  for (int field = 0; field < 3; ++field) {
    pos = text.find(' ', pos);
    if (pos == std::string_view::npos) return -1;
    ++pos;
  }
  int runnable = 0;
  std::size_t digits = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 9; ++pos, ++digits)
    runnable = runnable * 10 + (text[pos] - '0');
  if (digits == 0 || pos >= text.size() || text[pos] != '/') return -1;
  return runnable;
}

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

CaptureHandle CreateCapture() {
  std::string dir = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') dir = tmp;
  // Never linked into the directory where the file system allows it; otherwise unlinked at once.
  int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = dir + "/zelvane-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return kNoCapture;
    unlink(name.c_str());
  }
  return new Capture{fd};
}

void WriteToCapture(CaptureHandle capture, std::string_view text) {
  // A full disk loses the text, as it would lose the child's; the run goes on.
  if (capture != kNoCapture) WriteAll(capture->fd, text.data(), text.size());
}

bool CopyCaptureToOutput(CaptureHandle capture, bool toError) {
  if (capture == kNoCapture) return true;
  // Children and this process wrote through the same offset, so it stands at the end.
  const off_t size = lseek(capture->fd, 0, SEEK_CUR);
  if (size <= 0) return true;
  FlushOutput();
  const int out = toError ? STDERR_FILENO : STDOUT_FILENO;
  if (lseek(capture->fd, 0, SEEK_SET) != 0) return false;
  off_t left = size;
  // The kernel copies page by page without a trip through this process; a descriptor it cannot copy to
  // (opened for appending, say) takes the plain loop.
  while (left > 0) {
    const ssize_t n =
        sendfile(out, capture->fd, nullptr, static_cast<std::size_t>(std::min<off_t>(left, 1 << 30)));
    if (n > 0) {
      left -= n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitWritable(out);
      continue;
    }
    if (n < 0 && (errno == EINVAL || errno == ENOSYS)) break;
    return n == 0 && left == 0;
  }
  static std::vector<char> buffer(1 << 20);
  while (left > 0) {
    const ssize_t n = read(capture->fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return false;
    left -= n;
  }
  return true;
}

bool ResetCapture(CaptureHandle capture) {
  if (capture == kNoCapture) return false;
  if (lseek(capture->fd, 0, SEEK_CUR) == 0) return true;
  return ftruncate(capture->fd, 0) == 0 && lseek(capture->fd, 0, SEEK_SET) == 0;
}

void CloseCapture(CaptureHandle capture) {
  if (capture == kNoCapture) return;
  close(capture->fd);
  delete capture;
}

StartDirHandle OpenStartDirectory(const std::string& path) {
  const std::string osPath = posix::ToOsPath(path);
  int fd = -1;
  if (!osPath.empty()) {
    fd = open(osPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 && faccessat(AT_FDCWD, osPath.c_str(), X_OK, AT_EACCESS) != 0) {
      close(fd);
      fd = -1;
    } else if (fd < 0 && errno == ENAMETOOLONG) {
      // Past the system's length: opened in pieces, each of which the kernel only passes through where it
      // may search every directory on the way; the last one is checked as above.
      std::string last;
      const int parent = posix::OpenParentInPieces(osPath, last);
      if (parent >= 0) {
        fd = openat(parent, last.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0 && faccessat(parent, last.c_str(), X_OK, AT_EACCESS) != 0) {
          close(fd);
          fd = -1;
        }
        close(parent);
      }
    }
  }
  if (fd < 0) return kNoStartDirectory;
  return new StartDir{fd, path};
}

std::string StartDirectoryPath(StartDirHandle dir) {
  if (dir == kNoStartDirectory) return std::string();
  // The name the kernel holds for the open directory: what the current directory reads inside it.
  std::vector<char> buffer(4096);
  const std::string link = "/proc/self/fd/" + std::to_string(dir->fd);
  for (;;) {
    const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
    if (n < 0) {
      // A path longer than the kernel names (past a page): the path as given, in the form the current
      // directory has, without a separator at its end.
      std::string path = dir->path;
      while (path.size() > 1 && path.back() == '/')
        path.pop_back();
      return path;
    }
    if (static_cast<std::size_t>(n) < buffer.size())
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::FILE* CreateTextFileIn(StartDirHandle dir, const std::string& name) {
  const std::string osName = posix::ToOsPath(name);
  if (dir == kNoStartDirectory || osName.empty() || osName[0] == '/') return CreateTextFile(name);
  const int fd = openat(dir->fd, osName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "w+");
  if (file == nullptr) close(fd);
  return file;
}

void CloseStartDirectory(StartDirHandle dir) {
  if (dir == kNoStartDirectory) return;
  close(dir->fd);
  delete dir;
}

ChildHandle StartChild(const ChildStart& start) {
  const std::vector<std::string> args =
      start.shell.empty() ? start.args : posix::ShellArguments(start.shell, start.commandText);
  if (args.empty()) return kNoChild;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envText = ChildEnvironment(start.environment);
  std::vector<char*> envp;
  envp.reserve(envText.size() + 1);
  for (std::string& e : envText)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (start.output != kNoCapture) posix_spawn_file_actions_adddup2(&actions, start.output->fd, STDOUT_FILENO);
  if (start.error != kNoCapture) posix_spawn_file_actions_adddup2(&actions, start.error->fd, STDERR_FILENO);
  if (start.directory != kNoStartDirectory)
    posix_spawn_file_actions_addfchdir_np(&actions, start.directory->fd);
  // A child gets the default action for a broken pipe, whatever this process does with it.
  posix_spawnattr_t attributes;
  posix::InitChildAttributes(attributes);

  cpu_set_t pinned;
  const int slot = Rota().PinNext(pinned);
  pid_t pid = 0;
  const std::string program = posix::ToOsPath(args[0]);
  const int failed = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  if (slot >= 0) Rota().Release(slot, failed == 0 ? pid : 0, pinned);
  if (failed == 0) Rota().Started();
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return kNoChild;
  return new Child{pid, slot};
}

int WaitForAnyChild(const std::vector<ChildHandle>& running, int& exitCode) {
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    for (std::size_t i = 0; i < running.size(); ++i) {
      if (running[i]->pid != pid) continue;
      exitCode = posix::ExitCodeOf(status);
      // The child may have renamed the directory this process stands in.
      posix::ForgetCurrentDir();
      Rota().Ended(running[i]->slot);
      delete running[i];
      return static_cast<int>(i);
    }
  }
}

int MaxRunningChildren() {
  return 1 << 16;
}

}  // namespace zelvane::platform
