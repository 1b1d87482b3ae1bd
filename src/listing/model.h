#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listing/arena.h"
#include "listing/system_memory.h"

namespace qrvdiff {

// How a function-section line takes part in comparison and marking.
enum class LineKind : std::uint8_t {
  None = 0,        // not a measurement point
  Hits = 1,        // one counter, in the first counter field
  TrueFalse = 2,   // a decision with a TRUE and a FALSE counter
  Const = 3,       // a "const-" constant condition
  CondFirst = 4,   // numbered condition row, counter in the first field
  CondSecond = 5,  // numbered condition row, counter in the second field
  Mcdc = 6,        // an "MC/DC " row
};

enum class PairState : std::uint8_t {
  NotAvailable = 0,
  Compared = 1,
  Different = 2,
};

// Columns of a function-section line (0-based).
namespace column {
inline constexpr std::size_t kFirstCounterEnd = 9;
inline constexpr std::size_t kFirstMark = 10;
inline constexpr std::size_t kSecondCounterBegin = 11;
inline constexpr std::size_t kSecondCounterEnd = 20;
inline constexpr std::size_t kSecondMark = 21;
inline constexpr std::size_t kCoverageFlag = 22;
inline constexpr std::size_t kDescription = 30;
}  // namespace column

struct LineRecord {
  // The line as read; the byte after it is its line end. The text itself is never changed: the
  // marks of a comparison are kept beside it and take the place of columns 10 and 21 on output.
  const char* text = nullptr;
  std::uint32_t length = 0;
  LineKind kind = LineKind::None;
  // 1 when a trailing "+" or "-" is left out of the structure comparison.
  std::uint8_t trailingMarker = 0;
  char firstMark = 0;   // "^" or "v" for column 10, or 0
  char secondMark = 0;  // the same for column 21

  std::string_view view() const { return {text, length}; }
  bool isMarked() const { return (firstMark | secondMark) != 0; }
  // The line as the compared listing shows it.
  std::string markedText() const {
    std::string marked(view());
    if (firstMark != 0) marked[column::kFirstMark] = firstMark;
    if (secondMark != 0) marked[column::kSecondMark] = secondMark;
    return marked;
  }
  // Index of the last character that takes part in the structure comparison.
  std::int64_t lastIndex() const { return static_cast<std::int64_t>(length) - 1 - trailingMarker; }
};

// The nine tallies of a file, and the same nine as totals of a listing. All wrap around at 32 bits.
struct CoverageTally {
  std::uint32_t functionsCompared = 0;
  std::uint32_t keptCount = 0;
  std::uint32_t gainedCount = 0;
  std::uint32_t lostCount = 0;
  std::uint32_t coveredCount = 0;
  std::uint32_t pointCount = 0;
  std::uint32_t naFunctionCount = 0;
  std::uint32_t statementCovered = 0;
  std::uint32_t statementTotal = 0;

  CoverageTally& operator+=(const CoverageTally& other) {
    functionsCompared += other.functionsCompared;
    keptCount += other.keptCount;
    gainedCount += other.gainedCount;
    lostCount += other.lostCount;
    coveredCount += other.coveredCount;
    pointCount += other.pointCount;
    naFunctionCount += other.naFunctionCount;
    statementCovered += other.statementCovered;
    statementTotal += other.statementTotal;
    return *this;
  }
};

struct FunctionRecord {
  std::optional<std::string_view> lineDirective;
  std::size_t firstLine = 0;  // index into ProfileListing::lines; the FUNCTION line
  std::size_t lineCount = 0;
  PairState pairState = PairState::NotAvailable;
  bool taken = false;                       // listing 1 only: matched once, never offered again
  const FunctionRecord* partner = nullptr;  // listing 2 only, when compared

  // Set by the marking of a compared function.
  std::uint32_t keptCount = 0;
  std::uint32_t gainedCount = 0;
  std::uint32_t lostCount = 0;

  std::optional<std::string_view> terLine;
  std::int32_t coveredCount = 0;
  std::int32_t pointCount = 0;
  std::optional<std::string_view> statementLine;
  bool statementNA = false;
  std::int32_t statementCovered = 0;
  std::int32_t statementTotal = 0;
};

struct MonitoredFile {
  std::string_view headerLine;
  std::string_view modeLine;
  std::size_t firstInclude = 0;  // index into ProfileListing::includes
  std::size_t includeCount = 0;
  std::size_t firstFunction = 0;  // index into ProfileListing::functions
  std::size_t functionCount = 0;
  std::string_view fileTerLine;
  std::string_view fileStatementLine;
  CoverageTally tally;
};

// One execution profile listing in memory. Texts point into the arena and exclude their newline.
struct ProfileListing {
  std::optional<std::string_view> producedAt;
  std::optional<std::string_view> coverageView;
  std::vector<MonitoredFile> files;
  std::vector<std::string_view> includes;
  std::vector<FunctionRecord, LargeBlockAllocator<FunctionRecord>> functions;
  std::vector<LineRecord, LargeBlockAllocator<LineRecord>> lines;

  // The SUMMARY block; read for listing 2 only.
  std::string_view sourceFilesLine;
  std::int32_t sourceFileCount = 0;
  std::string_view headersLine;
  std::string_view functionsLine;
  std::int32_t functionCount = 0;
  std::string_view sourceLinesLine;
  std::string_view terLine;
  std::string_view statementTerLine;

  CoverageTally totals;  // listing 2 only
  TextArena arena;

  // Accessors for the index ranges that files and functions keep.
  const FunctionRecord* functionsBegin(const MonitoredFile& file) const {
    return functions.data() + file.firstFunction;
  }
  const FunctionRecord* functionsEnd(const MonitoredFile& file) const {
    return functions.data() + file.firstFunction + file.functionCount;
  }
  LineRecord* linesBegin(const FunctionRecord& function) {
    return lines.data() + function.firstLine;
  }
  const LineRecord* linesBegin(const FunctionRecord& function) const {
    return lines.data() + function.firstLine;
  }
};

}  // namespace qrvdiff
