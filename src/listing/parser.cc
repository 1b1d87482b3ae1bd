#include "listing/parser.h"

#include <string>
#include <string_view>

#include "base/error.h"
#include "listing/classifier.h"
#include "listing/section_loader.h"
#include "listing/text_match.h"

namespace qrvdiff {

namespace {

constexpr std::string_view kBannerPattern1 =
    "*           QRV++, Test Coverage Analyzer for C/C++, Version";
constexpr std::string_view kBannerPattern2 = "*                         EXECUTION PROFILE LISTING";
constexpr std::string_view kProducedAtLabel = "Listing produced at   : ";
constexpr std::string_view kCoverageViewLabel = "Coverage view         : ";
constexpr std::string_view kMonitored = "MONITORED ";
constexpr std::string_view kSummary = "SUMMARY";
constexpr std::string_view kModeLabel = "INSTRUMENTATION MODE  : ";
constexpr std::string_view kColumnHeader = " HITS/TRUE      FALSE    LINE DESCRIPTION";
constexpr std::string_view kFunctionMode = "INSTRUMENTATION MODE  : functi";
constexpr std::string_view kFunctionView = "Reduced to function coverage";
constexpr std::string_view kMcdcView = "Reduced to MC/DC coverage";
constexpr std::string_view kNaStatement = "       N.A. statement";

// Whether `line` ends a skipped file section: skipping reads on to the first line that begins
// with "MONITORED " or "SUMMARY". Reading listing 1 ahead of listing 2 counts the same lines to
// tell whether skipping a section it read whole would have stopped where the reading did
// (SectionChoice::sameAsSkipping); both use this one test, so they cannot disagree.
[[gnu::always_inline]] inline bool endsSkippedSection(std::string_view line) {
  return !line.empty() && (line.front() == 'M' || line.front() == 'S') &&
         (startsWith(line, kMonitored) || startsWith(line, kSummary));
}

bool isFunctionLine(std::string_view line) {
  return line.size() >= 40 && line.substr(column::kDescription, 9) == "FUNCTION ";
}

bool isLineDirective(std::string_view line) {
  return line.size() >= 36 && line.substr(column::kDescription, 6) == "#line ";
}

// The state of reading one listing: the reader, the listing being filled, and what the line
// classifier needs to know of listing 2.
class ListingParser final : private RefillListener {
 public:
  ListingParser(LineReader& reader, ProfileListing& listing, bool mcdcView)
      : reader_(reader),
        listing_(listing),
        mcdcView_(mcdcView),
        textInFile_(!reader.linesAreStable() && listing.textFile.has_value()) {
    listing_.linesReadInPlace = reader.linesAreStable() || textInFile_;
    reader_.setRefillListener(this);
  }
  ~ListingParser() { reader_.setRefillListener(nullptr); }
  ListingParser(const ListingParser&) = delete;
  ListingParser& operator=(const ListingParser&) = delete;

  void readListingHeader();
  // `keptHeader` is the section's "MONITORED " line, kept already by the caller.
  void readFileSection(std::optional<std::string_view> keptHeader = std::nullopt);
  void readSummary();
  void skipFileSection();

  std::string_view line() const { return reader_.line(); }
  // Reads the file section at hand as readFileSection() does; true when skipping it instead
  // would have stopped at the same line, the one after it: that line is the first of the section
  // to end a skipped section. Only lines read after countSectionEnds() are counted.
  bool readFileSectionNotingSkip(std::string_view keptHeader) {
    const std::size_t sectionEndsBefore = sectionEnds_;
    readFileSection(keptHeader);
    return sectionEnds_ == sectionEndsBefore + 1 && endsSkippedSection(line());
  }
  void readLine() {
    reader_.readLine();
    countSectionEnd(line());
  }
  // From now on, count the lines read that would end a skipped section; only reading listing 1
  // ahead of listing 2 needs the count. Every line the parser reads passes countSectionEnd().
  void countSectionEnds() { countSectionEnds_ = true; }
  // Reading listing 1: keep nothing of a file section but what pairing needs (its "MONITORED "
  // line and its functions); the rest is only checked, so that kept lines do not cost page
  // faults on first touch.
  void readForPairing() { forPairing_ = true; }

 private:
  void countSectionEnd(std::string_view read) {
    if (countSectionEnds_ && endsSkippedSection(read)) ++sectionEnds_;
  }
  // Where the text of the function being read is kept: in place when the input stays in memory,
  // as its place in the file when it is read again from there, else as one run of copies. The
  // function's lines are kept back to back either way.
  struct FunctionTextPlace {
    bool inPlace;
    bool copied;
    const char* start;       // the FUNCTION line, in place
    std::uint64_t position;  // where the FUNCTION line begins in the input
  };

  void readFunctionSection(std::optional<std::string_view> lineDirective, bool functionForm);
  // At the FUNCTION line: starts keeping the function's text.
  FunctionTextPlace beginFunctionText();
  // Adds a line of the function, which the line feed at `lineFeed` ends.
  void appendFunctionLine(std::string_view text, const char* lineFeed, bool copied) {
    pendingLines_.push_back(text);
    if (copied) {
      listing_.arena.storeInRun(text);
    } else if (lineFeed - text.data() != static_cast<std::ptrdiff_t>(text.size())) {
      listing_.sawCarriageReturn = true;
    }
  }
  // The FUNCTION line and the line records after it, up to the empty line that ends them, which
  // is then the line at hand; all of them classified.
  void readFunctionLines(bool copied);
  // The text ends after the line at hand, or where it begins.
  void keepFunctionText(FunctionRecord& function, const FunctionTextPlace& place,
                        bool endsAfterLine);
  // From the function's TER line to the empty line after its rule.
  void readFunctionTrailer(FunctionRecord& function, const FunctionTextPlace& place);
  // Keeps the FUNCTION lines of `file`, just read, where pairing cannot take them from the file.
  void settleFunctionLines(const MonitoredFile& file);
  // A function's lines are classified once they are all read, or before they are gone. Apart
  // from the reading, classifying one line then no longer waits for the line before, which
  // overlaps their work. A line that fits no rule still ends the run before any later fault.
  void classifyPendingLines() {
    const std::size_t first = listing_.lineInfos.size();
    listing_.lineInfos.resize(first + pendingLines_.size());
    classifyLines(pendingLines_, mcdcView_, reader_.dataEnd(), listing_.lineInfos.data() + first);
    pendingLines_.clear();
  }
  void beforeRefill() override { classifyPendingLines(); }
  // The current line, made to outlive the next read: input that is whole in memory is used in
  // place, streamed input is copied.
  std::string_view store() {
    if (reader_.linesAreStable()) return line();
    return {listing_.arena.store(line()), line().size()};
  }
  void expect(bool ok) {
    if (!ok) fail();
  }
  [[noreturn]] void fail() const {
    throw Error("Problem in input \"" + reader_.path() + "\" near line " +
                std::to_string(reader_.lineNumber()));
  }

  LineReader& reader_;
  ProfileListing& listing_;
  bool mcdcView_;
  // Function texts are neither used in place nor copied: only their places in the file are kept.
  bool textInFile_;
  bool forPairing_ = false;
  bool countSectionEnds_ = false;
  std::vector<std::string_view> pendingLines_;
  // The FUNCTION lines of the file section being read, each followed by a line feed, and where
  // each begins; only when function texts stay in the file.
  // In large blocks: a section of many functions makes it grow to megabytes, and small pages
  // would cost a page fault each, again at every reallocation.
  LargeVector<char> keptLines_;
  std::vector<std::size_t> keptLineStarts_;
  std::size_t sectionEnds_ = 0;
};

void ListingParser::readListingHeader() {
  const auto notAListing = [&] {
    return Error(
        "Input does not look like a valid qrvpost-generated execution profile listing, file: \"" +
        reader_.path() + "\" near/before line " + std::to_string(reader_.lineNumber()));
  };
  readLine();
  readLine();
  if (!matchesIgnoringBlanks(line(), kBannerPattern1)) throw notAListing();
  readLine();
  readLine();
  if (!matchesIgnoringBlanks(line(), kBannerPattern2)) throw notAListing();
  readLine();
  while (!startsWith(line(), kMonitored) && !startsWith(line(), kSummary)) {
    if (startsWith(line(), kProducedAtLabel)) {
      listing_.producedAt = store().substr(kProducedAtLabel.size());
    } else if (startsWith(line(), kCoverageViewLabel)) {
      listing_.coverageView = store().substr(kCoverageViewLabel.size());
    }
    readLine();
  }
  if (!listing_.producedAt || !listing_.coverageView) throw notAListing();
}

void ListingParser::readFileSection(std::optional<std::string_view> keptHeader) {
  MonitoredFile& file = listing_.files.emplace_back();
  file.headerLine = keptHeader ? *keptHeader : store();
  file.headerLineNumber = reader_.lineNumber();
  file.firstInclude = listing_.includes.size();
  file.firstFunction = listing_.functions.size();

  readLine();
  expect(startsWith(line(), kModeLabel));
  const bool functionModeLine = startsWith(line(), kFunctionMode);
  if (!forPairing_) file.modeLine = store();
  readLine();
  expect(line().empty());
  readLine();
  expect(line() == kColumnHeader);
  readLine();
  expect(startsWith(line(), "========================"));
  readLine();
  expect(line().empty());
  readLine();
  while (startsWith(line(), "#include ")) {
    if (!forPairing_) listing_.includes.push_back(store());
    readLine();
  }
  file.includeCount = listing_.includes.size() - file.firstInclude;

  // The form of the function sections follows from this file's mode line and the listing's view.
  const bool functionForm = functionModeLine || startsWith(*listing_.coverageView, kFunctionView);
  for (;;) {
    std::optional<std::string_view> lineDirective;
    if (isLineDirective(line())) {
      lineDirective = store();
      readLine();
    }
    if (!isFunctionLine(line())) break;  // a pending directive is dropped
    readFunctionSection(lineDirective, functionForm);
  }
  file.functionCount = listing_.functions.size() - file.firstFunction;
  if (textInFile_) settleFunctionLines(file);

  expect(line().empty());
  readLine();
  expect(startsWith(line(), "***TER"));
  if (!forPairing_) file.fileTerLine = store();
  readLine();
  if (!forPairing_) file.fileStatementLine = store();
  readLine();
  expect(startsWith(line(), "-----------------------"));
  for (int i = 0; i < 3; ++i) {
    readLine();
    expect(line().empty());
  }
  readLine();
}

void ListingParser::settleFunctionLines(const MonitoredFile& file) {
  // A section that is paired from memory offers its FUNCTION lines from there; the others keep
  // copies, so that not every function of the listing costs newly touched memory. Pairing
  // takes a listing-1 function's line from them, and decides the partners of a large section's
  // functions from them before it reads the section (see pairFiles).
  if (functionsExtent(listing_, file) > kSectionLoadedWhole) {
    const char* const copies =
        listing_.arena.store(std::string_view(keptLines_.data(), keptLines_.size()));
    for (std::size_t i = 0; i < file.functionCount; ++i) {
      listing_.functions[file.firstFunction + i].keptFunctionLine = copies + keptLineStarts_[i];
    }
  }
  keptLines_.clear();
  keptLineStarts_.clear();
}

void ListingParser::readFunctionSection(std::optional<std::string_view> lineDirective,
                                        bool functionForm) {
  FunctionRecord function;
  if (lineDirective) function.setLineDirective(*lineDirective);
  function.firstLine = listing_.lineInfos.size();
  function.functionLineLength = static_cast<std::uint16_t>(line().size());
  const FunctionTextPlace place = beginFunctionText();
  if (functionForm) {
    appendFunctionLine(line(), reader_.afterLine() - 1, place.copied);
    classifyPendingLines();
    keepFunctionText(function, place, true);
    function.coveredCount = line()[column::kCoverageFlag] == ' ' ? 1 : 0;
    function.pointCount = 1;
    function.statementNA = true;
    readLine();
  } else {
    readFunctionLines(place.copied);
    keepFunctionText(function, place, false);  // the empty line after the function's lines
    readLine();
    readFunctionTrailer(function, place);
  }
  listing_.functions.push_back(function);
}

ListingParser::FunctionTextPlace ListingParser::beginFunctionText() {
  const bool inPlace = reader_.linesAreStable();
  const FunctionTextPlace place{inPlace, !inPlace && !textInFile_, line().data(),
                                reader_.lineOffset()};
  if (textInFile_) {
    keptLineStarts_.push_back(keptLines_.size());
    keptLines_.insert(keptLines_.end(), line().begin(), line().end());
    keptLines_.push_back('\n');
  }
  if (place.copied) listing_.arena.beginRun();
  return place;
}

void ListingParser::readFunctionLines(bool copied) {
  const auto takeLine = [&](std::string_view taken, const char* lineFeed) {
    countSectionEnd(taken);
    appendFunctionLine(taken, lineFeed, copied);
  };
  try {
    appendFunctionLine(line(), reader_.afterLine() - 1, copied);  // the FUNCTION line
    while (!reader_.readUntilEmptyLine(takeLine)) {
      readLine();
      if (line().empty()) break;
      appendFunctionLine(line(), reader_.afterLine() - 1, copied);
    }
  } catch (...) {
    classifyPendingLines();  // a strange line before the fault is reported first
    throw;
  }
  classifyPendingLines();
}

void ListingParser::keepFunctionText(FunctionRecord& function, const FunctionTextPlace& place,
                                     bool endsAfterLine) {
  if (textInFile_) {
    const std::uint64_t textEndPosition =
        endsAfterLine ? reader_.offsetAfterLine() : reader_.lineOffset();
    function.textPosition = place.position;
    function.textSize = static_cast<std::size_t>(textEndPosition - place.position);
  } else {
    const char* const textEnd = endsAfterLine ? reader_.afterLine() : line().data();
    const std::string_view text =
        place.inPlace
            ? std::string_view(place.start, static_cast<std::size_t>(textEnd - place.start))
            : listing_.arena.endRun();
    function.text = text.data();
    function.textSize = text.size();
    function.keptFunctionLine = function.text;
  }
  function.lineCount = listing_.lineInfos.size() - function.firstLine;
}

void ListingParser::readFunctionTrailer(FunctionRecord& function, const FunctionTextPlace& place) {
  // The TER line and the statement line are kept back to back, so that one pointer finds both.
  if (place.copied) {
    listing_.arena.beginRun();
    listing_.arena.storeInRun(line());
  }
  const std::string_view terLine = line();
  const std::uint64_t terPosition = reader_.lineOffset();
  expect(startsWith(line(), "***TER"));
  // Of listing 1 only the number of statements takes part (in the structure comparison); the
  // covered counts feed listing 2's tallies alone.
  if (!forPairing_) {
    function.coveredCount = scanIntegerAfter(line(), '(').value_or(0);
    function.pointCount = scanIntegerAfter(line(), '/').value_or(0);
  }

  readLine();
  if (place.inPlace) {
    function.setClosingLines(terLine, line());
  } else if (textInFile_) {
    function.setClosingLayout(
        static_cast<std::size_t>(terPosition - place.position) - function.textSize, terLine.size(),
        static_cast<std::size_t>(reader_.lineOffset() - terPosition) - terLine.size(),
        line().size());
  } else {
    listing_.arena.storeInRun(line());
    const std::string_view run = listing_.arena.endRun();
    function.setClosingLines(run.substr(0, terLine.size()),
                             run.substr(terLine.size() + 1, line().size()));
  }
  if (line() == kNaStatement) {
    function.statementNA = true;
  } else {
    if (!forPairing_) function.statementCovered = scanIntegerAfter(line(), '(').value_or(0);
    function.statementTotal = scanIntegerAfter(line(), '/').value_or(0);
  }
  readLine();
  expect(startsWith(line(), "---------------------"));
  readLine();
  expect(line().empty());
  readLine();
}

void ListingParser::readSummary() {
  const auto expectSummary = [&](bool ok) {
    if (!ok) {
      throw Error("Something wrong in file \"" + reader_.path() + "\" end summary, near line " +
                  std::to_string(reader_.lineNumber()));
    }
  };
  constexpr std::string_view kSourceFiles = "Source files       : ";
  constexpr std::string_view kFunctions = "Functions          : ";
  constexpr std::string_view kTer = "TER                : ";

  readLine();
  expectSummary(line() == "=======");
  readLine();
  expectSummary(line().empty());
  readLine();
  expectSummary(startsWith(line(), kSourceFiles));
  listing_.sourceFilesLine = store();
  listing_.sourceFileCount = scanInteger(line().substr(kSourceFiles.size())).value_or(0);
  readLine();
  expectSummary(startsWith(line(), "Headers extracted  : "));
  listing_.headersLine = store();
  readLine();
  expectSummary(startsWith(line(), kFunctions));
  listing_.functionsLine = store();
  listing_.functionCount = scanInteger(line().substr(kFunctions.size())).value_or(0);
  readLine();
  expectSummary(startsWith(line(), "Source lines       : "));
  listing_.sourceLinesLine = store();
  readLine();
  expectSummary(startsWith(line(), kTer));
  listing_.terLine = store();
  readLine();
  expectSummary(startsWith(line(), kTer));
  listing_.statementTerLine = store();
  // A last line without its line feed still ends the listing correctly; a complete line does not.
  expectSummary(!reader_.tryReadLine());
}

void ListingParser::skipFileSection() {
  do {
    if (!reader_.tryReadLine()) {
      throw Error("Read error of file " + reader_.path() + " near line " +
                  std::to_string(reader_.lineNumber()));
    }
  } while (!endsSkippedSection(line()));
}

}  // namespace

bool isMcdcView(const ProfileListing& second) {
  return second.coverageView && *second.coverageView == kMcdcView;
}

void reserveForListingSize(ProfileListing& listing, std::uint64_t byteCount) {
  // Every function line holds at least 31 characters and its line feed.
  const std::uint64_t lineBound = byteCount / 32 + 1;
  if (lineBound < (std::uint64_t{1} << 40)) {
    listing.lineInfos.reserve(static_cast<std::size_t>(lineBound));
  }
  // File sections and include lines: a guess that holds for most listings (beyond it the arrays
  // grow), rather than a bound, which would ask for as much memory as the listing itself.
  const std::uint64_t sectionGuess = byteCount / 2048 + 16;
  if (sectionGuess < (std::uint64_t{1} << 30)) {
    listing.files.reserve(static_cast<std::size_t>(sectionGuess));
    listing.includes.reserve(static_cast<std::size_t>(sectionGuess));
  }
  // Functions take a kilobyte or more as a rule; listings of smaller ones make the array grow.
  const std::uint64_t functionGuess = byteCount / 1024 + 16;
  if (functionGuess < (std::uint64_t{1} << 30)) {
    listing.functions.reserve(static_cast<std::size_t>(functionGuess));
  }
}

void readListingHeader(LineReader& reader, ProfileListing& listing) {
  ListingParser(reader, listing, false).readListingHeader();
}

void readSecondListing(LineReader& reader, ProfileListing& listing) {
  readListingHeader(reader, listing);
  readSecondListingSections(reader, listing);
}

void readSecondListingSections(LineReader& reader, ProfileListing& listing, SectionGate* gate) {
  // The classifier looks at listing 2's own view while listing 2 is read.
  ListingParser sections(reader, listing, isMcdcView(listing));
  while (startsWith(sections.line(), kMonitored)) {
    if (gate != nullptr && gate->stopsBefore(reader.lineOffset(), reader.lineNumber())) return;
    sections.readFileSection();
  }
  sections.readSummary();
}

void readSecondListingTail(LineReader& reader, ProfileListing& listing) {
  reader.readLine();
  readSecondListingSections(reader, listing);
}

namespace {

// Reads listing 1's file sections from the "MONITORED " line at hand on, down to "SUMMARY".
void readFirstSections(ListingParser& parser, LineReader& reader, ProfileListing& listing,
                       const FirstListingRules& rules) {
  if (rules.choices != nullptr) parser.countSectionEnds();
  while (startsWith(parser.line(), kMonitored)) {
    if (rules.gate != nullptr &&
        rules.gate->stopsBefore(reader.lineOffset(), reader.lineNumber())) {
      return;
    }
    const bool known = rules.knownHeaders == nullptr || rules.knownHeaders->contains(parser.line());
    if (rules.choices != nullptr) {
      // The line is recorded before it is read past; streamed input keeps a copy.
      std::string_view headerLine = parser.line();
      if (!reader.linesAreStable()) {
        headerLine = {listing.arena.store(headerLine), headerLine.size()};
      }
      rules.choices->push_back({headerLine, known, false});
    }
    if (!known) {
      parser.skipFileSection();
    } else if (rules.choices != nullptr) {
      SectionChoice& choice = rules.choices->back();
      choice.sameAsSkipping = parser.readFileSectionNotingSkip(choice.headerLine);
    } else {
      parser.readFileSection();
    }
  }
  if (!startsWith(parser.line(), kSummary)) {
    throw Error("Input file " + reader.path() + " end looks erroneous, near line " +
                std::to_string(reader.lineNumber()));
  }
}

}  // namespace

void readFirstListing(LineReader& reader, ProfileListing& listing, const FirstListingRules& rules) {
  ListingParser parser(reader, listing, rules.mcdcView);
  parser.readForPairing();
  parser.readListingHeader();
  readFirstSections(parser, reader, listing, rules);
}

void readFirstListingTail(LineReader& reader, ProfileListing& listing,
                          const FirstListingRules& rules) {
  ListingParser parser(reader, listing, rules.mcdcView);
  parser.readForPairing();
  reader.readLine();  // as the line that ends the header, not counted as a stop line
  readFirstSections(parser, reader, listing, rules);
}

void readFirstListing(LineReader& reader, ProfileListing& listing, const ProfileListing& second) {
  const HeaderSet known = headerLinesOf(second);
  readFirstListing(reader, listing, FirstListingRules{&known, isMcdcView(second)});
}

}  // namespace qrvdiff
