#include <gtest/gtest.h>

#include <vector>

#include "compare/pairing_schedule.h"
#include "support/listing_lines.h"
#include "support/parsed_listings.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;
using testing::listingText;
using testing::parsePair;

std::string simpleFunction(std::string_view name, int lineShift = 0, std::string_view body = "x++;",
                           std::string_view statement = "        50 % (  1/  2) statement") {
  return functionSection(
      {functionLine("1", "", ' ', 10 + lineShift, "FUNCTION " + std::string(name)),
       functionLine("3", "0", ' ', 11 + lineShift, "if (a)"),
       functionLine("", "", ' ', 12 + lineShift, "User annotation: " + std::string(body)),
       functionLine("1", "", ' ', 13 + lineShift, "}")},
      "***TER  50 % (  1/  2) of FUNCTION f()", statement);
}

std::vector<PairState> pairStates(const std::vector<std::string>& first,
                                  const std::vector<std::string>& second) {
  auto pair = parsePair(listingText(first), listingText(second));
  pairFiles(pair->listings());
  std::vector<PairState> states;
  for (const FunctionRecord& function : pair->second.functions)
    states.push_back(function.pairState);
  return states;
}

constexpr PairState kCompared = PairState::Compared;
constexpr PairState kDifferent = PairState::Different;
constexpr PairState kNotAvailable = PairState::NotAvailable;

TEST(Pairing, ShiftedLineNumbersAndChangedCountersStillCompare) {
  EXPECT_EQ(pairStates({simpleFunction("f()")}, {simpleFunction("f()", 40)}),
            std::vector{kCompared});
}

TEST(Pairing, TextFromColumnThirtyOnDecidesStructure) {
  EXPECT_EQ(pairStates({simpleFunction("f()")}, {simpleFunction("f()", 0, "y++;")}),
            std::vector{kDifferent});
  EXPECT_EQ(pairStates({simpleFunction("f()")}, {simpleFunction("f()", 0, "x++; ")}),
            std::vector{kDifferent});
}

TEST(Pairing, FunctionLinesMustMatchFromColumnThirtyOne) {
  // Columns up to 30 may differ, a trailing blank may not.
  EXPECT_EQ(pairStates({simpleFunction("g()")}, {simpleFunction("f()")}),
            std::vector{kNotAvailable});
  EXPECT_EQ(pairStates({simpleFunction("f()")}, {simpleFunction("f() ")}),
            std::vector{kNotAvailable});
}

TEST(Pairing, DuplicatesPairInOrderAndATakenCandidateIsNeverOfferedAgain) {
  // Listing 1: f (changed body), f (same). Listing 2: f, f, f.
  const auto states =
      pairStates({simpleFunction("f()", 0, "old"), simpleFunction("f()")},
                 {simpleFunction("f()"), simpleFunction("f()"), simpleFunction("f()")});
  EXPECT_EQ(states, (std::vector{kDifferent, kCompared, kNotAvailable}));
}

TEST(Pairing, LineCountsMustAgree) {
  const std::string longer = functionSection(
      {functionLine("1", "", ' ', 10, "FUNCTION f()"), functionLine("3", "0", ' ', 11, "if (a)"),
       functionLine("", "", ' ', 12, "User annotation: x++;"), functionLine("1", "", ' ', 13, "}"),
       functionLine("1", "", ' ', 14, "return")});
  EXPECT_EQ(pairStates({simpleFunction("f()")}, {longer}), std::vector{kDifferent});
  EXPECT_EQ(pairStates({longer}, {simpleFunction("f()")}), std::vector{kDifferent});
}

TEST(Pairing, KindsMustAgreeEvenWithEqualText) {
  const auto loop = [](std::string_view falseCounter) {
    return functionSection({functionLine("1", "", ' ', 10, "FUNCTION f()"),
                            functionLine("3", falseCounter, ' ', 11, "for (;;)")});
  };
  EXPECT_EQ(pairStates({loop("")}, {loop("2")}), std::vector{kDifferent});
  EXPECT_EQ(pairStates({loop("0")}, {loop("2")}), std::vector{kCompared});
}

TEST(Pairing, TrailingMarkersAreNotCompared) {
  const auto closing = [](std::string_view description) {
    return functionSection({functionLine("1", "", ' ', 10, "FUNCTION f()"),
                            functionLine("", "", ' ', 11, description)});
  };
  EXPECT_EQ(pairStates({closing("}+")}, {closing("}-")}), std::vector{kCompared});
  // "}+" is compared as "}".
  EXPECT_EQ(pairStates({closing("}")}, {closing("}+")}), std::vector{kCompared});
  // Equal up to the shorter line's end, but of different compare lengths.
  EXPECT_EQ(pairStates({closing("end:")}, {closing("end::")}), std::vector{kDifferent});
}

TEST(Pairing, McdcRowsTolerateListingTwosPlusAndMinus) {
  const auto mcdc = [](std::string_view row) {
    return functionSection(
        {functionLine("1", "", ' ', 10, "FUNCTION f()"), functionLine("", "1", ' ', 11, row)});
  };
  EXPECT_EQ(pairStates({mcdc("MC/DC  1: ab  ")}, {mcdc("MC/DC  1: ab+-")}), std::vector{kCompared});
  EXPECT_EQ(pairStates({mcdc("MC/DC  1: ab+-")}, {mcdc("MC/DC  1: ab  ")}),
            std::vector{kDifferent});
  EXPECT_EQ(pairStates({mcdc("MC/DC  1: ab +")}, {mcdc("MC/DC  1: ab -")}), std::vector{kCompared});
  EXPECT_EQ(pairStates({mcdc("MC/DC  1: xb  ")}, {mcdc("MC/DC  1: ab  ")}),
            std::vector{kDifferent});
}

TEST(Pairing, LineDirectivesMustAgree) {
  const std::string directive = functionLine("", "", ' ', 9, "#line 10 \"a.c\"") + "\n";
  const std::string other = functionLine("", "", ' ', 9, "#line 11 \"a.c\"") + "\n";
  EXPECT_EQ(pairStates({directive + simpleFunction("f()")}, {simpleFunction("f()")}),
            std::vector{kDifferent});
  EXPECT_EQ(pairStates({simpleFunction("f()")}, {directive + simpleFunction("f()")}),
            std::vector{kDifferent});
  EXPECT_EQ(pairStates({directive + simpleFunction("f()")}, {other + simpleFunction("f()")}),
            std::vector{kDifferent});
  EXPECT_EQ(pairStates({directive + simpleFunction("f()")}, {directive + simpleFunction("f()")}),
            std::vector{kCompared});
}

TEST(Pairing, StatementCountsMustAgreeUnlessBothAreNotApplicable) {
  const auto withStatement = [](std::string_view statement) {
    return simpleFunction("f()", 0, "x", statement);
  };
  const char* na = "       N.A. statement";
  EXPECT_EQ(pairStates({withStatement(na)}, {withStatement(na)}), std::vector{kCompared});
  EXPECT_EQ(pairStates({withStatement(na)}, {withStatement("         0 % (  0/  0) statement")}),
            std::vector{kCompared});
  EXPECT_EQ(pairStates({withStatement("        75 % (  3/  4) statement")},
                       {withStatement("        60 % (  3/  5) statement")}),
            std::vector{kDifferent});
  EXPECT_EQ(pairStates({withStatement("        75 % (  3/  4) statement")},
                       {withStatement("       100 % (  4/  4) statement")}),
            std::vector{kCompared});
}

TEST(Pairing, ADifferentFunctionKeepsNoMarksFromLinesBeforeTheDifference) {
  const auto function = [](std::string_view flag, std::string_view last) {
    return functionSection({functionLine("1", "", ' ', 10, "FUNCTION f()"),
                            functionLine(flag == "-" ? "0" : "4", "", flag[0], 11, "return 1;"),
                            functionLine("1", "", ' ', 12, last)});
  };
  auto pair = testing::parsePair(listingText({function("-", "return 2;")}),
                                 listingText({function(" ", "return 3;")}));
  pairFiles(pair->listings());
  EXPECT_EQ(pair->second.functions[0].pairState, kDifferent);
  for (const LineInfo& info : pair->second.lineInfos) EXPECT_FALSE(info.isMarked());
}

TEST(Pairing, TwoThreadsPairAndMarkAsOneDoes) {
  // Many files, some with the same "MONITORED " line, and functions that repeat their names.
  std::string first = listingText({});
  std::string second = first;
  const auto withFiles = [](std::string text, int count, int shift) {
    std::string sections;
    for (int f = 0; f < count; ++f) {
      std::string section =
          listingText({simpleFunction("f()", shift), simpleFunction("g()"),
                       simpleFunction("f()", 0, f % 3 == 0 ? "changed" : "x++;")});
      section = section.substr(section.find("MONITORED "));
      section = section.substr(0, section.find("SUMMARY"));
      const std::string name = "src/a" + std::to_string(f % 17) + ".c";
      section.replace(section.find("src/a.c"), 7, name);
      sections += section;
    }
    const std::size_t at = text.find("SUMMARY");
    return text.insert(at, sections);
  };
  first = withFiles(first, 40, 0);
  second = withFiles(second, 50, 3);
  auto one = testing::parsePair(first, second);
  auto two = testing::parsePair(first, second);
  pairFiles(one->listings(), 1);
  pairFiles(two->listings(), 2);
  ASSERT_EQ(one->second.functions.size(), two->second.functions.size());
  for (std::size_t i = 0; i < one->second.functions.size(); ++i) {
    EXPECT_EQ(one->second.functions[i].pairState, two->second.functions[i].pairState) << i;
    EXPECT_EQ(one->second.functions[i].gainedCount, two->second.functions[i].gainedCount) << i;
  }
  for (std::size_t i = 0; i < one->second.lineInfos.size(); ++i) {
    EXPECT_EQ(one->second.lineInfos[i].firstMark(), two->second.lineInfos[i].firstMark()) << i;
  }
}

}  // namespace
}  // namespace qrvdiff
