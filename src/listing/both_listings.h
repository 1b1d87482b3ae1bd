#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/platform.h"
#include "listing/model.h"

namespace qrvdiff {

// The two input listings of a run: their streams, which stay open to the end (function texts
// are read again from regular files), and the listings read from them.
struct ListingInputs {
  FileHandle inputStream1;
  FileHandle inputStream2;
  std::optional<std::uint64_t> size2;  // listing 2's size in bytes, when it is a regular file
  std::unique_ptr<ProfileListing> listing1 = std::make_unique<ProfileListing>();
  std::unique_ptr<ProfileListing> listing2 = std::make_unique<ProfileListing>();
};

class ReadingSchedule;

// Reads listing 2 (`inputPath2`) whole, then listing 1 (`inputPath1`) filtered by listing 2's
// file sections. Every fault is reported as reading in that order would meet it first. When both
// are regular files, listing 1 is read on a second thread while listing 2 is read, and function
// texts are left in the files, to be read again when needed. An input that is also the output
// file (`outputPath`, empty for standard output) is copied as it is read, since the output
// empties it.
// The thread that is done with its listing first reads the second half of what is left of the
// other listing, when that is at least twice `smallestTail` bytes. `schedule` (none: the run's
// own) makes the decisions that depend on timing; tests pass their own.
inline constexpr std::uint64_t kSmallestTail = std::uint64_t{1} << 20;
void readBothListings(const std::string& inputPath1, const std::string& inputPath2,
                      const std::string& outputPath, ListingInputs& inputs,
                      std::uint64_t smallestTail = kSmallestTail,
                      ReadingSchedule* schedule = nullptr);

// How reading both listings at once works, in the order of events:
// - Listing 2's header is read on the calling thread. When both listings can be read again from
//   their files, listing 1 is read on a second thread, ahead of listing 2, while the calling
//   thread reads listing 2's sections. Not knowing listing 2's sections yet, it reads every
//   section of listing 1, and notes for each whether skipping it would have ended at the same
//   line (SectionChoice).
// - The thread done first with its own listing may help with the other: it claims the end of
//   that listing from a file section's "MONITORED " line on (ListingSplit) and reads it; the
//   owner stops at that line, and the end is appended to what the owner read.
// - Fallbacks: without a second thread, both are read in turn; a failed end of listing 2 is
//   read again by its owner, on from where it stopped; a failed end of listing 1, or section
//   choices that do not hold against listing 2's sections, make listing 1 be read again, after
//   listing 2, as a single thread would read it. So every fault is reported as reading in order
//   meets it.

// The listings, by their number on the command line.
enum class ListingNumber { First = 1, Second = 2 };

// The ways of reading that replace the parallel one, see above.
enum class ReadingFallback { InTurn, SecondReadOn, FirstReadAgain };

// The decisions of reading both listings at once that depend on timing. A run uses this class
// as it is; a test derives from it to bring about one interleaving of the two threads, by
// holding one of them in a call until the other has got somewhere, and to learn what happened.
class ReadingSchedule {
 public:
  virtual ~ReadingSchedule() = default;
  // Starts `work` on the second thread; throws std::system_error when the system gives none.
  virtual std::jthread startThread(std::function<void()> work) {
    return std::jthread(std::move(work));
  }
  // The owner of `listing` reads on past the file section at byte `offset`: it was not claimed.
  virtual void readsPast(ListingNumber /*listing*/, std::uint64_t /*offset*/) {}
  // Where the helper claims the end of `listing`: `found`, the first section start found after
  // the middle of what is left (none when none was, or too little is left); none: no claim.
  virtual std::optional<std::uint64_t> tailStart(ListingNumber /*listing*/,
                                                 std::optional<std::uint64_t> found) {
    return found;
  }
  // The helper's claim of the end of `listing` from `offset`; `won`: the owner was not there yet.
  virtual void claimed(ListingNumber /*listing*/, std::uint64_t /*offset*/, bool /*won*/) {}
  virtual void fellBack(ReadingFallback /*fallback*/) {}
};

// One listing split between its owner, the thread that reads it from the start, and a helper,
// which claims the rest of it from a line start at some offset on. The owner stops at that line
// when it meets it as a file section's "MONITORED " line, and the helper's reading from there to
// the end is used; when the owner does not stop there (the claim came too late, or the line
// opens no section), it reads on, and the helper's reading is thrown away.
//
// Protocol: one atomic word holds either the owner's progress (where the last section start it
// met begins; 0 while it reads the header) or, once claimed, the claimed offset with kClaimed
// set. The owner moves its progress on, and the helper claims, each by a compare-exchange on that
// word alone, so the word's modification order decides between them: a claim succeeds only when,
// at its place in that order, the progress is below the claimed offset, and the owner's later
// moves all fail and see the claim. Neither side decides on a second variable, which it might see
// late while the other does the same (store buffering), so they never both go on over the same
// stretch, nor both leave it. The owner's moves release, the helper's loads of the progress
// acquire: once the helper sees progress, it sees the listing's header the owner read before.
// stopped(), stopOffset() and linesBefore() belong to the owner: read by it, or after it ended.
class ListingSplit {
 public:
  // The owner, at a file section's "MONITORED " line that begins at `offset` and is line
  // `lineNumber`: true when it must stop there.
  bool stopsAt(std::uint64_t offset, std::uint32_t lineNumber) {
    std::uint64_t seen = word_.load(std::memory_order_relaxed);
    while ((seen & kClaimed) == 0) {
      if (word_.compare_exchange_weak(seen, offset, std::memory_order_release,
                                      std::memory_order_relaxed)) {
        return false;
      }
    }
    if (seen != (offset | kClaimed)) return false;
    stopped_ = true;
    stopOffset_ = offset;
    linesBefore_ = lineNumber - 1;
    return true;
  }
  // The helper, before it claims: where the last section start the owner met begins; 0 while the
  // owner reads the header.
  std::uint64_t progress() const {
    const std::uint64_t seen = word_.load(std::memory_order_acquire);
    return (seen & kClaimed) == 0 ? seen : 0;
  }
  // The helper: claims the rest from `offset` (a line start) on. False when the owner is there or
  // past it already, or a claim was made before.
  bool claim(std::uint64_t offset) {
    std::uint64_t seen = word_.load(std::memory_order_relaxed);
    while ((seen & kClaimed) == 0 && seen < offset) {
      if (word_.compare_exchange_weak(seen, offset | kClaimed, std::memory_order_relaxed)) {
        return true;
      }
    }
    return false;
  }
  // Whether the owner stopped at the claimed offset, which offset that is, and how many lines
  // precede it.
  bool stopped() const { return stopped_; }
  std::uint64_t stopOffset() const { return stopOffset_; }
  std::uint32_t linesBefore() const { return linesBefore_; }

 private:
  static constexpr std::uint64_t kClaimed = std::uint64_t{1} << 63;  // above any file offset

  std::atomic<std::uint64_t> word_{0};
  bool stopped_ = false;
  std::uint64_t stopOffset_ = 0;
  std::uint32_t linesBefore_ = 0;
};

}  // namespace qrvdiff
