#include "driver/inputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

#include "compare/pairing.h"
#include "compare/tallies.h"
#include "driver/error.h"
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
        pairFiles(*inputs.listing2, *inputs.listing1, threads);
        computeTallies(*inputs.listing2);
        testing::StringSink sink;
        OutputBuffer out(sink);
        writeComparedListing(*inputs.listing2, *inputs.listing1, testing::kTestReportHeader, out);
        out.flush();
        EXPECT_EQ(sink.bytes, expected)
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
  pairFiles(*inputs.listing2, *inputs.listing1, 2);
  computeTallies(*inputs.listing2);
  testing::StringSink sink;
  OutputBuffer out(sink);
  writeComparedListing(*inputs.listing2, *inputs.listing1, testing::kTestReportHeader, out);
  out.flush();
  EXPECT_EQ(sink.bytes, expected);
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
    pairFiles(*inputs.listing2, *inputs.listing1, 1);
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
  EXPECT_EQ(pairingError(inputs), "Read error of file " + path1 + ", near line 9");
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
  EXPECT_EQ(pairingError(inputs), "Read error of file " + path2 + ", near line 9");
}

}  // namespace
}  // namespace qrvdiff
