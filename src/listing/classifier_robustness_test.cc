// Near misses of the description keywords: a description that shares its first characters with a
// keyword but is not that keyword claims no row of the keyword table. It is then a label when the
// line ends in ":" or ":+", and a strange line otherwise.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/error.h"
#include "listing/classifier.h"

namespace qrvdiff {
namespace {

// A line with a first counter (column 9), a second counter (column 20), no coverage flag, line
// number 12 and the description from column 30.
std::string lineWith(std::string_view description) {
  return std::string("         7") + " " + "         3" + "   " + "    12" +
         std::string(description);
}

struct Outcome {
  bool strange = false;
  LineKind kind = LineKind::None;
  std::int64_t lastIndex = 0;
};

Outcome classifyIn(const std::string& text, bool mcdcView, const std::string& after) {
  // The line in place in a listing, followed by its line end and text that completes keywords.
  const std::string listing = text + after;
  const std::string_view line(listing.data(), text.size());
  LineRecord record{line.data(), static_cast<std::uint32_t>(line.size()), LineInfo()};
  try {
    record.info = after.empty() ? classifyLine(line, mcdcView)
                                : classifyLine(line, mcdcView, listing.data() + listing.size());
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "Strange profile listing line: " + text + "\n");
    return {true};
  }
  return {false, record.kind(), record.lastIndex()};
}

// The line alone, and in place as the parser classifies it: both ways must agree.
Outcome classify(const std::string& text, bool mcdcView = false) {
  const Outcome alone = classifyIn(text, mcdcView, "");
  for (const char* after : {"\n", "\r\n", "\n while (x) :+ -while (0)\n"}) {
    const Outcome inPlace = classifyIn(text, mcdcView, after);
    EXPECT_EQ(inPlace.strange, alone.strange) << text;
    EXPECT_EQ(inPlace.kind, alone.kind) << text;
    EXPECT_EQ(inPlace.lastIndex, alone.lastIndex) << text;
  }
  return alone;
}

// One or more near misses for every first character that opens a keyword row: the keyword
// without its blank, glued to more text, or in another letter case. "missing-default;" and
// "default;" carry a semicolon because with ":" after them they would be keywords.
constexpr std::string_view kNearMisses[] = {
    "FUNCTION",
    "FUNCTIONS x",
    "goto",
    "gotoout",
    "continued",
    "continue;",
    "catch(...)",
    "case",
    "cases 1",
    "const",
    "constant-1",
    "breaker",
    "break;",
    "returns x",
    "return;",
    "throwing",
    "ternary-?:x",
    "try {",
    "tryst",
    "__leave;",
    "__exception",
    "__finally()",
    "__try {",
    "lambda-[]",
    "lambda-()->x",
    "foreach",
    "for(;;)",
    "forever x",
    "User counter:c",
    "User annotation",
    "Users",
    "missing-default;",
    "default;",
    "defaults x",
    "do-while(x)",
    "done x",
    "dox",
    "if(x)",
    "iff x",
    "else if(x)",
    "elsewhere",
    "else {",
    "expr-andor:x",
    "while(x)",
    "whilst x",
    "COND",
    "CONDITION x",
    "MC/DC",
    "MC/DCx",
    "}}",
    "} x",
    "}+-",
    "switch(x)",
    "switcher",
    "#line",
    "#lines 4",
    "#include x",
    "0  T F",
    "Function f",
    "IF (x)",
    "Return",
};

TEST(ClassifierNearMisses, AreStrangeUnlessTheLineEndsAsALabel) {
  for (const std::string_view description : kNearMisses) {
    for (const bool mcdcView : {false, true}) {
      const std::string text = lineWith(description);
      EXPECT_TRUE(classify(text, mcdcView).strange) << '"' << description << '"';

      const Outcome label = classify(text + ":", mcdcView);
      EXPECT_FALSE(label.strange) << '"' << description << ":\"";
      EXPECT_EQ(label.kind, LineKind::None) << '"' << description << ":\"";
      EXPECT_EQ(label.lastIndex, static_cast<std::int64_t>(text.size())) << description;

      const Outcome labelPlus = classify(text + ":+", mcdcView);
      EXPECT_FALSE(labelPlus.strange) << '"' << description << ":+\"";
      EXPECT_EQ(labelPlus.kind, LineKind::None) << '"' << description << ":+\"";
      EXPECT_EQ(labelPlus.lastIndex, static_cast<std::int64_t>(text.size())) << description;
    }
  }
}

TEST(ClassifierNearMisses, EveryCharacterAfterColumnThirtyIsHandled) {
  // A one-character description of every byte value: only ":" is a label; "}" and a digit
  // from 1 to 9 claim their rows; everything else, a blank included, is strange.
  for (int value = 1; value < 256; ++value) {
    const char c = static_cast<char>(value);
    const Outcome outcome = classify(lineWith(std::string_view(&c, 1)));
    if (c == ':') {
      EXPECT_FALSE(outcome.strange);
      EXPECT_EQ(outcome.kind, LineKind::None);
    } else if (c == '}') {
      EXPECT_FALSE(outcome.strange);
      EXPECT_EQ(outcome.kind, LineKind::Hits);
    } else if (c >= '1' && c <= '9') {
      EXPECT_FALSE(outcome.strange);
      EXPECT_EQ(outcome.kind, LineKind::CondFirst);
    } else {
      EXPECT_TRUE(outcome.strange) << "byte " << value;
    }
  }
}

}  // namespace
}  // namespace qrvdiff
