#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "listing/header_set.h"
#include "listing/line_reader.h"
#include "listing/model.h"

namespace qrvdiff {

// True when listing 2's coverage view turns numbered condition rows into plain lines.
bool isMcdcView(const ProfileListing& second);

// Reads only the header of a listing: banner, "Listing produced at" and "Coverage view".
void readListingHeader(LineReader& reader, ProfileListing& listing);

// Asked by the parser at each file section's "MONITORED " line, before it reads the section,
// whether to stop there; reading then returns with that line at hand. Through it another part of
// the program may end a reading early, for instance where another reader takes over.
class SectionGate {
 public:
  // `offset`: where the line begins in the input, in bytes; `lineNumber`: its number.
  virtual bool stopsBefore(std::uint64_t offset, std::uint32_t lineNumber) = 0;

 protected:
  ~SectionGate() = default;
};

// Reads listing 2 whole: header, every file section, and the SUMMARY block down to the end.
void readSecondListing(LineReader& reader, ProfileListing& listing);
// The same after readListingHeader() has read the header; with a `gate`, reading may stop early,
// before a file section, without the SUMMARY block.
void readSecondListingSections(LineReader& reader, ProfileListing& listing,
                               SectionGate* gate = nullptr);
// Reads the end of listing 2, from the "MONITORED " line at which `reader` starts, as
// readSecondListingSections() reads on from that line; `listing` holds listing 2's header.
void readSecondListingTail(LineReader& reader, ProfileListing& listing);

// What reading listing 1 decided for each file section it met: read it or skip it, and for a
// section read whole, whether skipping it instead would have ended at the same line.
struct SectionChoice {
  std::string_view headerLine;
  bool read;
  bool sameAsSkipping;
};

struct FirstListingRules {
  // Sections with these opening lines are read, the others skipped; none: every section is read.
  const HeaderSet* knownHeaders;
  bool mcdcView;  // listing 2's view, which the line classifier follows
  GuessedVector<SectionChoice>* choices = nullptr;  // when given, every choice is recorded
  SectionGate* gate = nullptr;  // when given, reading may stop early, before a file section
};

// Reads listing 1's header and those of its file sections whose "MONITORED " line is known;
// the others are skipped unread. Stops at the "SUMMARY" line.
void readFirstListing(LineReader& reader, ProfileListing& listing, const FirstListingRules& rules);

// The same, with the sections and the coverage view of `second`.
void readFirstListing(LineReader& reader, ProfileListing& listing, const ProfileListing& second);

// Reads the end of listing 1, from the "MONITORED " line at which `reader` starts, as
// readFirstListing() reads on from that line.
void readFirstListingTail(LineReader& reader, ProfileListing& listing,
                          const FirstListingRules& rules);

// Reserves record space for a listing of `byteCount` bytes, so the line records are never moved.
void reserveForListingSize(ProfileListing& listing, std::uint64_t byteCount);

}  // namespace qrvdiff
