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
#include <unordered_map>
#include <vector>

#include "platform/directories.h"

namespace zelvane {

struct PathList {
  // entries[0, sortedCount) are in order; the rest were appended since and are not yet merged in.
  std::vector<std::string> entries;
  // Parallel to `entries`: the identity of the directory each entry was listed in, which with the entry's
  // name tells which file it is, however its path is spelled. Empty while no entry's directory is known (a
  // recursive search without an Xspec or -c asks for none), so such a list holds nothing for them.
  std::vector<platform::DirIdentity> directories;
  std::size_t sortedCount = 0;
};

// Byte-wise comparison in which A..Z are taken as a..z and other bytes by unsigned value; a prefix sorts
// first. Returns -1, 0 or +1.
int ComparePaths(std::string_view a, std::string_view b);

// Adds a path, listed in the directory `directory`; it will stand after every entry that compares equal to
// it. A path without a known directory is told from others by its text alone.
void InsertSorted(PathList& list, std::string path, platform::DirIdentity directory = {});

// The entries in order (merging anything inserted since the last read).
const std::vector<std::string>& Entries(PathList& list);

std::size_t Count(const PathList& list);

// The directory entry `i` was listed in; unknown when none is.
inline platform::DirIdentity DirectoryOf(const PathList& list, std::size_t i) {
  return i < list.directories.size() ? list.directories[i] : platform::DirIdentity{};
}

// Removes the entries for which keep[i] is false; `keep` runs parallel to Entries(list).
void KeepEntries(PathList& list, const std::vector<bool>& keep);

// Appends every entry of `from` to `to` (as InsertSorted of each, in order) and empties `from`.
void MoveEntries(PathList& from, PathList& to);

// Which file an entry is: its directory's identity and its name as the file system tells names apart (on
// POSIX the same bytes; where names fold case, equal under the system's case rule). Two entries with the
// same key are the same file however their paths are spelled. An entry without a known directory is keyed
// by its whole text, letters folded and separators made alike.
std::string FileKey(std::string_view path, const platform::DirIdentity& directory);

// The rule of duplicates, over entries taken in list order by their FileKey: the first of each file stays
// and every later one is a duplicate of it. The list's removal and -Why's account of it both go by this.
class FirstOfEachFile {
 public:
  explicit FirstOfEachFile(std::size_t entries) { first_.reserve(entries); }
  // The index of the first entry with this key; `index` itself when it is the first.
  std::size_t Add(std::string key, std::size_t index) {
    return first_.try_emplace(std::move(key), index).first->second;
  }

 private:
  std::unordered_map<std::string, std::size_t> first_;
};

// The rule of the exclusion: each removal, in order, takes out the earliest entry of its file that no
// removal before it took, and at most one.
class Removals {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // The next removal, numbered from 0, by the FileKey of its file.
  void Add(std::string key);
  // The removal that takes out the next entry (in list order) with this key, or kNone: it stays.
  std::size_t Take(const std::string& key);

 private:
  struct Chain {
    std::size_t head;  // the next removal of this file not used yet, or kNone
    std::size_t tail;  // its last removal
  };
  std::unordered_map<std::string, Chain> chains_;
  std::vector<std::size_t> next_;  // the removal of the same file after each, or kNone
};

// Removes each entry that is the same file as an entry before it: the first of each file stays.
void RemoveDuplicates(PathList& list);

// For each entry of `scratch`, in order, removes the first entry of `list` that is the same file. Each
// scratch entry removes at most one.
void RemoveSameFiles(PathList& list, PathList& scratch);

}  // namespace zelvane
