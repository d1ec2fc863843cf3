#include "search/collect.h"

#include <vector>

#include "app/run_context.h"
#include "filespec/filespec.h"
#include "filespec/qualifiers.h"
#include "search/search.h"

namespace zelvane {

void CollectMatches(const RunContext& ctx, const std::string& spec, PathList& target) {
  for (const SearchStep& step : ParseFilespec(spec)) {
    const QualifierSet& q = step.qualifiers;
    if (q.size.empty() && q.time.empty() && q.comp.empty() && q.cont.empty()) {
      // Nothing to test: the matches go straight into the target, in the order a search of their own
      // followed by a move would give them.
      SearchSpec(ctx, step.spec, step.requiredAttributes, step.excludedAttributes, ctx.recurseSubdirs,
                 target);
      continue;
    }
    PathList found;
    SearchSpec(ctx, step.spec, step.requiredAttributes, step.excludedAttributes, ctx.recurseSubdirs, found);
    // Only the entries of this search are tested, each once, in list order.
    const std::vector<std::string>& entries = Entries(found);
    std::vector<bool> keep(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
      keep[i] = PassesQualifiers(ctx, entries[i], q);
    KeepEntries(found, keep);
    MoveEntries(found, target);
  }
  if (!ctx.recurseSubdirs) RemoveAdjacentDuplicates(target);
}

void ExcludeMatches(RunContext& ctx) {
  PathList scratch;
  CollectMatches(ctx, ctx.xspec, scratch);
  RemoveExactMatches(ctx.MatchList, scratch);
}

}  // namespace zelvane
