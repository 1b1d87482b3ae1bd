#include "listing/classifier.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "support/listing_lines.h"

namespace qrvdiff {
namespace {

using testing::functionLine;

struct Classified {
  LineKind kind;
  std::int64_t lastIndex;
};

// Classifies the line alone, and in place in a listing as the parser does, where its line end
// and more text follow it; both must agree.
Classified classify(const std::string& text, bool mcdcView = false) {
  const LineRecord record{text.data(), static_cast<std::uint32_t>(text.size()),
                          classifyLine(text, mcdcView)};
  for (const char* after : {"\n", "\r\n", "\nif (x)\n"}) {
    const std::string listing = text + after + "--------------------";
    const LineInfo inPlace = classifyLine(std::string_view(listing.data(), text.size()), mcdcView,
                                          listing.data() + listing.size());
    EXPECT_EQ(inPlace.kind(), record.kind()) << text;
    EXPECT_EQ(inPlace.trailingMarker(), record.info.trailingMarker()) << text;
  }
  return {record.kind(), record.lastIndex()};
}

LineKind kindOf(std::string_view first, std::string_view second, std::string_view description,
                bool mcdcView = false) {
  return classify(functionLine(first, second, ' ', 12, description), mcdcView).kind;
}

bool isStrange(const std::string& text, bool mcdcView = false) {
  try {
    classify(text, mcdcView);
    return false;
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "Strange profile listing line: " + text + "\n");
    return true;
  }
}

TEST(Classifier, KeywordRowsGiveTheirKinds) {
  const struct {
    const char* description;
    LineKind kind;
  } rows[] = {
      {"FUNCTION main()", LineKind::Hits},
      {"goto out;", LineKind::Hits},
      {"continue", LineKind::Hits},
      {"continue ;", LineKind::Hits},
      {"break", LineKind::Hits},
      {"break ;", LineKind::Hits},
      {"return", LineKind::Hits},
      {"return x;", LineKind::Hits},
      {"throw", LineKind::Hits},
      {"throw e;", LineKind::Hits},
      {"__leave", LineKind::Hits},
      {"catch (...)", LineKind::Hits},
      {"__except", LineKind::Hits},
      {"__finally", LineKind::Hits},
      {"lambda-[]()", LineKind::Hits},
      {"foreach (x : v)", LineKind::Hits},
      {"User counter: c1", LineKind::Hits},
      {"missing-default:", LineKind::Hits},
      {"lambda-()->", LineKind::Hits},
      {"case 1:", LineKind::Hits},
      {"default:", LineKind::Hits},
      {"if (a)", LineKind::TrueFalse},
      {"else if (b)", LineKind::TrueFalse},
      {"do-while (c)", LineKind::TrueFalse},
      {"ternary-?: x", LineKind::TrueFalse},
      {"expr-andor: a && b", LineKind::TrueFalse},
      {"const-if (1)", LineKind::Const},
      {"COND a", LineKind::TrueFalse},
      {"MC/DC 1: TF", LineKind::Mcdc},
      {"switch (x)", LineKind::None},
      {"else", LineKind::None},
      {"do", LineKind::None},
      {"User annotation: note", LineKind::None},
      {"#line 12 \"a.c\"", LineKind::None},
      {"label:", LineKind::None},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(kindOf("3", "4", row.description), row.kind) << row.description;
  }
}

TEST(Classifier, WholeWordRowsTakeOnlyTheBareWord) {
  const std::string breakSemicolon = functionLine("1", "", ' ', 5, "break;");
  EXPECT_TRUE(isStrange(breakSemicolon));
  EXPECT_EQ(kindOf("1", "", "breakout:"), LineKind::None);  // a label, not a break
  EXPECT_TRUE(isStrange(functionLine("1", "", ' ', 5, "elsewhere")));
  EXPECT_TRUE(isStrange(functionLine("1", "", ' ', 5, "If (a)")));  // case matters
}

TEST(Classifier, LoopsAreDecisionsOnlyWithASecondCounter) {
  EXPECT_EQ(kindOf("5", "", "for (;;)"), LineKind::Hits);
  EXPECT_EQ(kindOf("5", "2", "for (;;)"), LineKind::TrueFalse);
  EXPECT_EQ(kindOf("5", "", "while (x)"), LineKind::Hits);
  EXPECT_EQ(kindOf("0", "0", "while (x)"), LineKind::TrueFalse);
}

TEST(Classifier, ConditionRowsDependOnCountersAndListingTwosView) {
  EXPECT_EQ(kindOf("1", "", "1 a > 0"), LineKind::CondFirst);
  EXPECT_EQ(kindOf("", "1", "2 b"), LineKind::CondSecond);
  EXPECT_TRUE(isStrange(functionLine("", "", ' ', 7, "3 c")));
  EXPECT_EQ(kindOf("1", "", "1 a", true), LineKind::None);
  EXPECT_EQ(kindOf("", "", "3 c", true), LineKind::None);
  // A leading 0 is no condition row number.
  EXPECT_TRUE(isStrange(functionLine("1", "", ' ', 7, "0 a")));
}

TEST(Classifier, FirstCounterRowsNeedACounterInColumnNine) {
  EXPECT_EQ(kindOf("4", "", "try"), LineKind::Hits);
  EXPECT_EQ(kindOf("", "", "try"), LineKind::None);
  EXPECT_EQ(kindOf("4", "", "__try"), LineKind::Hits);
  EXPECT_EQ(kindOf("4", "", "}"), LineKind::Hits);
  EXPECT_EQ(kindOf("", "", "}"), LineKind::None);
  EXPECT_TRUE(isStrange(functionLine("4", "", ' ', 7, "}x")));
  EXPECT_EQ(kindOf("", "", "}:"), LineKind::None);
}

TEST(Classifier, TrailingMarkersLeftOutOfTheCompareLength) {
  const std::string closing = functionLine("", "", ' ', 9, "}");
  EXPECT_EQ(classify(closing).lastIndex, static_cast<std::int64_t>(closing.size()) - 1);
  const std::string closingPlus = functionLine("", "", ' ', 9, "}+");
  EXPECT_EQ(classify(closingPlus).kind, LineKind::None);
  EXPECT_EQ(classify(closingPlus).lastIndex, static_cast<std::int64_t>(closingPlus.size()) - 2);
  const std::string closingMinus = functionLine("2", "", ' ', 9, "}-");
  EXPECT_EQ(classify(closingMinus).kind, LineKind::Hits);
  EXPECT_EQ(classify(closingMinus).lastIndex, static_cast<std::int64_t>(closingMinus.size()) - 2);

  const std::string casePlus = functionLine("2", "", ' ', 9, "case 3:+");
  EXPECT_EQ(classify(casePlus).lastIndex, static_cast<std::int64_t>(casePlus.size()) - 2);
  const std::string caseMinus = functionLine("2", "", ' ', 9, "case 3:-");
  EXPECT_EQ(classify(caseMinus).lastIndex, static_cast<std::int64_t>(caseMinus.size()) - 1);
  const std::string defaultPlus = functionLine("2", "", ' ', 9, "default:+");
  EXPECT_EQ(classify(defaultPlus).lastIndex, static_cast<std::int64_t>(defaultPlus.size()) - 2);
  const std::string labelPlus = functionLine("", "", ' ', 9, "again:+");
  EXPECT_EQ(classify(labelPlus).kind, LineKind::None);
  EXPECT_EQ(classify(labelPlus).lastIndex, static_cast<std::int64_t>(labelPlus.size()) - 2);
}

TEST(Classifier, DescriptionIndentedByBlanksButNotTabs) {
  EXPECT_EQ(kindOf("4", "", "   }"), LineKind::Hits);
  for (const std::size_t indent : {15, 16, 17, 31, 32, 33, 40}) {
    EXPECT_EQ(kindOf("4", "", std::string(indent, ' ') + "}"), LineKind::Hits) << indent;
    EXPECT_EQ(kindOf("", "2", std::string(indent, ' ') + "while (x)"), LineKind::TrueFalse);
  }
  EXPECT_TRUE(isStrange(functionLine("4", "", ' ', 7, "\t}")));
  EXPECT_EQ(kindOf("4", "", "\tlabel:"), LineKind::None);
}

TEST(Classifier, ShortAndEmptyLinesAreStrange) {
  EXPECT_TRUE(isStrange(std::string(30, ' ')));
  EXPECT_TRUE(isStrange(std::string(31, ' ')));
  EXPECT_TRUE(isStrange(std::string(46, ' ')));
  EXPECT_TRUE(isStrange(std::string(100, ' ')));
  EXPECT_TRUE(isStrange(functionLine("1", "", ' ', 7, "    ")));
  EXPECT_FALSE(isStrange(std::string(30, ' ') + ":"));
}

TEST(Classifier, LineNumbersDoNotMatter) {
  const Classified a = classify(functionLine("1", "2", ' ', 7, "if (x)"));
  const Classified b = classify(functionLine("1", "2", ' ', 99999, "if (x)"));
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.lastIndex, b.lastIndex);
}

// Lines classified in one call, as the parser passes a function's lines: the same infos as one
// by one, across the runs the classifier takes them in, and the first strange line (here a
// line too short to hold a description) reported with the infos before it filled in.
TEST(Classifier, LinesClassifiedTogetherAsOneByOne) {
  const char* descriptions[] = {"if (a)",
                                "return 0;",
                                "}+",
                                "else",
                                "               return x;",
                                "case 1:+",
                                "1  a > b",
                                "for (;;)",
                                "User counter: n",
                                "out:"};
  std::vector<std::string> lines;
  for (int i = 0; i < 150; ++i) {
    // Every line has a counter in one field at least, as a numbered condition row needs.
    lines.push_back(functionLine(i % 3 ? "4" : "", i % 3 == 0 || i % 2 ? "7" : "", ' ', 10 + i,
                                 descriptions[i % std::size(descriptions)]));
  }
  const std::string tooShort(30, ' ');
  for (const std::size_t strangeAt :
       {std::size_t{150}, std::size_t{0}, std::size_t{63}, std::size_t{64}, std::size_t{130}}) {
    std::vector<std::string> texts = lines;
    if (strangeAt < texts.size()) texts[strangeAt] = tooShort;
    std::string listing;
    for (const std::string& text : texts) listing += text + "\n";
    std::vector<std::string_view> views;
    for (std::size_t i = 0, at = 0; i < texts.size(); at += texts[i].size() + 1, ++i) {
      views.emplace_back(listing.data() + at, texts[i].size());
    }
    std::vector<LineInfo> infos(views.size(), LineInfo(LineKind::Mcdc, true));
    try {
      classifyLines(views, false, listing.data() + listing.size(), infos.data());
      EXPECT_EQ(strangeAt, texts.size()) << "no strange line reported";
    } catch (const Error& error) {
      EXPECT_EQ(std::string(error.what()), "Strange profile listing line: " + tooShort + "\n");
    }
    for (std::size_t i = 0; i < std::min(strangeAt, views.size()); ++i) {
      const LineInfo alone = classifyLine(texts[i], false);
      EXPECT_EQ(infos[i].kind(), alone.kind()) << texts[i];
      EXPECT_EQ(infos[i].trailingMarker(), alone.trailingMarker()) << texts[i];
    }
  }
}

}  // namespace
}  // namespace qrvdiff
