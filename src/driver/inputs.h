#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "listing/model.h"
#include "listing/system_memory.h"

namespace qrvdiff {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The two input listings of a run: their streams, their bytes when mapped (the listings' texts
// then point into them), and the listings read from them.
struct ListingInputs {
  FileHandle inputStream1;
  FileHandle inputStream2;
  std::optional<MappedFile> mapped1;
  std::optional<MappedFile> mapped2;
  std::unique_ptr<ProfileListing> listing1 = std::make_unique<ProfileListing>();
  std::unique_ptr<ProfileListing> listing2 = std::make_unique<ProfileListing>();
};

// Reads listing 2 (`inputPath2`) whole, then listing 1 (`inputPath1`) filtered by listing 2's
// file sections. Every fault is reported as reading in that order would meet it first. When both
// can be mapped, listing 1 is read on a second thread while listing 2 is read. An input that is
// also the output file (`outputPath`, empty for standard output) is read as a stream, since the
// output empties it.
void readBothListings(const std::string& inputPath1, const std::string& inputPath2,
                      const std::string& outputPath, ListingInputs& inputs);

}  // namespace qrvdiff
