#include "compare/pairing_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/listing_lines.h"
#include "support/parsed_listings.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;

// Two threads claiming at once: each gets ascending batches, together every batch once; the
// count of claimed batches never exceeds what was handed out.
TEST(BatchClaims, EveryBatchOnceAscendingWithoutGaps) {
  constexpr std::size_t kBatches = 20000;
  BatchClaims claims(kBatches);
  std::vector<std::size_t> taken[2];
  bool firstUnclaimedTrails[2] = {true, true};
  const auto claimAll = [&](int thread) {
    while (const std::optional<std::size_t> batch = claims.claim()) {
      taken[thread].push_back(*batch);
      // Every batch up to this one has been claimed by now.
      if (claims.firstUnclaimed() <= *batch) firstUnclaimedTrails[thread] = false;
    }
  };
  {
    std::jthread other(claimAll, 1);
    claimAll(0);
  }
  EXPECT_TRUE(firstUnclaimedTrails[0] && firstUnclaimedTrails[1]);
  std::vector<int> times(kBatches, 0);
  for (const std::vector<std::size_t>& batches : taken) {
    EXPECT_TRUE(std::is_sorted(batches.begin(), batches.end()));
    for (const std::size_t batch : batches) ++times[batch];
  }
  EXPECT_EQ(std::count(times.begin(), times.end(), 1), static_cast<long>(kBatches));
  EXPECT_EQ(claims.firstUnclaimed(), kBatches);
}

TEST(BatchClaims, ClosingLeavesNothingToClaimAndCountsEveryBatchClaimed) {
  BatchClaims claims(5);
  EXPECT_EQ(claims.firstUnclaimed(), 0u);
  EXPECT_EQ(claims.claim(), std::optional<std::size_t>(0));
  EXPECT_EQ(claims.firstUnclaimed(), 1u);
  claims.closeAll();
  EXPECT_EQ(claims.claim(), std::nullopt);
  EXPECT_EQ(claims.claim(), std::nullopt);
  EXPECT_EQ(claims.firstUnclaimed(), 5u);
  EXPECT_EQ(BatchClaims(0).claim(), std::nullopt);
}

// A listing of one function in each of the named file sections.
std::string listingOfFiles(const std::vector<std::string>& names) {
  std::string text = testing::listingHeaderText();
  for (const std::string& name : names) {
    text += testing::fileSectionHead(name) +
            functionSection({functionLine("1", "", ' ', 10, "FUNCTION f()"),
                             functionLine("1", "", ' ', 11, "return 0;")}) +
            testing::fileSectionTail(name);
  }
  return text + testing::summaryText();
}

class RecordingHandler final : public PairedFileHandler {
 public:
  void filePaired(std::size_t fileIndex, SectionTexts& texts,
                  bool mayWaitForEarlierFiles) override {
    EXPECT_EQ(texts.textOf(second->functions[second->files[fileIndex].firstFunction])
                  .functionLine()
                  .substr(30),
              "FUNCTION f()");
    calls.emplace_back(fileIndex, mayWaitForEarlierFiles);
  }
  void abandon() noexcept override { abandoned = true; }

  const ProfileListing* second = nullptr;
  std::vector<std::pair<std::size_t, bool>> calls;
  bool abandoned = false;
};

// Files 0, 2 and 4 share a partner and are paired together, before files 1 and 3: while file 1
// is unclaimed, a handler must not wait on files 2 and 4, which come after it.
TEST(PairingSchedule, TheHandlerMayWaitOnlyWhenEveryEarlierFileIsClaimed) {
  auto pair =
      testing::parsePair(listingOfFiles({"src/a.c", "src/b.c"}),
                         listingOfFiles({"src/a.c", "src/b.c", "src/a.c", "src/c.c", "src/a.c"}));
  RecordingHandler handler;
  handler.second = &pair->second;
  pairFiles(pair->listings(), 1, &handler);
  const std::vector<std::pair<std::size_t, bool>> expected = {
      {0, true}, {2, false}, {4, false}, {1, true}, {3, true}};
  EXPECT_EQ(handler.calls, expected);
  EXPECT_FALSE(handler.abandoned);
  // The one candidate of src/a.c goes to the first file that has it.
  for (std::size_t f = 0; f < 5; ++f) {
    const FunctionRecord& function = pair->second.functions[f];
    EXPECT_EQ(function.pairState, f < 2 ? PairState::Compared : PairState::NotAvailable) << f;
  }
}

}  // namespace
}  // namespace qrvdiff
