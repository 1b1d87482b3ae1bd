#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/arena.h"
#include "base/platform.h"

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

// What is kept of each function-section line besides its text, in one byte: its kind, whether a
// trailing "+" or "-" is left out of the structure comparison, and the marks of a comparison,
// which take the place of columns 10 and 21 on output (the text itself is never changed).
class LineInfo {
 public:
  // The bits that describe the line itself (kind and trailing marker), not a comparison.
  static constexpr unsigned kShapeBits = 15;

  LineInfo() = default;
  LineInfo(LineKind kind, bool trailingMarker)
      : bits_(static_cast<std::uint8_t>(static_cast<unsigned>(kind) | (trailingMarker ? 8u : 0u))) {
  }

  LineKind kind() const { return static_cast<LineKind>(bits_ & 7u); }
  bool trailingMarker() const { return (bits_ & 8u) != 0; }
  // "^", "v" or 0 for the first (column 10) and second (column 21) mark column.
  char firstMark() const { return markCharacter(bits_ >> 4); }
  char secondMark() const { return markCharacter(bits_ >> 6); }
  bool isMarked() const { return (bits_ >> 4) != 0; }
  void setMark(std::size_t markColumn, char mark) {
    const unsigned shift = markColumn == column::kFirstMark ? 4 : 6;
    const unsigned code = mark == '^' ? 1u : 2u;
    bits_ = static_cast<std::uint8_t>((bits_ & ~(3u << shift)) | (code << shift));
  }

 private:
  static char markCharacter(unsigned code) {
    switch (code & 3u) {
      case 1:
        return '^';
      case 2:
        return 'v';
      default:
        return 0;
    }
  }
  std::uint8_t bits_ = 0;
};

// One line of a function as it is walked: its text and what is kept of it.
struct LineRecord {
  const char* text = nullptr;
  std::uint32_t length = 0;
  LineInfo info;

  std::string_view view() const { return {text, length}; }
  LineKind kind() const { return info.kind(); }
  // Index of the last character that takes part in the structure comparison.
  std::int64_t lastIndex() const {
    return static_cast<std::int64_t>(length) - 1 - (info.trailingMarker() ? 1 : 0);
  }
  // The line as the compared listing shows it.
  std::string markedText() const {
    std::string marked(view());
    if (info.firstMark() != 0) marked[column::kFirstMark] = info.firstMark();
    if (info.secondMark() != 0) marked[column::kSecondMark] = info.secondMark();
    return marked;
  }
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

// One function section. Kept compact: a large listing holds hundreds of thousands of them, and
// every page of them is faulted in on first touch.
struct FunctionRecord {
  // The function's lines, from its FUNCTION line on, stand back to back, each ended by a line
  // feed: `textSize` bytes, the first `functionLineLength` of them the FUNCTION line. Their infos
  // start at `firstLine` in ProfileListing::lineInfos. `text` is where they are in memory, for a
  // listing held there; null for a listing whose texts stay in the listing file, at
  // `textPosition` (ProfileListing::textFile), from where a SectionLoader brings them in.
  const char* text = nullptr;
  std::size_t textSize = 0;
  std::uint64_t textPosition = 0;
  // The FUNCTION line, kept where `text` may change: in a listing read in memory it is the
  // start of `text`. Of a listing whose texts stay in the file, listing 2 keeps none, and
  // listing 1 a copy only in sections too large to be loaded whole (kSectionLoadedWhole) when
  // they are paired; pairing takes the others from the loaded section.
  const char* keptFunctionLine = nullptr;
  std::size_t firstLine = 0;
  std::size_t lineCount = 0;
  const FunctionRecord* partner = nullptr;  // listing 2 only, when compared

  // Set by the marking of a compared function.
  std::uint32_t keptCount = 0;
  std::uint32_t gainedCount = 0;
  std::uint32_t lostCount = 0;

  std::int32_t coveredCount = 0;
  std::int32_t pointCount = 0;
  std::int32_t statementCovered = 0;
  std::int32_t statementTotal = 0;
  std::uint16_t functionLineLength = 0;  // a line holds at most 4095 characters
  PairState pairState = PairState::NotAvailable;
  bool taken = false;  // listing 1 only: matched once, never offered again
  bool hasMarks = false;
  bool statementNA = false;

  // The "#line " line before the FUNCTION line, if there is one.
  std::optional<std::string_view> lineDirective() const {
    if (lineDirective_ == nullptr) return std::nullopt;
    return std::string_view(lineDirective_, lineDirectiveSize_);
  }
  void setLineDirective(std::string_view line) {
    lineDirective_ = line.data();
    lineDirectiveSize_ = static_cast<std::uint16_t>(line.size());
  }

  // The TER line and the statement line that close the section of a listing held in memory;
  // none in the function-coverage form. The statement line follows the TER line in memory,
  // behind the TER line's line end. Of a text that stays in the listing file, FunctionText has
  // them.
  std::optional<std::string_view> terLine() const {
    if (terLine_ == nullptr) return std::nullopt;
    return std::string_view(terLine_, terLineSize_);
  }
  std::optional<std::string_view> statementLine() const {
    if (terLine_ == nullptr) return std::nullopt;
    return std::string_view(terLine_ + terLineSize_ + statementGap_, statementLineSize_);
  }
  // The same for a text that stays in the listing file: `terGap` bytes (the blank line between)
  // separate the text from the TER line, `statementGap` bytes the TER line from the statement
  // line.
  void setClosingLayout(std::size_t terGap, std::size_t terSize, std::size_t statementGap,
                        std::size_t statementSize) {
    terGap_ = static_cast<std::uint8_t>(terGap);
    terLineSize_ = static_cast<std::uint16_t>(terSize);
    statementGap_ = static_cast<std::uint8_t>(statementGap);
    statementLineSize_ = static_cast<std::uint16_t>(statementSize);
  }
  // The bytes from the start of the text to the end of the statement line in the listing file.
  std::size_t extentInFile() const {
    return textSize + (terLineSize_ == 0 ? 0
                                         : terGap_ + terLineSize_ + statementGap_ +
                                               std::size_t{statementLineSize_});
  }
  void setClosingLines(std::string_view terLine, std::string_view statementLine) {
    terLine_ = terLine.data();
    terLineSize_ = static_cast<std::uint16_t>(terLine.size());
    statementGap_ =
        static_cast<std::uint8_t>(statementLine.data() - terLine.data() - terLine.size());
    statementLineSize_ = static_cast<std::uint16_t>(statementLine.size());
  }

 private:
  friend class FunctionText;
  const char* lineDirective_ = nullptr;  // never empty when present: it holds "#line "
  const char* terLine_ = nullptr;        // never empty when present: it begins with "***TER"
  std::uint16_t lineDirectiveSize_ = 0;
  std::uint16_t terLineSize_ = 0;
  std::uint16_t statementLineSize_ = 0;
  std::uint8_t statementGap_ = 0;  // the TER line's line end: 1 or 2 bytes
  std::uint8_t terGap_ = 0;        // the blank line before the TER line, with its line end
};

// The text of one function in memory (see FunctionRecord), from the listing or brought in by a
// SectionLoader, and the closing lines that follow it. It holds at least the FUNCTION line and
// its line feed: a record whose text could not is refused when the view is made.
class FunctionText {
 public:
  // The text of a listing held in memory.
  static FunctionText inMemory(const FunctionRecord& function) {
    return FunctionText(function, function.text, function.terLine_);
  }
  // The text of a listing whose texts stay in the file, loaded at `loaded`: the closing lines
  // follow it there.
  static FunctionText loadedAt(const FunctionRecord& function, const char* loaded) {
    return FunctionText(
        function, loaded,
        function.terLineSize_ == 0 ? nullptr : loaded + function.textSize + function.terGap_);
  }

  const char* data() const { return text_; }
  std::size_t size() const { return function_->textSize; }
  const char* end() const { return text_ + function_->textSize; }
  std::string_view functionLine() const { return {text_, function_->functionLineLength}; }
  // The lines after the FUNCTION line.
  std::string_view bodyLines() const {
    const std::size_t skipped = std::size_t{function_->functionLineLength} + 1;
    return {text_ + skipped, function_->textSize - skipped};
  }
  std::optional<std::string_view> terLine() const {
    if (terLine_ == nullptr) return std::nullopt;
    return std::string_view(terLine_, function_->terLineSize_);
  }
  std::optional<std::string_view> statementLine() const {
    if (terLine_ == nullptr) return std::nullopt;
    return std::string_view(terLine_ + function_->terLineSize_ + function_->statementGap_,
                            function_->statementLineSize_);
  }

 private:
  FunctionText(const FunctionRecord& function, const char* text, const char* terLine)
      : function_(&function), text_(text), terLine_(terLine) {
    if (text == nullptr || function.lineCount == 0 ||
        function.textSize <= function.functionLineLength) {
      throw std::logic_error("a function record without the text of its FUNCTION line");
    }
  }

  const FunctionRecord* function_;
  const char* text_;
  const char* terLine_;
};

// A file section. Of listing 1 only what pairing needs is kept: the header line and the
// functions (the other lines are empty, and it has no includes).
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
  std::uint32_t headerLineNumber = 0;  // of the "MONITORED " line
};

// A listing file whose function texts are not kept in memory but read again, file section by
// file section, when they are needed. The file stays open for the whole run.
struct ListingTextFile {
  int descriptor = -1;
  std::string path;
  // As the file was when it was opened: a file written to since is no longer read.
  FileState state;
  // Each reading takes at least this many bytes, so that the functions that follow come along.
  std::size_t minimumRead = 512 << 10;
};

// One execution profile listing in memory. Texts point into the arena and exclude their newline.
struct ProfileListing {
  std::optional<std::string_view> producedAt;
  std::optional<std::string_view> coverageView;
  GuessedVector<MonitoredFile> files;
  LargeVector<std::string_view> includes;
  LargeVector<FunctionRecord> functions;
  LargeVector<LineInfo> lineInfos;
  // Function lines read in place keep their line ends as in the file, where a carriage return
  // may precede the line feed; copied lines end in a bare line feed.
  bool linesReadInPlace = false;
  bool sawCarriageReturn = false;  // a function line read in place ended in CR LF
  // When set, function texts stay in this file: they are in memory only while their file
  // section is loaded (see SectionLoader), and their line ends are as in the file.
  std::optional<ListingTextFile> textFile;

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

  const FunctionRecord* functionsBegin(const MonitoredFile& file) const {
    return functions.data() + file.firstFunction;
  }
  const FunctionRecord* functionsEnd(const MonitoredFile& file) const {
    return functions.data() + file.firstFunction + file.functionCount;
  }
};

// Listing 1 and listing 2 of one comparison. Each is given by its role, so that the two cannot
// be passed the wrong way round: ListingPair{FirstListing(listing1), SecondListing(listing2)}.
struct FirstListing {
  explicit FirstListing(ProfileListing& listing) : listing(listing) {}
  ProfileListing& listing;
};
struct SecondListing {
  explicit SecondListing(ProfileListing& listing) : listing(listing) {}
  ProfileListing& listing;
};
struct ListingPair {
  ListingPair(FirstListing first, SecondListing second)
      : first(first.listing), second(second.listing) {}
  ProfileListing& first;   // whose coverage the marks compare against
  ProfileListing& second;  // whose copy, marked, is the output
};

}  // namespace qrvdiff
