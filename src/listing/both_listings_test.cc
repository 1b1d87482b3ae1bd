#include "listing/both_listings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

#include "base/error.h"
#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "listing/section_loader.h"
#include "report/writer.h"
#include "support/compared_text.h"
#include "support/listing_lines.h"
#include "support/scratch_folder.h"
#include "support/string_sink.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;
using testing::listingText;

using ListingFiles = testing::ScratchFolder;

// Functions of all sizes, some behind a "#line" directive, some with counters that differ
// between the listings; listing 1 holds them in reverse order, so that its texts are wanted
// from back to front.
std::pair<std::string, std::string> listingPair(bool carriageReturns) {
  std::vector<std::string> first;
  std::vector<std::string> second;
  for (int f = 0; f < 40; ++f) {
    for (const bool isSecond : {false, true}) {
      const std::string name = "FUNCTION f" + std::to_string(f) + "()";
      const bool covered = (f % 3 == 0) == isSecond;
      std::vector<std::string> lines = {functionLine("1", "", ' ', 10 + f, name)};
      for (int i = 0; i < f * 3 % 17; ++i) {
        const char flag = covered ? ' ' : '-';
        lines.push_back(i % 2
                            ? functionLine(covered ? "2" : "0", "1", flag, 11 + f + i, "if (a)")
                            : functionLine(covered ? "2" : "0", "", flag, 11 + f + i, "return x;"));
      }
      std::string section = functionSection(lines);
      if (f % 4 == 1) section = functionLine("", "", ' ', 9, "#line 12 \"g.h\"") + "\n" + section;
      (isSecond ? second : first).push_back(section);
    }
  }
  std::reverse(first.begin(), first.end());
  std::pair<std::string, std::string> texts{listingText(first), listingText(second)};
  if (carriageReturns) {
    for (std::string* text : {&texts.first, &texts.second}) {
      std::string withReturns;
      for (const char c : *text) withReturns += c == '\n' ? std::string("\r\n") : std::string(1, c);
      *text = withReturns;
    }
  }
  return texts;
}

// The compared listing of listings read by readBothListings(), paired on `threads` threads.
std::string pairedOutput(ListingInputs& inputs, std::size_t threads) {
  const ListingPair listings{FirstListing(*inputs.listing1), SecondListing(*inputs.listing2)};
  pairFiles(listings, threads);
  computeTallies(*inputs.listing2);
  testing::StringSink sink;
  OutputBuffer out(sink);
  writeComparedListing(listings, testing::kTestReportHeader, out);
  out.flush();
  return sink.bytes;
}

// Texts left in the listing files are read again through a window of any size, in either
// direction, with the same result as listings held whole in memory.
TEST_F(ListingFiles, TextsReadAgainFromTheFilesGiveTheSameOutput) {
  for (const bool carriageReturns : {false, true}) {
    const auto [first, second] = listingPair(carriageReturns);
    const std::string expected = testing::comparedText(first, second);
    ASSERT_NE(expected.find('^'), std::string::npos);
    ASSERT_NE(expected.find('v'), std::string::npos);
    const std::string path1 = write("l1.txt", first);
    const std::string path2 = write("l2.txt", second);
    for (const std::size_t minimumRead :
         {std::size_t{1}, std::size_t{97}, std::size_t{1000}, std::size_t{512} << 10}) {
      for (const std::size_t threads : {1, 2}) {
        ListingInputs inputs;
        readBothListings(path1, path2, "", inputs);
        ASSERT_TRUE(inputs.listing1->textFile && inputs.listing2->textFile);
        inputs.listing1->textFile->minimumRead = minimumRead;
        inputs.listing2->textFile->minimumRead = minimumRead;
        EXPECT_EQ(pairedOutput(inputs, threads), expected)
            << "window " << minimumRead << ", threads " << threads << ", CR LF " << carriageReturns;
      }
    }
  }
}

// Pairing takes listing 1's FUNCTION lines from the loaded section, or, for a section too large
// to be loaded whole, from copies kept while reading: both ways pair as in memory.
TEST_F(ListingFiles, FunctionLinesOfSectionsTooLargeToLoadWholeAreKept) {
  std::string texts[2];
  for (const int listing : {0, 1}) {
    std::vector<std::string> functions;
    for (int f = 0; f < 36000; ++f) {
      const bool covered = (f % 5 == 0) == (listing == 1);
      functions.push_back(functionSection(
          {functionLine("1", "", ' ', 10 + f, "FUNCTION f" + std::to_string(f % 30000) + "()"),
           functionLine(covered ? "2" : "0", "", covered ? ' ' : '-', 11 + f, "return x;")}));
    }
    if (listing == 0) std::reverse(functions.begin(), functions.end());
    std::string large;
    for (const std::string& function : functions) large += function;
    ASSERT_GT(large.size(), kSectionLoadedWhole);
    texts[listing] = testing::listingHeaderText() + testing::fileSectionHead("src/large.c") +
                     large + testing::fileSectionTail("src/large.c") +
                     testing::fileSectionHead("src/small.c") + functions[7] + functions[8] +
                     testing::fileSectionTail("src/small.c") + testing::summaryText();
  }
  const std::string expected = testing::comparedText(texts[0], texts[1]);
  ListingInputs inputs;
  readBothListings(write("l1.txt", texts[0]), write("l2.txt", texts[1]), "", inputs);
  ASSERT_TRUE(inputs.listing1->textFile);
  ASSERT_NE(inputs.listing1->functions[0].keptFunctionLine, nullptr);      // the large section
  ASSERT_EQ(inputs.listing1->functions.back().keptFunctionLine, nullptr);  // the small one
  EXPECT_EQ(pairedOutput(inputs, 2), expected);
}

// A listing that is also the output is copied as it is read: the output empties it.
TEST_F(ListingFiles, AnInputThatIsAlsoTheOutputIsKeptInMemory) {
  const auto [first, second] = listingPair(false);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  ListingInputs inputs;
  readBothListings(path1, path2, path2, inputs);
  EXPECT_FALSE(inputs.listing2->textFile);
  EXPECT_TRUE(inputs.listing1->textFile);
}

#if defined(__unix__)
// Listing 1 through a named pipe is opened once: opened again, it would have lost its writer,
// which meets a broken pipe when it writes with no reader. Both listings are large, so that the
// writer is writing while listing 2 is read; a writer that meets a broken pipe offers the listing
// once more, so that a reader that opens it twice still ends.
TEST_F(ListingFiles, ANamedPipeAsListingOneIsOpenedOnce) {
  const auto manyFunctions = [](int count) {
    std::vector<std::string> functions;
    for (int f = 0; f < count; ++f) {
      functions.push_back(
          functionSection({functionLine("1", "", ' ', 10, "FUNCTION f" + std::to_string(f) + "()"),
                           functionLine("1", "", ' ', 11, "return x;")}));
    }
    return listingText(functions);
  };
  const std::string first = manyFunctions(4000);
  const std::string path1 = write("l1.fifo", "");
  std::filesystem::remove(path1);
  ASSERT_EQ(mkfifo(path1.c_str(), 0600), 0);
  const std::string path2 = write("l2.txt", manyFunctions(40000));

  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &before);
  bool brokenPipe = false;
  std::thread writer([&] {
    for (int offer = 0; offer < 2; ++offer) {
      const int descriptor = open(path1.c_str(), O_WRONLY);
      std::size_t written = 0;
      while (written < first.size()) {
        const ssize_t count = ::write(descriptor, first.data() + written, first.size() - written);
        if (count < 0) break;
        written += static_cast<std::size_t>(count);
      }
      close(descriptor);
      if (written == first.size()) break;
      brokenPipe = true;
    }
  });
  ListingInputs inputs;
  readBothListings(path1, path2, "", inputs);
  writer.join();
  sigaction(SIGPIPE, &before, nullptr);

  EXPECT_FALSE(brokenPipe);
  EXPECT_FALSE(inputs.listing1->textFile);
  EXPECT_EQ(inputs.listing1->functions.size(), std::size_t{4000});
}
#endif

// The message of the error that pairing the listings ends with; empty when it ends without one.
std::string pairingError(ListingInputs& inputs) {
  try {
    pairFiles({FirstListing(*inputs.listing1), SecondListing(*inputs.listing2)}, 1);
  } catch (const Error& error) {
    return error.what();
  }
  return "";
}

// A listing file written to while the run holds its texts there, even with bytes of the same
// number, is a read error: its texts may no longer be those that were read.
TEST_F(ListingFiles, AListingWrittenToDuringTheRunIsAReadError) {
  const auto [first, second] = listingPair(false);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  ListingInputs inputs;
  readBothListings(path1, path2, "", inputs);
  std::string changed = first;
  std::replace(changed.begin(), changed.end(), '\n', ' ');
  write("l1.txt", changed);
  // However coarse the clock of the file system, the change shows.
  std::filesystem::last_write_time(
      path1, std::filesystem::last_write_time(path1) + std::chrono::seconds(10));
  EXPECT_EQ(pairingError(inputs), "Read error of file " + path1 + ", changed during the run");
}

// A listing file cut short while the run holds its texts there is a read error, not a crash.
TEST_F(ListingFiles, AListingCutShortDuringTheRunIsAReadError) {
  const auto [first, second] = listingPair(false);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  ListingInputs inputs;
  readBothListings(path1, path2, "", inputs);
  inputs.listing2->textFile->minimumRead = 1;
  std::filesystem::resize_file(path2, second.size() / 2);
  EXPECT_EQ(pairingError(inputs), "Read error of file " + path2 + ", changed during the run");
}

// A listing of `sections` file sections of `functions` functions each; `odd` changes the
// coverage of some.
std::string manySections(int sections, int functions, bool odd) {
  std::string text = testing::listingHeaderText();
  for (int f = 0; f < sections; ++f) {
    const std::string name = "src/f" + std::to_string(f) + ".c";
    text += testing::fileSectionHead(name);
    for (int g = 0; g < functions; ++g) {
      const bool covered = (g % 3 == 0) != odd;
      text += functionSection(
          {functionLine("1", "", ' ', 10 + g, "FUNCTION g" + std::to_string(g) + "()"),
           functionLine(covered ? "4" : "0", covered ? "1" : "0", covered ? ' ' : '-', 11 + g,
                        "if (a)"),
           functionLine("2", "", ' ', 12 + g, "return x;")});
    }
    text += testing::fileSectionTail(name);
  }
  return text + testing::summaryText();
}

std::string compareFiles(const std::string& path1, const std::string& path2,
                         std::uint64_t smallestTail) {
  ListingInputs inputs;
  try {
    readBothListings(path1, path2, "", inputs, smallestTail);
  } catch (const Error& error) {
    return error.what();
  }
  return pairedOutput(inputs, 2);
}

// The first characters of a result, enough to tell an output from a message.
std::string shortly(const std::string& text) {
  return text.substr(0, 120);
}

// The thread done first reads the end of the other listing (any end, with no smallest size
// here); whichever listing that is, and wherever it is cut, the output and the section line
// numbers are those of reading in order.
TEST_F(ListingFiles, TheEndOfAListingReadByTheOtherThreadJoinsOnSeamlessly) {
  for (const auto& [sections1, sections2] : {std::pair{600, 60}, std::pair{60, 600}}) {
    const std::string first = manySections(sections1, 20, false);
    const std::string second = manySections(sections2, 20, true);
    const std::string expected = testing::comparedText(first, second);
    const std::string path1 = write("l1.txt", first);
    const std::string path2 = write("l2.txt", second);
    for (int run = 0; run < 4; ++run) {
      const std::string output = compareFiles(path1, path2, 0);
      EXPECT_TRUE(output == expected) << sections1 << " " << sections2 << ": " << shortly(output);
    }
    ProfileListing inOrder;
    LineReader reader(second, "l2.txt");
    readSecondListing(reader, inOrder);
    ListingInputs inputs;
    readBothListings(path1, path2, "", inputs, 0);
    ASSERT_EQ(inputs.listing2->files.size(), inOrder.files.size());
    for (std::size_t f = 0; f < inOrder.files.size(); ++f) {
      EXPECT_EQ(inputs.listing2->files[f].headerLineNumber, inOrder.files[f].headerLineNumber);
    }
  }
}

// A fault in the end of a listing read by the other thread is reported as reading in order
// meets it, with its line number; one of listing 2 before one of listing 1.
TEST_F(ListingFiles, AFaultInTheEndReadByTheOtherThreadIsReportedInOrder) {
  const std::string strange = functionLine("1", "", ' ', 7, "x = 1;");
  const auto spoil = [](std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.rfind(from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, from.size(), to);
  };
  // The larger listing takes longer: the other thread reads its end.
  for (const auto& [functions1, functions2] : {std::pair{600, 20}, std::pair{20, 600}}) {
    const std::string good1 = manySections(60, functions1, false);
    const std::string good2 = manySections(60, functions2, true);
    std::string first = good1;
    std::string second = good2;
    // In the last file section: a strange line in listing 1, a rule too short in listing 2.
    spoil(first, functionLine("2", "", ' ', 12 + functions1 - 1, "return x;"), strange);
    spoil(second, std::string(77, '-') + "\n\n\n\n", std::string(10, '-') + "\n\n\n\n");
    const std::size_t lines2 =
        static_cast<std::size_t>(std::count(second.begin(), second.end(), '\n'));
    const std::string path1 = write("l1.txt", first);
    const std::string path2 = write("l2.txt", second);
    const std::string good1Path = write("l1good.txt", good1);
    const std::string good2Path = write("l2good.txt", good2);
    const std::string fault2 =
        "Problem in input \"" + path2 + "\" near line " + std::to_string(lines2 - 12);
    for (int run = 0; run < 4; ++run) {
      EXPECT_EQ(shortly(compareFiles(good1Path, path2, 0)), fault2);
      EXPECT_EQ(shortly(compareFiles(path1, good2Path, 0)),
                "Strange profile listing line: " + strange + "\n");
      EXPECT_EQ(shortly(compareFiles(path1, path2, 0)), fault2);
    }
  }
}

// The claim protocol, step by step on one thread: the owner stops exactly at a claimed section
// start it has not reached; a claim at or behind the owner, or after another claim, loses.
TEST(ListingSplit, AClaimAheadOfTheOwnerStopsItThereAndNowhereElse) {
  ListingSplit split;
  EXPECT_EQ(split.progress(), 0u);  // still in the header
  EXPECT_FALSE(split.stopsAt(100, 10));
  EXPECT_EQ(split.progress(), 100u);
  EXPECT_TRUE(split.claim(300));
  EXPECT_FALSE(split.claim(400));  // one claim only
  EXPECT_FALSE(split.stopsAt(200, 20));
  EXPECT_FALSE(split.stopped());
  EXPECT_TRUE(split.stopsAt(300, 30));
  EXPECT_TRUE(split.stopped());
  EXPECT_EQ(split.stopOffset(), 300u);
  EXPECT_EQ(split.linesBefore(), 29u);
}

TEST(ListingSplit, AClaimAtOrBehindTheOwnerLoses) {
  ListingSplit split;
  EXPECT_FALSE(split.stopsAt(100, 10));
  EXPECT_FALSE(split.stopsAt(200, 20));
  EXPECT_FALSE(split.claim(100));
  EXPECT_FALSE(split.claim(200));  // the owner is at it: it reads that section itself
  EXPECT_EQ(split.progress(), 200u);
  EXPECT_FALSE(split.stopsAt(300, 30));
  EXPECT_FALSE(split.stopped());
  // A claim of a line that opens no section the owner meets: the owner passes it by.
  EXPECT_TRUE(split.claim(350));
  EXPECT_FALSE(split.stopsAt(400, 40));
  EXPECT_FALSE(split.stopped());
}

// Brings about one interleaving of the two reading threads, and records what happened. The
// other thread waits at its first section until the owner of listing `helped` has passed its
// header; that owner is then held at the sections it passes until the other thread has claimed
// the end of it from `tailOffset` (ClaimFirst), or until the other thread asks where to claim,
// which then waits for the owner to pass that offset (OwnerPassesFirst). With no listing helped,
// no end is claimed.
class ScriptedSchedule final : public ReadingSchedule {
 public:
  enum class Order { ClaimFirst, OwnerPassesFirst };
  struct Claim {
    ListingNumber listing;
    std::uint64_t offset;
    bool won;
  };

  std::optional<ListingNumber> helped;
  std::uint64_t tailOffset = 0;
  Order order = Order::ClaimFirst;
  bool refuseThread = false;

  std::vector<Claim> claims;
  std::vector<ReadingFallback> fallbacks;

  std::jthread startThread(std::function<void()> work) override {
    if (refuseThread)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return ReadingSchedule::startThread(std::move(work));
  }
  void readsPast(ListingNumber listing, std::uint64_t offset) override {
    std::unique_lock lock(mutex_);
    if (!helped) return;
    if (listing != *helped) {
      // The helper-to-be waits for the other owner to be past its header, which a claim needs.
      waitUntil(lock, [&] { return passed_ != 0; });
      return;
    }
    passed_ = std::max(passed_, offset);
    changed_.notify_all();
    waitUntil(lock, [&] { return order == Order::ClaimFirst ? !claims.empty() : tailAsked_; });
  }
  std::optional<std::uint64_t> tailStart(ListingNumber listing,
                                         std::optional<std::uint64_t>) override {
    std::unique_lock lock(mutex_);
    if (listing != helped) return std::nullopt;
    tailAsked_ = true;
    changed_.notify_all();
    if (order == Order::OwnerPassesFirst) waitUntil(lock, [&] { return passed_ > tailOffset; });
    return tailOffset;
  }
  void claimed(ListingNumber listing, std::uint64_t offset, bool won) override {
    const std::lock_guard lock(mutex_);
    claims.push_back({listing, offset, won});
    changed_.notify_all();
  }
  void fellBack(ReadingFallback fallback) override {
    const std::lock_guard lock(mutex_);
    fallbacks.push_back(fallback);
  }

 private:
  // A reading that never gets there fails the test instead of hanging it.
  template <typename Ready>
  void waitUntil(std::unique_lock<std::mutex>& lock, Ready ready) {
    if (!changed_.wait_for(lock, std::chrono::seconds(60), ready)) {
      ADD_FAILURE() << "the other thread never got there";
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t passed_ = 0;
  bool tailAsked_ = false;
};

// Where the `n`th file section (from 0) of a listing text begins.
std::uint64_t sectionOffset(const std::string& text, int n) {
  std::size_t at = text.find("MONITORED ");
  for (int i = 0; i < n; ++i) at = text.find("\nMONITORED ", at) + 1;
  return at;
}

// The output of reading both listings on the given schedule, or the message of the error.
std::string compareScheduled(const std::string& path1, const std::string& path2,
                             ScriptedSchedule& schedule) {
  ListingInputs inputs;
  try {
    readBothListings(path1, path2, "", inputs, 0, &schedule);
  } catch (const Error& error) {
    return error.what();
  }
  return pairedOutput(inputs, 2);
}

// The output of reading in order on one thread, or the message of the error; the paths only
// name the listings in messages.
std::string compareInOrder(const std::string& first, const std::string& second,
                           const std::string& path1, const std::string& path2) {
  try {
    ProfileListing listing2;
    LineReader reader2(second, path2);
    readSecondListing(reader2, listing2);
    ProfileListing listing1;
    LineReader reader1(first, path1);
    readFirstListing(reader1, listing1, listing2);
  } catch (const Error& error) {
    return error.what();
  }
  return testing::comparedText(first, second);
}

using Fallbacks = std::vector<ReadingFallback>;

// An end claimed before its owner gets there is read by the other thread and joined on: the
// output and the line numbers of the sections are those of reading in order.
TEST_F(ListingFiles, AnEndClaimedAheadOfItsOwnerJoinsOn) {
  const std::string first = manySections(40, 20, false);
  const std::string second = manySections(40, 20, true);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  ProfileListing inOrder2;
  LineReader reader2(second, path2);
  readSecondListing(reader2, inOrder2);
  ProfileListing inOrder1;
  LineReader reader1(first, path1);
  readFirstListing(reader1, inOrder1, inOrder2);
  for (const ListingNumber helped : {ListingNumber::First, ListingNumber::Second}) {
    const std::string& text = helped == ListingNumber::First ? first : second;
    ScriptedSchedule schedule;
    schedule.helped = helped;
    schedule.tailOffset = sectionOffset(text, 25);
    ListingInputs inputs;
    readBothListings(path1, path2, "", inputs, 0, &schedule);
    ASSERT_EQ(schedule.claims.size(), 1u);
    EXPECT_TRUE(schedule.claims[0].won);
    EXPECT_EQ(schedule.fallbacks, Fallbacks{});
    for (const auto& [read, expected] : {std::pair{inputs.listing1.get(), &inOrder1},
                                         std::pair{inputs.listing2.get(), &inOrder2}}) {
      ASSERT_EQ(read->files.size(), expected->files.size());
      for (std::size_t f = 0; f < expected->files.size(); ++f) {
        EXPECT_EQ(read->files[f].headerLineNumber, expected->files[f].headerLineNumber) << f;
      }
      EXPECT_EQ(read->functions.size(), expected->functions.size());
    }
    EXPECT_EQ(pairedOutput(inputs, 2), testing::comparedText(first, second));
  }
}

// A claim of a section its owner has passed meanwhile loses; the owner reads on to the end.
TEST_F(ListingFiles, AClaimOfASectionItsOwnerHasPassedLoses) {
  const std::string first = manySections(40, 20, false);
  const std::string second = manySections(40, 20, true);
  const std::string path1 = write("l1.txt", first);
  const std::string path2 = write("l2.txt", second);
  for (const ListingNumber helped : {ListingNumber::First, ListingNumber::Second}) {
    ScriptedSchedule schedule;
    schedule.helped = helped;
    schedule.order = ScriptedSchedule::Order::OwnerPassesFirst;
    schedule.tailOffset = sectionOffset(helped == ListingNumber::First ? first : second, 3);
    EXPECT_EQ(compareScheduled(path1, path2, schedule), testing::comparedText(first, second));
    ASSERT_EQ(schedule.claims.size(), 1u);
    EXPECT_FALSE(schedule.claims[0].won);
    EXPECT_EQ(schedule.fallbacks, Fallbacks{});
  }
}

// A fault in an end read by the other thread is reported as reading in order meets it, with its
// line number: listing 2 is read on from where its owner stopped, listing 1 is read again. A
// fault in a section of listing 1 that listing 2 lacks is none: reading in order skips it.
TEST_F(ListingFiles, AFaultInAClaimedEndIsReportedAsReadingInOrderMeetsIt) {
  const std::string good1 = manySections(40, 20, false);
  const std::string good2 = manySections(40, 20, true);
  const auto spoiled = [](std::string text, int section) {
    const std::size_t at = text.find(std::string(77, '-'), sectionOffset(text, section));
    text.replace(at, 77, std::string(10, '-'));  // the rule that closes the file section
    return text;
  };
  std::string unknown1 = good1;  // the spoiled section renamed: listing 2 lacks it
  const std::size_t renamed = sectionOffset(unknown1, 31);
  unknown1.replace(unknown1.find("src/", renamed), 4, "lib/");
  unknown1 = spoiled(unknown1, 31);
  struct Case {
    ListingNumber helped;
    std::string first;
    std::string second;
    ReadingFallback fallback;
    bool fault;  // reading in order ends with a fault
  };
  for (const Case& c :
       {Case{ListingNumber::Second, good1, spoiled(good2, 31), ReadingFallback::SecondReadOn, true},
        Case{ListingNumber::First, spoiled(good1, 31), good2, ReadingFallback::FirstReadAgain,
             true},
        Case{ListingNumber::First, unknown1, good2, ReadingFallback::FirstReadAgain, false}}) {
    const std::string path1 = write("l1.txt", c.first);
    const std::string path2 = write("l2.txt", c.second);
    ScriptedSchedule schedule;
    schedule.helped = c.helped;
    schedule.tailOffset = sectionOffset(c.helped == ListingNumber::First ? c.first : c.second, 25);
    const std::string expected = compareInOrder(c.first, c.second, path1, path2);
    EXPECT_EQ(shortly(compareScheduled(path1, path2, schedule)), shortly(expected));
    ASSERT_EQ(schedule.claims.size(), 1u);
    EXPECT_TRUE(schedule.claims[0].won);
    EXPECT_EQ(schedule.fallbacks, Fallbacks{c.fallback});
    EXPECT_EQ(expected.starts_with("Problem in input"), c.fault) << expected;
  }
}

// Listing 1 read ahead takes every file section whole; a section that listing 2 lacks holds a
// line that looks like a section opening, at which reading in order, skipping the section,
// stops instead. Listing 1 is then read again: whether that line opens a section listing 2 has
// (which does not read as one) or "SUMMARY" ends the listing early, in the part read from the
// start or in an end read by the other thread.
TEST_F(ListingFiles, SectionChoicesThatDoNotHoldMakeListingOneBeReadAgain) {
  const std::string second = manySections(40, 20, true);
  for (const std::string& lookalike :
       {std::string("MONITORED SOURCE FILE : src/f7.c"), std::string("SUMMARY")}) {
    for (const std::optional<ListingNumber> helped :
         {std::optional<ListingNumber>(), std::optional(ListingNumber::First)}) {
      std::string plain = manySections(40, 20, false);
      const int odd = helped ? 31 : 12;  // in the end read by the other thread, or before it
      const std::size_t at = sectionOffset(plain, odd);
      plain.replace(plain.find("src/", at), 4, "lib/");  // listing 2 lacks it
      std::string first = plain;
      const std::string statement = "        50 % (  1/  2) statement";
      first.replace(first.find(statement, at), statement.size(), lookalike);
      const std::string path1 = write("l1.txt", first);
      const std::string path2 = write("l2.txt", second);
      ScriptedSchedule schedule;
      schedule.helped = helped;
      schedule.tailOffset = sectionOffset(first, 25);
      const std::string expected = compareInOrder(first, second, path1, path2);
      // Reading in order meets a fault at the lookalike opening, or leaves sections out.
      ASSERT_NE(expected, compareInOrder(plain, second, path1, path2));
      EXPECT_EQ(compareScheduled(path1, path2, schedule), expected) << lookalike << " " << odd;
      EXPECT_EQ(schedule.fallbacks, Fallbacks{ReadingFallback::FirstReadAgain});
    }
  }
}

// Without a second thread both listings are read in turn on the calling one, listing 1 through
// the stream opened already; a fault of listing 2 comes before one of listing 1.
TEST_F(ListingFiles, WithoutASecondThreadTheListingsAreReadInTurn) {
  const std::string first = manySections(40, 20, false);
  const std::string second = manySections(40, 20, true);
  ScriptedSchedule schedule;
  schedule.refuseThread = true;
  EXPECT_EQ(compareScheduled(write("l1.txt", first), write("l2.txt", second), schedule),
            testing::comparedText(first, second));
  EXPECT_EQ(schedule.fallbacks, Fallbacks{ReadingFallback::InTurn});
  const std::string path1 = write("l1.txt", first.substr(0, first.size() / 2));
  const std::string path2 = write("l2.txt", second.substr(0, second.size() / 3));
  ScriptedSchedule refused;
  refused.refuseThread = true;
  EXPECT_EQ(shortly(compareScheduled(path1, path2, refused)),
            shortly(compareInOrder(first.substr(0, first.size() / 2),
                                   second.substr(0, second.size() / 3), path1, path2)));
  EXPECT_EQ(refused.fallbacks, Fallbacks{ReadingFallback::InTurn});
}

}  // namespace
}  // namespace qrvdiff
