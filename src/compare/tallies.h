#pragma once

#include "listing/model.h"

namespace qrvdiff {

// Sums the numbers of every compared function of `second` (marked by pairing) into its file's
// tallies and the listing's totals. Functions that are not compared count nowhere.
void computeTallies(ProfileListing& second);
// The same in two steps: one file's tally, once its functions are paired; then the totals.
void computeFileTally(ProfileListing& second, MonitoredFile& file);
void computeTotals(ProfileListing& second);

}  // namespace qrvdiff
