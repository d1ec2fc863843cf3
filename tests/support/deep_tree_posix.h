// Directory trees deeper than the system's path length, for tests on POSIX: built and removed by relative
// steps with one directory open at a time, so neither the path length nor the stack limits their depth.
#pragma once

#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace zelvane::test {

// Builds `depth` nested directories called `name` below `root` by relative steps, since the whole path is
// longer than the system lets one call take, and puts an empty `leaf` file at the bottom. Returns its path.
std::string MakeDeepTree(const std::string& root, const std::string& name, int depth,
                         const std::string& leaf);

// Removes `name` below the directory `parent` with everything in it, by relative steps and without
// recursion, holding one directory open at a time: a tree of any depth.
void RemoveTree(int parent, const char* name);

// Runs `make` with the directory `name` below `dir` removed by RemoveTree afterwards.
std::function<void(const TempDir&)> RemovesTree(const std::string& name);

}  // namespace zelvane::test
