#include "compare/text_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compare/marking.h"
#include "compare/pairing.h"
#include "support/listing_lines.h"
#include "support/parsed_listings.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;
using testing::listingText;
using testing::parsePair;

#if defined(__SSE2__)
constexpr bool kBlocksCompared = true;
#else
constexpr bool kBlocksCompared = false;  // the check always answers false
#endif

// Line by line: line feeds at the same places, equal bytes from column 30 on.
bool referenceSame(std::string_view second, std::string_view first) {
  if (second.size() != first.size()) return false;
  std::size_t column = 0;
  for (std::size_t i = 0; i < second.size(); ++i) {
    if ((second[i] == '\n') != (first[i] == '\n')) return false;
    if (column >= 30 && second[i] != first[i]) return false;
    column = second[i] == '\n' ? 0 : column + 1;
  }
  return true;
}

// Copies of exactly `size` bytes, so that a read past the end shows under a memory checker.
bool blocksSame(std::string_view second, std::string_view first) {
  const std::vector<char> a(second.begin(), second.end());
  const std::vector<char> b(first.begin(), first.end());
  return sameLinesFromColumn30(a.data(), b.data(), a.size());
}

// Checks the answer against the reference, which must give `expected`.
void expectAnswer(const std::string& second, const std::string& first, bool expected) {
  ASSERT_EQ(referenceSame(second, first), expected) << "test case is not what it claims";
  const bool answer = blocksSame(second, first);
  EXPECT_EQ(answer, expected && kBlocksCompared);
  EXPECT_EQ(blocksSame(first, second), answer);
}

// Lines of the given lengths (line feeds not counted).
std::string textOfLines(const std::vector<std::size_t>& lengths) {
  std::string text;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    for (std::size_t c = 0; c < lengths[i]; ++c) text += static_cast<char>('A' + (i + c) % 50);
    text += '\n';
  }
  return text;
}

TEST(TextBlocks, EveryByteOfLinesAroundBlockBoundaries) {
  const std::vector<std::vector<std::size_t>> layouts = {
      {59, 80},           // second line starts at byte 60: columns 0-29 in two blocks
      {62, 60},           // a line starting at byte 63
      {63, 63},           // a line starting at the first byte of a block; exactly 128 bytes
      {31, 31},           // exactly 64 bytes
      {31, 31, 31, 31},   // exactly 128 bytes
      {64},               // the last block holds only the line feed
      {40, 31, 100, 33},  // a partial last block
      {250, 31},          // a line over several blocks
      {0, 5, 29, 30},     // short lines
  };
  for (const auto& layout : layouts) {
    const std::string text = textOfLines(layout);
    SCOPED_TRACE(text);
    expectAnswer(text, text, true);
    std::size_t column = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::string changed = text;
      changed[i] = text[i] == '\n' ? 'x' : '\n';  // a line feed added or removed
      expectAnswer(changed, text, false);
      if (text[i] != '\n') {
        changed[i] = '#';
        SCOPED_TRACE("byte " + std::to_string(i) + ", column " + std::to_string(column));
        expectAnswer(changed, text, column < 30);
      }
      column = text[i] == '\n' ? 0 : column + 1;
    }
  }
}

TEST(TextBlocks, RandomTextsAgreeWithTheLineByLineComparison) {
  std::mt19937 random(20260412);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const auto otherByte = [&](char old) {
    char c = old;
    while (c == old || c == '\n') c = static_cast<char>(below(256));
    return c;
  };
  int answeredSame = 0;
  int answeredDifferent = 0;
  for (int run = 0; run < 4000; ++run) {
    const std::size_t size = 1 + below(600);
    std::string first;
    std::vector<std::pair<std::size_t, std::size_t>> lines;  // start and length
    while (first.size() < size) {
      const std::size_t length = below(8) == 0 ? below(31) : 31 + below(170);
      lines.emplace_back(first.size(), length);
      for (std::size_t c = 0; c < length; ++c) first += otherByte('\n');
      first += '\n';
    }
    first.resize(size);
    first.back() = '\n';
    lines.back().second = size - 1 - lines.back().first;

    // Columns 0 to 29 of some lines differ in every case.
    std::string second = first;
    const auto atColumn = [&](std::size_t low, std::size_t high) -> std::size_t {
      const auto& [start, length] = lines[below(lines.size())];
      if (length <= low) return std::string::npos;
      return start + low + below(std::min(length, high) - low);
    };
    for (std::size_t n = below(5); n > 0; --n) {
      const std::size_t at = atColumn(0, 30);
      if (at != std::string::npos) second[at] = otherByte(second[at]);
    }
    const int mutation = static_cast<int>(below(6));
    bool expected = true;
    std::size_t at = std::string::npos;
    switch (mutation) {
      case 0:  // all of columns 0 to 29 of every line
        for (const auto& [start, length] : lines) {
          for (std::size_t c = 0; c < std::min<std::size_t>(length, 30); ++c) {
            second[start + c] = otherByte(second[start + c]);
          }
        }
        break;
      case 1:
        at = atColumn(29, 30);
        break;
      case 2:
        at = atColumn(30, 31);
        expected = false;
        break;
      case 3:
        at = atColumn(30, 1000);
        expected = false;
        break;
      case 4: {  // a line feed replaced
        const auto& [start, length] = lines[below(lines.size())];
        second[start + length] = otherByte('\n');
        expected = false;
        break;
      }
      case 5: {  // a line end moved, the size kept
        const std::size_t lineFeed = lines[below(lines.size())].first - 1;
        const std::size_t to = lineFeed + below(81) - 40;
        if (lineFeed >= size || to >= size || first[to] == '\n') continue;
        second[lineFeed] = otherByte('\n');
        second[to] = '\n';
        expected = false;
        break;
      }
    }
    if (mutation >= 1 && mutation <= 3) {
      if (at == std::string::npos) continue;  // no line long enough
      second[at] = otherByte(second[at]);
    }
    SCOPED_TRACE("run " + std::to_string(run) + ", mutation " + std::to_string(mutation));
    expectAnswer(second, first, expected);
    if (::testing::Test::HasFatalFailure()) return;
    ++(expected ? answeredSame : answeredDifferent);
  }
  EXPECT_GT(answeredSame, 1000);
  EXPECT_GT(answeredDifferent, 1000);
}

// Counters, flags and line numbers differ in both directions; the text from column 30 on agrees.
std::string countedFunction(int variant, std::string_view lastLine = "}") {
  const bool one = variant == 1;
  const int shift = one ? 0 : 500;
  return functionSection({
      functionLine(one ? "1" : "0", "", one ? ' ' : '-', 10 + shift, "FUNCTION compute(int a)"),
      functionLine(one ? "3" : "0", one ? "0" : "12", ' ', 11 + shift, "if (a && b)"),
      functionLine("1", one ? "2" : "0", ' ', 12 + shift, "1: a"),
      functionLine("", one ? "4" : "0", ' ', 13 + shift, "2: b"),
      functionLine(one ? "0" : "7", "", ' ', 14 + shift, "return x + y;"),
      functionLine("", "", ' ', 15 + shift, "User annotation: long enough to cross a block"),
      functionLine("5", "", ' ', 16 + shift, "case 1:"),
      functionLine(one ? "12345" : "0", "", one ? ' ' : '-', 17 + shift, "const-true"),
      functionLine(one ? "0" : "9", one ? "8" : "0", ' ', 18 + shift, "while (i < n)"),
      functionLine("1", "", ' ', 19 + shift, lastLine),
  });
}

struct Outcome {
  std::vector<std::pair<char, char>> marks;
  std::vector<std::uint32_t> counts;  // kept, gained, lost, and whether marked
};

Outcome outcomeOf(const ProfileListing& second) {
  Outcome outcome;
  for (const LineInfo& info : second.lineInfos) {
    outcome.marks.emplace_back(info.firstMark(), info.secondMark());
  }
  const FunctionRecord& function = second.functions.at(0);
  outcome.counts = {function.keptCount, function.gainedCount, function.lostCount,
                    function.hasMarks ? 1u : 0u};
  return outcome;
}

std::string withCarriageReturns(const std::string& text) {
  std::string result;
  for (const char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

TEST(TextBlocks, ComparingEqualTextsMarksAsTheLineByLineWalkDoes) {
  for (const bool carriageReturns : {false, true}) {
    SCOPED_TRACE(carriageReturns ? "CR LF" : "LF");
    const auto text = [&](int variant) {
      const std::string plain = listingText({countedFunction(variant)});
      return carriageReturns ? withCarriageReturns(plain) : plain;
    };
    auto compared = parsePair(text(1), text(2));
    FunctionRecord& function = compared->second.functions.at(0);
    const FunctionRecord& partner = compared->first.functions.at(0);
    ASSERT_EQ(function.textSize, partner.textSize);
    EXPECT_EQ(sameLinesFromColumn30(function.text, partner.text, function.textSize),
              kBlocksCompared);
    ASSERT_TRUE(compareAndMark(compared->listings(), function, FunctionText::inMemory(function),
                               partner, FunctionText::inMemory(partner)));

    auto walked = parsePair(text(1), text(2));
    walked->second.functions.at(0).partner = &walked->first.functions.at(0);
    markDifferences(walked->listings(), walked->second.functions.at(0));

    const Outcome expected = outcomeOf(walked->second);
    const Outcome actual = outcomeOf(compared->second);
    EXPECT_EQ(actual.marks, expected.marks);
    EXPECT_EQ(actual.counts, expected.counts);
    EXPECT_GT(expected.counts[1], 0u);  // something gained
    EXPECT_GT(expected.counts[2], 0u);  // and something lost
  }
}

TEST(TextBlocks, ADifferenceAtColumnThirtyOfTheLastLineStillMakesFunctionsDiffer) {
  auto pair = parsePair(listingText({countedFunction(1, "break")}),
                        listingText({countedFunction(2, "throw")}));
  FunctionRecord& function = pair->second.functions.at(0);
  ASSERT_EQ(function.textSize, pair->first.functions.at(0).textSize);
  const FunctionRecord& partner = pair->first.functions.at(0);
  EXPECT_FALSE(compareAndMark(pair->listings(), function, FunctionText::inMemory(function), partner,
                              FunctionText::inMemory(partner)));
}

}  // namespace
}  // namespace qrvdiff
