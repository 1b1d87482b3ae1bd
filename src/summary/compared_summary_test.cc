#include "summary/compared_summary.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "listing/line_reader.h"

namespace qrvdiff::summary {
namespace {

// A compared listing around `sections`, whose totals line states `totals`.
std::string listing(const std::string& sections, const std::string& totals = "0 + 0 - 0] 0/0",
                    const std::string& view = "As instrumented") {
  const std::string stars(77, '*');
  const std::string box = "*" + std::string(75, ' ') + "*\n";
  return stars + "\n" + box + box +
         "*             EXECUTION PROFILE LISTING (COMPARED by qrvdiff v9.1.4.1)      *\n" + box +
         box + stars + "\n\n\nInput profile 1       : a (x)\nInput profile 2       : b (y)\n" +
         "Listing produced at   : z\nCoverage view         : " + view + "\n\n\n" + sections +
         "\nSUMMARY\n=======\n\nSource files       : 1\nHeaders extracted  : 0\n" +
         "Source lines       : 9\n\nFunctions compared : 1\nTER                : 50 % ([" + totals +
         ") of 1 source files\nTER                : 1 % (0/0) statement\n\n" +
         "Functions all      : 2\nTER                : x\nTER                : y\n";
}

std::string fileSection(const std::string& mode, const std::string& functions) {
  return "\nMONITORED SOURCE FILE : src/a.c\nINSTRUMENTATION MODE  : " + mode +
         "\n\n HITS/TRUE      FALSE    LINE DESCRIPTION\n" + std::string(77, '=') + "\n\n" +
         "#include \"a.h\"\n" + functions +
         "\n***TER  50 % ([2 + 1 - 1]  2/  4) of FILE (compared Fs) src/a.c\n"
         "        N.A. statement\n" +
         std::string(77, '-') + "\n\n\n";
}

std::string functionTrailer(const std::string& ter) {
  return "\n" + ter + "\n       N.A. statement\n" + std::string(77, '-') + "\n\n";
}

ComparedSummary read(const std::string& text) {
  MemorySource source(text);
  return readComparedSummary(source, "in.txt");
}

TEST(ComparedSummary, TakesPointsFromBothMarkColumnsOfComparedFunctionsOnly) {
  const std::string functions =
      "         4                 30 FUNCTION f(int a)\n"
      "         0v         3^     31 if (a)\n"
      "         2                 32 return a\n" +
      functionTrailer("***TER  50 % ([2 + 1 - 1]  2/  3) of FUNCTION f(int a)") +
      "                              #line 1 \"g.def\"\n"
      "         1 (different)     40 FUNCTION g()\n"
      "         0v                41 return 0\n" +
      functionTrailer("***TER  50 % (  1/  2) of FUNCTION g()");
  const ComparedSummary summary =
      read(listing(fileSection("decision", functions), "3 + 1 - 1] 2/5"));
  EXPECT_EQ(summary.totals.kept, 2);
  EXPECT_EQ(summary.totals.lost, 1);
  EXPECT_EQ(summary.percent, 50);
  EXPECT_EQ(summary.functionsAll, 2);
  EXPECT_EQ(summary.different, 1);
  ASSERT_EQ(summary.files.size(), 1u);
  const FileSummary& file = summary.files[0];
  EXPECT_EQ(file.path, "src/a.c");
  EXPECT_EQ(file.amounts.kept, 1);
  const auto reported = summary.functionsOf(file);
  ASSERT_EQ(reported.size(), 2u);
  const FunctionSummary& f = reported[0];
  EXPECT_EQ(summary.text(f.name), "f(int a)");
  EXPECT_EQ(f.line, 30u);
  ASSERT_EQ(summary.lostPoints(f).size(), 1u);
  EXPECT_EQ(summary.lostPoints(f)[0].markColumn, 11);
  EXPECT_EQ(summary.lostPoints(f)[0].line, 31u);
  EXPECT_EQ(summary.text(summary.lostPoints(f)[0].text), "if (a)");
  ASSERT_EQ(summary.gainedPoints(f).size(), 1u);
  EXPECT_EQ(summary.gainedPoints(f)[0].markColumn, 22);
  const FunctionSummary& g = reported[1];  // after its #line line; its "v" is no mark
  EXPECT_EQ(g.status, FunctionStatus::Different);
  EXPECT_TRUE(summary.lostPoints(g).empty());
  EXPECT_EQ(g.amounts.covered, 1);
  EXPECT_EQ(g.amounts.points, 2);
}

TEST(ComparedSummary, FunctionFormHasNoTrailerAndCountsTheFunctionLine) {
  const std::string functions =
      "         0v           -     3 FUNCTION a()\n"
      "         4                  9 FUNCTION b()\n"
      "         5^                15 FUNCTION c()\n";
  for (const auto& [mode, view] :
       {std::pair<std::string, std::string>{"function", "As instrumented"},
        {"decision", "Reduced to function coverage"}}) {
    const ComparedSummary summary =
        read(listing(fileSection(mode, functions), "2 + 1 - 1] 2/3", view));
    ASSERT_EQ(summary.files.size(), 1u);
    const auto reported = summary.functionsOf(summary.files[0]);
    ASSERT_EQ(reported.size(), 2u);  // b() kept its coverage and is not reported
    EXPECT_EQ(reported[0].amounts.lost, 1);
    EXPECT_EQ(reported[0].amounts.covered, 0);
    EXPECT_EQ(reported[1].amounts.gained, 1);
    EXPECT_EQ(reported[1].amounts.kept, 0);
  }
}

TEST(ComparedSummary, NamesFileAndLineOfWhatIsNotAComparedListing) {
  const std::string good = listing(fileSection("decision", ""));
  EXPECT_NO_THROW(read(good));
  const auto message = [](const std::string& text) {
    try {
      read(text);
    } catch (const Error& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(good.substr(0, good.size() - 20)).substr(0, 35),
            "in.txt:44: not a compared listing: ");
  EXPECT_EQ(message(good + "\n").substr(0, 10), "in.txt:45:");
  std::string plain = good;
  plain.replace(plain.find("(COMPARED"), 9, "         ");
  EXPECT_EQ(message(plain).substr(0, 9), "in.txt:4:");
  EXPECT_EQ(message("").substr(0, 9), "in.txt:0:");
}

TEST(MonitoredPath, DropsTheLongOrShortPrefix) {
  EXPECT_EQ(monitoredPath("MONITORED SOURCE FILE : a/b.c"), "a/b.c");
  EXPECT_EQ(monitoredPath("MONITORED HEADER: x.h"), "HEADER: x.h");
}

}  // namespace
}  // namespace qrvdiff::summary
