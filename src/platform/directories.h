// Directory enumeration, for the search.
//
// The search reads directories on several threads at once: these functions may run side by side on
// different handles (a handle may pass from one thread to another), and none touches the current directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvane::platform {

// One entry of a directory listing. Reading a directory once serves both the name pattern and the
// walk into subdirectories: the type comes with the listing, attributes only when asked for.
struct DirEntry {
  std::string name;
  std::uint32_t attributes = 0;  // filled only by ListDirectory with wantAttributes
  bool isDirectory = false;      // a symbolic link counts as what it points to
  bool isLink = false;           // reached through a symbolic link (never walked into)
};

// A directory opened for listing, or kNoDirectory. The walk of a tree opens each directory relative to
// its parent instead of making it current, which saves two changes of directory per directory.
// Opaque: each backend defines `Dir`, so a handle can't be mixed up with a file or taken for a number.
struct Dir;
using DirHandle = Dir*;
inline constexpr DirHandle kNoDirectory = nullptr;

// Opens the current directory for listing.
DirHandle OpenCurrentDirectory();

// Opens the directory `path` (relative paths from the current directory; symbolic links in it followed,
// as a change of directory would follow them) without making it current. Any length of path.
// kNoDirectory when it is no directory or cannot be opened.
DirHandle OpenDirectory(const std::string& path);

// Opens the directory `name` inside the open directory `parent` ("..": its parent). Never through a
// symbolic link or reparse point, so a walk cannot loop. kNoDirectory when it cannot be opened.
DirHandle OpenSubdirectory(DirHandle parent, const std::string& name);

void CloseDirectory(DirHandle dir);

// Why the last OpenCurrentDirectory, OpenDirectory, OpenSubdirectory or ListDirectory on this thread failed.
enum class DirFailure {
  Refused,   // no permission, or the directory is gone or no longer one: a search passes over it
  Shortage,  // no descriptor or memory to spare: it may succeed once handles are let go
  Failed,    // anything else (a read error): a search that passes over it would be incomplete
};
DirFailure LastDirectoryFailure();

// The system's words for that failure ("Input/output error"), without a final period.
std::string LastDirectoryFailureText();

// What makes a directory the same directory however its path is spelled: device and inode on POSIX,
// volume serial number and file index on Win32. `known` is false when the system would not tell.
struct DirIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool known = false;
  friend bool operator==(const DirIdentity&, const DirIdentity&) = default;
};

// The identity of an open directory.
DirIdentity IdentityOf(DirHandle dir);

// Lists every entry of an open directory (once per handle), "." and ".." left out. With `wantAttributes`
// every entry's attributes are filled in (which may cost one status call per entry). False when it cannot be
// read.
bool ListDirectory(DirHandle dir, std::vector<DirEntry>& out, bool wantAttributes);

}  // namespace zelvane::platform
