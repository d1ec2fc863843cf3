#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/case_fold.h"
#include "platform/directories.h"
#include "platform/file_time.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/posix/posix_util.h"

namespace zelvane::platform {

struct Dir {
  int fd;
};
struct File {
  int fd;
  std::uint64_t size;  // taken at the open
};

namespace posix {

std::string ToOsPath(const std::string& path) {
  return path;
}

std::uint64_t TicksFromTimespec(const struct timespec& ts) {
  // A file system may hold any 64-bit count of seconds
  // (tmpfs, btrfs do), far more than a file time: such times are clamped, never wrapped.
  constexpr std::int64_t kOffset = kSecondsFrom1601To1970;
  constexpr std::int64_t kTicksPerSecond = kFileTimeTicksPerSecond;
  constexpr std::int64_t kLastSecond = static_cast<std::int64_t>(kLastFileTime / kTicksPerSecond) - kOffset;
  const std::int64_t seconds = ts.tv_sec;
  if (seconds < -kOffset) return 0;
  if (seconds > kLastSecond) return kLastFileTime;
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds + kOffset) * kTicksPerSecond +
                              static_cast<std::uint64_t>(ts.tv_nsec / 100);
  return ticks < kLastFileTime ? ticks : kLastFileTime;
}

int OpenParentInPieces(const std::string& path, std::string& last) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return -1;
  // A path that ends in '/' names the directory itself.
  last = slash + 1 < path.size() ? path.substr(slash + 1) : std::string(1, '.');
#ifdef O_PATH
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // passes directories it may only search
#else
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  std::size_t pos = path.find_first_not_of('/');
  int fd = open(pos == 0 ? "." : "/", kFlags);
  // Each piece ends at a '/' and is shorter than the longest path the system takes in one call.
  constexpr std::size_t kPiece = PATH_MAX - 1;
  while (fd >= 0 && pos < slash) {
    std::size_t end = slash;
    if (end - pos > kPiece) {
      end = path.rfind('/', pos + kPiece);
      if (end == std::string::npos || end <= pos) {
        close(fd);
        errno = ENAMETOOLONG;
        return -1;
      }
    }
    const int next = openat(fd, path.substr(pos, end - pos).c_str(), kFlags);
    close(fd);
    fd = next;
    pos = path.find_first_not_of('/', end);
    if (pos == std::string::npos) pos = slash;
  }
  return fd;
}

int OpenAnyLength(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  std::string last;
  const int parent = OpenParentInPieces(path, last);
  if (parent < 0) return -1;
  const int opened = openat(parent, last.c_str(), flags);
  const int saved = errno;
  close(parent);
  errno = saved;
  return opened;
}

std::uint32_t AttributesOf(const std::string& name, const struct stat& st) {
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    attributes |= attribute::kDirectory;
  } else if (S_ISREG(st.st_mode)) {
    attributes |= attribute::kArchive;
  } else {
    attributes |= attribute::kSystem;
  }
  if ((st.st_mode & S_IWUSR) == 0) attributes |= attribute::kReadOnly;
  if (!name.empty() && name[0] == '.') attributes |= attribute::kHidden;
  return attributes;
}

}  // namespace posix

namespace {

bool HasWildcards(const std::string& s) {
  return s.find_first_of("*?") != std::string::npos;
}

// Status of a name, following a symbolic link; a dangling link reports itself.
bool StatusOf(const std::string& path, struct stat& st) {
  if (stat(path.c_str(), &st) == 0) return true;
  return lstat(path.c_str(), &st) == 0;
}

// The same for a path of any length.
bool StatusOfAnyLength(const std::string& path, struct stat& st) {
  if (StatusOf(path, st)) return true;
  if (errno != ENAMETOOLONG) return false;
  std::string last;
  const int parent = posix::OpenParentInPieces(path, last);
  if (parent < 0) return false;
  const bool found = fstatat(parent, last.c_str(), &st, 0) == 0 ||
                     fstatat(parent, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  close(parent);
  return found;
}

void Fill(const std::string& name, const struct stat& st, FindData& out) {
  out.attributes = posix::AttributesOf(name, st);
  out.name = name;
  out.alternateName.clear();
  out.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  out.lastWriteTime = posix::TicksFromTimespec(st.st_mtim);
  out.lastAccessTime = posix::TicksFromTimespec(st.st_atim);
}

bool EqualFolded(const char* a, const std::string& b) {
  std::string x, y;
  AppendFolded(x, a);
  AppendFolded(y, b);
  return x == y;
}

}  // namespace

bool FindFirst(const std::string& pattern, FindData& out) {
  const std::string path = posix::ToOsPath(pattern);
  if (path.empty()) return false;
  const std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.empty()) return false;
  struct stat st {};
  if (!HasWildcards(last)) {
    if (StatusOf(path, st)) {
      Fill(last, st, out);
      return true;
    }
  }
  // A wildcard pattern, or a name whose letter case differs from the stored one.
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  bool found = false;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    const bool match = HasWildcards(last) ? MatchesPattern(last, e->d_name) : EqualFolded(e->d_name, last);
    if (!match) continue;
    const std::string full = (slash == std::string::npos ? std::string() : dir) + e->d_name;
    if (StatusOf(full, st)) {
      Fill(e->d_name, st, out);
      found = true;
      break;
    }
  }
  closedir(d);
  return found;
}

bool GetEntryData(const std::string& path, FindData& out) {
  const std::string os = posix::ToOsPath(path);
  const std::size_t slash = os.rfind('/');
  const std::string name = slash == std::string::npos ? os : os.substr(slash + 1);
  if (name.empty()) return false;
  struct stat st {};
  if (!StatusOfAnyLength(os, st)) return false;
  Fill(name, st, out);
  return true;
}

bool NameExists(const std::string& pattern) {
  FindData data;
  return FindFirst(pattern, data);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = posix::OpenAnyLength(posix::ToOsPath(path), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      close(fd);
      return got == 0;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

// Lines are taken as they are: file names are bytes here, whatever encoding they were written in.
void MakeUtf8Line(std::string&) {}

// A program is handed a name exactly as it is.
bool SystemRewritesName(std::string_view) {
  return false;
}

bool RemoveFile(const std::string& path) {
  const std::string os = posix::ToOsPath(path);
  struct stat st {};
  // Win32 deletes files only, and never by a wildcard pattern.
  if (HasWildcards(os)) return false;
  if (lstat(os.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(os.c_str()) == 0;
}

namespace {

// Adds one raw directory entry (its name and the type the listing gave) to `out`.
void AddEntry(int dfd, const char* n, unsigned char type, bool wantAttributes, std::vector<DirEntry>& out) {
  if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) return;
  DirEntry entry;
  entry.name = n;
  entry.isLink = type == DT_LNK;
  // The listing's type spares a status call per entry unless attributes are wanted or the type is
  // unknown or a link (which counts as what it points to).
  if (wantAttributes || type == DT_LNK || type == DT_UNKNOWN) {
    struct stat st {};
    if (fstatat(dfd, n, &st, 0) != 0 && fstatat(dfd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (type == DT_UNKNOWN) {
      struct stat lst {};
      if (fstatat(dfd, n, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode)) entry.isLink = true;
    }
    entry.isDirectory = S_ISDIR(st.st_mode);
    if (wantAttributes) entry.attributes = posix::AttributesOf(entry.name, st);
  } else {
    entry.isDirectory = type == DT_DIR;
  }
  out.push_back(std::move(entry));
}

}  // namespace

namespace {

thread_local int lastDirectoryError = 0;

DirHandle Opened(int fd) {
  if (fd >= 0) return new Dir{fd};
  lastDirectoryError = errno;
  return kNoDirectory;
}

}  // namespace

DirFailure LastDirectoryFailure() {
  switch (lastDirectoryError) {
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENOTDIR:
    case ELOOP:  // a link put where a directory was: never followed, as if it were gone
    case ENAMETOOLONG:
      return DirFailure::Refused;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
      return DirFailure::Shortage;
    default:
      return DirFailure::Failed;
  }
}

std::string LastDirectoryFailureText() {
  return std::strerror(lastDirectoryError);
}

DirHandle OpenCurrentDirectory() {
  return Opened(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

DirHandle OpenDirectory(const std::string& path) {
  if (path.empty()) {
    lastDirectoryError = ENOENT;
    return kNoDirectory;
  }
  return Opened(posix::OpenAnyLength(posix::ToOsPath(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

DirHandle OpenSubdirectory(DirHandle parent, const std::string& name) {
  if (parent == kNoDirectory) {
    lastDirectoryError = EBADF;
    return kNoDirectory;
  }
  return Opened(openat(parent->fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
}

DirIdentity posix::IdentityOfDescriptor(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), true};
}

DirIdentity IdentityOf(DirHandle dir) {
  return dir == kNoDirectory ? DirIdentity{} : posix::IdentityOfDescriptor(dir->fd);
}

void CloseDirectory(DirHandle dir) {
  if (dir == kNoDirectory) return;
  close(dir->fd);
  delete dir;
}

bool ListDirectory(DirHandle dir, std::vector<DirEntry>& out, bool wantAttributes) {
  out.clear();
  if (dir == kNoDirectory) {
    lastDirectoryError = EBADF;
    return false;
  }
  const int dfd = dir->fd;
#ifdef __linux__
  // Read straight into one large buffer: no stream to set up, no status call per directory. One for each
  // thread that lists directories.
  thread_local std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = getdents64(dfd, buffer.data(), buffer.size());
    if (n < 0) {
      lastDirectoryError = errno;
      return false;
    }
    if (n == 0) break;
    for (ssize_t pos = 0; pos < n;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(buffer.data() + pos);
      AddEntry(dfd, e->d_name, e->d_type, wantAttributes, out);
      pos += e->d_reclen;
    }
  }
#else
  // A stream of its own, so the caller's handle stays open and usable.
  const int copy = openat(dfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = copy < 0 ? nullptr : fdopendir(copy);
  if (d == nullptr) {
    lastDirectoryError = errno;
    if (copy >= 0) close(copy);
    return false;
  }
  errno = 0;
  while (dirent* e = readdir(d)) {
    AddEntry(dfd, e->d_name, e->d_type, wantAttributes, out);
    errno = 0;
  }
  const int error = errno;
  closedir(d);
  if (error != 0) {
    lastDirectoryError = error;
    return false;
  }
#endif
  return true;
}

FileHandle OpenForReading(const std::string& path) {
  // Without waiting: opening a FIFO that no one writes to would otherwise wait for a writer for ever.
  const int fd = posix::OpenAnyLength(posix::ToOsPath(path), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return kNoFile;
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return kNoFile;
  }
  // Anything but a regular file is read no further than its entry's length (0 for a FIFO or a character
  // device), and a read there that would wait fails instead. Linux ignores the flag for regular files;
  // elsewhere it may not, so it goes for them.
#ifndef __linux__
  if (S_ISREG(st.st_mode)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#endif
  return new File{fd, st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0};
}

std::uint64_t FileSizeOf(FileHandle file) {
  return file->size;
}

std::int64_t ReadBytes(FileHandle file, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(file->fd, buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

void CloseFile(FileHandle file) {
  if (file == kNoFile) return;
  close(file->fd);
  delete file;
}

}  // namespace zelvane::platform
