#include "listing/section_loader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "listing/both_listings.h"
#include "support/listing_lines.h"
#include "support/parsed_listings.h"
#include "support/scratch_folder.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;

// Three file sections of kFunctions functions each, "FUNCTION f<section><function>()", each
// section larger than the pages a loader reads at least.
constexpr std::size_t kFunctions = 100;

std::string threeSections() {
  std::string text = testing::listingHeaderText();
  for (const char section : {'a', 'b', 'c'}) {
    const std::string name = std::string("src/") + section + ".c";
    text += testing::fileSectionHead(name);
    for (std::size_t function = 1; function <= kFunctions; ++function) {
      text += functionSection(
          {functionLine("1", "", ' ', 10,
                        std::string("FUNCTION f") + section + std::to_string(function) + "()"),
           functionLine("1", "", ' ', 11, "return 0;")});
    }
    text += testing::fileSectionTail(name);
  }
  return text + testing::summaryText();
}

std::string nameIn(FunctionText text) {
  return std::string(text.functionLine().substr(30));
}

using SectionLoaderFiles = testing::ScratchFolder;

// Texts of a held section stay where they are: a read that would move them is refused, until the
// hold is given up.
TEST_F(SectionLoaderFiles, AHeldSectionIsNeverReadOver) {
  const std::string path = write("l.txt", threeSections());
  ListingInputs inputs;
  readBothListings(path, path, "", inputs);
  ProfileListing& listing = *inputs.listing2;
  ASSERT_TRUE(listing.textFile);
  listing.textFile->minimumRead = 1;  // each read brings in only what is asked for
  const MonitoredFile& first = listing.files[0];
  const MonitoredFile& last = listing.files[2];
  const FunctionRecord& lastFunction = listing.functions[last.firstFunction];

  SectionLoader loader;
  {
    const SectionHold hold = loader.holdSection(listing, first, kSectionLoadedWhole);
    ASSERT_TRUE(hold.holdsTexts());
    const FunctionText held = hold.textOf(listing.functions[1]);
    EXPECT_EQ(nameIn(held), "FUNCTION fa2()");
    EXPECT_EQ(nameIn(loader.textOf(listing, first, listing.functions[0])), "FUNCTION fa1()");
    EXPECT_THROW(loader.textOf(listing, last, lastFunction), std::logic_error);
    SectionHold moved = loader.holdSection(listing, first, kSectionLoadedWhole);
    SectionHold kept = std::move(moved);
    EXPECT_FALSE(moved.holdsTexts());
    EXPECT_THROW(moved.textOf(listing.functions[0]), std::logic_error);
    EXPECT_EQ(nameIn(held), "FUNCTION fa2()");
  }
  EXPECT_EQ(nameIn(loader.textOf(listing, last, lastFunction)), "FUNCTION fc1()");
  const FunctionText closing = loader.textOf(listing, last, lastFunction);
  EXPECT_EQ(closing.terLine(), "***TER  50 % (  1/  2) of FUNCTION f()");
  EXPECT_EQ(closing.statementLine(), "        50 % (  1/  2) statement");

  // A section larger than allowed is not held, and reading goes on.
  const SectionHold none = loader.holdSection(listing, first, 10);
  EXPECT_FALSE(none.holdsTexts());
  EXPECT_THROW(none.textOf(listing.functions[0]), std::logic_error);
  EXPECT_EQ(nameIn(loader.textOf(listing, first, listing.functions[0])), "FUNCTION fa1()");
}

TEST(SectionLoader, ListingsInMemoryGiveTheirOwnTexts) {
  auto pair = testing::parsePair(threeSections(), threeSections());
  const ProfileListing& listing = pair->second;
  SectionLoader loader;
  const SectionHold hold = loader.holdSection(listing, listing.files[1], 0);
  ASSERT_TRUE(hold.holdsTexts());
  const FunctionRecord& function = listing.functions[kFunctions];
  EXPECT_EQ(hold.textOf(function).data(), function.text);
  EXPECT_EQ(loader.textOf(listing, listing.files[0], listing.functions[0]).data(),
            listing.functions[0].text);
  EXPECT_EQ(hold.textOf(function).terLine(), function.terLine());
}

}  // namespace
}  // namespace qrvdiff
