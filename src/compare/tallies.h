#pragma once

#include "listing/model.h"

namespace qrvdiff {

// Marks every compared function of `second` and sums its numbers into its file's tallies and the
// listing's totals. Functions that are not compared count nowhere.
void computeTallies(ProfileListing& second, const ProfileListing& first);

}  // namespace qrvdiff
