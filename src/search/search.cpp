// Finding the files and directories that match one Filespec entry: where a search begins, along the search
// path and from the entry's directory. The walk of the tree below is in walk.cpp.
#include "search/search.h"

#include <vector>

#include "command/execute.h"
#include "command/run_settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "search/walk.h"
#include "search/why.h"

namespace zelvane {
namespace {

// Directories read at once when the run does not say: one thread for each processor this process may run
// on (a run started under taskset gets no more threads than its processors).
int Processors() {
  return platform::ProcessorCount();
}

// A walked name may hold '\' on POSIX, where it is no separator: only the platform says which are.
const platform::SeparatorRule IsSeparator;
// Asked once too: MakeFullPath runs for every match.
const char kNativeSeparator = platform::NativeSeparator();

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

ListingCache::Node* ListingCache::FindChild(Node& parent, const std::string& name) {
  const auto found = parent.children.find(name);
  return found == parent.children.end() ? nullptr : found->second.get();
}

void SearchSpec(const RunSettings& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                std::uint32_t excludedAttributes, int recurse, PathList& target, ListingCache* listings,
                bool aliases, WhyLog* why) {
  if (spec.empty()) return;
  if (IsFixedPath(spec) || ctx.searchPath.empty()) {
    SearchDirectory(ctx, spec, requiredAttributes, excludedAttributes, recurse, target, listings, {}, aliases,
                    why);
    return;
  }
  const std::string& path = ctx.searchPath;
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find(';', pos);
    if (end == std::string::npos) end = path.size();
    // An entry that names no directory is skipped: searching the directory we happen to be in instead
    // would report files from a place the user did not name. The entry is searched from its own path,
    // of any length; the current directory stays where it is.
    std::string base;
    if (platform::ResolveDirectory(path.substr(pos, end - pos), base)) {
      SearchDirectory(ctx, spec, requiredAttributes, excludedAttributes, recurse, target, listings, base,
                      aliases, why);
    }
    pos = end + 1;
  }
}

void SearchDirectory(const RunSettings& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                     std::uint32_t excludedAttributes, int recurse, PathList& target, ListingCache* listings,
                     const std::string& base, bool aliases, WhyLog* why) {
  const SpecParts parts = SplitSpec(StripQuotes(spec));
  if (parts.pattern.empty()) return;
  std::string remembered = base;
  if (remembered.empty() && !platform::GetCurrentDir(remembered)) return;
  NormalizePath(remembered);

  std::string searchedPath = parts.drive + parts.directory;
  platform::DirHandle dir = platform::kNoDirectory;
  if (searchedPath.empty()) {
    searchedPath = remembered;
    dir = base.empty() ? platform::OpenCurrentDirectory() : platform::OpenDirectory(remembered);
  } else if (parts.directory.empty()) {
    // "C:" alone means that drive's current directory, not its root; only the system knows which it is.
    if (!platform::ResolveDirectory(searchedPath, searchedPath)) return;
    NormalizePath(searchedPath);
    dir = platform::OpenDirectory(searchedPath);
  } else {
    const bool relative = IsRelativeDir(searchedPath);
    if (relative) {
      const char last = remembered.empty() ? '\0' : remembered.back();
      if (!IsSeparator(last) && last != ':') searchedPath.insert(0, 1, platform::NativeSeparator());
      searchedPath.insert(0, remembered);
    }
    // A relative directory is opened from here by its own text, which is as long as the user typed it.
    dir = platform::OpenDirectory(relative && base.empty() ? parts.directory : searchedPath);
  }
  if (dir == platform::kNoDirectory) {
    // A directory that is not there, or not for this user, has no matches; one that cannot be read for
    // another reason would make the run act on less than the user named.
    if (why != nullptr) {
      why->Add(searchedPath, "unreadable", platform::LastDirectoryFailureText());
    } else if (platform::LastDirectoryFailure() != platform::DirFailure::Refused) {
      EndUnreadableDirectory(searchedPath, platform::LastDirectoryFailureText());
    }
    return;
  }

  WalkSettings settings;
  settings.pattern = parts.pattern;
  settings.required = requiredAttributes;
  settings.excluded = excludedAttributes;
  settings.recurse = recurse != 0;
  settings.depthFirst = ctx.depthFirst != 0;
  settings.wantAttributes = (requiredAttributes | excludedAttributes) != 0;
  settings.drive = DrivePrefix(searchedPath);
  // -Why notes entries as they are looked at, which one walker does in the order of the walk.
  settings.threads = why != nullptr ? 1 : ctx.searchThreads > 0 ? ctx.searchThreads : Processors();
  settings.aliases = aliases;
  // With recursion and no Xspec nothing removes a match, so only -c needs to know the directories.
  settings.wantIdentity = !ctx.recurseSubdirs || !ctx.xspec.empty() || ctx.changeDir;
  settings.why = why;
  ListingCache::Node* root = nullptr;
  if (listings != nullptr && IsFullyQualified(searchedPath)) root = &listings->Root(searchedPath);
  WalkTree(settings, dir, std::move(searchedPath), root, target);
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

std::string DrivePrefix(std::string_view searchedPath) {
  const bool rootRelative = !searchedPath.empty() && searchedPath[0] == '\\' &&
                            (searchedPath.size() < 2 || (searchedPath[1] != '\\' && searchedPath[1] != ':'));
  const int drive = rootRelative ? platform::CurrentDrive() : 0;
  if (drive == 0) return {};
  return {static_cast<char>('a' + drive - 1), ':'};
}

std::string MakeFullPath(std::string_view drive, std::string_view searchedPath, std::string_view name) {
  std::string result;
  result.reserve(drive.size() + searchedPath.size() + 1 + name.size());
  result += drive;
  result += searchedPath;
  if (!result.empty() && !EndsInSeparator(result)) result += kNativeSeparator;
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
