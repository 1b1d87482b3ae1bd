#include "compare/marking.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "listing/function_lines.h"
#include "support/listing_lines.h"

namespace qrvdiff {
namespace {

using testing::functionLine;

// One compared pair of single-line functions, marked.
struct MarkedLine {
  std::string text;  // listing 2's line after marking
  std::uint32_t kept;
  std::uint32_t gained;
  std::uint32_t lost;
};

// A listing holding one function of one line, as read (copied, with a bare line feed).
void addSingleLineFunction(ProfileListing& listing, LineKind kind, const std::string& text) {
  listing.arena.beginRun();
  listing.arena.storeInRun(text);
  const std::string_view run = listing.arena.endRun();
  FunctionRecord function;
  function.text = run.data();
  function.textSize = run.size();
  function.functionLineLength = static_cast<std::uint32_t>(text.size());
  function.firstLine = listing.lineInfos.size();
  function.lineCount = 1;
  listing.lineInfos.push_back(LineInfo(kind, false));
  listing.functions.push_back(function);
}

std::string onlyLine(const ProfileListing& listing) {
  FunctionLines lines(listing, listing.functions[0], FunctionText::inMemory(listing.functions[0]));
  LineRecord line;
  lines.next(line);
  return line.markedText();
}

MarkedLine mark(LineKind kind, const std::string& before, const std::string& after) {
  ProfileListing first;
  ProfileListing second;
  addSingleLineFunction(first, kind, before);
  addSingleLineFunction(second, kind, after);
  FunctionRecord& function = second.functions[0];
  function.partner = &first.functions[0];
  markDifferences({FirstListing(first), SecondListing(second)}, function);
  EXPECT_EQ(onlyLine(first), before) << "listing 1 must stay unchanged";
  EXPECT_EQ(function.hasMarks, onlyLine(second) != after);
  return {onlyLine(second), function.keptCount, function.gainedCount, function.lostCount};
}

std::string line(std::string_view first, std::string_view second, char flag,
                 std::string_view description = "x") {
  return functionLine(first, second, flag, 10, description);
}

std::string withMark(std::string text, std::size_t column, char mark) {
  text.replace(column, 1, 1, mark);
  return text;
}

TEST(Marking, FlagRuleKindsUseTheirMarkColumn) {
  const struct {
    LineKind kind;
    std::size_t column;
  } kinds[] = {{LineKind::Hits, 10},
               {LineKind::CondFirst, 10},
               {LineKind::CondSecond, 21},
               {LineKind::Mcdc, 21}};
  for (const auto& [kind, column] : kinds) {
    const std::string covered = line("1", "", ' ');
    const std::string uncovered = line("0", "", '-');
    MarkedLine result = mark(kind, uncovered, covered);
    EXPECT_EQ(result.text, withMark(covered, column, '^'));
    EXPECT_EQ(result.gained, 1u);

    result = mark(kind, covered, uncovered);
    EXPECT_EQ(result.text, withMark(uncovered, column, 'v'));
    EXPECT_EQ(result.lost, 1u);

    result = mark(kind, covered, covered);
    EXPECT_EQ(result.text, covered);
    EXPECT_EQ(result.kept, 1u);

    result = mark(kind, uncovered, uncovered);
    EXPECT_EQ(result.text, uncovered);
    EXPECT_EQ(result.kept + result.gained + result.lost, 0u);
  }
}

TEST(Marking, OtherFlagCharactersDecideNothingForFlagRuleKinds) {
  const MarkedLine a = mark(LineKind::Hits, line("0", "", '-'), line("1", "", '*'));
  const MarkedLine b = mark(LineKind::Hits, line("0", "", '*'), line("1", "", ' '));
  EXPECT_EQ(a.kept + a.gained + a.lost + b.kept + b.gained + b.lost, 0u);
}

TEST(Marking, DecisionsAreTwoPointsByTheirCounters) {
  const std::string before = line("5", "0", ' ', "if (a)");
  const std::string after = line("0", "3", ' ', "if (a)");
  const MarkedLine result = mark(LineKind::TrueFalse, before, after);
  EXPECT_EQ(result.text, withMark(withMark(after, 10, 'v'), 21, '^'));
  EXPECT_EQ(result.lost, 1u);
  EXPECT_EQ(result.gained, 1u);
  EXPECT_EQ(result.kept, 0u);

  const MarkedLine both = mark(LineKind::TrueFalse, line("1", "1", ' '), line("7", "9", ' '));
  EXPECT_EQ(both.kept, 2u);
}

TEST(Marking, CounterValuesSkipBlanksAndStopAtOtherCharacters) {
  EXPECT_EQ(counterValue("         0"), 0u);
  EXPECT_EQ(counterValue("          "), 0u);
  EXPECT_EQ(counterValue("1 2"), 12u);
  EXPECT_EQ(counterValue("   x5"), 0u);
  EXPECT_EQ(counterValue("9999999999"), 9999999999u);
  EXPECT_EQ(counterValue("0000000000"), 0u);
  // Ten digits are read whole: a value that is a multiple of 2^32 is still covered.
  const MarkedLine result =
      mark(LineKind::TrueFalse, line("", "", ' '), line("4294967296", "", ' '));
  EXPECT_EQ(result.gained, 1u);
}

// Whether a decision's counter field counts as covered is whether the value read from it is not
// zero, for any mix of blanks, digits and other characters in the ten columns of either field.
TEST(Marking, ACounterFieldIsCoveredExactlyWhenItsValueIsNotZero) {
  // Mostly counters as they are written (blanks, then digits, many of them zeros), with now and
  // then another character in between.
  const std::string alphabet = " 000000019x-+\t";
  std::uint64_t state = 12345;
  const auto next = [&](std::size_t below) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::size_t>((state >> 33) % below);
  };
  const auto randomField = [&] {
    std::string field(10, ' ');
    for (std::size_t i = next(11); i < field.size(); ++i)
      field[i] = alphabet[next(alphabet.size())];
    return field;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string before = line("", "", ' ', "if (a)");
    std::string after = before;
    const std::string fields[4] = {randomField(), randomField(), randomField(), randomField()};
    before.replace(0, 10, fields[0]);
    before.replace(11, 10, fields[1]);
    after.replace(0, 10, fields[2]);
    after.replace(11, 10, fields[3]);
    const MarkedLine result = mark(LineKind::TrueFalse, before, after);
    std::uint32_t kept = 0;
    std::uint32_t gained = 0;
    std::uint32_t lost = 0;
    for (int field = 0; field < 2; ++field) {
      const bool wasCovered = counterValue(fields[field]) != 0;
      const bool isCovered = counterValue(fields[field + 2]) != 0;
      kept += wasCovered && isCovered;
      gained += !wasCovered && isCovered;
      lost += wasCovered && !isCovered;
    }
    EXPECT_EQ(result.kept, kept) << before << "\n" << after;
    EXPECT_EQ(result.gained, gained) << before << "\n" << after;
    EXPECT_EQ(result.lost, lost) << before << "\n" << after;
  }
}

TEST(Marking, ConstantConditionsChooseTheirColumnFromListingTwo) {
  // Gained with the counter in the first field: column 10.
  MarkedLine result = mark(LineKind::Const, line("0", "", '-'), line("1", "", ' '));
  EXPECT_EQ(result.text, withMark(line("1", "", ' '), 10, '^'));
  // Gained with the counter in the second field: column 21.
  result = mark(LineKind::Const, line("", "0", '-'), line("", "1", ' '));
  EXPECT_EQ(result.text, withMark(line("", "1", ' '), 21, '^'));
  // Counters in both fields: nothing.
  result = mark(LineKind::Const, line("0", "0", '-'), line("1", "1", ' '));
  EXPECT_EQ(result.gained, 0u);
  EXPECT_EQ(result.text, line("1", "1", ' '));
  // Gained needs only that listing 2's flag is not "-".
  result = mark(LineKind::Const, line("0", "", '-'), line("1", "", '?'));
  EXPECT_EQ(result.gained, 1u);
  // Lost always goes to column 10.
  result = mark(LineKind::Const, line("", "1", ' '), line("", "0", '-'));
  EXPECT_EQ(result.text, withMark(line("", "0", '-'), 10, 'v'));
  EXPECT_EQ(result.lost, 1u);
  // Listing 1's flag neither blank nor "-": nothing.
  result = mark(LineKind::Const, line("0", "", '?'), line("1", "", ' '));
  EXPECT_EQ(result.kept + result.gained + result.lost, 0u);
}

TEST(Marking, PlainLinesAreNeverMarked) {
  const std::string text = line("", "", ' ', "else");
  const MarkedLine result = mark(LineKind::None, line("", "", '-', "else"), text);
  EXPECT_EQ(result.text, text);
  EXPECT_EQ(result.kept + result.gained + result.lost, 0u);
}

TEST(Marking, AnUnknownKindIsAnInternalError) {
  try {
    mark(static_cast<LineKind>(7), line("1", "", ' '), line("1", "", ' '));
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Internal error, data structures look corrupted");
  }
}

}  // namespace
}  // namespace qrvdiff
