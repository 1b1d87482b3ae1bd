#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "base/platform.h"
#include "listing/model.h"

namespace qrvdiff {

// File sections whose functions take at most this many bytes of the listing file are brought
// into memory whole when they are paired.
inline constexpr std::size_t kSectionLoadedWhole = std::size_t{8} << 20;

// The bytes of the listing file from the text of the first function of `file` to the end of its
// last; 0 for a section without functions or a listing not read from a file.
std::uint64_t functionsExtent(const ProfileListing& listing, const MonitoredFile& file);

class SectionHold;

// Brings the text of a function into memory, for a listing whose function texts stay in the
// listing file. Reading a file again through one reused buffer costs a copy; keeping a whole
// listing mapped or copied costs a page fault for every page of it. Each read takes at least
// ListingTextFile::minimumRead bytes from the function on. For a listing held in memory, the
// text is where the record says.
//
// A text it hands out stays valid until it reads another part of the file, which it never does
// while a SectionHold of it lives. One loader serves one thread.
class SectionLoader {
 public:
  SectionLoader() = default;
  SectionLoader(const SectionLoader&) = delete;
  SectionLoader& operator=(const SectionLoader&) = delete;

  // The text of `function` of `file`; ends the run with "Read error of file ..." when the
  // listing file cannot be read, no longer holds it, or has been written to since it was opened.
  FunctionText textOf(const ProfileListing& listing, const MonitoredFile& file,
                      const FunctionRecord& function) {
    if (!listing.textFile) return FunctionText::inMemory(function);
    const std::uint64_t begin = function.textPosition;
    if (&listing != loadedListing_ || begin < loadedBegin_ || begin > loadedEnd_ ||
        function.extentInFile() > loadedEnd_ - begin) {
      read(listing, file, begin, function.extentInFile());
    }
    return FunctionText::loadedAt(function, buffer_.data() + (begin - loadedBegin_));
  }
  // Brings the texts of every function of `file` in at once when they take at most `mostBytes`,
  // and keeps them in memory for as long as the hold lives.
  SectionHold holdSection(const ProfileListing& listing, const MonitoredFile& file,
                          std::size_t mostBytes);

 private:
  friend class SectionHold;

  void read(const ProfileListing& listing, const MonitoredFile& file, std::uint64_t begin,
            std::size_t needed);

  ByteBlock buffer_;
  const ProfileListing* loadedListing_ = nullptr;
  std::uint64_t loadedBegin_ = 0;  // the file's bytes [loadedBegin_, loadedEnd_) are in buffer_
  std::uint64_t loadedEnd_ = 0;
  std::size_t holds_ = 0;  // SectionHolds alive: reading again would move their texts
};

// The texts of one file section kept in memory, or of one too large for that: then none. While
// it lives, its loader does not read again; a read it would need is a fault of the program
// (std::logic_error), so that the texts it gives cannot be overwritten under their users.
class SectionHold {
 public:
  SectionHold() = default;
  SectionHold(SectionHold&& other) noexcept { *this = std::move(other); }
  SectionHold& operator=(SectionHold&& other) noexcept {
    if (this != &other) {
      reset();
      loader_ = std::exchange(other.loader_, nullptr);
      listing_ = std::exchange(other.listing_, nullptr);
      file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
  }
  ~SectionHold() { reset(); }

  // Gives the section up: its loader may read again.
  void reset() noexcept {
    if (loader_ != nullptr) --loader_->holds_;
    loader_ = nullptr;
    listing_ = nullptr;
    file_ = nullptr;
  }
  // Whether the texts of the section are at hand.
  bool holdsTexts() const { return listing_ != nullptr; }
  // The text of a function of the section; only when holdsTexts().
  FunctionText textOf(const FunctionRecord& function) const {
    if (loader_ != nullptr) return loader_->textOf(*listing_, *file_, function);  // never reads
    if (listing_ == nullptr) throw std::logic_error("texts asked of a section not held");
    return FunctionText::inMemory(function);
  }

 private:
  friend class SectionLoader;
  SectionHold(SectionLoader* loader, const ProfileListing& listing, const MonitoredFile& file);

  SectionLoader* loader_ = nullptr;  // none for a listing held in memory
  const ProfileListing* listing_ = nullptr;
  const MonitoredFile* file_ = nullptr;
};

// The function texts of one file section, as a loader brings them in: what a consumer of the
// section is given rather than the loader.
class SectionTexts {
 public:
  SectionTexts(SectionLoader& loader, const ProfileListing& listing, const MonitoredFile& file)
      : loader_(loader), listing_(listing), file_(file) {}
  // A view valid until the next call.
  FunctionText textOf(const FunctionRecord& function) {
    return loader_.textOf(listing_, file_, function);
  }

 private:
  SectionLoader& loader_;
  const ProfileListing& listing_;
  const MonitoredFile& file_;
};

}  // namespace qrvdiff
