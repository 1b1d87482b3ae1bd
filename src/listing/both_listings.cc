#include "listing/both_listings.h"

#include <atomic>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/platform.h"
#include "listing/line_reader.h"
#include "listing/parser.h"

namespace qrvdiff {

namespace {

FileHandle openInput(const std::string& path) {
  FileHandle file(openFile(path, "rb"));
  if (!file) throw Error("Cannot open file \"" + path + "\"");
  return file;
}

bool isSameFile(const std::string& inputPath, const std::string& outputPath) {
  return !outputPath.empty() && namesSameFile(inputPath, outputPath);
}

// Prepares `listing` for reading from `file`: when the file can be read again, and will not be
// emptied by the output, function texts stay in it and only their places are kept. True then.
bool prepareListing(std::FILE* file, const std::string& path, const std::string& outputPath,
                    ProfileListing& listing) {
  if (isSameFile(path, outputPath)) return false;
  const std::optional<RereadableFile> rereadable = rereadableFile(file);
  if (!rereadable) return false;
  listing.textFile = ListingTextFile{rereadable->descriptor, path, rereadable->state};
  reserveForListingSize(listing, rereadable->state.size);
  return true;
}

// Reads a listing from its start: a file that can be read again through its descriptor, which
// leaves the stream untouched, anything else through the stream.
class ListingSource final : public ByteSource {
 public:
  ListingSource(std::FILE* file, const ProfileListing& listing)
      : descriptor_(listing.textFile ? listing.textFile->descriptor : -1) {
    if (descriptor_ < 0) stream_.emplace(file);
  }
  // From byte `offset` on, of a listing that can be read again; the input seems to end early once
  // `unwanted` is set.
  ListingSource(const ListingTextFile& file, std::uint64_t offset,
                const std::atomic<bool>& unwanted)
      : descriptor_(file.descriptor), offset_(offset), unwanted_(&unwanted) {}
  std::size_t read(char* buffer, std::size_t capacity) override {
    if (stream_) return stream_->read(buffer, capacity);
    if (unwanted_ != nullptr && unwanted_->load(std::memory_order_relaxed)) return 0;
    const std::size_t count = readAt(descriptor_, buffer, capacity, offset_);
    offset_ += count;
    return count;
  }

 private:
  int descriptor_;
  std::optional<FileSource> stream_;
  std::uint64_t offset_ = 0;
  const std::atomic<bool>* unwanted_ = nullptr;
};

// Listing 1 read while listing 2 is still being read. It cannot know listing 2's file sections
// yet, so it reads every section and records, for each, whether skipping it would have ended at
// the same line; that is checked against listing 2's sections afterwards.
struct SpeculativeRead {
  std::unique_ptr<ProfileListing> listing = std::make_unique<ProfileListing>();
  GuessedVector<SectionChoice> choices;
  std::exception_ptr failure;
};

// The end of a listing, read by the thread that is done with its own listing while the other
// thread still reads this one (see ListingSplit).
struct TailRead {
  ListingSplit split;
  std::unique_ptr<ProfileListing> listing;
  GuessedVector<SectionChoice> choices;  // listing 1's
  bool complete = false;                 // read to the end without a fault
  // Set when the reading of the start failed: the tail can no longer be used, and its reading
  // stops at the next block instead of keeping the run from reporting the fault.
  std::atomic<bool> unwanted{false};
};

// Both threads of a run, when done with their own listing, may help with the other's; only the
// first to be done does.
struct Helping {
  std::atomic<bool> taken{false};
  std::uint64_t smallestTail;
};

// Where the first "MONITORED " line at or after byte `from` of the file begins; ~0 when none is
// found before about byte `limit`.
std::uint64_t sectionStartFrom(int descriptor, std::uint64_t from, std::uint64_t limit) {
  constexpr std::string_view kOpening = "\nMONITORED ";
  constexpr std::size_t kWindow = 64 << 10;
  std::string window(kWindow, '\0');
  // Each window starts at a line feed's possible place: one byte before a line start.
  for (std::uint64_t at = from - 1; at < limit; at += kWindow - kOpening.size()) {
    const std::size_t count = readAt(descriptor, window.data(), kWindow, at);
    const std::size_t found = std::string_view(window.data(), count).find(kOpening);
    if (found != std::string_view::npos) return at + found + 1;
    if (count < kWindow) break;
  }
  return ListingSplit::kUnclaimed;
}

// Reads the second half of what is left of `owned`, which another thread is reading from the
// start, when enough is left. `owned` is one of the two listings of the run; its file, size and
// header fields are settled once its reading thread has reached the file sections.
void readTail(const ProfileListing& owned, bool listing1, bool mcdcView, Helping& helping,
              TailRead& tail) {
  if (helping.taken.exchange(true)) return;
  // Helping is optional: whatever goes wrong here, the listing is read in order instead.
  try {
    const std::uint64_t progress = tail.split.progress();
    if (progress == 0) return;  // still in the header
    const ListingTextFile& file = *owned.textFile;
    const std::uint64_t size = file.state.size;
    if (progress >= size || size - progress < 2 * helping.smallestTail) return;
    // The tail starts at the first section after the middle of what is left, if one starts
    // before three quarters: a search further on would read much of the listing, while its owner
    // may well be done, only to find a tail too short to pay.
    const std::uint64_t left = size - progress;
    const std::uint64_t offset =
        sectionStartFrom(file.descriptor, progress + left / 2, progress + left / 4 * 3);
    if (offset == ListingSplit::kUnclaimed || !tail.split.claim(offset)) return;
    tail.listing = std::make_unique<ProfileListing>();
    ProfileListing& listing = *tail.listing;
    listing.textFile = file;
    listing.producedAt = owned.producedAt;
    listing.coverageView = owned.coverageView;
    reserveForListingSize(listing, size - offset);
    ListingSource source(file, offset, tail.unwanted);
    LineReader reader(source, file.path);
    if (listing1) {
      tail.choices.reserve(listing.files.capacity());
      readFirstListingTail(reader, listing,
                           FirstListingRules{nullptr, mcdcView, &tail.choices, nullptr});
    } else {
      readSecondListingTail(reader, listing);
    }
    tail.complete = true;
  } catch (...) {
    // A fault is reported by reading this part again in order, as it would be met.
  }
}

void readSpeculatively(std::FILE* file, const std::string& inputPath1, bool mcdcView,
                       const std::atomic<bool>& cancelled, TailRead& ownTail,
                       const ProfileListing& listing2, Helping& helping, TailRead& tail2,
                       SpeculativeRead& result) {
  try {
    result.choices.reserve(result.listing->files.capacity());  // one per file section
    ListingSource source(file, *result.listing);
    LineReader reader(source, inputPath1);
    readFirstListing(
        reader, *result.listing,
        FirstListingRules{nullptr, mcdcView, &result.choices, &cancelled, &ownTail.split});
  } catch (...) {
    result.failure = std::current_exception();
    ownTail.unwanted = true;
    return;
  }
  if (!ownTail.split.stopped() && !cancelled) readTail(listing2, false, mcdcView, helping, tail2);
}

// Whether reading every section gave what reading listing 1 after listing 2 gives: each section
// that listing 2 lacks, and that would have been skipped, must have ended where skipping ends.
bool choicesHold(const SpeculativeRead& read, const ProfileListing& second) {
  // Listing 2's "MONITORED " lines are gathered only when a choice needs them: mostly none does,
  // and for tens of thousands of sections the gathering costs milliseconds.
  std::optional<HeaderSet> known;
  for (const SectionChoice& choice : read.choices) {
    if (choice.sameAsSkipping) continue;
    if (!known) known = headerLinesOf(second);
    if (!known->contains(choice.headerLine)) return false;
  }
  return true;
}

void readFirstAfterSecond(FileHandle stream1, const std::string& inputPath1,
                          const std::string& outputPath, ListingInputs& inputs) {
  inputs.listing1 = std::make_unique<ProfileListing>();
  prepareListing(stream1.get(), inputPath1, outputPath, *inputs.listing1);
  ListingSource source(stream1.get(), *inputs.listing1);
  LineReader reader(source, inputPath1);
  inputs.inputStream1 = std::move(stream1);
  readFirstListing(reader, *inputs.listing1, *inputs.listing2);
}

}  // namespace

void readBothListings(const std::string& inputPath1, const std::string& inputPath2,
                      const std::string& outputPath, ListingInputs& inputs,
                      std::uint64_t smallestTail) {
  inputs.inputStream2 = openInput(inputPath2);
  ProfileListing& listing2 = *inputs.listing2;
  const bool rereadable2 =
      prepareListing(inputs.inputStream2.get(), inputPath2, outputPath, listing2);
  if (rereadable2) inputs.size2 = listing2.textFile->state.size;
  ListingSource source2(inputs.inputStream2.get(), listing2);
  LineReader reader2(source2, inputPath2);
  readListingHeader(reader2, listing2);

  // Listing 1 is read beside listing 2 only when it can be read a second time, should listing 2
  // show that the first reading went wrong.
  FileHandle stream1;
  if (rereadable2) stream1.reset(openFile(inputPath1, "rb"));
  // The listings one after the other, as the run would read them on one thread.
  const auto readInTurn = [&] {
    readSecondListingSections(reader2, listing2);
    // A listing 1 opened already is read through that stream: a named pipe opened a second time
    // would have lost its writer, and the run would wait for ever.
    readFirstAfterSecond(stream1 ? std::move(stream1) : openInput(inputPath1), inputPath1,
                         outputPath, inputs);
  };
  auto speculative = std::make_unique<SpeculativeRead>();
  if (!stream1 || !prepareListing(stream1.get(), inputPath1, outputPath, *speculative->listing)) {
    readInTurn();
    return;
  }

  std::atomic<bool> cancelled{false};
  Helping helping{{false}, smallestTail};
  TailRead tail1;
  TailRead tail2;
  {
    std::optional<std::jthread> reader1;
    try {
      reader1.emplace(readSpeculatively, stream1.get(), std::cref(inputPath1), isMcdcView(listing2),
                      std::cref(cancelled), std::ref(tail1), std::cref(listing2), std::ref(helping),
                      std::ref(tail2), std::ref(*speculative));
    } catch (const std::system_error&) {
      // The system gives no second thread (a limit of threads or of memory).
      speculative.reset();
      readInTurn();
      return;
    }
    try {
      readSecondListingSections(reader2, listing2, &tail2.split);
      if (!tail2.split.stopped()) {
        readTail(*speculative->listing, true, isMcdcView(listing2), helping, tail1);
      }
    } catch (...) {
      cancelled = true;  // listing 2's fault comes first; listing 1's reading is moot
      tail2.unwanted = true;
      throw;
    }
  }
  if (tail2.split.stopped()) {
    if (tail2.complete) {
      appendListingTail(listing2, *tail2.listing, tail2.split.claimedOffset(),
                        tail2.split.linesBefore());
    } else {
      readSecondListingSections(reader2, listing2);  // on from where it stopped, to the fault
    }
  }
  if (tail1.split.stopped()) {
    if (!tail1.complete) {
      speculative.reset();
      readFirstAfterSecond(std::move(stream1), inputPath1, outputPath, inputs);
      return;
    }
    appendListingTail(*speculative->listing, *tail1.listing, tail1.split.claimedOffset(),
                      tail1.split.linesBefore());
    speculative->choices.insert(speculative->choices.end(), tail1.choices.begin(),
                                tail1.choices.end());
  }
  if (choicesHold(*speculative, listing2)) {
    if (speculative->failure) std::rethrow_exception(speculative->failure);
    inputs.inputStream1 = std::move(stream1);
    inputs.listing1 = std::move(speculative->listing);
    return;
  }
  // A section was chosen on a line that only looked like a section opening: read again.
  speculative.reset();
  readFirstAfterSecond(std::move(stream1), inputPath1, outputPath, inputs);
}

}  // namespace qrvdiff
