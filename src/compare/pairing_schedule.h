#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "listing/model.h"
#include "listing/section_loader.h"

namespace qrvdiff {

// Told of each file of listing 2 as soon as it is paired, on the thread that paired it. Files
// paired on one thread may come out of listing order (files that share a partner are paired
// together); those of two threads interleave in any order.
class PairedFileHandler {
 public:
  virtual ~PairedFileHandler() = default;
  // Every function of `second.files[fileIndex]` is paired; `texts` gives their texts, which may
  // still be loaded. With `mayWaitForEarlierFiles`, the call may block until every file before
  // this one has been handed to filePaired (on any thread) without ever blocking for good: each
  // of those files has been taken by a thread that pairs it without waiting for this one.
  virtual void filePaired(std::size_t fileIndex, SectionTexts& texts,
                          bool mayWaitForEarlierFiles) = 0;
  // A pairing thread failed: its remaining files will never come. Must not throw.
  virtual void abandon() noexcept = 0;
};

// Pairs every file and function of listing 2 (see compare/pairing.h) and marks every compared
// function while its structure is tested: sets `pairState` and `partner` of every function of
// listing 2 and `taken` of the listing-1 functions that were matched.
void pairFiles(const ListingPair& listings);
// File sections whose functions take at least this many bytes of listing 2 are compared by
// every thread that is free, not only by the one that pairs them.
inline constexpr std::uint64_t kSharedSectionBytes = kSectionLoadedWhole + 1;

// The same on one thread, or shared out over two; `handler`, when given, hears of each file.
void pairFiles(const ListingPair& listings, std::size_t threads,
               PairedFileHandler* handler = nullptr,
               std::uint64_t sharedSectionBytes = kSharedSectionBytes);
// How many threads pairFiles(listings) uses.
std::size_t pairingThreadsFor(const ProfileListing& second);

// Hands out the batches 0, 1, 2, ... of a plan, each once, to whichever thread asks: claims are
// ascending and leave no gap, so every batch before firstUnclaimed() has been claimed.
class BatchClaims {
 public:
  explicit BatchClaims(std::size_t count) : count_(count) {}

  // The next batch, or none when all are claimed or closeAll() was called.
  std::optional<std::size_t> claim() {
    const std::size_t batch = next_.fetch_add(1);
    if (batch >= count_) return std::nullopt;
    return batch;
  }
  // Claims every batch left, for no thread: after a failure.
  void closeAll() { next_ = count_; }
  std::size_t firstUnclaimed() const { return std::min(next_.load(), count_); }

 private:
  const std::size_t count_;
  std::atomic<std::size_t> next_{0};
};

}  // namespace qrvdiff
