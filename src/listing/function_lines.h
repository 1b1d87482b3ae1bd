#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "listing/line_feed_scanner.h"
#include "listing/model.h"

namespace qrvdiff {

// Walks the lines of one function of a listing, in order, in its text.
class FunctionLines {
 public:
  FunctionLines(const ProfileListing& listing, const FunctionRecord& function, FunctionText text)
      : cursor_(text.data()),
        lineFeeds_(text.data(), text.end()),
        infos_(listing.lineInfos.data() + function.firstLine),
        remaining_(function.lineCount),
        stripCarriageReturn_(listing.linesReadInPlace) {}

  // The next line, or false after the last one. A text with fewer lines than the record counts
  // is a fault of the program, not of the listing.
  bool next(LineRecord& line) {
    if (remaining_ == 0) return false;
    const char* lineFeed = lineFeeds_.next();
    if (lineFeed == nullptr) throw std::logic_error("a function text shorter than its line count");
    std::size_t length = static_cast<std::size_t>(lineFeed - cursor_);
    if (stripCarriageReturn_ && length != 0 && cursor_[length - 1] == '\r') --length;
    line.text = cursor_;
    line.length = static_cast<std::uint32_t>(length);
    line.info = *infos_;
    current_ = infos_;
    cursor_ = lineFeed + 1;
    ++infos_;
    --remaining_;
    return true;
  }
  // Where the info of the line last returned is kept.
  std::size_t currentOffset(const ProfileListing& listing) const {
    return static_cast<std::size_t>(current_ - listing.lineInfos.data());
  }

 private:
  const char* cursor_;
  LineFeedScanner<> lineFeeds_;
  const LineInfo* infos_;
  const LineInfo* current_ = nullptr;
  std::size_t remaining_;
  bool stripCarriageReturn_;
};

}  // namespace qrvdiff
