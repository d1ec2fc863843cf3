// The ordered list of full paths that a run visits, and the scratch lists of the exclusion.
//
// The order is ascending under ComparePaths, and entries that compare equal keep the order in which they
// were inserted. Sorted insertion one entry at a time would cost n squared over a run, so InsertSorted
// only appends and the list is put in order (stably, merging the new entries after their equals) the next
// time it is read. The result is exactly the list that inserting each path at its place would give.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane {

struct PathList {
  // entries[0, sortedCount) are in order; the rest were appended since and are not yet merged in.
  std::vector<std::string> entries;
  std::size_t sortedCount = 0;
};

// Byte-wise comparison in which A..Z are taken as a..z and other bytes by unsigned value; a prefix sorts
// first. Returns -1, 0 or +1.
int ComparePaths(std::string_view a, std::string_view b);

// Adds a path; it will stand after every entry that compares equal to it.
void InsertSorted(PathList& list, std::string path);

// The entries in order (merging anything inserted since the last read).
const std::vector<std::string>& Entries(PathList& list);

std::size_t Count(const PathList& list);

// Removes the entries for which keep[i] is false; `keep` runs parallel to Entries(list).
void KeepEntries(PathList& list, const std::vector<bool>& keep);

// Appends every entry of `from` to `to` (as InsertSorted of each, in order) and empties `from`.
void MoveEntries(PathList& from, PathList& to);

// True when `current` equals `earlier` after `earlier`'s separators are made like `current`'s.
bool SamePath(std::string_view current, std::string_view earlier);

// Removes each entry that is the SamePath of the entry kept before it.
void RemoveAdjacentDuplicates(PathList& list);

// For each entry of `scratch`, in order, removes the first entry of `list` that is exactly equal to it
// (letter case significant). Each scratch entry removes at most one.
void RemoveExactMatches(PathList& list, PathList& scratch);

}  // namespace zelvane
