// The least a walk of a tree can cost: every directory opened, read with getdents64 and closed, on one
// thread per processor, and nothing else (no names matched, no stat, no sorting, no output but a count).
// bench/run.py sets Zelvane's walk beside it.
//   min_walk DIRECTORY [THREADS]
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The kernel's record, as getdents64(2) describes it (glibc before 2.30 has no wrapper): an 8-byte inode
// number, an 8-byte offset, the record's 2-byte length, the type byte, then the name.
constexpr std::size_t kRecordLength = 16;
constexpr std::size_t kType = 18;
constexpr std::size_t kName = 19;

class Walk {
 public:
  explicit Walk(std::string root) { pending_.push_back(std::move(root)); }

  void Worker() {
    std::vector<char> buffer(64 * 1024);
    std::vector<std::string> found;
    std::uint64_t entries = 0;
    for (;;) {
      std::string path;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return !pending_.empty() || busy_ == 0; });
        if (pending_.empty()) break;
        path = std::move(pending_.back());
        pending_.pop_back();
        ++busy_;
      }
      const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) {
        for (;;) {
          const long n = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
          if (n <= 0) break;
          for (long at = 0; at < n;) {
            const char* record = buffer.data() + at;
            unsigned short length = 0;
            std::memcpy(&length, record + kRecordLength, sizeof length);
            at += length;
            const char* name = record + kName;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            ++entries;
            if (static_cast<unsigned char>(record[kType]) == DT_DIR) found.push_back(path + '/' + name);
          }
        }
        close(fd);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::string& f : found)
          pending_.push_back(std::move(f));
        --busy_;
      }
      found.clear();
      wake_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entries_ += entries;
    wake_.notify_all();
  }

  std::uint64_t Entries() const { return entries_; }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> pending_;
  int busy_ = 0;
  std::uint64_t entries_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: min_walk DIRECTORY [THREADS]\n");
    return 2;
  }
  const unsigned processors = std::thread::hardware_concurrency();
  const unsigned threads =
      argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : (processors > 0 ? processors : 1);
  Walk walk(argv[1]);
  std::vector<std::thread> workers;
  for (unsigned i = 1; i < threads; ++i)
    workers.emplace_back([&walk] { walk.Worker(); });
  walk.Worker();
  for (std::thread& t : workers)
    t.join();
  std::printf("%llu entries\n", static_cast<unsigned long long>(walk.Entries()));
  return 0;
}
