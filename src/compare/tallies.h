#pragma once

#include "listing/model.h"

namespace qrvdiff {

// Sums the numbers of every compared function of `second` (marked by pairing) into its file's
// tallies and the listing's totals. Functions that are not compared count nowhere.
void computeTallies(ProfileListing& second);

}  // namespace qrvdiff
