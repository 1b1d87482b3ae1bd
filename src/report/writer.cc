#include "report/writer.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/version.h"
#include "listing/function_lines.h"
#include "listing/line_feed_scanner.h"
#include "listing/section_loader.h"
#include "listing/text_match.h"
#include "report/compared_layout.h"

namespace qrvdiff {

namespace {

constexpr std::string_view kStars =
    "*****************************************************************************\n";
constexpr std::string_view kEquals =
    "=============================================================================\n";
constexpr std::string_view kHyphens =
    "-----------------------------------------------------------------------------\n";
constexpr std::string_view kBoxEmpty =
    "*                                                                           *\n";
constexpr std::string_view kBannerTitle =
    "*           QRV++, Test Coverage Analyzer for C/C++, Version 9.1            *\n";
constexpr std::string_view kBannerRights =
    "*                     Copyright (c) the qrvdiff authors                     *\n";
constexpr std::string_view kFunctionModeLine = "INSTRUMENTATION MODE  : functi";
constexpr std::string_view kFunctionView = "Reduced to function coverage";
constexpr std::size_t kFunctionNameColumn = 39;

std::int32_t asSigned(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}

void appendLine(OutputBuffer& out, std::string_view text) {
  out.append(text);
  out.append('\n');
}

// "%3i %% ([%i + %i - %i]%3i/%3i)" for one level's numbers; `gap` stands between "]" and the
// covered count, `width` is the width of the three-character fields.
struct TerNumbers {
  std::uint32_t kept;
  std::uint32_t gained;
  std::uint32_t lost;
  std::uint32_t covered;
  std::uint32_t points;
};

void appendTerAmounts(OutputBuffer& out, const TerNumbers& n, int width, std::string_view gap) {
  out.appendUnsigned(coveragePercent(n.covered, n.points), width);
  out.append(" % ([");
  out.appendInt(asSigned(n.kept + n.lost));
  out.append(" + ");
  out.appendInt(asSigned(n.gained));
  out.append(" - ");
  out.appendInt(asSigned(n.lost));
  out.append(']');
  out.append(gap);
  out.appendInt(asSigned(n.covered), width);
  out.append('/');
  out.appendInt(asSigned(n.points), width);
  out.append(')');
}

void appendNaSuffix(OutputBuffer& out, std::uint32_t naFunctions) {
  if (asSigned(naFunctions) > 0) {
    out.append(" (N.A. for ");
    out.appendInt(asSigned(naFunctions));
    out.append(" functions)\n");
  } else {
    out.append('\n');
  }
}

bool hasFunctionCoverageForm(const ProfileListing& second, const MonitoredFile& file) {
  return startsWith(file.modeLine, kFunctionModeLine) ||
         startsWith(second.coverageView.value_or(std::string_view{}), kFunctionView);
}

void appendMarkedLine(OutputBuffer& out, const LineRecord& line) {
  const char* text = line.text;
  const char firstMark = line.info.firstMark();
  const char secondMark = line.info.secondMark();
  out.append(text, column::kFirstMark);
  out.append(firstMark != 0 ? firstMark : text[column::kFirstMark]);
  out.append(text + column::kSecondCounterBegin, column::kSecondMark - column::kSecondCounterBegin);
  out.append(secondMark != 0 ? secondMark : text[column::kSecondMark]);
  out.append(text + column::kSecondMark + 1, line.length - column::kSecondMark - 1);
  out.append('\n');
}

// The lines after the FUNCTION line, with their marks, in one piece when the output has room for
// it; false when it has not.
bool appendBodyInOnePiece(const ProfileListing& second, const FunctionRecord& function,
                          FunctionText text, OutputBuffer& out) {
  const std::string_view rest = text.bodyLines();
  char* const room = out.reserve(rest.size());
  if (room == nullptr) return false;
  std::memcpy(room, rest.data(), rest.size());
  if (function.hasMarks) {
    const LineInfo* infos = second.lineInfos.data() + function.firstLine + 1;
    LineFeedScanner<> lineFeeds(room, room + rest.size());
    char* start = room;
    for (std::size_t i = 1; i < function.lineCount; ++i, ++infos) {
      const char* const found = lineFeeds.next();
      if (found == nullptr) throw std::logic_error("a function text shorter than its line count");
      if (infos->isMarked()) {
        if (infos->firstMark() != 0) start[column::kFirstMark] = infos->firstMark();
        if (infos->secondMark() != 0) start[column::kSecondMark] = infos->secondMark();
      }
      start = room + (found - room) + 1;
    }
  }
  out.commit(rest.size());
  return true;
}

void writeFunctionSection(const ProfileListing& second, const MonitoredFile& file,
                          const FunctionRecord& function, FunctionText text, OutputBuffer& out) {
  if (const auto directive = function.lineDirective()) appendLine(out, *directive);

  FunctionLines lines(second, function, text);
  LineRecord line;
  lines.next(line);
  const std::string_view functionLine = line.view();
  out.append(functionLine.substr(0, column::kFirstMark));
  out.append(line.info.firstMark() != 0 ? line.info.firstMark() : functionLine[column::kFirstMark]);
  switch (function.pairState) {
    case PairState::Compared:
      out.append("           ");
      break;
    case PairState::NotAvailable:
      out.append(kStatusNotAvailable);
      break;
    case PairState::Different:
      out.append(kStatusDifferent);
      break;
  }
  appendLine(out, functionLine.substr(kStatusColumn + kStatusWidth));
  // When every line ends in a bare line feed, the other lines go out in one piece, and the marks
  // are then set in the copy.
  if (second.sawCarriageReturn || !appendBodyInOnePiece(second, function, text, out)) {
    while (lines.next(line)) appendMarkedLine(out, line);
  }

  if (hasFunctionCoverageForm(second, file)) return;
  out.append('\n');
  if (function.pairState == PairState::Compared) {
    out.append("***TER ");
    appendTerAmounts(out,
                     {function.keptCount, function.gainedCount, function.lostCount,
                      static_cast<std::uint32_t>(function.coveredCount),
                      static_cast<std::uint32_t>(function.pointCount)},
                     3, "");
    out.append(" of FUNCTION ");
    appendLine(out, functionLine.substr(kFunctionNameColumn));
  } else {
    appendLine(out, text.terLine().value_or(std::string_view{}));
  }
  appendLine(out, text.statementLine().value_or(std::string_view{}));
  out.append(kHyphens);
  out.append('\n');
}

}  // namespace

void writeFileSection(const ProfileListing& second, const MonitoredFile& file, SectionTexts& texts,
                      OutputBuffer& out) {
  out.append('\n');
  appendLine(out, file.headerLine);
  appendLine(out, file.modeLine);
  out.append('\n');
  out.append(" HITS/TRUE      FALSE    LINE DESCRIPTION\n");
  out.append(kEquals);
  out.append('\n');
  for (std::size_t i = 0; i < file.includeCount; ++i) {
    appendLine(out, second.includes[file.firstInclude + i]);
  }
  for (const FunctionRecord* function = second.functionsBegin(file);
       function != second.functionsEnd(file); ++function) {
    writeFunctionSection(second, file, *function, texts.textOf(*function), out);
  }
  out.append('\n');

  const CoverageTally& tally = file.tally;
  out.append("***TER ");
  appendTerAmounts(
      out,
      {tally.keptCount, tally.gainedCount, tally.lostCount, tally.coveredCount, tally.pointCount},
      3, "");
  out.append(" of FILE (compared Fs) ");
  constexpr std::string_view kOfFile = "of FILE ";
  const std::size_t ofFile = file.fileTerLine.find(kOfFile);
  if (ofFile != std::string_view::npos)
    out.append(file.fileTerLine.substr(ofFile + kOfFile.size()));
  out.append('\n');

  out.append("       ");
  out.appendUnsigned(coveragePercent(tally.statementCovered, tally.statementTotal), 3);
  out.append(" % (");
  out.appendInt(asSigned(tally.statementCovered), 3);
  out.append('/');
  out.appendInt(asSigned(tally.statementTotal), 3);
  out.append(") statement");
  appendNaSuffix(out, tally.naFunctionCount);
  out.append(kHyphens);
  out.append("\n\n");
}

namespace {

// The rest of listing 2's first summary TER line after its first ")" and the blank behind it.
std::string_view summaryTail(const ProfileListing& second) {
  if (second.sourceFileCount <= 0) return {};
  const std::size_t paren = second.terLine.find(')');
  if (paren == std::string_view::npos || paren + 2 > second.terLine.size()) return {};
  return second.terLine.substr(paren + 2);
}

}  // namespace

void writeSummary(const ProfileListing& second, OutputBuffer& out) {
  const CoverageTally& totals = second.totals;
  out.append("\nSUMMARY\n=======\n\n");
  appendLine(out, second.sourceFilesLine);
  appendLine(out, second.headersLine);
  appendLine(out, second.sourceLinesLine);
  out.append('\n');
  out.append("Functions compared : ");
  out.appendInt(asSigned(totals.functionsCompared));
  out.append('\n');

  out.append("TER                : ");
  appendTerAmounts(out,
                   {totals.keptCount, totals.gainedCount, totals.lostCount, totals.coveredCount,
                    totals.pointCount},
                   0, " ");
  out.append(' ');
  appendLine(out, summaryTail(second));

  out.append("TER                : ");
  out.appendUnsigned(coveragePercent(totals.statementCovered, totals.statementTotal));
  out.append(" % (");
  out.appendInt(asSigned(totals.statementCovered));
  out.append('/');
  out.appendInt(asSigned(totals.statementTotal));
  out.append(") statement");
  appendNaSuffix(out, totals.naFunctionCount);
  out.append('\n');
  out.append("Functions all      : ");
  out.appendInt(second.functionCount);
  out.append('\n');
  appendLine(out, second.terLine);
  appendLine(out, second.statementTerLine);
}

std::uint64_t coveragePercent(std::uint32_t covered, std::uint32_t total) {
  if (total == 0) return 100;
  return std::uint64_t{covered} * 100 / total;
}

std::string asctimeText(const std::tm& time) {
  static constexpr char kWeekdays[] = "SunMonTueWedThuFriSat";
  static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const int weekday = time.tm_wday >= 0 && time.tm_wday < 7 ? time.tm_wday : 0;
  const int month = time.tm_mon >= 0 && time.tm_mon < 12 ? time.tm_mon : 0;
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                                   kWeekdays + 3 * weekday, kMonths + 3 * month, time.tm_mday,
                                   time.tm_hour, time.tm_min, time.tm_sec, 1900 + time.tm_year);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void writeListingHeader(const ListingPair& listings, const ReportHeader& header,
                        OutputBuffer& out) {
  const ProfileListing& second = listings.second;
  const ProfileListing& first = listings.first;
  std::string versionField(versionText());
  versionField += ')';
  if (versionField.size() < 14) versionField.append(14 - versionField.size(), ' ');

  out.append(kStars);
  out.append(kBannerTitle);
  out.append(kBoxEmpty);
  out.append(kComparedBannerStart);
  out.append(versionField);
  out.append("*\n");
  out.append(kBoxEmpty);
  out.append(kBannerRights);
  out.append(kStars);
  out.append("\n\n");

  out.append("Input profile 1       : ");
  out.append(header.inputPath1);
  out.append(" (");
  out.append(first.producedAt.value_or(std::string_view{}));
  out.append(")\nInput profile 2       : ");
  out.append(header.inputPath2);
  out.append(" (");
  out.append(second.producedAt.value_or(std::string_view{}));
  out.append(")\nListing produced at   : ");
  out.append(header.timeText);
  out.append("Coverage view         : ");
  out.append(second.coverageView.value_or(std::string_view{}));
  out.append("\n\n\n");
}

void writeComparedListing(const ListingPair& listings, const ReportHeader& header,
                          OutputBuffer& out) {
  const ProfileListing& second = listings.second;
  writeListingHeader(listings, header, out);
  SectionLoader loader;
  for (const MonitoredFile& file : second.files) {
    SectionTexts texts(loader, second, file);
    writeFileSection(second, file, texts, out);
  }
  writeSummary(second, out);
}

}  // namespace qrvdiff
