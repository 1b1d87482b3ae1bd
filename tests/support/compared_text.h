#pragma once

// The compared listing of two listing texts, made the plain way: both read whole in memory,
// paired on one thread, written once pairing is over. The reference for other ways of running.

#include <string>

#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "listing/line_reader.h"
#include "listing/parser.h"
#include "report/writer.h"
#include "support/string_sink.h"

namespace qrvdiff::testing {

inline const ReportHeader kTestReportHeader{"l1.txt", "l2.txt", "now\n"};

// Reads both texts in place; they must outlive the listings.
inline void readInPlace(const std::string& firstText, const std::string& secondText,
                        ProfileListing& first, ProfileListing& second) {
  LineReader secondReader(secondText, "l2.txt");
  readSecondListing(secondReader, second);
  LineReader firstReader(firstText, "l1.txt");
  readFirstListing(firstReader, first, second);
}

inline std::string comparedText(const std::string& firstText, const std::string& secondText) {
  ProfileListing second;
  ProfileListing first;
  readInPlace(firstText, secondText, first, second);
  const ListingPair listings{FirstListing(first), SecondListing(second)};
  pairFiles(listings, 1);
  computeTallies(second);
  StringSink sink;
  OutputBuffer out(sink);
  writeComparedListing(listings, kTestReportHeader, out);
  out.flush();
  return sink.bytes;
}

}  // namespace qrvdiff::testing
