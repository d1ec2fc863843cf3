// Minimal: one pattern in the current directory. The full search replaces this.
#include "search/search.h"

#include <vector>

#include "app/run_context.h"
#include "platform/platform.h"

namespace zelvane {

void SearchSpec(RunContext&, const std::string& spec, std::uint32_t, std::uint32_t, int, PathList& target) {
  if (spec.empty()) return;
  std::string dir;
  if (!platform::GetCurrentDir(dir)) return;
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(entries, false)) return;
  for (const platform::DirEntry& e : entries) {
    if (e.name[0] == '.' || !platform::MatchesPattern(spec, e.name)) continue;
    InsertSorted(target, dir + platform::NativeSeparator() + e.name);
  }
}

}  // namespace zelvane
