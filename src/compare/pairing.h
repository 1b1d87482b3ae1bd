#pragma once

#include "listing/model.h"

namespace qrvdiff {

// Pairs every file of `second` with the first file of `first` that has the same "MONITORED "
// line, and every function of it with the first untaken function of that partner file whose
// FUNCTION line is equal from column 31 on. Sets `pairState` and `partner` of every function of
// `second` and `taken` of the listing-1 functions that were matched, and marks every compared
// function while its structure is tested.
void pairFiles(ProfileListing& second, ProfileListing& first);
// The same on one thread, or shared out over two.
void pairFiles(ProfileListing& second, ProfileListing& first, std::size_t threads);

// For two functions with matching FUNCTION lines: true when they have the same structure (the
// same #line directive, the same lines by kind, compare length and text from column 30, with
// MC/DC rows tolerating "+" and "-" in listing 2, and the same number of statements), in which
// case the listing-2 function is marked against the other as markDifferences does.
bool compareAndMark(ProfileListing& second, FunctionRecord& secondFunction,
                    const ProfileListing& first, const FunctionRecord& firstFunction);

}  // namespace qrvdiff
