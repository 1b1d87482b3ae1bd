#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

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

// Reads listing 2 (`inputPath2`) whole, then listing 1 (`inputPath1`) filtered by listing 2's
// file sections. Every fault is reported as reading in that order would meet it first. When both
// are regular files, listing 1 is read on a second thread while listing 2 is read, and function
// texts are left in the files, to be read again when needed. An input that is also the output
// file (`outputPath`, empty for standard output) is copied as it is read, since the output
// empties it.
// The thread that is done with its listing first reads the second half of what is left of the
// other listing, when that is at least twice `smallestTail` bytes.
inline constexpr std::uint64_t kSmallestTail = std::uint64_t{1} << 20;
void readBothListings(const std::string& inputPath1, const std::string& inputPath2,
                      const std::string& outputPath, ListingInputs& inputs,
                      std::uint64_t smallestTail = kSmallestTail);

}  // namespace qrvdiff
