#pragma once

// Every line of a function, or of a whole listing held in memory, decoded: for checks in tests
// and fuzzing.

#include <vector>

#include "listing/function_lines.h"
#include "listing/model.h"

namespace qrvdiff::testing {

inline std::vector<LineRecord> linesOf(const ProfileListing& listing,
                                       const FunctionRecord& function) {
  std::vector<LineRecord> lines;
  FunctionLines walk(listing, function, FunctionText::inMemory(function));
  for (LineRecord line; walk.next(line);) lines.push_back(line);
  return lines;
}

inline std::vector<LineRecord> allLines(const ProfileListing& listing) {
  std::vector<LineRecord> lines;
  for (const FunctionRecord& function : listing.functions) {
    const std::vector<LineRecord> some = linesOf(listing, function);
    lines.insert(lines.end(), some.begin(), some.end());
  }
  return lines;
}

}  // namespace qrvdiff::testing
