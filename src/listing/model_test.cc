#include "listing/model.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>

namespace qrvdiff {
namespace {

// Listing 1 and listing 2 can only be paired by role: positional listings, swapped roles and
// brace-initialised roles do not compile.
static_assert(std::is_constructible_v<ListingPair, FirstListing, SecondListing>);
static_assert(!std::is_constructible_v<ListingPair, SecondListing, FirstListing>);
static_assert(!std::is_constructible_v<ListingPair, ProfileListing&, ProfileListing&>);
static_assert(!std::is_convertible_v<ProfileListing&, FirstListing>);
static_assert(!std::is_convertible_v<ProfileListing&, SecondListing>);

TEST(ListingPair, KeepsEachListingInItsRole) {
  ProfileListing one;
  ProfileListing two;
  const ListingPair listings{FirstListing(one), SecondListing(two)};
  EXPECT_EQ(&listings.first, &one);
  EXPECT_EQ(&listings.second, &two);
}

// A function text that stays in the listing file is followed there by a blank line, the TER
// line and the statement line; the view finds them behind the text wherever it was loaded.
TEST(FunctionText, FindsTheClosingLinesBehindALoadedText) {
  const std::string file = "FUNCTION f()\nx\n\n***TER 1\r\nstatement\n";
  FunctionRecord function;
  function.textSize = 15;  // the FUNCTION line and "x", with their line feeds
  function.functionLineLength = 12;
  function.lineCount = 2;
  function.setClosingLayout(1, 8, 2, 9);
  const FunctionText text = FunctionText::loadedAt(function, file.data());
  EXPECT_EQ(text.functionLine(), "FUNCTION f()");
  EXPECT_EQ(text.bodyLines(), "x\n");
  EXPECT_EQ(text.terLine(), "***TER 1");
  EXPECT_EQ(text.statementLine(), "statement");

  FunctionRecord functionForm = function;
  functionForm.setClosingLayout(0, 0, 0, 0);
  EXPECT_EQ(FunctionText::loadedAt(functionForm, file.data()).terLine(), std::nullopt);
  EXPECT_EQ(FunctionText::loadedAt(functionForm, file.data()).statementLine(), std::nullopt);
}

TEST(FunctionText, RefusesARecordWithoutTheTextOfItsFunctionLine) {
  const std::string file = "FUNCTION f()\n";
  FunctionRecord function;
  function.textSize = 13;
  function.functionLineLength = 12;
  function.lineCount = 1;
  EXPECT_EQ(FunctionText::loadedAt(function, file.data()).bodyLines(), "");
  EXPECT_THROW(FunctionText::inMemory(function), std::logic_error);  // no text in memory
  FunctionRecord cut = function;
  cut.textSize = 12;
  EXPECT_THROW(FunctionText::loadedAt(cut, file.data()), std::logic_error);
  FunctionRecord noLines = function;
  noLines.lineCount = 0;
  EXPECT_THROW(FunctionText::loadedAt(noLines, file.data()), std::logic_error);
}

}  // namespace
}  // namespace qrvdiff
