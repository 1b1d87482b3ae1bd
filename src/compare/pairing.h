#pragma once

#include "listing/model.h"

namespace qrvdiff {

// Pairs every file of `second` with the first file of `first` that has the same "MONITORED "
// line, and every function of it with the first untaken function of that partner file whose
// FUNCTION line is equal from column 31 on. Sets `pairState` and `partner` of every function of
// `second` and `taken` of the listing-1 functions that were matched, and marks every compared
// function (markDifferences) as soon as it is found compared.
void pairFiles(ProfileListing& second, ProfileListing& first);
// The same on one thread, or shared out over two.
void pairFiles(ProfileListing& second, ProfileListing& first, std::size_t threads);

// True when two functions with matching FUNCTION lines have the same structure: the same #line
// directive, the same lines (kind, compare length and text from column 30; MC/DC rows tolerate
// "+" and "-" in listing 2), and the same number of statements.
bool haveSameStructure(const ProfileListing& second, const FunctionRecord& secondFunction,
                       const ProfileListing& first, const FunctionRecord& firstFunction);

}  // namespace qrvdiff
