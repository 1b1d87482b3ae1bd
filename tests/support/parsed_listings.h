#pragma once

// Reads listing texts into the model, as a run does, for unit tests of the later stages.

#include <memory>
#include <string>

#include "listing/line_reader.h"
#include "listing/model.h"
#include "listing/parser.h"

namespace qrvdiff::testing {

struct ParsedPair {
  ProfileListing second;
  ProfileListing first;
  ListingPair listings() { return {FirstListing(first), SecondListing(second)}; }
};

inline std::unique_ptr<ParsedPair> parsePair(const std::string& firstText,
                                             const std::string& secondText) {
  auto pair = std::make_unique<ParsedPair>();
  MemorySource secondSource(secondText);
  LineReader secondReader(secondSource, "l2.txt");
  readSecondListing(secondReader, pair->second);
  MemorySource firstSource(firstText);
  LineReader firstReader(firstSource, "l1.txt");
  readFirstListing(firstReader, pair->first, pair->second);
  return pair;
}

}  // namespace qrvdiff::testing
