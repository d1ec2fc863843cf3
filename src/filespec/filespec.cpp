// Minimal: blank-separated specs without switches or qualifiers. The full language replaces this.
#include "filespec/filespec.h"

#include "app/run_context.h"
#include "search/search.h"

namespace zelvane {

void CollectMatches(RunContext& ctx, const std::string& spec, PathList& target) {
  std::size_t pos = 0;
  while (pos < spec.size()) {
    while (pos < spec.size() && (spec[pos] == ' ' || spec[pos] == '\t'))
      ++pos;
    std::size_t end = pos;
    while (end < spec.size() && spec[end] != ' ' && spec[end] != '\t')
      ++end;
    if (end > pos) SearchSpec(ctx, spec.substr(pos, end - pos), 0, 0, ctx.recurseSubdirs, target);
    pos = end;
  }
  if (!ctx.recurseSubdirs) RemoveAdjacentDuplicates(target);
}

bool TakeQualifier(std::string_view, std::string&, std::string&) {
  return false;
}

std::size_t TokenEnd(std::string_view text) {
  const std::size_t end = text.find_first_of(" \t");
  return end == std::string_view::npos ? text.size() : end;
}

}  // namespace zelvane
