#include "report/compared_output.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"
#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "listing/both_listings.h"
#include "report/writer.h"
#include "support/compared_text.h"
#include "support/listing_lines.h"
#include "support/scratch_folder.h"
#include "support/string_sink.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;

// A listing of several file sections; file `f` holds `f % 5 + 1` functions, each as `covered`
// says, and is named after `f % names`. The file numbered `only` appears in this listing alone.
std::string multiFileListing(int files, bool covered, int only, int names = 1000) {
  std::string text = testing::listingHeaderText();
  for (int f = 0; f < files; ++f) {
    const std::string name = f == only ? "src/only" + std::to_string(covered) + ".c"
                                       : "src/f" + std::to_string(f % names) + ".c";
    text += testing::fileSectionHead(name);
    for (int g = 0; g <= f % 5; ++g) {
      const bool hit = covered == (g % 2 == 0);
      text += functionSection(
          {functionLine("1", "", ' ', 10 + g, "FUNCTION g" + std::to_string(g) + "()"),
           functionLine(hit ? "4" : "0", "1", hit ? ' ' : '-', 11 + g, "if (a)"),
           functionLine(hit ? "2" : "0", "", hit ? ' ' : '-', 12 + g, "return x;")});
    }
    text += testing::fileSectionTail(name);
  }
  return text + testing::summaryText();
}

// A small file section, one of `functions` functions that all have the same FUNCTION line (some
// with a line more, so that not every pair has the same structure), and another small one.
std::string largeSectionListing(int functions, bool covered) {
  std::string text = testing::listingHeaderText();
  const auto smallSection = [&](const std::string& name) {
    text += testing::fileSectionHead(name);
    text += functionSection(
        {functionLine("1", "", ' ', 3, "FUNCTION h()"),
         functionLine(covered ? "1" : "0", "", covered ? ' ' : '-', 4, "return 0;")});
    text += testing::fileSectionTail(name);
  };
  smallSection("src/before.c");
  text += testing::fileSectionHead("src/large.c");
  for (int g = 0; g < functions; ++g) {
    const bool hit = covered == (g % 3 != 0);
    std::vector<std::string> lines = {
        functionLine("1", "", ' ', 10 * g, "FUNCTION g()"),
        functionLine(hit ? "4" : "0", "1", hit ? ' ' : '-', 10 * g + 1, "if (a)"),
        functionLine(hit ? "2" : "0", "", hit ? ' ' : '-', 10 * g + 2, "return x;")};
    if (g % 7 == (covered ? 3 : 5)) lines.push_back(functionLine("1", "", ' ', 10 * g + 3, "}"));
    text += functionSection(lines);
  }
  text += testing::fileSectionTail("src/large.c");
  smallSection("src/after.c");
  return text + testing::summaryText();
}

std::string writtenWhilePairing(ProfileListing& second, ProfileListing& first, std::size_t threads,
                                std::size_t mostWaitingBytes,
                                std::uint64_t sharedSectionBytes = kSharedSectionBytes) {
  testing::StringSink sink;
  BackgroundWriter writer;
  OutputBuffer out(sink, 4096, &writer);
  const ListingPair listings{FirstListing(first), SecondListing(second)};
  writeListingHeader(listings, testing::kTestReportHeader, out);
  ComparedOutput sections(second, out, mostWaitingBytes);
  pairFiles(listings, threads, &sections, sharedSectionBytes);
  computeTotals(second);
  writeSummary(second, out);
  out.flush();
  return sink.bytes;
}

using ComparedOutputFiles = testing::ScratchFolder;

// Sections go out in listing order however the two threads get ahead of each other, whether
// sections wait as copies without limit or the thread ahead waits at once; from listings in
// memory and from texts read again from the files. In the second pair, files with the same
// "MONITORED " line share a partner and are paired together, by one thread, ahead of the files
// between them: a thread must not wait on such a section while files before it are untaken, or
// with one thread, or with no room for waiting sections, it would wait for ever.
TEST_F(ComparedOutputFiles, SectionsGoOutInListingOrderWhicheverThreadPairedThem) {
  const struct {
    std::string first;
    std::string second;
  } pairs[] = {
      {multiFileListing(23, false, 7), multiFileListing(23, true, 12)},
      {multiFileListing(9, false, 4, 3), multiFileListing(23, true, 12, 4)},
  };
  for (const auto& pair : pairs) {
    const std::string expected = testing::comparedText(pair.first, pair.second);
    ASSERT_NE(expected.find("^"), std::string::npos);
    ASSERT_NE(expected.find("(not avail)"), std::string::npos);
    const std::string path1 = write("l1.txt", pair.first);
    const std::string path2 = write("l2.txt", pair.second);
    for (int round = 0; round < 10; ++round) {
      for (const std::size_t threads : {1, 2}) {
        for (const std::size_t mostWaiting :
             {std::size_t{0}, std::size_t{1000}, std::size_t{1} << 30}) {
          ProfileListing listing2;
          ProfileListing listing1;
          testing::readInPlace(pair.first, pair.second, listing1, listing2);
          EXPECT_EQ(writtenWhilePairing(listing2, listing1, threads, mostWaiting), expected)
              << "in memory, threads " << threads << ", waiting " << mostWaiting;

          ListingInputs inputs;
          readBothListings(path1, path2, "", inputs);
          inputs.listing2->textFile->minimumRead = 100;
          EXPECT_EQ(writtenWhilePairing(*inputs.listing2, *inputs.listing1, threads, mostWaiting),
                    expected)
              << "from files, threads " << threads << ", waiting " << mostWaiting;
        }
      }
    }
  }
}

// A thread takes runs of small sections that one reading of listing 2 spans, to pair together;
// files that share a partner still go together, and everything goes out in listing order. Runs
// from one section to the whole listing, with one or two threads, with or without room for
// sections waiting.
TEST_F(ComparedOutputFiles, RunsOfSmallSectionsTakenTogetherGoOutInListingOrder) {
  // Files 50 to 59 of listing 2 share a partner with files 0 to 9; the rest stand alone.
  const std::string first = multiFileListing(40, false, 7);
  const std::string second = multiFileListing(60, true, 12, 50);
  const std::string expected = testing::comparedText(first, second);
  ASSERT_NE(expected.find("v"), std::string::npos);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  for (const std::size_t reading :
       {std::size_t{1}, std::size_t{1500}, std::size_t{6000}, second.size()}) {
    for (int round = 0; round < 5; ++round) {
      for (const std::size_t threads : {1, 2}) {
        for (const std::size_t mostWaiting : {std::size_t{0}, std::size_t{1} << 30}) {
          ListingInputs inputs;
          readBothListings(path1, path2, "", inputs);
          inputs.listing2->textFile->minimumRead = reading;
          EXPECT_EQ(writtenWhilePairing(*inputs.listing2, *inputs.listing1, threads, mostWaiting),
                    expected)
              << "reading " << reading << ", threads " << threads << ", waiting " << mostWaiting;
        }
      }
    }
  }
}

// A large section is compared by both threads, the partners chosen in order first: the same
// output as from one thread, whichever sections are large enough to share, however small the
// readings of the listings.
TEST_F(ComparedOutputFiles, ALargeSectionComparedByBothThreadsGivesTheSameOutput) {
  const std::string first = largeSectionListing(300, false);
  const std::string second = largeSectionListing(290, true);
  const std::string expected = testing::comparedText(first, second);
  ASSERT_NE(expected.find("(different)"), std::string::npos);
  ASSERT_NE(expected.find("^"), std::string::npos);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  for (const std::uint64_t shared : {std::uint64_t{0}, std::uint64_t{1000}, kSharedSectionBytes}) {
    for (const std::size_t reading : {std::size_t{1}, std::size_t{5000}, second.size()}) {
      for (int round = 0; round < 5; ++round) {
        for (const std::size_t mostWaiting : {std::size_t{0}, std::size_t{1} << 30}) {
          ListingInputs inputs;
          readBothListings(path1, path2, "", inputs);
          inputs.listing1->textFile->minimumRead = reading;
          inputs.listing2->textFile->minimumRead = reading;
          EXPECT_EQ(writtenWhilePairing(*inputs.listing2, *inputs.listing1, 2, mostWaiting, shared),
                    expected)
              << "shared from " << shared << ", reading " << reading << ", waiting " << mostWaiting;
        }
      }
    }
  }
}

// A pairing thread that fails must not leave the other waiting for its sections, nor for its
// help with a shared section.
TEST_F(ComparedOutputFiles, AFailingThreadLeavesNoneWaiting) {
  const std::string first = multiFileListing(23, false, 7);
  const std::string second = multiFileListing(23, true, 12);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  for (const std::uintmax_t keep : {second.size() / 4, second.size() / 2, second.size() * 3 / 4}) {
    ListingInputs inputs;
    readBothListings(path1, path2, "", inputs);
    inputs.listing2->textFile->minimumRead = 1;
    std::filesystem::resize_file(path2, keep);
    EXPECT_THROW(writtenWhilePairing(*inputs.listing2, *inputs.listing1, 2, 0), Error);
    write("l2.txt", second);
  }
  const std::string large1 = largeSectionListing(300, false);
  const std::string large2 = largeSectionListing(290, true);
  write("l1.txt", large1);
  for (const std::uintmax_t keep : {large2.size() / 4, large2.size() / 2, large2.size() * 3 / 4}) {
    for (const std::uint64_t shared : {std::uint64_t{0}, std::uint64_t{1000}}) {
      write("l2.txt", large2);
      ListingInputs inputs;
      readBothListings(path1, path2, "", inputs);
      inputs.listing2->textFile->minimumRead = 1;
      std::filesystem::resize_file(path2, keep);
      EXPECT_THROW(writtenWhilePairing(*inputs.listing2, *inputs.listing1, 2, 0, shared), Error)
          << "kept " << keep << ", shared from " << shared;
    }
  }
}

}  // namespace
}  // namespace qrvdiff
