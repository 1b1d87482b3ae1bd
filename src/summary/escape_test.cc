#include "summary/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace qrvdiff::summary {
namespace {

std::string json(std::string_view bytes) {
  std::string out;
  appendJsonString(out, bytes);
  return out;
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(json("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(json("\n\r\t"), "\\n\\r\\t");
  EXPECT_EQ(json(std::string("\x01\x1f\x00", 3)), "\\u0001\\u001F\\u0000");
  EXPECT_EQ(json("\x7f/"), "\x7f/");  // DEL and solidus need no escape
}

TEST(JsonString, KeepsValidUtf8AndReadsOtherBytesAsLatin1) {
  EXPECT_EQ(json("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
            "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
  EXPECT_EQ(json("caf\xe9"), "caf\\u00E9");
  EXPECT_EQ(json("\xff\xfe"), "\\u00FF\\u00FE");
  EXPECT_EQ(json("\xc3"), "\\u00C3");                        // a sequence cut short
  EXPECT_EQ(json("\xc3(x"), "\\u00C3(x");                    // a lead without its continuation
  EXPECT_EQ(json("\xc0\xaf"), "\\u00C0\\u00AF");             // overlong
  EXPECT_EQ(json("\xed\xa0\x80"), "\\u00ED\\u00A0\\u0080");  // a surrogate
  EXPECT_EQ(json("\xf4\x90\x80\x80"), "\\u00F4\\u0090\\u0080\\u0080");  // beyond U+10FFFF
  EXPECT_EQ(json("\x80"), "\\u0080");                                   // a stray continuation byte
}

TEST(WorkflowCommands, EscapePercentAndLineEndsEverywhereAndSeparatorsInProperties) {
  std::string message, property;
  appendWorkflowMessage(message, "50% a:b,c\r\n");
  appendWorkflowProperty(property, "50% a:b,c\r\n");
  EXPECT_EQ(message, "50%25 a:b,c%0D%0A");
  EXPECT_EQ(property, "50%25 a%3Ab%2Cc%0D%0A");
  std::string latin1;
  appendWorkflowMessage(latin1, "\xe9");
  EXPECT_EQ(latin1, "\xc3\xa9");
}

TEST(MarkdownText, EscapesActiveCharactersAndShortensLongText) {
  std::string cell;
  appendMarkdownText(cell, "a|b *c* _d_ `e` [f](g) <h> & #i ~j~ \\", 1000);
  EXPECT_EQ(cell, "a\\|b \\*c\\* \\_d\\_ \\`e\\` \\[f\\](g) &lt;h&gt; &amp; \\#i \\~j\\~ \\\\");
  std::string shortened;
  appendMarkdownText(shortened, "abcdef", 3);
  EXPECT_EQ(shortened, "abc...");
  std::string atSequence;  // never cut inside a UTF-8 sequence
  appendMarkdownText(atSequence, "ab\xe2\x82\xac", 4);
  EXPECT_EQ(atSequence, "ab...");
  std::string lineEnds;
  appendMarkdownText(lineEnds, "a\tb\nc", 100);
  EXPECT_EQ(lineEnds, "a b c");
}

}  // namespace
}  // namespace qrvdiff::summary
