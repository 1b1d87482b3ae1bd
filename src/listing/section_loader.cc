#include "listing/section_loader.h"

#include <algorithm>
#include <string>

#include "driver/error.h"
#include "listing/system_memory.h"

namespace qrvdiff {

void SectionLoader::read(const ProfileListing& listing, const MonitoredFile& file,
                         std::uint64_t begin, std::size_t needed) {
  loadedListing_ = nullptr;
  const std::size_t wanted = std::max(needed, listing.textFile->minimumRead);
  if (wanted > capacity_) {
    // Room to spare, so that a run of growing functions does not allocate each time.
    const std::size_t capacity = std::max(wanted, capacity_ * 2);
    buffer_.reset();
    capacity_ = 0;
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity);
    capacity_ = capacity;
  }
  const std::size_t count = readAt(listing.textFile->descriptor, buffer_.get(), wanted, begin);
  if (count < needed) {
    throw Error("Read error of file " + listing.textFile->path + ", near line " +
                std::to_string(file.headerLineNumber));
  }
  loadedListing_ = &listing;
  loadedBegin_ = begin;
  loadedEnd_ = begin + count;
}

}  // namespace qrvdiff
