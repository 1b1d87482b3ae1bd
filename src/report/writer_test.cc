#include "report/writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "support/background_writing.h"
#include "support/listing_lines.h"
#include "support/parsed_listings.h"
#include "support/string_sink.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;
using testing::listingText;
using testing::StringSink;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string compareTexts(const std::string& first, const std::string& second) {
  auto pair = testing::parsePair(first, second);
  pairFiles(pair->listings());
  computeTallies(pair->second);
  StringSink sink;
  {
    OutputBuffer out(sink);
    writeComparedListing(pair->listings(), {"old.txt", "new.txt", "Tue Dec  8 10:11:12 2026\n"},
                         out);
    out.flush();
  }
  return sink.bytes;
}

TEST(CoveragePercent, TruncatesAndHasNoUpperBound) {
  EXPECT_EQ(coveragePercent(4, 6), 66u);
  EXPECT_EQ(coveragePercent(1, 3), 33u);
  EXPECT_EQ(coveragePercent(199, 200), 99u);
  EXPECT_EQ(coveragePercent(0, 0), 100u);
  EXPECT_EQ(coveragePercent(3, 0), 100u);
  EXPECT_EQ(coveragePercent(7, 5), 140u);
  // The product is formed in 64 bits.
  EXPECT_EQ(coveragePercent(4000000000u, 4000000000u), 100u);
}

TEST(AsctimeText, HasTheClassicFixedForm) {
  std::tm time{};
  time.tm_wday = 2;
  time.tm_mon = 11;
  time.tm_mday = 8;
  time.tm_hour = 9;
  time.tm_min = 5;
  time.tm_sec = 7;
  time.tm_year = 126;
  EXPECT_EQ(asctimeText(time), "Tue Dec  8 09:05:07 2026\n");
}

TEST(Writer, BannerLinesAreSeventySevenCharactersWide) {
  const std::string empty = listingText({});
  const std::vector<std::string> lines = linesOf(compareTexts(empty, empty));
  ASSERT_GT(lines.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(lines[i].size(), 77u) << lines[i];
  EXPECT_EQ(lines[3],
            "*             EXECUTION PROFILE LISTING (COMPARED by qrvdiff v9.1.4.1)      *");
  EXPECT_EQ(lines[5],
            "*                     Copyright (c) the qrvdiff authors                     *");
}

TEST(Writer, ComparedFunctionGetsRebuiltTerLineWithAmounts) {
  // Seven points: FUNCTION line, a decision (two points), three hits lines; kept 3, gained 1,
  // lost 2 between the listings; listing 2's TER line states 4 of 6, and that is what counts.
  const auto function = [](const std::vector<std::string>& lines) {
    return functionSection(lines, "***TER  66 % (  4/  6) of FUNCTION main()",
                           "        50 % (  1/  2) statement");
  };
  const std::string first = listingText({function({
      functionLine("1", "", ' ', 10, "FUNCTION main()"),
      functionLine("4", "2", ' ', 11, "if (a)"),
      functionLine("1", "", ' ', 12, "return 1;"),
      functionLine("1", "", ' ', 13, "return 2;"),
      functionLine("0", "", '-', 14, "return 3;"),
  })});
  const std::string second = listingText({function({
      functionLine("1", "", ' ', 20, "FUNCTION main()"),
      functionLine("0", "2", ' ', 21, "if (a)"),
      functionLine("1", "", ' ', 22, "return 1;"),
      functionLine("0", "", '-', 23, "return 2;"),
      functionLine("1", "", ' ', 24, "return 3;"),
  })});
  const std::string output = compareTexts(first, second);
  EXPECT_NE(output.find("***TER  66 % ([5 + 1 - 2]  4/  6) of FUNCTION main()\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("         1                  20FUNCTION main()\n"), std::string::npos);
  // if: TRUE lost, FALSE kept; return 2 lost; return 3 gained.
  EXPECT_NE(output.find("         0v         2       21if (a)\n"), std::string::npos);
  EXPECT_NE(output.find("         0v           -     23return 2;\n"), std::string::npos);
  EXPECT_NE(output.find("         1^                 24return 3;\n"), std::string::npos);
  EXPECT_NE(output.find("***TER  66 % ([5 + 1 - 2]  4/  6) of FILE (compared Fs) src/a.c\n"),
            std::string::npos);
  EXPECT_NE(output.find("TER                : 66 % ([5 + 1 - 2] 4/6) of 1 source files\n"),
            std::string::npos);
}

TEST(Writer, OutputGoesOutInLargeBlocks) {
  std::vector<std::string> sections;
  for (int i = 0; i < 4000; ++i) {
    sections.push_back(
        functionSection({functionLine("1", "", ' ', 10, "FUNCTION f" + std::to_string(i) + "()"),
                         functionLine("3", "1", ' ', 11, "if (a)")}));
  }
  const std::string text = listingText(sections);
  auto pair = testing::parsePair(text, text);
  pairFiles(pair->listings());
  computeTallies(pair->second);
  StringSink sink;
  {
    OutputBuffer out(sink, 64 * 1024);
    writeComparedListing(pair->listings(), {"a", "b", "now\n"}, out);
    out.flush();
  }
  EXPECT_GT(sink.bytes.size(), 64u * 1024 * 4);
  EXPECT_LE(static_cast<std::size_t>(sink.writes), sink.bytes.size() / (64 * 1024) + 2);
}

}  // namespace
}  // namespace qrvdiff

namespace qrvdiff {
namespace {

class FailingAfterSink final : public ByteSink {
 public:
  explicit FailingAfterSink(int goodWrites) : goodWrites_(goodWrites) {}
  bool write(const char* data, std::size_t size) override {
    if (writes++ >= goodWrites_) return false;
    text.append(data, size);
    return true;
  }
  std::string text;
  int writes = 0;

 private:
  int goodWrites_;
};

// A function record whose text does not hold the lines it counts is a fault of the program: the
// writer refuses it rather than read or write outside the text, in every way it writes lines.
TEST(Writer, RefusesARecordWhoseTextDoesNotHoldItsLines) {
  const std::string function = functionSection({functionLine("1", "", ' ', 10, "FUNCTION f()"),
                                                functionLine("4", "", ' ', 11, "if (a)"),
                                                functionLine("0", "", '-', 12, "return 1;")});
  const std::vector<std::function<void(FunctionRecord&)>> faults = {
      [](FunctionRecord& f) { f.text = nullptr; },
      [](FunctionRecord& f) { f.textSize = f.functionLineLength; },
      [](FunctionRecord& f) { f.lineCount = 0; },
      [](FunctionRecord& f) {
        f.lineCount += 2;
        f.hasMarks = true;
      },
  };
  for (std::size_t fault = 0; fault < faults.size(); ++fault) {
    for (const std::size_t blockSize : {std::size_t{64}, std::size_t{1} << 16}) {
      auto pair =
          testing::parsePair(listingText({function, function}), listingText({function, function}));
      faults[fault](pair->second.functions[0]);
      StringSink sink;
      OutputBuffer out(sink, blockSize);
      EXPECT_THROW(writeComparedListing(pair->listings(), {"a", "b", "now\n"}, out),
                   std::logic_error)
          << "fault " << fault << ", block size " << blockSize;
    }
  }
}

TEST(OutputBuffer, BackgroundWritingKeepsOrderAndReportsFailure) {
  for (const bool inBackground : {false, true}) {
    std::string expected;
    FailingAfterSink good(1 << 30);
    testing::OptionalBackgroundWriter writer(inBackground);
    {
      OutputBuffer out(good, 64, writer.get());
      for (int i = 0; i < 1000; ++i) {
        const std::string piece = std::to_string(i) + (i % 7 == 0 ? std::string(150, 'x') : ",");
        out.append(piece);
        expected += piece;
      }
      out.flush();
      EXPECT_FALSE(out.failed());
    }
    EXPECT_EQ(good.text, expected);

    FailingAfterSink failing(3);
    testing::OptionalBackgroundWriter failingWriter(inBackground);
    OutputBuffer out(failing, 64, failingWriter.get());
    for (int i = 0; i < 100; ++i) out.append(std::string(40, 'y'));
    out.flush();
    EXPECT_TRUE(out.failed());
    EXPECT_EQ(failing.writes, 4) << "nothing is written after the first failure";
  }
}

}  // namespace
}  // namespace qrvdiff

namespace qrvdiff {
namespace {

// Functions go out in one piece with their marks set in the copy when a block can hold them, and
// line by line when it cannot: the bytes must not depend on which, nor on how the listings were
// read (in place, with or without carriage returns, or copied from a stream).
TEST(Writer, SameBytesWhateverTheBlockSize) {
  // Marks in both mark columns: "^" and "v" at column 10 and at column 21.
  const auto function = [](int covered, const char* flag, const char* falseCount) {
    return functionSection({functionLine(std::to_string(covered), "", flag[0], 10, "FUNCTION f()"),
                            functionLine(std::to_string(covered), falseCount, ' ', 11, "if (a)"),
                            functionLine("", "", flag[1], 12, "return x;"),
                            functionLine("1", "", ' ', 13, "}")});
  };
  for (const bool carriageReturns : {false, true}) {
    std::string first = listingText({function(1, " -", "0"), function(0, "- ", "2")});
    std::string second = listingText({function(0, "- ", "3"), function(1, " -", "0")});
    if (carriageReturns) {
      for (std::string* text : {&first, &second}) {
        std::string withReturns;
        for (const char c : *text)
          withReturns += c == '\n' ? std::string("\r\n") : std::string(1, c);
        *text = withReturns;
      }
    }
    std::vector<std::string> outputs;
    for (const bool inPlace : {false, true}) {
      for (const std::size_t blockSize :
           {std::size_t{64}, std::size_t{300}, std::size_t{1} << 20}) {
        testing::ParsedPair pair;
        MemorySource secondSource(second);
        MemorySource firstSource(first);
        LineReader secondStream(secondSource, "l2.txt");
        LineReader firstStream(firstSource, "l1.txt");
        LineReader secondWhole(second, "l2.txt");
        LineReader firstWhole(first, "l1.txt");
        readSecondListing(inPlace ? secondWhole : secondStream, pair.second);
        readFirstListing(inPlace ? firstWhole : firstStream, pair.first, pair.second);
        pairFiles(pair.listings());
        computeTallies(pair.second);
        StringSink sink;
        {
          testing::OptionalBackgroundWriter writer(blockSize == 300);
          OutputBuffer out(sink, blockSize, writer.get());
          writeComparedListing(pair.listings(), {"a", "b", "now\n"}, out);
          out.flush();
        }
        outputs.push_back(sink.bytes);
      }
    }
    ASSERT_NE(outputs[0].find('^'), std::string::npos);
    ASSERT_NE(outputs[0].find('v'), std::string::npos);
    for (const std::string& output : outputs) EXPECT_EQ(output, outputs[0]);
  }
}

}  // namespace
}  // namespace qrvdiff
