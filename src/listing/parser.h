#pragma once

#include "listing/line_reader.h"
#include "listing/model.h"

namespace qrvdiff {

// Reads listing 2 whole: header, every file section, and the SUMMARY block down to the end.
void readSecondListing(LineReader& reader, ProfileListing& listing);

// Reads listing 1's header and those of its file sections whose "MONITORED " line also opens a
// file section of `second`; the others are skipped unread. Stops at the "SUMMARY" line.
// Lines are classified with `second`'s coverage view.
void readFirstListing(LineReader& reader, ProfileListing& listing, const ProfileListing& second);

// Reserves record space for a listing of `byteCount` bytes, so the line records are never moved.
void reserveForListingSize(ProfileListing& listing, std::uint64_t byteCount);

}  // namespace qrvdiff
