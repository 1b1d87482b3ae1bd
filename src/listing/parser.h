#pragma once

#include <atomic>
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

// Lets a second thread read the end of a listing while a first one reads it from the start. The
// second claims the "MONITORED " line at some offset ahead of the first; the first stops there
// if its reading meets that line as a file section's first, and the second reads from there to
// the end. When the first does not stop there (it passed the offset before the claim, or never
// met a section there), the second's reading is not used.
class ListingSplit {
 public:
  static constexpr std::uint64_t kUnclaimed = ~std::uint64_t{0};

  // The first thread, at each "MONITORED " line that begins a file section: true when it must
  // stop there. `lineNumber` is that line's.
  bool stopsAt(std::uint64_t offset, std::uint32_t lineNumber) {
    // Released: what the first thread read before (the listing's header) is then settled.
    progress_.store(offset, std::memory_order_release);
    if (offset != claimed_.load(std::memory_order_relaxed)) return false;
    linesBefore_ = lineNumber - 1;
    stopped_.store(true, std::memory_order_relaxed);
    return true;
  }
  // The second thread: where the first one is, and the claim of the rest from `offset` on (a
  // line start). False when another claim was made or the first thread is there already.
  std::uint64_t progress() const { return progress_.load(std::memory_order_acquire); }
  bool claim(std::uint64_t offset) {
    std::uint64_t unclaimed = kUnclaimed;
    return claimed_.compare_exchange_strong(unclaimed, offset) && progress() < offset;
  }
  // Once both threads are done: whether the first stopped at the claimed offset, and how many
  // lines it read before it.
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }
  std::uint64_t claimedOffset() const { return claimed_.load(std::memory_order_relaxed); }
  std::uint32_t linesBefore() const { return linesBefore_; }

 private:
  std::atomic<std::uint64_t> progress_{0};
  std::atomic<std::uint64_t> claimed_{kUnclaimed};
  std::atomic<bool> stopped_{false};
  std::uint32_t linesBefore_ = 0;  // written by the first thread before it ends
};

// Reads listing 2 whole: header, every file section, and the SUMMARY block down to the end.
void readSecondListing(LineReader& reader, ProfileListing& listing);
// The same after readListingHeader() has read the header; with `split`, reading may stop early
// (see ListingSplit), without the SUMMARY block.
void readSecondListingSections(LineReader& reader, ProfileListing& listing,
                               ListingSplit* split = nullptr);
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
  const std::atomic<bool>* cancelled = nullptr;     // when given and set, reading stops early
  ListingSplit* split = nullptr;  // when given, reading may stop early (see ListingSplit)
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

// Appends `tail`, the end of a listing read from byte `tailOffset` on, where `linesBefore` lines
// precede it, to `listing`, its start; `tail` is left empty.
void appendListingTail(ProfileListing& listing, ProfileListing& tail, std::uint64_t tailOffset,
                       std::uint32_t linesBefore);

// Reserves record space for a listing of `byteCount` bytes, so the line records are never moved.
void reserveForListingSize(ProfileListing& listing, std::uint64_t byteCount);

}  // namespace qrvdiff
