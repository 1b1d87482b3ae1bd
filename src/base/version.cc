#include "base/version.h"

namespace qrvdiff {

// Kept with external linkage so that the marker stays in every executable that uses the version.
extern const char kVersionMarker[];
const char kVersionMarker[] = "$VERSIONINFO$9.1.4.1$" __DATE__ "$" __TIME__ "$$";

std::string_view versionText() {
  return "9.1.4.1";
}

std::string_view versionMarker() {
  // The volatile read keeps an optimizing linker from treating the marker as unused.
  static const char* volatile marker = kVersionMarker;
  return marker;
}

}  // namespace qrvdiff
