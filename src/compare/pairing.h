#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "base/platform.h"
#include "listing/model.h"
#include "listing/section_loader.h"

namespace qrvdiff {

// The steps of pairing, each on the thread that calls it; compare/pairing_schedule.h shares them
// out over threads.
//
// Every file of listing 2 is paired with the first file of listing 1 that has the same
// "MONITORED " line, and every function of it with the first untaken function of that partner
// file whose FUNCTION line is equal from column 31 on.

inline constexpr std::size_t kNoFile = std::numeric_limits<std::size_t>::max();
// As the least size of a shared section: no section is shared.
inline constexpr std::uint64_t kNeverShared = std::numeric_limits<std::uint64_t>::max();

// Which listing-1 file each file of listing 2 is paired with, and how the files are taken.
// Functions of different partner files never compete for a candidate: a group is a listing-2
// file with the files after it that have the same partner, paired in listing order by one
// thread; files without a partner stand alone. A batch, what a thread takes at a time, is a
// group of several files alone, or a run of single-file groups that spans about one reading of
// listing 2 from its file: taken one by one, sections far smaller than a reading would have each
// thread read the stretch around every other section again. Batches are numbered in the listing
// order of their first files, and a batch is paired in listing order.
class PairingPlan {
 public:
  explicit PairingPlan(const ListingPair& listings);

  std::size_t batchCount() const { return batchStarts_.size() - 1; }
  // The first file of `batch`; the number of files of listing 2 for batchCount().
  std::size_t firstFileOf(std::size_t batch) const {
    return batch < batchCount() ? groupStarts_[batchStarts_[batch]] : fileCount_;
  }
  std::size_t firstGroupOf(std::size_t batch) const { return batchStarts_[batch]; }
  std::size_t firstFileOfGroup(std::size_t group) const { return groupStarts_[group]; }
  // The next file of the same group, or kNoFile.
  std::size_t nextInGroup(std::size_t file) const { return nextInGroup_[file]; }
  // The listing-1 file paired with file `file` of listing 2, or kNoFile.
  std::size_t partnerOf(std::size_t file) const { return partners_[file]; }

 private:
  std::size_t fileCount_;
  LargeVector<std::size_t> partners_;
  LargeVector<std::size_t> groupStarts_;  // the first file of each group, in listing order
  LargeVector<std::size_t> nextInGroup_;
  LargeVector<std::size_t> batchStarts_;  // the first group of each batch, and the group count
};

// A listing-2 function and the listing-1 function that FUNCTION lines chose for it.
struct ChosenPair {
  FunctionRecord* second;
  FunctionRecord* first;
};

// The pairs chosen for the functions of one large file section, to be compared and marked. Which
// listing-1 function each is compared with depends on the functions before it, so the choice is
// made in order; the comparing, most of the work, may then be shared by threads.
struct SharedSection {
  const MonitoredFile* file;
  const MonitoredFile* partnerFile;
  const std::vector<ChosenPair>* pairs;
};

// What a thread that pairs batches needs of the schedule that runs it.
class PairingHooks {
 public:
  virtual ~PairingHooks() = default;
  // Compares and marks every pair of the section, perhaps with other threads; returns when all
  // are done.
  virtual void compareShared(const SharedSection& section) = 0;
  // Every function of file `fileIndex` of listing 2 is paired; `texts` gives their texts.
  virtual void filePaired(std::size_t fileIndex, SectionTexts& texts) = 0;
};

// How one thread pairs: its own loaders of both listings and its index of candidates.
class ThreadPairing {
 public:
  // Sections whose functions take at least `sharedSectionBytes` of listing 2 go to
  // hooks.compareShared(). With `keepSectionsForHooks`, a section is kept loaded whole, when it
  // is not too large, until hooks.filePaired() has returned, which reads it again.
  ThreadPairing(const ListingPair& listings, const PairingPlan& plan, PairingHooks& hooks,
                std::uint64_t sharedSectionBytes, bool keepSectionsForHooks);
  ~ThreadPairing();
  ThreadPairing(const ThreadPairing&) = delete;
  ThreadPairing& operator=(const ThreadPairing&) = delete;

  // Pairs the files of `batch` of the plan, in listing order.
  void pairBatch(std::size_t batch);
  // Compares and marks the pairs [begin, end) of the section.
  void compareRun(const SharedSection& section, std::size_t begin, std::size_t end);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// For two functions with matching FUNCTION lines, their texts in memory: true when they have the
// same structure (the same #line directive, the same lines by kind, compare length and text from
// column 30, with MC/DC rows tolerating "+" and "-" in listing 2, and the same number of
// statements), in which case the listing-2 function is marked against the other as
// markDifferences does.
bool compareAndMark(const ListingPair& listings, FunctionRecord& secondFunction,
                    FunctionText secondText, const FunctionRecord& firstFunction,
                    FunctionText firstText);

}  // namespace qrvdiff
