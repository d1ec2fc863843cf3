#include "support/deep_tree_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace zelvane::test {

std::string MakeDeepTree(const std::string& root, const std::string& name, int depth,
                         const std::string& leaf) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  std::string path = root;
  for (int i = 0; i < depth && fd >= 0; ++i) {
    mkdirat(fd, name.c_str(), 0755);
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    path += "/" + name;
  }
  if (fd >= 0) {
    close(openat(fd, leaf.c_str(), O_WRONLY | O_CREAT, 0644));
    close(fd);
  }
  return path + "/" + leaf;
}

void RemoveTree(int parent, const char* name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) {
    unlinkat(parent, name, 0);
    return;
  }
  std::vector<std::string> names{name};  // the way down from `parent` to the directory being emptied
  while (!names.empty()) {
    fchmod(fd, 0700);
    // Removes what is not a directory and notes one directory to empty first.
    std::string sub;
    if (DIR* d = fdopendir(dup(fd))) {
      rewinddir(d);
      while (dirent* e = readdir(d)) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (e->d_type != DT_DIR) {
          unlinkat(fd, entry.c_str(), 0);
        } else if (sub.empty()) {
          sub = entry;
        }
      }
      closedir(d);
    }
    const int child = sub.empty() ? -1 : openat(fd, sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (child >= 0) {
      close(fd);
      fd = child;
      names.push_back(sub);
      continue;
    }
    const int up = names.size() == 1 ? dup(parent) : openat(fd, "..", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = up;
    if (unlinkat(fd, names.back().c_str(), AT_REMOVEDIR) != 0 && !sub.empty()) break;  // give up
    names.pop_back();
  }
  close(fd);
}

std::function<void(const TempDir&)> RemovesTree(const std::string& name) {
  return [name](const TempDir& d) {
    const int fd = open(d.path().c_str(), O_RDONLY | O_DIRECTORY);
    RemoveTree(fd, name.c_str());
    close(fd);
  };
}

}  // namespace zelvane::test
