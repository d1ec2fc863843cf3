// Finding the files and directories that match one single spec.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "search/match_list.h"

namespace zelvane {

struct RunContext;

// Directory listings kept while the Filespec and the Xspec are searched, so that several specs over the
// same tree read each directory once. Keyed by the directory's full path; a listing without attributes
// does not serve a search that needs them.
struct ListingCache {
  struct Listing {
    std::vector<platform::DirEntry> entries;
    bool withAttributes = false;
  };
  std::unordered_map<std::string, Listing> byDirectory;
};

// Searches one single spec (along the search path of -S, and with `recurse` below it), inserting the full
// path of every match into `target`. Restores the current directory before it returns.
void SearchSpec(RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                std::uint32_t excludedAttributes, int recurse, PathList& target);

// Searches the directory of a single spec, taken from the current directory, and with `recurse` every
// directory below it. The current directory is the same on return. A directory that cannot be entered yields
// nothing.
void SearchDirectory(RunContext& ctx, const std::string& spec, std::uint32_t requiredAttributes,
                     std::uint32_t excludedAttributes, int recurse, PathList& target);

// A spec taken apart: drive ("C:", only where the platform has drive letters), directory (through its last
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

// The stored form of a match: the searched directory path, a separator unless it ends in one, the name. A
// path relative to the current drive's root gets the drive letter (lower case) when there is a drive.
std::string MakeFullPath(std::string_view searchedPath, std::string_view name);

// A spec that names one place whatever the search path is: it is searched once.
bool IsFixedPath(std::string_view spec);

// True when `path` is to be taken from the current directory (no drive, no leading separator).
bool IsRelativeDir(std::string_view path);

}  // namespace zelvane
