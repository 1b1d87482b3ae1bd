#pragma once

#include <cstddef>
#include <cstdint>

#include "base/platform.h"
#include "listing/model.h"

namespace qrvdiff {

// File sections whose functions take at most this many bytes of the listing file are brought
// into memory whole when they are paired.
inline constexpr std::size_t kSectionLoadedWhole = std::size_t{8} << 20;

// The bytes of the listing file from the text of the first function of `file` to the end of its
// last; 0 for a section without functions or a listing not read from a file.
std::uint64_t functionsExtent(const ProfileListing& listing, const MonitoredFile& file);

// Brings the text of a function into memory, for a listing whose function texts stay in the
// listing file (the record is then pointed at it with FunctionRecord::placeText). Reading a file
// again through one reused buffer costs a copy; keeping a gigabyte listing mapped or copied costs
// far more in fresh pages. Each read takes at least ListingTextFile::minimumRead bytes from the
// function on. For a listing held in memory, the text is where the record says.
//
// A text loaded earlier stays valid until a load needs another part of the file. One loader
// serves one thread.
class SectionLoader {
 public:
  SectionLoader() = default;
  SectionLoader(const SectionLoader&) = delete;
  SectionLoader& operator=(const SectionLoader&) = delete;

  // The text of `function` of `file`; ends the run with "Read error of file ..." when the
  // listing file cannot be read, no longer holds it, or has been written to since it was opened.
  const char* textOf(const ProfileListing& listing, const MonitoredFile& file,
                     const FunctionRecord& function) {
    if (!listing.textFile) return function.text;
    const std::uint64_t begin = function.textPosition;
    if (&listing != loadedListing_ || begin < loadedBegin_ || begin > loadedEnd_ ||
        function.extentInFile() > loadedEnd_ - begin) {
      read(listing, file, begin, function.extentInFile());
    }
    return buffer_.data() + (begin - loadedBegin_);
  }
  // Loads the texts of every function of `file` at once when they take at most `mostBytes`.
  void loadSection(const ProfileListing& listing, const MonitoredFile& file, std::size_t mostBytes);
  // Points the record of `function` at its text.
  void load(const ProfileListing& listing, const MonitoredFile& file, FunctionRecord& function) {
    if (listing.textFile) function.placeText(textOf(listing, file, function));
  }

 private:
  void read(const ProfileListing& listing, const MonitoredFile& file, std::uint64_t begin,
            std::size_t needed);

  ByteBlock buffer_;
  const ProfileListing* loadedListing_ = nullptr;
  std::uint64_t loadedBegin_ = 0;  // the file's bytes [loadedBegin_, loadedEnd_) are in buffer_
  std::uint64_t loadedEnd_ = 0;
};

}  // namespace qrvdiff
