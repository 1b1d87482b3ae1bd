#include "summary/compared_summary.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/error.h"
#include "listing/line_reader.h"
#include "report/compared_layout.h"

namespace qrvdiff::summary {
namespace {

constexpr std::string_view kBannerRule =
    "*****************************************************************************";
constexpr std::string_view kHeading = " HITS/TRUE      FALSE    LINE DESCRIPTION";
constexpr std::string_view kTotalsTer = "TER                : ";
constexpr std::size_t kFirstMark = 10;
constexpr std::size_t kSecondMark = 21;
constexpr std::size_t kFirstTextChunk = 1 << 16;
constexpr std::size_t kTextChunk = 2 << 20;

// Room for one more element. The capacity grows eightfold from a small start: a large report
// moves few times, and each block it moves into comes in huge pages, whose faults are few.
template <typename Vector>
void makeRoom(Vector& vector) {
  if (vector.size() == vector.capacity())
    vector.reserve(std::max<std::size_t>(1024, vector.size() * 8));
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Reads signed decimal numbers and literals from a line, left to right.
class NumberCursor {
 public:
  explicit NumberCursor(std::string_view text) : text_(text) {}
  bool literal(std::string_view expected) {
    if (!startsWith(text_.substr(at_), expected)) return false;
    at_ += expected.size();
    return true;
  }
  bool number(std::int64_t& value) {
    while (at_ < text_.size() && text_[at_] == ' ') ++at_;
    const bool negative = at_ < text_.size() && text_[at_] == '-';
    if (negative) ++at_;
    const std::size_t first = at_;
    std::int64_t result = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9' && at_ - first < 18) {
      result = result * 10 + (text_[at_++] - '0');
    }
    if (at_ == first) return false;
    value = negative ? -result : result;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// " % ([a + b - c]covered/points)" of a function or file TER line; a is kept plus lost.
bool readBracket(NumberCursor& cursor, Amounts& amounts) {
  std::int64_t keptAndLost = 0;
  if (!(cursor.literal(" % ([") && cursor.number(keptAndLost) && cursor.literal(" + ") &&
        cursor.number(amounts.gained) && cursor.literal(" - ") && cursor.number(amounts.lost) &&
        cursor.literal("]") && cursor.number(amounts.covered) && cursor.literal("/") &&
        cursor.number(amounts.points) && cursor.literal(")"))) {
    return false;
  }
  amounts.kept = keptAndLost - amounts.lost;
  return true;
}

// The digits of the line number field (columns 24 to 29); 0 when it holds none.
std::uint32_t sourceLine(std::string_view line) {
  std::uint32_t number = 0;
  for (std::size_t column = 24; column < 30 && column < line.size(); ++column) {
    if (line[column] >= '0' && line[column] <= '9') number = number * 10 + (line[column] - '0');
  }
  return number;
}

std::string_view description(std::string_view line) {
  std::size_t begin = 30;
  while (begin < line.size() && line[begin] == ' ') ++begin;
  return begin < line.size() ? line.substr(begin) : std::string_view();
}

bool isFunctionLine(std::string_view line) {
  return line.size() >= 40 && line.substr(30, 9) == "FUNCTION ";
}
bool isLineDirective(std::string_view line) {
  return line.size() >= 36 && line.substr(30, 6) == "#line ";
}

class Reader {
 public:
  Reader(ByteSource& source, const std::string& path) : reader_(source, path) {}

  ComparedSummary read() {
    readHeader();
    for (;;) {
      expect(line().empty(), "an empty line before a file section or the SUMMARY block");
      advance();
      if (startsWith(line(), "MONITORED ")) {
        readFileSection();
      } else {
        expect(line() == "SUMMARY", "a \"MONITORED \" line or \"SUMMARY\"");
        readSummaryBlock();
        return std::move(summary_);
      }
    }
  }

 private:
  std::string_view line() const { return reader_.line(); }

  [[noreturn]] void failBecause(std::string_view reason) const {
    throw Error(reader_.path() + ":" + std::to_string(reader_.lineNumber()) +
                ": not a compared listing: " + std::string(reason));
  }
  [[noreturn]] void fail(std::string_view expected) const {
    failBecause("expected " + std::string(expected));
  }
  void expect(bool holds, std::string_view expected) const {
    if (!holds) fail(expected);
  }
  [[noreturn]] void failMalformed() const {
    failBecause("a line without its line feed (cut short?), over 4095 bytes, or with a NUL byte");
  }
  LineReader::Result next() {
    try {
      return reader_.next();
    } catch (const Error&) {  // the source failed, which is no end of the listing
      throw Error(reader_.path() + ":" + std::to_string(reader_.lineNumber() + 1) +
                  ": cannot be read");
    }
  }
  // The next line; a listing that ends before its SUMMARY block is over is truncated.
  void advance() {
    switch (next()) {
      case LineReader::Result::Line:
        return;
      case LineReader::Result::Malformed:
        failMalformed();
      case LineReader::Result::End:
        break;
    }
    failBecause("it ends before its SUMMARY block is complete");
  }
  void advanceExpecting(bool (*test)(std::string_view), std::string_view expected) {
    advance();
    expect(test(line()), expected);
  }
  void advanceToPrefix(std::string_view prefix) {
    advance();
    if (!startsWith(line(), prefix))
      fail("a line that begins with \"" + std::string(prefix) + "\"");
  }
  void advanceToEmpty() {
    advance();
    expect(line().empty(), "an empty line");
  }

  void readHeader() {
    advance();
    expect(line() == kBannerRule, "the banner of a compared listing (77 \"*\")");
    advance();
    advance();
    advance();
    expect(startsWith(line(), kComparedBannerStart),
           "the banner line \"EXECUTION PROFILE LISTING (COMPARED by qrvdiff v...\"");
    advance();
    advance();
    advance();
    expect(line() == kBannerRule, "the end of the banner (77 \"*\")");
    advanceToEmpty();
    advanceToEmpty();
    advanceToPrefix("Input profile 1       : ");
    advanceToPrefix("Input profile 2       : ");
    advanceToPrefix("Listing produced at   : ");
    advanceToPrefix("Coverage view         : ");
    reducedToFunctions_ = startsWith(line().substr(24), "Reduced to function coverage");
    advanceToEmpty();
    advanceToEmpty();
    advance();
  }

  void readFileSection() {
    FileSummary file;
    file.firstFunction = summary_.functions.size();
    path_.assign(monitoredPath(line()));
    advanceToPrefix("INSTRUMENTATION MODE  : ");
    const bool functionForm =
        reducedToFunctions_ || line().substr(0, 30) == "INSTRUMENTATION MODE  : functi";
    advanceToEmpty();
    advance();
    expect(line() == kHeading, "the column heading line");
    advanceToPrefix("========================");
    advanceToEmpty();
    advance();
    while (startsWith(line(), "#include ")) advance();
    for (;;) {
      if (isLineDirective(line())) advance();
      if (!isFunctionLine(line())) break;
      readFunctionSection(functionForm);
    }
    expect(line().empty(), "a FUNCTION line or the empty line that ends the functions");
    advance();
    NumberCursor ter(line());
    std::int64_t percent = 0;
    expect(ter.literal("***TER") && ter.number(percent) && readBracket(ter, file.amounts) &&
               ter.literal(" of FILE "),
           "the file's \"***TER\" line with amounts of difference");
    advance();  // the statement line
    advanceToPrefix("-----------------------");
    advanceToEmpty();
    advanceToEmpty();
    advance();
    file.functionCount = summary_.functions.size() - file.firstFunction;
    if (file.functionCount != 0) {
      file.path = path_;
      summary_.files.push_back(std::move(file));
    }
  }

  // Entered with the FUNCTION line; returns with the line after the function section.
  void readFunctionSection(bool functionForm) {
    // One record reused for every function: most are neither kept nor need an allocation.
    FunctionSummary function;
    function.firstPoint = summary_.points.size();
    gainedPoints_.clear();
    const std::string_view head = line();
    const std::string_view status = head.substr(kStatusColumn, kStatusWidth);
    if (status == kStatusNotAvailable) {
      function.status = FunctionStatus::NotAvailable;
      ++summary_.notAvailable;
    } else if (status == kStatusDifferent) {
      function.status = FunctionStatus::Different;
      ++summary_.different;
    } else {
      expect(status == "           ",
             "a status field of blanks, \"(not avail)\" or \"(different)\"");
    }
    const bool compared = function.status == FunctionStatus::Compared;
    name_.assign(head.substr(39));
    function.line = sourceLine(head);
    if (compared) notePoint(head, kFirstMark, function);
    if (functionForm) {
      const bool covered = head.size() > 22 && head[22] == ' ';
      function.amounts.points = 1;
      function.amounts.covered = covered ? 1 : 0;
      function.amounts.kept = compared && covered && head[kFirstMark] != '^' ? 1 : 0;
      function.amounts.gained = static_cast<std::int64_t>(gainedPoints_.size());
      function.amounts.lost = function.lostCount;
      advance();
    } else {
      readFunctionBody(compared, function);
    }
    if (!compared || function.lostCount != 0 || !gainedPoints_.empty()) {
      for (const ChangedPoint& point : gainedPoints_) {
        makeRoom(summary_.points);
        summary_.points.push_back(point);
      }
      function.gainedCount = static_cast<std::uint32_t>(gainedPoints_.size());
      function.name = keepText(name_);
      makeRoom(summary_.functions);
      summary_.functions.push_back(function);
    }
  }

  void readFunctionBody(bool compared, FunctionSummary& function) {
    auto take = [&](std::string_view bodyLine, const char*) {
      if (compared) {
        notePoint(bodyLine, kFirstMark, function);
        notePoint(bodyLine, kSecondMark, function);
      }
    };
    while (!reader_.readUntilEmptyLine(take)) {
      advance();
      if (line().empty()) break;
      take(line(), nullptr);
    }
    advance();
    NumberCursor ter(line());
    std::int64_t percent = 0;
    if (compared) {
      expect(ter.literal("***TER") && ter.number(percent) && readBracket(ter, function.amounts) &&
                 ter.literal(" of FUNCTION "),
             "the function's \"***TER\" line with amounts of difference");
      expect(function.amounts.lost == function.lostCount &&
                 function.amounts.gained == static_cast<std::int64_t>(gainedPoints_.size()),
             "as many \"v\" and \"^\" marks as the function's \"***TER\" line counts");
    } else {
      expect(startsWith(line(), "***TER"), "the function's \"***TER\" line");
      readAsParsed(line(), function.amounts);
    }
    advance();  // the statement line
    advanceToPrefix("---------------------");
    advanceToEmpty();
    advance();
  }

  // A "v" or "^" in a mark column of a compared function's line is a lost or gained point. Lost
  // points go straight to the summary, gained ones wait for the end of the function.
  void notePoint(std::string_view text, std::size_t column, FunctionSummary& function) {
    if (text.size() <= column) return;
    const char mark = text[column];
    if (mark != 'v' && mark != '^') return;
    const ChangedPoint point{sourceLine(text), static_cast<std::uint8_t>(column + 1),
                             keepText(description(text))};
    if (mark == 'v') {
      makeRoom(summary_.points);
      summary_.points.push_back(point);
      ++function.lostCount;
    } else {
      gainedPoints_.push_back(point);
    }
  }

  TextRef keepText(std::string_view text) { return summary_.texts.keep(text); }

  // The covered count after the first "(" and the point count after the first "/", as a
  // function's own TER line states them.
  static void readAsParsed(std::string_view terLine, Amounts& amounts) {
    const std::size_t open = terLine.find('(');
    if (open != std::string_view::npos)
      NumberCursor(terLine.substr(open + 1)).number(amounts.covered);
    const std::size_t slash = terLine.find('/');
    if (slash != std::string_view::npos)
      NumberCursor(terLine.substr(slash + 1)).number(amounts.points);
  }

  void readSummaryBlock() {
    advance();
    expect(line() == "=======", "\"=======\" under \"SUMMARY\"");
    advanceToEmpty();
    advanceToPrefix("Source files       : ");
    advanceToPrefix("Headers extracted  : ");
    advanceToPrefix("Source lines       : ");
    advanceToEmpty();
    advanceToPrefix("Functions compared : ");
    NumberCursor compared(line().substr(21));
    expect(compared.number(summary_.functionsCompared), "a number after \"Functions compared : \"");
    advanceToPrefix(kTotalsTer);
    NumberCursor ter(line().substr(kTotalsTer.size()));
    Amounts& totals = summary_.totals;
    std::int64_t keptAndLost = 0;
    expect(ter.number(summary_.percent) && ter.literal(" % ([") && ter.number(keptAndLost) &&
               ter.literal(" + ") && ter.number(totals.gained) && ter.literal(" - ") &&
               ter.number(totals.lost) && ter.literal("] ") && ter.number(totals.covered) &&
               ter.literal("/") && ter.number(totals.points) && ter.literal(")"),
           "the totals' \"TER\" line with amounts of difference");
    totals.kept = keptAndLost - totals.lost;
    advanceToPrefix(kTotalsTer);
    advanceToEmpty();
    advanceToPrefix("Functions all      : ");
    NumberCursor all(line().substr(21));
    expect(all.number(summary_.functionsAll), "a number after \"Functions all      : \"");
    advanceToPrefix(kTotalsTer);
    advanceToPrefix(kTotalsTer);
    const LineReader::Result after = next();
    if (after == LineReader::Result::Malformed) failMalformed();
    expect(after == LineReader::Result::End, "the end of the listing after its SUMMARY block");
  }

  LineReader reader_;
  ComparedSummary summary_;
  std::vector<ChangedPoint> gainedPoints_;  // of the function being read
  std::string name_;                        // of the function being read
  std::string path_;                        // of the file being read
  bool reducedToFunctions_ = false;
};

}  // namespace

TextRef TextStore::keep(std::string_view text) {
  if (chunks_.empty() || chunks_.back().size() - used_ < text.size()) {
    // A small report takes a small block; a large one huge pages.
    chunks_.emplace_back(chunks_.empty() ? kFirstTextChunk : kTextChunk);
    used_ = 0;
  }
  const TextRef ref{static_cast<std::uint32_t>(chunks_.size() - 1),
                    static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(text.size())};
  if (!text.empty()) std::memcpy(chunks_.back().data() + used_, text.data(), text.size());
  used_ += text.size();
  return ref;
}

ComparedSummary readComparedSummary(ByteSource& source, const std::string& path) {
  return Reader(source, path).read();
}

std::string_view monitoredPath(std::string_view monitoredLine) {
  constexpr std::string_view kLong = "MONITORED SOURCE FILE : ";
  if (startsWith(monitoredLine, kLong)) return monitoredLine.substr(kLong.size());
  return monitoredLine.substr(std::string_view("MONITORED ").size());
}

std::string_view statusName(FunctionStatus status) {
  switch (status) {
    case FunctionStatus::NotAvailable:
      return "not_available";
    case FunctionStatus::Different:
      return "different";
    case FunctionStatus::Compared:
      break;
  }
  return "compared";
}

}  // namespace qrvdiff::summary
