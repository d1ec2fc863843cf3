// Finding the files and directories that match one single spec.
//
// Each directory is read once: the one listing serves both the name pattern and the walk into its
// subdirectories. The walk opens each subdirectory relative to its parent's open handle, so its depth is
// not bounded by the length of a path the OS would accept, the current directory stays where it is, and
// the full path of each directory is built from its parent's rather than asked of the OS again.
#include "search/search.h"

#include <vector>

#include "app/run_context.h"
#include "platform/platform.h"

namespace zelvane {
namespace {

bool EndsInSeparator(std::string_view path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
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

// What stays the same for every directory of one search.
struct Walk {
  std::string_view pattern;
  std::uint32_t required;
  std::uint32_t excluded;
  bool recurse;
  bool depthFirst;
  bool wantAttributes;
  PathList& target;
  ListingCache* listings;  // null when nothing is kept between searches
};

void AddMatches(const Walk& walk, const std::string& searchedPath,
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

void SearchHere(const Walk& walk, platform::DirHandle& dir, const std::string& searchedPath,
                const std::string& currentDir, int depth);

// Open directories held along the path being walked; below this depth a directory is closed while its
// subdirectories are searched and opened again from them by "..", so no tree is too deep to walk.
constexpr int kHeldDirectories = 128;

// Walks every subdirectory of `dir` (whose full path is `currentDir`), hidden ones included: the masks
// filter matches, not the walk. A directory reached through a symbolic link is never entered, since
// walking it could loop forever.
void SearchSubdirectories(const Walk& walk, platform::DirHandle& dir, const std::string& currentDir,
                          const std::vector<platform::DirEntry>& entries, int depth) {
  for (const platform::DirEntry& e : entries) {
    if (!e.isDirectory || e.isLink || e.name.empty() || e.name[0] == '.') continue;
    if (dir == platform::kNoDirectory) return;
    platform::DirHandle child = platform::OpenSubdirectory(dir, e.name);
    if (child == platform::kNoDirectory) continue;
    const bool release = depth >= kHeldDirectories;
    if (release) {
      platform::CloseDirectory(dir);
      dir = platform::kNoDirectory;
    }
    const std::string childPath = MakeFullPath(currentDir, e.name);
    SearchHere(walk, child, childPath, childPath, depth + 1);
    if (release) dir = platform::OpenSubdirectory(child, "..");
    platform::CloseDirectory(child);
  }
}

// Searches the open directory `dir`, whose stored form is `searchedPath` and full path `currentDir`. Deep
// in a tree `dir` may come back as another handle to the same directory.
void SearchHere(const Walk& walk, platform::DirHandle& dir, const std::string& searchedPath,
                const std::string& currentDir, int depth) {
  std::vector<platform::DirEntry> own;
  const std::vector<platform::DirEntry>* entries = &own;
  ListingCache::Listing* cached = nullptr;
  if (walk.listings != nullptr) {
    auto it = walk.listings->byDirectory.find(currentDir);
    if (it != walk.listings->byDirectory.end() && (it->second.withAttributes || !walk.wantAttributes)) {
      entries = &it->second.entries;
    } else {
      cached = &walk.listings->byDirectory[currentDir];
    }
  }
  if (entries == &own) {
    if (!platform::ListDirectory(dir, own, walk.wantAttributes)) return;
    if (cached != nullptr) {
      cached->entries = std::move(own);
      cached->withAttributes = walk.wantAttributes;
      entries = &cached->entries;
    }
  }
  if (walk.recurse && walk.depthFirst) SearchSubdirectories(walk, dir, currentDir, *entries, depth);
  AddMatches(walk, searchedPath, *entries);
  if (walk.recurse && !walk.depthFirst) SearchSubdirectories(walk, dir, currentDir, *entries, depth);
}

}  // namespace

void SearchSpec(RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
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

void SearchDirectory(RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                     std::uint32_t excludedAttributes, int recurse, PathList& target) {
  std::string remembered;
  if (!platform::GetCurrentDir(remembered)) return;
  NormalizePath(remembered);

  const SpecParts parts = SplitSpec(StripQuotes(spec));
  std::string searchedPath = parts.drive + parts.directory;
  std::string currentDir = remembered;
  const bool moves = !searchedPath.empty();
  if (!moves) {
    searchedPath = remembered;
  } else {
    const bool relative = IsRelativeDir(searchedPath);
    if (relative) {
      const char last = remembered.empty() ? '\0' : remembered.back();
      if (last != '\\' && last != '/' && last != ':') searchedPath.insert(0, 1, platform::NativeSeparator());
      searchedPath.insert(0, remembered);
    }
    // A relative directory is entered from here by its own text, which is as long as the user typed it.
    if (!platform::SetCurrentDir(relative ? parts.directory : searchedPath)) return;
    // The directories below are stored under the path the OS reports for this one ("sub/../x/" gives
    // its matches as typed, those of its subdirectories under the real path).
    if (!platform::GetCurrentDir(currentDir)) currentDir = searchedPath;
    NormalizePath(currentDir);
    // "C:" alone means that drive's current directory, not its root.
    if (parts.directory.empty()) searchedPath = currentDir;
  }

  if (!parts.pattern.empty()) {
    const Walk walk{.pattern = parts.pattern,
                    .required = requiredAttributes,
                    .excluded = excludedAttributes,
                    .recurse = recurse != 0,
                    .depthFirst = ctx.depthFirst != 0,
                    .wantAttributes = (requiredAttributes | excludedAttributes) != 0,
                    .target = target,
                    .listings = ctx.listings.get()};
    platform::DirHandle dir = platform::OpenCurrentDirectory();
    SearchHere(walk, dir, searchedPath, currentDir, 0);
    platform::CloseDirectory(dir);
  }
  if (moves) platform::SetCurrentDir(remembered);
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
