#pragma once

// Builders for function-section lines and whole listings in unit tests.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qrvdiff::testing {

// A function-section line: first counter right-aligned in columns 0-9, second in 11-20, the
// coverage flag in column 22, the line number in 24-29 and the description from column 30.
inline std::string functionLine(std::string_view first, std::string_view second, char flag,
                                int lineNumber, std::string_view description) {
  // Copied into place rather than with std::string::replace, in which GCC 12 at -O3 sees an
  // overlap that cannot happen (-Wrestrict).
  std::string line(30, ' ');
  const auto placeEndingAt = [&line](std::size_t end, std::string_view text) {
    std::copy(text.begin(), text.end(),
              line.begin() + static_cast<std::ptrdiff_t>(end - text.size()));
  };
  placeEndingAt(10, first);
  placeEndingAt(21, second);
  line[22] = flag;
  placeEndingAt(30, std::to_string(lineNumber));
  line += description;
  return line;
}

inline std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

// The banner and header of a listing, down to the blank line before its first file section.
inline std::string listingHeaderText(std::string_view coverageView = "As instrumented") {
  return joinLines({
      std::string(77, '*'),
      "*           QRV++, Test Coverage Analyzer for C/C++, Version 9.1            *",
      "*" + std::string(75, ' ') + "*",
      "*                         EXECUTION PROFILE LISTING                          *",
      "",
      "Listing produced at   : Mon Nov 30 14:02:11 2026",
      "Coverage view         : " + std::string(coverageView),
      "",
  });
}

// The SUMMARY block that ends a listing.
inline std::string summaryText() {
  return joinLines({
      "SUMMARY",
      "=======",
      "",
      "Source files       : 1",
      "Headers extracted  : 0",
      "Functions          : 1",
      "Source lines       : 10",
      "TER                : 50 % (1/2) of 1 source files",
      "TER                : 50 % (1/2) statement",
  });
}

// The opening lines of a file section, down to the blank line before its first function.
inline std::string fileSectionHead(std::string_view file,
                                   std::string_view mode = "multiple condition") {
  return joinLines({
      "MONITORED SOURCE FILE : " + std::string(file),
      "INSTRUMENTATION MODE  : " + std::string(mode),
      "",
      " HITS/TRUE      FALSE    LINE DESCRIPTION",
      std::string(77, '='),
      "",
  });
}

// The closing lines of a file section, with the three blank lines that follow it.
inline std::string fileSectionTail(std::string_view file) {
  return joinLines({
      "",
      "***TER  50 % (  1/  2) of FILE " + std::string(file),
      "        50 % (  1/  2) statement",
      std::string(77, '-'),
      "",
      "",
      "",
  });
}

// A listing with one file section "src/a.c" holding the given function sections (each the
// complete lines from the FUNCTION line to the empty line after its rule).
inline std::string listingText(const std::vector<std::string>& functionSections,
                               std::string_view coverageView = "As instrumented",
                               std::string_view mode = "multiple condition") {
  std::string text = listingHeaderText(coverageView) + fileSectionHead("src/a.c", mode);
  for (const std::string& section : functionSections) text += section;
  return text + fileSectionTail("src/a.c") + summaryText();
}

// A function section in its normal form.
inline std::string functionSection(
    const std::vector<std::string>& lines,
    std::string_view ter = "***TER  50 % (  1/  2) of FUNCTION f()",
    std::string_view statement = "        50 % (  1/  2) statement") {
  std::vector<std::string> all = lines;
  all.insert(all.end(), {"", std::string(ter), std::string(statement), std::string(77, '-'), ""});
  return joinLines(all);
}

}  // namespace qrvdiff::testing
