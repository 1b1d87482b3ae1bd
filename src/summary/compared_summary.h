#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"

namespace qrvdiff {
class ByteSource;

namespace summary {

// A text kept in ComparedSummary::textChunks.
struct TextRef {
  std::uint32_t chunk = 0;
  std::uint32_t begin = 0;
  std::uint32_t length = 0;
};

// A measurement point whose coverage changed, as its mark shows it in the compared listing.
struct ChangedPoint {
  std::uint32_t line = 0;       // the source line number; 0 when the line shows none
  std::uint8_t markColumn = 0;  // 1-based: 11 after the HITS/TRUE counter, 22 after FALSE
  TextRef text;                 // the description, from column 31 on without leading blanks
};

enum class FunctionStatus { Compared, NotAvailable, Different };

// Kept: covered in both listings; gained: in listing 2 only; lost: in listing 1 only; covered
// and points: listing 2's own count.
struct Amounts {
  std::int64_t kept = 0;
  std::int64_t gained = 0;
  std::int64_t lost = 0;
  std::int64_t covered = 0;
  std::int64_t points = 0;
};

struct FunctionSummary {
  TextRef name;  // the text after "FUNCTION "
  std::uint32_t line = 0;
  FunctionStatus status = FunctionStatus::Compared;
  Amounts amounts;
  // Its lost points, then its gained ones, in ComparedSummary::points from firstPoint on.
  std::size_t firstPoint = 0;
  std::uint32_t lostCount = 0;
  std::uint32_t gainedCount = 0;
};

struct FileSummary {
  std::string path;
  Amounts amounts;
  // Only the functions that gained or lost a point, or that were not compared: in
  // ComparedSummary::functions from firstFunction on.
  std::size_t firstFunction = 0;
  std::size_t functionCount = 0;
};

// Names and descriptions, one after the other in blocks that are never moved, so that many
// short texts cost few allocations and no copies as more come.
class TextStore {
 public:
  // `text` is at most a line long.
  TextRef keep(std::string_view text);
  std::string_view text(TextRef ref) const {
    return std::string_view(chunks_[ref.chunk].data() + ref.begin, ref.length);
  }

 private:
  std::vector<ByteBlock> chunks_;
  std::size_t used_ = 0;  // in the last chunk
};

struct ComparedSummary {
  std::int64_t functionsCompared = 0;
  std::int64_t functionsAll = 0;
  Amounts totals;
  std::int64_t percent = 0;
  std::int64_t notAvailable = 0;
  std::int64_t different = 0;
  // Only the file sections with at least one function kept in FileSummary::functions.
  std::vector<FileSummary> files;
  // The reported functions, file after file, and their changed points, function after function.
  // Large reports take huge pages where the platform has them: fewer page faults.
  LargeVector<FunctionSummary> functions;
  LargeVector<ChangedPoint> points;
  TextStore texts;

  std::string_view text(TextRef ref) const { return texts.text(ref); }
  std::span<const FunctionSummary> functionsOf(const FileSummary& file) const {
    return std::span(functions).subspan(file.firstFunction, file.functionCount);
  }
  std::span<const ChangedPoint> lostPoints(const FunctionSummary& function) const {
    return std::span(points).subspan(function.firstPoint, function.lostCount);
  }
  std::span<const ChangedPoint> gainedPoints(const FunctionSummary& function) const {
    return std::span(points).subspan(function.firstPoint + function.lostCount,
                                     function.gainedCount);
  }
};

// Reads a compared listing front to back and keeps what a summary reports. Throws Error with
// "PATH:LINE: not a compared listing: ..." for input of another shape, and std::system_error
// when the input cannot be read.
ComparedSummary readComparedSummary(ByteSource& source, const std::string& path);

// The path of a "MONITORED " line: the text after "MONITORED SOURCE FILE : ", or else after
// "MONITORED ".
std::string_view monitoredPath(std::string_view monitoredLine);

std::string_view statusName(FunctionStatus status);

}  // namespace summary
}  // namespace qrvdiff
