// The walk of one directory tree: the part of the search that reads directories, on as many threads as
// the search is given, while what it finds is what one thread walking the tree in order would find.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/directories.h"
#include "search/match_list.h"
#include "search/search.h"

namespace zelvane {

struct WhyLog;

// What stays the same for every directory of one walk.
struct WalkSettings {
  std::string_view pattern;  // the name pattern of the Filespec entry
  std::uint32_t required = 0;
  std::uint32_t excluded = 0;
  bool recurse = false;
  bool depthFirst = false;
  bool wantAttributes = false;
  std::string drive;  // stands before every stored path: "c:" for a path from the current drive's root
  int threads = 1;    // directories read at once, at most
  // A name without wildcards may also be an entry's short (8.3) alias, where the file system gives them:
  // for the Xspec, where naming a file by its alias should keep it as surely as by its long name.
  bool aliases = false;
  // Each directory's identity is asked of the system (a status call each): needed where matches are told
  // apart by the file (duplicate removal, the exclusion) or -c checks the directory it enters.
  bool wantIdentity = true;
  // -Why: every entry looked at (a match as the place of its line), and every directory not entered, is
  // noted there, and a directory that cannot be read no longer ends the run. Only for a walk on one thread.
  WhyLog* why = nullptr;
};

// Searches the open directory `handle`, whose stored form is `path`, and with `recurse` every directory
// below it, and inserts the stored form of every match into `target`. Takes the handle over.
//
// The insertions are those of one thread walking the tree depth first: a directory's matches in the
// order of its listing, before those of its subdirectories (after them with `depthFirst`), and the
// subdirectories in the order of the listing. So entries that compare equal stand in the same order
// whatever the number of threads. The walk starts other threads only once it has read enough directories
// for them to pay off, and never on a chain of single subdirectories, which has nothing to share; it
// never changes the current directory.
void WalkTree(const WalkSettings& settings, platform::DirHandle handle, std::string path,
              ListingCache::Node* root, PathList& target);

// Directories handed from one walking thread to another since the program started. For tests, which
// must know that a walk they compare really was shared.
std::uint64_t DirectoriesShared();

// What MakeFullPath puts before a searched path: the current drive's letter and ':' (lower case) for a
// path from the current drive's root, where there is a drive; otherwise nothing.
std::string DrivePrefix(std::string_view searchedPath);

// The stored form of a match: `drive` (DrivePrefix of the searched path, worked out once per search), the
// searched directory path, a separator unless it ends in one, the name.
std::string MakeFullPath(std::string_view drive, std::string_view searchedPath, std::string_view name);

}  // namespace zelvane
