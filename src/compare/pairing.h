#pragma once

#include <cstddef>
#include <cstdint>

#include "listing/model.h"
#include "listing/section_loader.h"

namespace qrvdiff {

// Told of each file of listing 2 as soon as it is paired, on the thread that paired it. A thread
// takes the files that share a partner file together, in listing order, so files paired on one
// thread may come out of listing order; those of two threads interleave in any order.
class PairedFileHandler {
 public:
  virtual ~PairedFileHandler() = default;
  // Every function of `second.files[fileIndex]` is paired; `secondTexts` is the loader that
  // brought its texts in, and may still hold them. Every file before `firstUntakenFile` has been
  // taken by a thread already (a number that only grows).
  virtual void filePaired(std::size_t fileIndex, SectionLoader& secondTexts,
                          std::size_t firstUntakenFile) = 0;
  // A pairing thread failed: its remaining files will never come. Must not throw.
  virtual void abandon() noexcept = 0;
};

// Pairs every file of `second` with the first file of `first` that has the same "MONITORED "
// line, and every function of it with the first untaken function of that partner file whose
// FUNCTION line is equal from column 31 on. Sets `pairState` and `partner` of every function of
// `second` and `taken` of the listing-1 functions that were matched, and marks every compared
// function while its structure is tested.
void pairFiles(ProfileListing& second, ProfileListing& first);
// File sections whose functions take at least this many bytes of listing 2 are compared by
// every thread that is free, not only by the one that pairs them.
inline constexpr std::uint64_t kSharedSectionBytes = kSectionLoadedWhole + 1;

// The same on one thread, or shared out over two; `handler`, when given, hears of each file.
void pairFiles(ProfileListing& second, ProfileListing& first, std::size_t threads,
               PairedFileHandler* handler = nullptr,
               std::uint64_t sharedSectionBytes = kSharedSectionBytes);
// How many threads pairFiles(second, first) uses.
std::size_t pairingThreadsFor(const ProfileListing& second);

// For two functions with matching FUNCTION lines: true when they have the same structure (the
// same #line directive, the same lines by kind, compare length and text from column 30, with
// MC/DC rows tolerating "+" and "-" in listing 2, and the same number of statements), in which
// case the listing-2 function is marked against the other as markDifferences does.
bool compareAndMark(ProfileListing& second, FunctionRecord& secondFunction,
                    const ProfileListing& first, const FunctionRecord& firstFunction);

}  // namespace qrvdiff
