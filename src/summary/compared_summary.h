#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
  // Only the functions that gained or lost a point, or that were not compared.
  std::vector<FunctionSummary> functions;
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
  // The changed points of all reported functions, in the order of the functions.
  std::vector<ChangedPoint> points;
  // The names of the reported functions and the descriptions of their changed points, one after
  // the other in chunks of fixed capacity: one allocation for many, none copied again.
  std::vector<std::string> textChunks;

  std::string_view text(TextRef ref) const {
    return std::string_view(textChunks[ref.chunk]).substr(ref.begin, ref.length);
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
