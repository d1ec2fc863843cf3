// Finding the files and directories that match one Filespec entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/directories.h"
#include "search/match_list.h"

namespace zelvane {

struct RunSettings;
struct WhyLog;

// Directory listings kept while the Filespec and the Xspec are searched, so that several specs over the
// same directory read each directory of its tree once. A directory is known by the path its search began
// at (as that path reads, made absolute) and the names walked from there, never by a full path of its own,
// so what is kept is linear in the size of the tree, whatever its depth. A listing without attributes does
// not serve a search that needs them. A later search walks a directory whose whole tree is kept without
// opening it or anything below it.
struct ListingCache {
  struct Node {
    std::vector<platform::DirEntry> entries;
    bool listed = false;  // entries hold the directory's listing
    bool withAttributes = false;
    // The listings of this directory and of every subdirectory a walk enters below it are kept (with
    // attributes, for the second). Set after a walk, by MarkKeptTrees.
    bool treeKept = false;
    bool treeKeptWithAttributes = false;
    platform::DirIdentity identity;  // of the directory listed
    std::unordered_map<std::string, std::unique_ptr<Node>> children;
  };

  ListingCache() = default;
  ListingCache(const ListingCache&) = delete;
  ListingCache& operator=(const ListingCache&) = delete;
  // Takes the tree apart without recursion, so a tree of any depth can be dropped.
  ~ListingCache();

  // The node of the directory where a search begins, by its path.
  Node& Root(const std::string& path);
  // The node of the subdirectory `name` of `parent`.
  static Node& Child(Node& parent, const std::string& name);
  // The same, or null when there is none yet.
  static Node* FindChild(Node& parent, const std::string& name);
  // Works out which trees below `root` are kept whole, from the bottom up, without recursion.
  static void MarkKeptTrees(Node& root);

 private:
  std::unordered_map<std::string, std::unique_ptr<Node>> roots_;
};

// Searches one Filespec entry (along the search path of -S, and with `recurse` below it), inserting the full
// path of every match into `target`; the current directory never changes. With `listings`,
// directories read by an earlier spec of the same search are not read again.
// With `aliases`, a name without wildcards also finds the entry whose short (8.3) name it is. With `why`,
// every entry looked at is noted there (a match as the place of its line), and a directory that cannot be
// read too.
void SearchSpec(const RunSettings& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                std::uint32_t excludedAttributes, int recurse, PathList& target,
                ListingCache* listings = nullptr, bool aliases = false, WhyLog* why = nullptr);

// Searches the directory of one Filespec entry, taken from `base` (a full path; empty: the current
// directory), and with `recurse` every
// directory below it. The path of a match below the entry's directory is that directory's path as typed
// (relative ones after the current directory) and the names walked, never the path the system resolves,
// so an entry through a symbolic link keeps the link's path at every depth. A directory that cannot be opened
// yields nothing. The tree is read on up to `ctx.searchThreads` threads (0: one per processor), with the
// insertions of a walk on one.
void SearchDirectory(const RunSettings& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                     std::uint32_t excludedAttributes, int recurse, PathList& target,
                     ListingCache* listings = nullptr, const std::string& base = std::string(),
                     bool aliases = false, WhyLog* why = nullptr);

// A Filespec entry taken apart: drive ("C:", only where the platform has drive letters), directory (through
// its last
// '\' or '/') and the name pattern that remains.
struct SpecParts {
  std::string drive;
  std::string directory;
  std::string pattern;
};
SpecParts SplitSpec(std::string_view spec);

// Turns short (8.3) components of a full path into long names where the platform has short names; a path
// that differs only in letter case is left as it is.
void NormalizePath(std::string& path);

// An entry that names one place whatever the search path is: it is searched once.
bool IsFixedPath(std::string_view spec);

// True when `path` is to be taken from the current directory (no drive, no leading separator).
bool IsRelativeDir(std::string_view path);

}  // namespace zelvane
