#include "listing/text_match.h"

#include <gtest/gtest.h>

namespace qrvdiff {
namespace {

constexpr std::string_view kBanner = "*           QRV++, Test Coverage Analyzer for C/C++, Version";

TEST(MatchesIgnoringBlanks, BlanksAndTabsMayMoveAnywhere) {
  EXPECT_TRUE(matchesIgnoringBlanks(
      "*           QRV++, Test Coverage Analyzer for C/C++, Version 9.1            *", kBanner));
  EXPECT_TRUE(matchesIgnoringBlanks("*QRV++,TestCoverageAnalyzerforC/C++,Version", kBanner));
  EXPECT_TRUE(matchesIgnoringBlanks("*\tQRV++,\tTest Cov erage\t\tAnalyzer for C/C++, Version 12",
                                    kBanner));
  EXPECT_TRUE(matchesIgnoringBlanks("  anything", ""));
}

TEST(MatchesIgnoringBlanks, TextMustHoldThePatternsLastCharacter) {
  EXPECT_FALSE(matchesIgnoringBlanks("*", kBanner));
  EXPECT_FALSE(matchesIgnoringBlanks("", kBanner));
  EXPECT_FALSE(matchesIgnoringBlanks("*           QRV++, Test Coverage Analyzer", kBanner));
  EXPECT_FALSE(matchesIgnoringBlanks("*           qrv++, Test Coverage Analyzer for C/C++, Version",
                                     kBanner));
  EXPECT_TRUE(matchesIgnoringBlanks("*  EXECUTION PROFILE LISTING   ",
                                    "*                         EXECUTION PROFILE LISTING"));
}

TEST(ScanInteger, ReadsLikeTheFormattedScanConversion) {
  EXPECT_EQ(scanInteger("  3/  4)"), 3);
  EXPECT_EQ(scanInteger("\t+12x"), 12);
  EXPECT_EQ(scanInteger("-7"), -7);
  EXPECT_EQ(scanInteger("010"), 8);     // octal after a leading zero
  EXPECT_EQ(scanInteger("08"), 0);      // the 8 is no octal digit
  EXPECT_EQ(scanInteger("0x1F)"), 31);  // hexadecimal
  EXPECT_EQ(scanInteger("0XfF"), 255);
  EXPECT_EQ(scanInteger("0xg"), 0);  // a zero, then an "x" that ends the number
  EXPECT_EQ(scanInteger("0"), 0);
}

TEST(ScanInteger, NothingWhenNoNumberStandsThere) {
  EXPECT_EQ(scanInteger(""), std::nullopt);
  EXPECT_EQ(scanInteger("   "), std::nullopt);
  EXPECT_EQ(scanInteger("abc"), std::nullopt);
  EXPECT_EQ(scanInteger("- 3"), std::nullopt);
  EXPECT_EQ(scanInteger("+"), std::nullopt);
}

TEST(ScanInteger, LargeValuesWrapToThirtyTwoBitsWithoutUndefinedBehaviour) {
  EXPECT_EQ(scanInteger("2147483647"), 2147483647);
  EXPECT_EQ(scanInteger("2147483648"), -2147483647 - 1);
  EXPECT_EQ(scanInteger("4294967297"), 1);
  EXPECT_EQ(scanInteger("-2147483649"), 2147483647);
  // Beyond 64 bits the value saturates at the largest 64-bit value, whose low half is -1.
  EXPECT_EQ(scanInteger("99999999999999999999999"), -1);
  EXPECT_EQ(scanInteger("-99999999999999999999999"), 0);
  EXPECT_EQ(scanInteger("0xFFFFFFFFFFFFFFFFFFFF"), -1);
}

TEST(ScanIntegerAfter, ReadsAfterTheFirstMarker) {
  constexpr std::string_view ter = "***TER  75 % (  3/  4) of FUNCTION f(a/b)";
  EXPECT_EQ(scanIntegerAfter(ter, '('), 3);
  EXPECT_EQ(scanIntegerAfter(ter, '/'), 4);
  EXPECT_EQ(scanIntegerAfter("***TER no numbers", '('), std::nullopt);
}

}  // namespace
}  // namespace qrvdiff
