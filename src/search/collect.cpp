#include "search/collect.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "command/run_log.h"
#include "command/run_settings.h"
#include "filespec/filespec.h"
#include "filespec/qualifiers.h"
#include "platform/console.h"
#include "search/search.h"
#include "search/why.h"

namespace zelvane {
namespace {

// Where the walk of one Filespec entry looked at each of its matches: the lines it kept for them (those
// without a verdict) from `from` on, by path, each path's in the order the walk found them, which is the
// order its copies keep in the list.
class MatchPlaces {
 public:
  MatchPlaces(const WhyLog& why, std::size_t from) {
    for (std::size_t k = from; k < why.lines.size(); ++k) {
      if (why.lines[k].verdict == nullptr) places_[why.lines[k].path].at.push_back(k);
    }
  }
  // The next line kept for `path`, or npos when none is.
  std::size_t Take(const std::string& path) {
    const auto found = places_.find(path);
    if (found == places_.end() || found->second.next == found->second.at.size()) return std::string::npos;
    return found->second.at[found->second.next++];
  }

 private:
  struct Places {
    std::vector<std::size_t> at;
    std::size_t next = 0;
  };
  std::unordered_map<std::string, Places> places_;
};

}  // namespace

void CollectMatches(const RunSettings& ctx, const std::string& spec, PathList& target, ListingCache* listings,
                    bool exclusion, WhyLog* why) {
  const std::vector<SearchStep> steps = ParseFilespec(spec);
  for (const SearchStep& step : steps) {
    const QualifierSet& q = step.qualifiers;
    if (why != nullptr) why->step = step.spec;
    if (why == nullptr && q.size.empty() && q.time.empty() && q.comp.empty() && q.cont.empty()) {
      // Nothing to test: the matches go straight into the target, in the order a search of their own
      // followed by a move would give them.
      SearchSpec(ctx, step.spec, step.requiredAttributes, step.excludedAttributes, ctx.recurseSubdirs, target,
                 listings, exclusion);
      continue;
    }
    PathList found;
    const std::size_t stepLines = why != nullptr ? why->lines.size() : 0;
    SearchSpec(ctx, step.spec, step.requiredAttributes, step.excludedAttributes, ctx.recurseSubdirs, found,
               listings, exclusion, why);
    // Only the entries of this search are tested, each once, in list order.
    const std::vector<std::string>& entries = Entries(found);
    std::vector<bool> keep(entries.size());
    QualifierFailure failure;
    std::unique_ptr<MatchPlaces> places;
    if (why != nullptr) places = std::make_unique<MatchPlaces>(*why, stepLines);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      keep[i] = PassesQualifiers(ctx, entries[i], q, why != nullptr ? &failure : nullptr);
      if (why == nullptr) continue;
      // Each match's line stands where the walk looked at it, among the lines of the entries around it.
      std::size_t looked = places->Take(entries[i]);
      if (looked == std::string::npos) {
        looked = why->lines.size();
        why->Add(entries[i], nullptr, {});
      }
      if (keep[i]) {
        why->matches.push_back({entries[i], DirectoryOf(found, i), step.spec, looked});
        continue;
      }
      // The qualifier, then the file's value and the operand's.
      std::string detail = failure.qualifier;
      if (failure.file.empty()) {
        detail += ": the file is gone";
      } else {
        detail += ": file ";
        detail += failure.file;
        detail += failure.operand.empty() ? ", no operand file" : ", operand ";
        detail += failure.operand;
      }
      why->lines[looked].verdict = "qualifier";
      why->lines[looked].detail = std::move(detail);
    }
    KeepEntries(found, keep);
    MoveEntries(found, target);
  }
  // One directory listed once holds each name once: only several specs, or several places one spec is
  // searched in, can find a file twice.
  const bool onePlace = steps.size() == 1 && (ctx.searchPath.empty() || IsFixedPath(steps.front().spec));
  const bool removesDuplicates = !ctx.recurseSubdirs && !onePlace;
  if (why != nullptr) why->removesDuplicates = removesDuplicates;
  if (removesDuplicates) RemoveDuplicates(target);
}

void ExcludeMatches(const RunSettings& ctx, PathList& matches, ListingCache* listings, WhyLog* why) {
  PathList scratch;
  CollectMatches(ctx, ctx.xspec, scratch, listings, /*exclusion=*/true, why);
  RemoveSameFiles(matches, scratch);
}

PathList FindMatches(const RunSettings& ctx, WhyLog* filespecWhy, WhyLog* xspecWhy) {
  std::unique_ptr<ListingCache> listings;
  if (ParseFilespec(ctx.filespec).size() > 1 || !ctx.xspec.empty())
    listings = std::make_unique<ListingCache>();
  PathList matches;
  CollectMatches(ctx, ctx.filespec, matches, listings.get(), false, filespecWhy);
  ExcludeMatches(ctx, matches, listings.get(), xspecWhy);
  return matches;
}

void ExplainSearch(const RunSettings& ctx) {
  WhyLog filespec;
  WhyLog xspec;
  PathList matches = FindMatches(ctx, &filespec, &xspec);
  // -Resume passes over what the log says is done: that is an answer too.
  std::unordered_set<std::string> done;
  if (ctx.resume && !ctx.logFile.empty()) {
    const std::vector<std::string>& entries = Entries(matches);
    const std::vector<bool> isDone = DoneFiles(ctx.logFile, entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (isDone[i]) done.insert(entries[i]);
    }
  }
  platform::WriteOut(WhyText(filespec, xspec, done));
}

}  // namespace zelvane
