#include "listing/section_loader.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "base/error.h"
#include "base/platform.h"

namespace qrvdiff {

void SectionLoader::read(const ProfileListing& listing, const MonitoredFile& file,
                         std::uint64_t begin, std::size_t needed) {
  if (holds_ != 0) throw std::logic_error("a held section would be read over");
  loadedListing_ = nullptr;
  // Reads start and end at page boundaries of the file, which the system copies faster; the
  // buffer's start is page-aligned too.
  constexpr std::size_t kPage = 4096;
  const std::size_t lead = static_cast<std::size_t>(begin % kPage);
  begin -= lead;
  needed += lead;
  const std::size_t wanted =
      (std::max(needed, listing.textFile->minimumRead) + kPage - 1) / kPage * kPage;
  if (wanted > buffer_.size()) {
    // At least a huge page: a buffer of 4 KiB pages costs a fault for each.
    constexpr std::size_t kSmallestBuffer = std::size_t{2} << 20;
    buffer_ = ByteBlock();
    buffer_ = ByteBlock(std::max(wanted, kSmallestBuffer));
  }
  // Which line the text begins on is not kept: the message names the section's first line, which
  // the text follows, or says that the file no longer holds what was parsed.
  const std::string& path = listing.textFile->path;
  std::size_t count = 0;
  try {
    count = readAt(listing.textFile->descriptor, buffer_.data(), wanted, begin);
  } catch (const std::system_error&) {
    throw Error("Read error of file " + path + ", after line " +
                std::to_string(file.headerLineNumber));
  }
  // The bytes must be those that were parsed: a file written to in the meantime (which changes
  // its size or the time of its last change, checked after the reading) may hold anything, and
  // one that ends too soon has been cut.
  if (count < needed || fileState(listing.textFile->descriptor) != listing.textFile->state) {
    throw Error("Read error of file " + path + ", changed during the run");
  }
  loadedListing_ = &listing;
  loadedBegin_ = begin;
  loadedEnd_ = begin + count;
}

std::uint64_t functionsExtent(const ProfileListing& listing, const MonitoredFile& file) {
  if (!listing.textFile || file.functionCount == 0) return 0;
  const FunctionRecord& first = listing.functions[file.firstFunction];
  const FunctionRecord& last = listing.functions[file.firstFunction + file.functionCount - 1];
  return last.textPosition + last.extentInFile() - first.textPosition;
}

SectionHold SectionLoader::holdSection(const ProfileListing& listing, const MonitoredFile& file,
                                       std::size_t mostBytes) {
  if (!listing.textFile) return SectionHold(nullptr, listing, file);
  if (file.functionCount == 0) return SectionHold();
  const std::uint64_t begin = listing.functions[file.firstFunction].textPosition;
  const std::uint64_t end = begin + functionsExtent(listing, file);
  if (end - begin > mostBytes) return SectionHold();
  if (&listing != loadedListing_ || begin < loadedBegin_ || end > loadedEnd_) {
    read(listing, file, begin, static_cast<std::size_t>(end - begin));
  }
  return SectionHold(this, listing, file);
}

SectionHold::SectionHold(SectionLoader* loader, const ProfileListing& listing,
                         const MonitoredFile& file)
    : loader_(loader), listing_(&listing), file_(&file) {
  if (loader_ != nullptr) ++loader_->holds_;
}

}  // namespace qrvdiff
