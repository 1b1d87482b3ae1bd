// A function's lines are classified when the function's lines are all read, or when the reader
// is about to drop them: streamed in small blocks, a long function comes out as it does read in
// place, and a line that fits no rule is still reported before a later fault.

#include "listing/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "support/listing_lines.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;
using testing::listingText;

// A function of `count` lines of every kind, longer than a reader's smallest block many times.
std::vector<std::string> longFunction(int count) {
  const char* const descriptions[] = {"if (a)",   "return x;", "}",        "}+",         "case 1:+",
                                      "for (;;)", "1 a > 0",   "2 b",      "label:",     "try",
                                      "else",     "COND a",    "const-if", "MC/DC 1: TF"};
  std::vector<std::string> lines = {functionLine("3", "", ' ', 1, "FUNCTION f()")};
  for (int i = 1; i < count; ++i) {
    const bool first = i % 3 != 0;
    lines.push_back(functionLine(first ? std::to_string(i) : "", first ? "" : "4", ' ', i + 1,
                                 descriptions[i % std::size(descriptions)]));
  }
  return lines;
}

struct Read {
  std::vector<LineInfo> infos;
  std::string error;
};

Read readStreamed(const std::string& text, bool streamed) {
  Read result;
  ProfileListing listing;
  try {
    if (streamed) {
      MemorySource source(text);
      LineReader reader(source, "l2.txt", 0);  // the smallest block: about 8 KiB
      readSecondListing(reader, listing);
    } else {
      LineReader reader(text, "l2.txt");
      readSecondListing(reader, listing);
    }
  } catch (const Error& error) {
    result.error = error.what();
  }
  result.infos.assign(listing.lineInfos.begin(), listing.lineInfos.end());
  return result;
}

TEST(Parser, LongFunctionStreamedInSmallBlocksIsClassifiedAsInPlace) {
  const std::string text = listingText({functionSection(longFunction(2000))});
  ASSERT_GT(text.size(), 60000u);
  const Read inPlace = readStreamed(text, false);
  const Read streamed = readStreamed(text, true);
  ASSERT_EQ(inPlace.error, "");
  ASSERT_EQ(streamed.error, "");
  ASSERT_EQ(inPlace.infos.size(), 2000u);
  ASSERT_EQ(streamed.infos.size(), inPlace.infos.size());
  for (std::size_t i = 0; i < inPlace.infos.size(); ++i) {
    EXPECT_EQ(streamed.infos[i].kind(), inPlace.infos[i].kind()) << "line " << i;
    EXPECT_EQ(streamed.infos[i].trailingMarker(), inPlace.infos[i].trailingMarker()) << i;
  }
}

TEST(Parser, StrangeLineIsReportedBeforeALaterFaultOfTheSameFunction) {
  // A strange line early in a long function, and a NUL byte many blocks later.
  std::vector<std::string> lines = longFunction(1500);
  const std::string strange = functionLine("1", "", ' ', 20, "x = 1;");
  lines[20] = strange;
  lines[1400][5] = '\0';
  const std::string text = listingText({functionSection(lines)});
  for (const bool streamed : {false, true}) {
    EXPECT_EQ(readStreamed(text, streamed).error, "Strange profile listing line: " + strange + "\n")
        << streamed;
  }
  // Swapped: the read error comes first.
  lines[20] = longFunction(21)[20];
  lines[1400] = strange;
  lines[30][5] = '\0';
  const std::string text2 = listingText({functionSection(lines)});
  for (const bool streamed : {false, true}) {
    EXPECT_EQ(readStreamed(text2, streamed).error, "Read error of file l2.txt, near line 45")
        << streamed;
  }
}

}  // namespace
}  // namespace qrvdiff
