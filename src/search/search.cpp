// Finding the files and directories that match one single spec.
//
// The walk is a loop over an explicit stack of directories, never a recursion, so a tree is never too
// deep for it, and it keeps one path that grows and shrinks as it goes down and up: what it holds is
// linear in the depth. Each directory is read once: the one listing serves both the name pattern and the
// walk into its subdirectories. A subdirectory is opened relative to its parent's open handle, so its
// depth is not bounded by the length of a path the OS would accept and the current directory stays where
// it is.
//
// A directory on the stack is a unit of work of its own (its handle, its place in the path, its listing):
// reading a listing touches nothing else, so the reads could later be spread over threads while the
// order of the matches stays the walk's.
#include "search/search.h"

#include <vector>

#include "app/run_context.h"
#include "platform/platform.h"

namespace zelvane {
namespace {

// A walked name may hold '\' on POSIX, where it is no separator: only the platform says which are.
bool IsSeparator(char c) {
  return platform::IsPathSeparator(c);
}

bool EndsInSeparator(std::string_view path) {
  return !path.empty() && IsSeparator(path.back());
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

std::string StripQuotes(const std::string& spec) {
  std::size_t end = spec.size();
  while (end > 0 && spec[end - 1] == '"')
    --end;
  std::size_t start = 0;
  while (start < end && spec[start] == '"')
    ++start;
  return spec.substr(start, end - start);
}

// Whether a path names the same directory whatever the current directory and drive are: only such a path
// may key kept listings, since the search path moves the current directory between searches.
bool IsFullyQualified(std::string_view path) {
  if (!platform::HasDriveLetters()) return !path.empty() && IsSeparator(path[0]);
  if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// What stays the same for every directory of one search.
struct Walk {
  std::string_view pattern;
  std::uint32_t required;
  std::uint32_t excluded;
  bool recurse;
  bool depthFirst;
  bool wantAttributes;
  PathList& target;
};

// One directory of the walk.
struct Directory {
  platform::DirHandle handle = platform::kNoDirectory;
  std::size_t pathLength = 0;           // its stored form is the walk's path cut to this length
  ListingCache::Node* node = nullptr;   // where its listing is kept; null when none is
  std::vector<platform::DirEntry> own;  // its listing when none is kept
  std::size_t next = 0;                 // the next entry to look at for a subdirectory
  bool listed = false;                  // its listing was read
  bool parentReleased = false;          // the parent's handle was let go while this one is walked

  const std::vector<platform::DirEntry>& Entries() const { return node != nullptr ? node->entries : own; }
};

Directory Enter(platform::DirHandle handle, std::size_t pathLength, ListingCache::Node* node,
                bool parentReleased) {
  Directory dir;
  dir.handle = handle;
  dir.pathLength = pathLength;
  dir.node = node;
  dir.parentReleased = parentReleased;
  return dir;
}

// Reads the listing of `dir` through its handle, or takes the one kept from an earlier search. False when
// it cannot be read.
bool ReadListing(const Walk& walk, Directory& dir) {
  ListingCache::Node* node = dir.node;
  if (node != nullptr && node->listed && (node->withAttributes || !walk.wantAttributes)) return true;
  std::vector<platform::DirEntry>& into = node != nullptr ? node->entries : dir.own;
  if (!platform::ListDirectory(dir.handle, into, walk.wantAttributes)) {
    if (node != nullptr) node->listed = false;
    return false;
  }
  if (node != nullptr) {
    node->listed = true;
    node->withAttributes = walk.wantAttributes;
  }
  return true;
}

void AddMatches(const Walk& walk, std::string_view searchedPath,
                const std::vector<platform::DirEntry>& entries) {
  // A name without wildcards is looked up exactly first, and only when that fails without regard to case.
  bool exactOnly = false;
  if (!HasWildcards(walk.pattern)) {
    for (const platform::DirEntry& e : entries) {
      if (e.name == walk.pattern) {
        exactOnly = true;
        break;
      }
    }
  }
  for (const platform::DirEntry& e : entries) {
    // Names beginning with '.' are never matches: this also keeps "." and ".." out.
    if (e.name.empty() || e.name[0] == '.') continue;
    if (exactOnly ? e.name != walk.pattern : !platform::MatchesPattern(walk.pattern, e.name)) continue;
    if ((e.attributes & walk.required) != walk.required || (e.attributes & walk.excluded) != 0) continue;
    InsertSorted(walk.target, MakeFullPath(searchedPath, e.name));
  }
}

// Open directories held along the path being walked; below this depth a directory is closed while its
// subdirectories are searched and opened again from them by "..", so no tree is too deep to walk.
constexpr std::size_t kHeldDirectories = 128;

// The next subdirectory of `dir` to walk into, or null. Hidden ones are walked (the masks filter matches,
// not the walk); one reached through a symbolic link never is, since walking it could loop forever.
const platform::DirEntry* NextSubdirectory(Directory& dir) {
  const std::vector<platform::DirEntry>& entries = dir.Entries();
  while (dir.next < entries.size()) {
    const platform::DirEntry& e = entries[dir.next++];
    if (e.isDirectory && !e.isLink && !e.name.empty() && e.name[0] != '.') return &e;
  }
  return nullptr;
}

// Searches the open directory `handle`, whose stored form is `path`, and with `walk.recurse` every
// directory below it: a directory's own matches before those below it, or with -DepthFirst after them.
// Takes the handle over. `path` is the same on return.
void WalkTree(const Walk& walk, platform::DirHandle handle, std::string& path, ListingCache::Node* root) {
  std::vector<Directory> stack;
  stack.push_back(Enter(handle, path.size(), root, false));
  const std::size_t rootLength = path.size();
  bool entered = true;  // the top of the stack has just been pushed
  while (!stack.empty()) {
    if (entered) {
      entered = false;
      Directory& top = stack.back();
      top.listed = ReadListing(walk, top);
      // A directory that cannot be read yields nothing, and nothing below it.
      if (top.listed && !walk.depthFirst) AddMatches(walk, path, top.Entries());
    }
    Directory& top = stack.back();
    const platform::DirEntry* sub = nullptr;
    if (walk.recurse && top.listed && top.handle != platform::kNoDirectory) sub = NextSubdirectory(top);
    if (sub != nullptr) {
      platform::DirHandle child = platform::OpenSubdirectory(top.handle, sub->name);
      if (child == platform::kNoDirectory) continue;
      const bool release = stack.size() - 1 >= kHeldDirectories;
      if (release) {
        platform::CloseDirectory(top.handle);
        top.handle = platform::kNoDirectory;
      }
      ListingCache::Node* node = top.node != nullptr ? &ListingCache::Child(*top.node, sub->name) : nullptr;
      if (!EndsInSeparator(path)) path += platform::NativeSeparator();
      path += sub->name;
      stack.push_back(Enter(child, path.size(), node, release));
      entered = true;
      continue;
    }
    // Everything below this directory has been searched.
    if (walk.depthFirst && top.listed) AddMatches(walk, path, top.Entries());
    Directory done = std::move(top);
    stack.pop_back();
    if (!stack.empty()) {
      Directory& parent = stack.back();
      if (done.parentReleased) parent.handle = platform::OpenSubdirectory(done.handle, "..");
      path.resize(parent.pathLength);
    }
    platform::CloseDirectory(done.handle);
  }
  path.resize(rootLength);
}

}  // namespace

ListingCache::~ListingCache() {
  std::vector<std::unique_ptr<Node>> pending;
  for (auto& [path, node] : roots_)
    pending.push_back(std::move(node));
  while (!pending.empty()) {
    std::unique_ptr<Node> node = std::move(pending.back());
    pending.pop_back();
    for (auto& [name, child] : node->children)
      pending.push_back(std::move(child));
  }
}

ListingCache::Node& ListingCache::Root(const std::string& path) {
  // "/w/src/" and "/w/src" are one directory.
  std::string key = path;
  if (key.size() > 1 && IsSeparator(key.back()) && !IsSeparator(key[key.size() - 2]) &&
      key[key.size() - 2] != ':')
    key.pop_back();
  std::unique_ptr<Node>& node = roots_[key];
  if (node == nullptr) node = std::make_unique<Node>();
  return *node;
}

ListingCache::Node& ListingCache::Child(Node& parent, const std::string& name) {
  std::unique_ptr<Node>& node = parent.children[name];
  if (node == nullptr) node = std::make_unique<Node>();
  return *node;
}

void SearchSpec(const RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                std::uint32_t excludedAttributes, int recurse, PathList& target) {
  if (spec.empty()) return;
  if (IsFixedPath(spec) || ctx.searchPath.empty()) {
    SearchDirectory(ctx, spec, requiredAttributes, excludedAttributes, recurse, target);
    return;
  }
  const std::string& path = ctx.searchPath;
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find(';', pos);
    if (end == std::string::npos) end = path.size();
    // An entry that names no directory is skipped: searching the directory we happen to be in instead
    // would report files from a place the user did not name.
    if (platform::SetCurrentDir(path.substr(pos, end - pos))) {
      SearchDirectory(ctx, spec, requiredAttributes, excludedAttributes, recurse, target);
    }
    platform::SetCurrentDir(ctx.startDir);
    pos = end + 1;
  }
}

void SearchDirectory(const RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                     std::uint32_t excludedAttributes, int recurse, PathList& target) {
  const SpecParts parts = SplitSpec(StripQuotes(spec));
  if (parts.pattern.empty()) return;
  std::string remembered;
  if (!platform::GetCurrentDir(remembered)) return;
  NormalizePath(remembered);

  std::string searchedPath = parts.drive + parts.directory;
  platform::DirHandle dir = platform::kNoDirectory;
  if (searchedPath.empty()) {
    searchedPath = remembered;
    dir = platform::OpenCurrentDirectory();
  } else if (parts.directory.empty()) {
    // "C:" alone means that drive's current directory, not its root; only the system knows which it is.
    if (!platform::SetCurrentDir(searchedPath)) return;
    if (platform::GetCurrentDir(searchedPath)) NormalizePath(searchedPath);
    dir = platform::OpenCurrentDirectory();
    platform::SetCurrentDir(remembered);
  } else {
    const bool relative = IsRelativeDir(searchedPath);
    if (relative) {
      const char last = remembered.empty() ? '\0' : remembered.back();
      if (!IsSeparator(last) && last != ':') searchedPath.insert(0, 1, platform::NativeSeparator());
      searchedPath.insert(0, remembered);
    }
    // A relative directory is opened from here by its own text, which is as long as the user typed it.
    dir = platform::OpenDirectory(relative ? parts.directory : searchedPath);
  }
  if (dir == platform::kNoDirectory) return;

  const Walk walk{.pattern = parts.pattern,
                  .required = requiredAttributes,
                  .excluded = excludedAttributes,
                  .recurse = recurse != 0,
                  .depthFirst = ctx.depthFirst != 0,
                  .wantAttributes = (requiredAttributes | excludedAttributes) != 0,
                  .target = target};
  ListingCache::Node* root = nullptr;
  if (ctx.listings != nullptr && IsFullyQualified(searchedPath)) root = &ctx.listings->Root(searchedPath);
  WalkTree(walk, dir, searchedPath, root);
}

SpecParts SplitSpec(std::string_view spec) {
  SpecParts parts;
  std::size_t pos = 0;
  if (platform::HasDriveLetters() && spec.size() >= 2 && spec[1] == ':') {
    parts.drive = spec.substr(0, 2);
    pos = 2;
  }
  const std::size_t slash = spec.find_last_of("\\/");
  if (slash != std::string_view::npos && slash >= pos) {
    parts.directory = spec.substr(pos, slash + 1 - pos);
    pos = slash + 1;
  }
  parts.pattern = spec.substr(pos);
  return parts;
}

void NormalizePath(std::string& path) {
  if (!platform::HasAlternateNames()) return;
  std::string rebuilt;
  std::size_t componentStart = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    // A separator right after a drive's colon is not a point of its own: "C:\dir" is looked up whole.
    const bool atEnd = i == path.size();
    if (!atEnd && !((path[i] == '\\' || path[i] == '/') && (i == 0 || path[i - 1] != ':'))) continue;
    platform::FindData found;
    if (i > 0 && platform::FindFirst(path.substr(0, i), found) && !found.name.empty()) {
      if (rebuilt.empty() && i >= 2 && path[1] == ':') rebuilt.append(path, 0, 2);
      rebuilt += platform::NativeSeparator();
      rebuilt += found.name;
    } else {
      rebuilt.append(path, componentStart, i - componentStart);
    }
    componentStart = i;
  }
  if (rebuilt.size() != path.size()) path = rebuilt;
}

std::string MakeFullPath(std::string_view searchedPath, std::string_view name) {
  std::string result;
  const bool rootRelative = !searchedPath.empty() && searchedPath[0] == '\\' &&
                            (searchedPath.size() < 2 || (searchedPath[1] != '\\' && searchedPath[1] != ':'));
  const int drive = rootRelative ? platform::CurrentDrive() : 0;
  result.reserve(searchedPath.size() + name.size() + 3);
  if (drive != 0) {
    result += static_cast<char>('a' + drive - 1);
    result += ':';
  }
  result += searchedPath;
  if (!result.empty() && !EndsInSeparator(result)) result += platform::NativeSeparator();
  result += name;
  return result;
}

bool IsFixedPath(std::string_view spec) {
  if (spec.empty() || HasWildcards(spec)) return false;
  if (platform::HasDriveLetters()) {
    return (spec.size() >= 2 && spec[1] == ':') || (spec.size() >= 2 && spec[0] == '\\' && spec[1] == '\\');
  }
  return spec[0] == '/' || spec[0] == '\\';
}

bool IsRelativeDir(std::string_view path) {
  if (path.empty()) return true;
  if (platform::HasDriveLetters() && path.size() >= 2 && path[1] == ':') return false;
  return path[0] != '\\' && path[0] != '/';
}

}  // namespace zelvane
