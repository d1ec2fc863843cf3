// The drivers of the search: a Filespec or Xspec, parsed into single specs, searched into a match list,
// tested against its qualifiers; the exclusion of the Xspec's matches; and the whole search of a run.
#pragma once

#include <string>

#include "search/match_list.h"

namespace zelvane {

struct RunSettings;
struct ListingCache;
struct WhyLog;

// Searches every entry of the Filespec `spec` into `target`, under the attribute switches and qualifiers in
// force where it stands, then removes duplicates (the same file found again) unless the run recurses. With
// `listings`, directories read by an earlier entry are not read again.
// With `exclusion` (the Xspec), a name without wildcards may also be a file's short (8.3) name. With `why`,
// what became of every entry looked at is noted there.
void CollectMatches(const RunSettings& ctx, const std::string& spec, PathList& target,
                    ListingCache* listings = nullptr, bool exclusion = false, WhyLog* why = nullptr);

// Searches the Xspec into a scratch list and removes the same files from `matches`, however the two spelled
// their paths.
void ExcludeMatches(const RunSettings& ctx, PathList& matches, ListingCache* listings = nullptr,
                    WhyLog* why = nullptr);

// The run's match list: the Filespec's matches less the Xspec's. Several specs (the Xspec's included) over
// one tree read each directory once; those listings live only while the search runs, so no command can
// have changed the tree under them. With `filespecWhy` and `xspecWhy`, each search's notes go there.
PathList FindMatches(const RunSettings& ctx, WhyLog* filespecWhy = nullptr, WhyLog* xspecWhy = nullptr);

// -Why: searches as FindMatches does and writes what became of every entry looked at to standard output.
void ExplainSearch(const RunSettings& ctx);

}  // namespace zelvane
