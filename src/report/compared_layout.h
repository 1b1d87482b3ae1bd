#pragma once

#include <cstddef>
#include <string_view>

namespace qrvdiff {

// What the writer of a compared listing puts where, shared with the programs that read one back.

// The start of the banner line that tells a compared listing from a plain one; the version and
// the closing "*" follow.
inline constexpr std::string_view kComparedBannerStart =
    "*             EXECUTION PROFILE LISTING (COMPARED by qrvdiff v";

// The status field of a FUNCTION line, 0-based columns 11 to 21: blanks for a compared function,
// else one of the two texts.
inline constexpr std::size_t kStatusColumn = 11;
inline constexpr std::size_t kStatusWidth = 11;
inline constexpr std::string_view kStatusNotAvailable = "(not avail)";
inline constexpr std::string_view kStatusDifferent = "(different)";

}  // namespace qrvdiff
