#include "driver/inputs.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/error.h"
#include "listing/line_reader.h"
#include "listing/parser.h"
#include "listing/system_memory.h"

namespace qrvdiff {

namespace {

FileHandle openInput(const std::string& path) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) throw Error("Cannot open file \"" + path + "\"");
  return file;
}

bool isSameFile(const std::string& inputPath, const std::string& outputPath) {
  std::error_code error;
  return !outputPath.empty() && std::filesystem::equivalent(inputPath, outputPath, error);
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
  std::size_t read(char* buffer, std::size_t capacity) override {
    if (stream_) return stream_->read(buffer, capacity);
    const std::size_t count = readAt(descriptor_, buffer, capacity, offset_);
    offset_ += count;
    return count;
  }

 private:
  int descriptor_;
  std::optional<FileSource> stream_;
  std::uint64_t offset_ = 0;
};

// Listing 1 read while listing 2 is still being read. It cannot know listing 2's file sections
// yet, so it reads every section and records, for each, whether skipping it would have ended at
// the same line; that is checked against listing 2's sections afterwards.
struct SpeculativeRead {
  std::unique_ptr<ProfileListing> listing = std::make_unique<ProfileListing>();
  GuessedVector<SectionChoice> choices;
  std::exception_ptr failure;
};

void readSpeculatively(std::FILE* file, const std::string& inputPath1, bool mcdcView,
                       const std::atomic<bool>& cancelled, SpeculativeRead& result) {
  try {
    result.choices.reserve(result.listing->files.capacity());  // one per file section
    ListingSource source(file, *result.listing);
    LineReader reader(source, inputPath1);
    readFirstListing(reader, *result.listing,
                     FirstListingRules{nullptr, mcdcView, &result.choices, &cancelled});
  } catch (...) {
    result.failure = std::current_exception();
  }
}

// Whether reading every section gave what reading listing 1 after listing 2 gives: each section
// that listing 2 lacks, and that would have been skipped, must have ended where skipping ends.
bool choicesHold(const SpeculativeRead& read, const ProfileListing& second) {
  const HeaderSet known = headerLinesOf(second);
  for (const SectionChoice& choice : read.choices) {
    if (!choice.sameAsSkipping && !known.contains(choice.headerLine)) return false;
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
                      const std::string& outputPath, ListingInputs& inputs) {
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
  if (rereadable2) stream1.reset(std::fopen(inputPath1.c_str(), "rb"));
  auto speculative = std::make_unique<SpeculativeRead>();
  if (!stream1 || !prepareListing(stream1.get(), inputPath1, outputPath, *speculative->listing)) {
    readSecondListingSections(reader2, listing2);
    // A listing 1 opened already is read through that stream: a named pipe opened a second time
    // would have lost its writer, and the run would wait for ever.
    readFirstAfterSecond(stream1 ? std::move(stream1) : openInput(inputPath1), inputPath1,
                         outputPath, inputs);
    return;
  }

  std::atomic<bool> cancelled{false};
  {
    std::jthread reader1(readSpeculatively, stream1.get(), std::cref(inputPath1),
                         isMcdcView(listing2), std::cref(cancelled), std::ref(*speculative));
    try {
      readSecondListingSections(reader2, listing2);
    } catch (...) {
      cancelled = true;  // listing 2's fault comes first; listing 1's reading is moot
      throw;
    }
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
