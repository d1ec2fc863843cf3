#include "search/collect.h"

#include <memory>
#include <vector>

#include "command/run_settings.h"
#include "filespec/filespec.h"
#include "filespec/qualifiers.h"
#include "search/search.h"

namespace zelvane {

void CollectMatches(const RunSettings& ctx, const std::string& spec, PathList& target, ListingCache* listings,
                    bool exclusion) {
  const std::vector<SearchStep> steps = ParseFilespec(spec);
  for (const SearchStep& step : steps) {
    const QualifierSet& q = step.qualifiers;
    if (q.size.empty() && q.time.empty() && q.comp.empty() && q.cont.empty()) {
      // Nothing to test: the matches go straight into the target, in the order a search of their own
      // followed by a move would give them.
      SearchSpec(ctx, step.spec, step.requiredAttributes, step.excludedAttributes, ctx.recurseSubdirs, target,
                 listings, exclusion);
      continue;
    }
    PathList found;
    SearchSpec(ctx, step.spec, step.requiredAttributes, step.excludedAttributes, ctx.recurseSubdirs, found,
               listings, exclusion);
    // Only the entries of this search are tested, each once, in list order.
    const std::vector<std::string>& entries = Entries(found);
    std::vector<bool> keep(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
      keep[i] = PassesQualifiers(ctx, entries[i], q);
    KeepEntries(found, keep);
    MoveEntries(found, target);
  }
  // One directory listed once holds each name once: only several specs, or several places one spec is
  // searched in, can find a file twice.
  const bool onePlace = steps.size() == 1 && (ctx.searchPath.empty() || IsFixedPath(steps.front().spec));
  if (!ctx.recurseSubdirs && !onePlace) RemoveDuplicates(target);
}

void ExcludeMatches(const RunSettings& ctx, PathList& matches, ListingCache* listings) {
  PathList scratch;
  CollectMatches(ctx, ctx.xspec, scratch, listings, /*exclusion=*/true);
  RemoveSameFiles(matches, scratch);
}

PathList FindMatches(const RunSettings& ctx) {
  std::unique_ptr<ListingCache> listings;
  if (ParseFilespec(ctx.filespec).size() > 1 || !ctx.xspec.empty())
    listings = std::make_unique<ListingCache>();
  PathList matches;
  CollectMatches(ctx, ctx.filespec, matches, listings.get());
  ExcludeMatches(ctx, matches, listings.get());
  return matches;
}

}  // namespace zelvane
