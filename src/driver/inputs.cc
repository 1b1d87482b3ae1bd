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

void mapInput(std::FILE* file, bool mappable, std::optional<MappedFile>& mapped,
              ProfileListing& listing) {
  if (!mappable) return;
  if (std::optional<MappedFile> fileMap = MappedFile::map(file)) {
    mapped.emplace(std::move(*fileMap));
    reserveForListingSize(listing, mapped->bytes().size());
  }
}

// Runs `read` over the listing's bytes: in place when mapped, else as a stream.
template <typename ReadListing>
void readWith(std::FILE* file, const std::string& path, const std::optional<MappedFile>& mapped,
              ReadListing read) {
  if (mapped) {
    LineReader reader(mapped->bytes(), path);
    read(reader);
  } else {
    FileSource source(file);
    LineReader reader(source, path);
    read(reader);
  }
}

void readFirstAfterSecond(const std::string& inputPath1, const std::string& outputPath,
                          ListingInputs& inputs) {
  inputs.inputStream1 = openInput(inputPath1);
  mapInput(inputs.inputStream1.get(), !isSameFile(inputPath1, outputPath), inputs.mapped1,
           *inputs.listing1);
  readWith(inputs.inputStream1.get(), inputPath1, inputs.mapped1, [&](LineReader& reader) {
    readFirstListing(reader, *inputs.listing1, *inputs.listing2);
  });
}

// Listing 1 read while listing 2 is still being read. It cannot know listing 2's file sections
// yet, so it reads every section and records, for each, whether skipping it would have ended at
// the same line; that is checked against listing 2's sections afterwards.
struct SpeculativeRead {
  std::unique_ptr<ProfileListing> listing = std::make_unique<ProfileListing>();
  LargeVector<SectionChoice> choices;
  bool mcdcView = false;
  std::exception_ptr failure;
};

void readSpeculatively(const std::string& inputPath1, std::string_view bytes1,
                       const std::string& inputPath2, std::string_view bytes2,
                       const std::atomic<bool>& cancelled, SpeculativeRead& result) {
  try {
    ProfileListing header2;
    LineReader headerReader(bytes2, inputPath2);
    readListingHeader(headerReader, header2);
    result.mcdcView = isMcdcView(header2);
    reserveForListingSize(*result.listing, bytes1.size());
    result.choices.reserve(result.listing->files.capacity());  // one per file section
    LineReader reader(bytes1, inputPath1);
    readFirstListing(reader, *result.listing,
                     FirstListingRules{nullptr, result.mcdcView, &result.choices, &cancelled});
  } catch (...) {
    result.failure = std::current_exception();
  }
}

// Whether reading every section gave what reading listing 1 after listing 2 gives: each section
// that listing 2 lacks, and that would have been skipped, must have ended where skipping ends.
bool choicesHold(const SpeculativeRead& read, const ProfileListing& second) {
  if (read.mcdcView != isMcdcView(second)) return false;
  const HeaderSet known = headerLinesOf(second);
  for (const SectionChoice& choice : read.choices) {
    if (!choice.sameAsSkipping && !known.contains(choice.headerLine)) return false;
  }
  return true;
}

bool isRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

void readBothListings(const std::string& inputPath1, const std::string& inputPath2,
                      const std::string& outputPath, ListingInputs& inputs) {
  inputs.inputStream2 = openInput(inputPath2);
  mapInput(inputs.inputStream2.get(), !isSameFile(inputPath2, outputPath), inputs.mapped2,
           *inputs.listing2);

  // The second thread needs both listings in memory; a pipe or a device is read in order.
  if (inputs.mapped2 && isRegularFile(inputPath1) && !isSameFile(inputPath1, outputPath)) {
    FileHandle stream1(std::fopen(inputPath1.c_str(), "rb"));
    std::optional<MappedFile> mapped1;
    if (stream1) {
      if (std::optional<MappedFile> fileMap = MappedFile::map(stream1.get())) {
        mapped1.emplace(std::move(*fileMap));
      }
    }
    if (mapped1) {
      auto speculative = std::make_unique<SpeculativeRead>();
      std::atomic<bool> cancelled{false};
      {
        std::jthread reader1(readSpeculatively, std::cref(inputPath1), mapped1->bytes(),
                             std::cref(inputPath2), inputs.mapped2->bytes(), std::cref(cancelled),
                             std::ref(*speculative));
        try {
          LineReader reader(inputs.mapped2->bytes(), inputPath2);
          readSecondListing(reader, *inputs.listing2);
        } catch (...) {
          cancelled = true;  // listing 2's fault comes first; listing 1's reading is moot
          throw;
        }
      }
      inputs.inputStream1 = std::move(stream1);
      inputs.mapped1.emplace(std::move(*mapped1));
      if (choicesHold(*speculative, *inputs.listing2)) {
        if (speculative->failure) std::rethrow_exception(speculative->failure);
        inputs.listing1 = std::move(speculative->listing);
        return;
      }
      // A section was chosen on a line that only looked like a section opening: read again.
      speculative.reset();
      reserveForListingSize(*inputs.listing1, inputs.mapped1->bytes().size());
      readWith(inputs.inputStream1.get(), inputPath1, inputs.mapped1, [&](LineReader& reader) {
        readFirstListing(reader, *inputs.listing1, *inputs.listing2);
      });
      return;
    }
  }

  readWith(inputs.inputStream2.get(), inputPath2, inputs.mapped2,
           [&](LineReader& reader) { readSecondListing(reader, *inputs.listing2); });
  readFirstAfterSecond(inputPath1, outputPath, inputs);
}

}  // namespace qrvdiff
