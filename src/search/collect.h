// The drivers of the search: a Filespec or Xspec, parsed into single specs, searched into a match list,
// tested against its qualifiers; and the exclusion of the Xspec's matches from the run's list.
#pragma once

#include <string>

#include "search/match_list.h"

namespace zelvane {

struct RunContext;

// Searches every entry of the Filespec `spec` into `target`, under the attribute switches and qualifiers in force
// where it stands, then removes adjacent duplicates unless the run recurses.
void CollectMatches(const RunContext& ctx, const std::string& spec, PathList& target);

// Searches the Xspec into a scratch list and removes its entries from the run's MatchList.
void ExcludeMatches(RunContext& ctx);

}  // namespace zelvane
