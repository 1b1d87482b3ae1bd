#pragma once

#include <string_view>

namespace qrvdiff {

// "9.1.4.1": shown in the help text and in the banner of the compared listing.
std::string_view versionText();

// "$VERSIONINFO$<version>$<build date>$<build time>$$": carried by the executable, never printed.
std::string_view versionMarker();

}  // namespace qrvdiff
