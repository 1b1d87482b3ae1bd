#include "listing/both_listings.h"

#include <atomic>
#include <exception>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/platform.h"
#include "listing/header_set.h"
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

// Listing 1 read from the start while listing 2 is still being read. It cannot know listing 2's
// file sections yet, so it reads every section and records, for each, whether skipping it would
// have ended at the same line; that is checked against listing 2's sections afterwards.
struct ReadAhead {
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

// What the owner of a listing, which reads it from the start, is asked at each section start.
class OwnerGate final : public SectionGate {
 public:
  OwnerGate(ListingNumber listing, ListingSplit& split, ReadingSchedule& schedule,
            const std::atomic<bool>* cancelled)
      : listing_(listing), split_(split), schedule_(schedule), cancelled_(cancelled) {}
  bool stopsBefore(std::uint64_t offset, std::uint32_t lineNumber) override {
    if (cancelled_ != nullptr && cancelled_->load(std::memory_order_relaxed)) return true;
    if (split_.stopsAt(offset, lineNumber)) return true;
    schedule_.readsPast(listing_, offset);
    return false;
  }

 private:
  ListingNumber listing_;
  ListingSplit& split_;
  ReadingSchedule& schedule_;
  const std::atomic<bool>* cancelled_;  // none: reading is never cancelled
};

// Where the first "MONITORED " line at or after byte `from` of the file begins; none when none is
// found before about byte `limit`.
std::optional<std::uint64_t> sectionStartFrom(int descriptor, std::uint64_t from,
                                              std::uint64_t limit) {
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
  return std::nullopt;
}

// Appends `tail`, the end of a listing read from byte `tailOffset` on, where `linesBefore` lines
// precede it, to `listing`, its start; `tail` is left empty.
void appendListingTail(ProfileListing& listing, ProfileListing& tail, std::uint64_t tailOffset,
                       std::uint32_t linesBefore) {
  const std::size_t includeBase = listing.includes.size();
  const std::size_t functionBase = listing.functions.size();
  const std::size_t lineBase = listing.lineInfos.size();
  for (MonitoredFile file : tail.files) {
    file.firstInclude += includeBase;
    file.firstFunction += functionBase;
    file.headerLineNumber += linesBefore;
    listing.files.push_back(file);
  }
  listing.includes.insert(listing.includes.end(), tail.includes.begin(), tail.includes.end());
  for (FunctionRecord function : tail.functions) {
    function.firstLine += lineBase;
    function.textPosition += tailOffset;
    listing.functions.push_back(function);
  }
  listing.lineInfos.insert(listing.lineInfos.end(), tail.lineInfos.begin(), tail.lineInfos.end());
  listing.sawCarriageReturn = listing.sawCarriageReturn || tail.sawCarriageReturn;
  listing.sourceFilesLine = tail.sourceFilesLine;
  listing.sourceFileCount = tail.sourceFileCount;
  listing.headersLine = tail.headersLine;
  listing.functionsLine = tail.functionsLine;
  listing.functionCount = tail.functionCount;
  listing.sourceLinesLine = tail.sourceLinesLine;
  listing.terLine = tail.terLine;
  listing.statementTerLine = tail.statementTerLine;
  listing.arena.adopt(tail.arena);
  tail.files.clear();
  tail.includes.clear();
  tail.functions.clear();
  tail.lineInfos.clear();
}

// Whether reading every section gave what reading listing 1 after listing 2 gives: each section
// that listing 2 lacks, and that would have been skipped, must have ended where skipping ends.
bool choicesHold(const ReadAhead& read, const ProfileListing& second) {
  // Listing 2's "MONITORED " lines are gathered only when a choice needs them: mostly none does,
  // and for tens of thousands of sections the gathering takes a while.
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

// Reads listing 2 whole (its header has been read), then listing 1 after it, as one thread would.
// A listing 1 opened already (`stream1`) is read through that stream: a named pipe opened a second
// time would have lost its writer, and the run would wait for ever.
void readInTurn(LineReader& reader2, FileHandle stream1, const std::string& inputPath1,
                const std::string& outputPath, ListingInputs& inputs) {
  readSecondListingSections(reader2, *inputs.listing2);
  readFirstAfterSecond(stream1 ? std::move(stream1) : openInput(inputPath1), inputPath1, outputPath,
                       inputs);
}

// Both listings read at once: listing 2 on the calling thread, listing 1 ahead of it on a second
// one, the thread done first helping with the other's listing; then the results joined, or read
// again where they cannot be used (see ReadingSchedule's header comment).
class ReadingAtOnce {
 public:
  ReadingAtOnce(const std::string& inputPath1, const std::string& outputPath, ListingInputs& inputs,
                LineReader& reader2, FileHandle& stream1, std::unique_ptr<ReadAhead> ahead,
                std::uint64_t smallestTail, ReadingSchedule& schedule)
      : inputPath1_(inputPath1),
        outputPath_(outputPath),
        inputs_(inputs),
        listing2_(*inputs.listing2),
        reader2_(reader2),
        stream1_(stream1),
        ahead_(std::move(ahead)),
        mcdcView_(isMcdcView(listing2_)),
        smallestTail_(smallestTail),
        schedule_(schedule) {}

  // False when the system gives no second thread: nothing has been read then.
  bool read() {
    {
      std::jthread reader1;
      try {
        reader1 = schedule_.startThread([this] { readFirstAhead(); });
      } catch (const std::system_error&) {
        return false;
      }
      readSecondBeside();  // on a fault, the thread is told to stop, and joined
    }
    finishSecond();
    finishFirst();
    return true;
  }

 private:
  // The second thread: listing 1 from its start, then perhaps the end of listing 2.
  void readFirstAhead() {
    ReadAhead& ahead = *ahead_;
    try {
      ahead.choices.reserve(ahead.listing->files.capacity());  // one per file section
      ListingSource source(stream1_.get(), *ahead.listing);
      LineReader reader(source, inputPath1_);
      OwnerGate gate(ListingNumber::First, tail1_.split, schedule_, &cancelled_);
      readFirstListing(reader, *ahead.listing,
                       FirstListingRules{nullptr, mcdcView_, &ahead.choices, &gate});
    } catch (...) {
      ahead.failure = std::current_exception();
      tail1_.unwanted = true;
      return;
    }
    if (!tail1_.split.stopped() && !cancelled_) help(ListingNumber::Second);
  }

  // The calling thread: listing 2's sections, then perhaps the end of listing 1.
  void readSecondBeside() {
    try {
      OwnerGate gate(ListingNumber::Second, tail2_.split, schedule_, nullptr);
      readSecondListingSections(reader2_, listing2_, &gate);
      if (!tail2_.split.stopped()) help(ListingNumber::First);
    } catch (...) {
      cancelled_ = true;  // listing 2's fault comes first; listing 1's reading is moot
      tail2_.unwanted = true;
      throw;
    }
  }

  // Reads the end of the other thread's listing, when this thread is the first one done and
  // enough is left. Helping is optional: whatever goes wrong here, the listing is read in order
  // instead.
  void help(ListingNumber listing) {
    if (helping_.exchange(true)) return;
    const bool first = listing == ListingNumber::First;
    TailRead& tail = first ? tail1_ : tail2_;
    // The owner's header fields and file are settled once it has reached the file sections.
    const ProfileListing& owned = first ? *ahead_->listing : listing2_;
    try {
      const std::uint64_t progress = tail.split.progress();
      if (progress == 0) return;  // still in the header
      const std::optional<std::uint64_t> start =
          schedule_.tailStart(listing, foundTailStart(*owned.textFile, progress));
      if (!start) return;
      const bool won = tail.split.claim(*start);
      schedule_.claimed(listing, *start, won);
      if (!won) return;
      readTail(owned, first, *start, tail);
      tail.complete = true;
    } catch (...) {
      // A fault is reported by reading this part again in order, as it would be met.
    }
  }

  // The first section start after the middle of what is left of `file` beyond `progress`, if one
  // starts before three quarters: a search further on would read much of the listing, while its
  // owner may well be done, only to find a tail too short to pay.
  std::optional<std::uint64_t> foundTailStart(const ListingTextFile& file,
                                              std::uint64_t progress) const {
    const std::uint64_t size = file.state.size;
    if (progress >= size || size - progress < 2 * smallestTail_) return std::nullopt;
    const std::uint64_t left = size - progress;
    return sectionStartFrom(file.descriptor, progress + left / 2, progress + left / 4 * 3);
  }

  // Reads `owned` from the claimed `offset` on, into `tail`.
  void readTail(const ProfileListing& owned, bool first, std::uint64_t offset, TailRead& tail) {
    const ListingTextFile& file = *owned.textFile;
    tail.listing = std::make_unique<ProfileListing>();
    ProfileListing& part = *tail.listing;
    part.textFile = file;
    part.producedAt = owned.producedAt;
    part.coverageView = owned.coverageView;
    reserveForListingSize(part, file.state.size - offset);
    ListingSource source(file, offset, tail.unwanted);
    LineReader reader(source, file.path);
    if (first) {
      tail.choices.reserve(part.files.capacity());
      readFirstListingTail(reader, part, FirstListingRules{nullptr, mcdcView_, &tail.choices});
    } else {
      readSecondListingTail(reader, part);
    }
  }

  // Listing 2 whole: its end joined on, or, when the reading of the end failed, read on from
  // where its owner stopped, down to the fault.
  void finishSecond() {
    if (!tail2_.split.stopped()) return;
    if (tail2_.complete) {
      appendListingTail(listing2_, *tail2_.listing, tail2_.split.stopOffset(),
                        tail2_.split.linesBefore());
      return;
    }
    schedule_.fellBack(ReadingFallback::SecondReadOn);
    tail2_.listing.reset();
    readSecondListingSections(reader2_, listing2_);
  }

  // Listing 1, as reading it after listing 2 gives it: the reading ahead with its end joined on,
  // when all of it was read and its section choices hold; else read again.
  void finishFirst() {
    ReadAhead& ahead = *ahead_;
    if (tail1_.split.stopped()) {
      if (!tail1_.complete) return readFirstAgain();
      appendListingTail(*ahead.listing, *tail1_.listing, tail1_.split.stopOffset(),
                        tail1_.split.linesBefore());
      ahead.choices.insert(ahead.choices.end(), tail1_.choices.begin(), tail1_.choices.end());
    }
    // A section chosen on a line that only looked like a section opening: read again.
    if (!choicesHold(ahead, listing2_)) return readFirstAgain();
    if (ahead.failure) std::rethrow_exception(ahead.failure);
    inputs_.inputStream1 = std::move(stream1_);
    inputs_.listing1 = std::move(ahead.listing);
  }

  void readFirstAgain() {
    schedule_.fellBack(ReadingFallback::FirstReadAgain);
    ahead_.reset();
    tail1_.listing.reset();
    readFirstAfterSecond(std::move(stream1_), inputPath1_, outputPath_, inputs_);
  }

  const std::string& inputPath1_;
  const std::string& outputPath_;
  ListingInputs& inputs_;
  ProfileListing& listing2_;
  LineReader& reader2_;  // at listing 2's first section
  FileHandle& stream1_;
  std::unique_ptr<ReadAhead> ahead_;
  const bool mcdcView_;
  const std::uint64_t smallestTail_;
  ReadingSchedule& schedule_;
  std::atomic<bool> cancelled_{false};  // set when listing 2's reading failed
  std::atomic<bool> helping_{false};    // taken by the thread done first
  TailRead tail1_;
  TailRead tail2_;
};

}  // namespace

void readBothListings(const std::string& inputPath1, const std::string& inputPath2,
                      const std::string& outputPath, ListingInputs& inputs,
                      std::uint64_t smallestTail, ReadingSchedule* schedule) {
  ReadingSchedule runSchedule;
  if (schedule == nullptr) schedule = &runSchedule;
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
  auto ahead = std::make_unique<ReadAhead>();
  if (stream1 && prepareListing(stream1.get(), inputPath1, outputPath, *ahead->listing)) {
    ReadingAtOnce reading(inputPath1, outputPath, inputs, reader2, stream1, std::move(ahead),
                          smallestTail, *schedule);
    if (reading.read()) return;
    // The system gives no second thread (a limit of threads or of memory).
  }
  ahead.reset();
  schedule->fellBack(ReadingFallback::InTurn);
  readInTurn(reader2, std::move(stream1), inputPath1, outputPath, inputs);
}

}  // namespace qrvdiff
