#pragma once

#include <atomic>
#include <string_view>
#include <vector>

#include "listing/hashed_index.h"
#include "listing/line_reader.h"
#include "listing/model.h"

namespace qrvdiff {

// A set of "MONITORED " lines: those of listing 2's file sections, against which listing 1's
// sections are chosen, or those of listing 1's, among which pairing finds partner files.
class HeaderSet {
 public:
  static constexpr std::size_t kAbsent = HashedIndex::kNotFound;

  explicit HeaderSet(std::size_t expected = 0) : index_(expected) { headers_.reserve(expected); }
  // Adds the line unless it is there already; true when it was added.
  bool add(std::string_view headerLine);
  bool contains(std::string_view headerLine) const { return position(headerLine) != kAbsent; }
  // How many distinct lines were added before this one, or kAbsent.
  std::size_t position(std::string_view headerLine) const;
  std::size_t size() const { return headers_.size(); }

 private:
  HashedIndex index_;
  LargeVector<std::string_view> headers_;
};

// The "MONITORED " lines of listing 2's file sections.
HeaderSet headerLinesOf(const ProfileListing& second);

// True when listing 2's coverage view turns numbered condition rows into plain lines.
bool isMcdcView(const ProfileListing& second);

// Reads only the header of a listing: banner, "Listing produced at" and "Coverage view".
void readListingHeader(LineReader& reader, ProfileListing& listing);

// Reads listing 2 whole: header, every file section, and the SUMMARY block down to the end.
void readSecondListing(LineReader& reader, ProfileListing& listing);
// The same after readListingHeader() has read the header.
void readSecondListingSections(LineReader& reader, ProfileListing& listing);

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
  const std::atomic<bool>* cancelled = nullptr;   // when given and set, reading stops early
};

// Reads listing 1's header and those of its file sections whose "MONITORED " line is known;
// the others are skipped unread. Stops at the "SUMMARY" line.
void readFirstListing(LineReader& reader, ProfileListing& listing, const FirstListingRules& rules);

// The same, with the sections and the coverage view of `second`.
void readFirstListing(LineReader& reader, ProfileListing& listing, const ProfileListing& second);

// Reserves record space for a listing of `byteCount` bytes, so the line records are never moved.
void reserveForListingSize(ProfileListing& listing, std::uint64_t byteCount);

}  // namespace qrvdiff
