// The drivers of the search: a Filespec or Xspec, parsed into single specs, searched into a match list,
// tested against its qualifiers; the exclusion of the Xspec's matches; and the whole search of a run.
#pragma once

#include <string>

#include "search/match_list.h"

namespace zelvane {

struct RunSettings;
struct ListingCache;

// Searches every entry of the Filespec `spec` into `target`, under the attribute switches and qualifiers in
// force where it stands, then removes duplicates (the same file found again) unless the run recurses. With
// `listings`, directories read by an earlier entry are not read again.
// With `exclusion` (the Xspec), a name without wildcards may also be a file's short (8.3) name.
void CollectMatches(const RunSettings& ctx, const std::string& spec, PathList& target,
                    ListingCache* listings = nullptr, bool exclusion = false);

// Searches the Xspec into a scratch list and removes the same files from `matches`, however the two spelled
// their paths.
void ExcludeMatches(const RunSettings& ctx, PathList& matches, ListingCache* listings = nullptr);

// The run's match list: the Filespec's matches less the Xspec's. Several specs (the Xspec's included) over
// one tree read each directory once; those listings live only while the search runs, so no command can
// have changed the tree under them.
PathList FindMatches(const RunSettings& ctx);

}  // namespace zelvane
