#pragma once

#include <cstdint>
#include <string_view>

#include "listing/model.h"

namespace qrvdiff {

// Walks a compared function of listing 2 in step with its partner in listing 1, sets "^"
// (covered in listing 2 only) and "v" (covered in listing 1 only) as the marks of the listing-2
// lines, and sets the function's kept, gained and lost counts.
void markDifferences(ProfileListing& second, FunctionRecord& function, const ProfileListing& first);

// The value of a counter field: blanks skipped, digits accumulated, anything else ends it.
std::uint64_t counterValue(std::string_view field);

}  // namespace qrvdiff
