// Large blocks given back are handed out again for the same size and use, so that a run does not
// pay twice for fresh memory; other sizes and uses get blocks of their own.

#include "base/platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qrvdiff {
namespace {

constexpr std::size_t kBlockSize = std::size_t{3} << 20;

TEST(SystemMemory, FreedLargeBlockIsGivenAgainForTheSameSizeAndUse) {
  char* const first = static_cast<char*>(allocateLargeBlock(kBlockSize));
  std::memset(first, 'x', kBlockSize);  // usable throughout
  freeLargeBlock(first, kBlockSize);
  // Mappings are whole huge pages: a size that rounds to the same length fits the same block.
  char* const again = static_cast<char*>(allocateLargeBlock(kBlockSize - 4096));
  EXPECT_EQ(again, first);
  EXPECT_EQ(again[kBlockSize - 4097], 'x');  // not cleared: callers must not expect zeros

  // While it is in use, the same request gets another block.
  char* const other = static_cast<char*>(allocateLargeBlock(kBlockSize));
  EXPECT_NE(other, again);
  freeLargeBlock(other, kBlockSize);
  freeLargeBlock(again, kBlockSize - 4096);
}

TEST(SystemMemory, FreedLargeBlockIsNotGivenForAnotherUseOrSize) {
  void* const dense = allocateLargeBlock(kBlockSize, BlockUse::Dense);
  freeLargeBlock(dense, kBlockSize, BlockUse::Dense);
  void* const guessed = allocateLargeBlock(kBlockSize, BlockUse::SparseStart);
  EXPECT_NE(guessed, dense);
  void* const larger = allocateLargeBlock(kBlockSize * 2, BlockUse::Dense);
  EXPECT_NE(larger, dense);
  freeLargeBlock(larger, kBlockSize * 2, BlockUse::Dense);
  freeLargeBlock(guessed, kBlockSize, BlockUse::SparseStart);
  EXPECT_EQ(allocateLargeBlock(kBlockSize, BlockUse::Dense), dense);
  freeLargeBlock(dense, kBlockSize, BlockUse::Dense);
}

TEST(SystemMemory, GuessedVectorGrowsLikeAnyVector) {
  GuessedVector<int> values;
  values.reserve(1 << 20);  // 4 MiB, of which only a little is used
  for (int i = 0; i < 1000; ++i) values.push_back(i);
  values.resize(std::size_t{3} << 20, 7);  // past the reservation: a new block
  EXPECT_EQ(values[999], 999);
  EXPECT_EQ(values.back(), 7);
}

}  // namespace
}  // namespace qrvdiff
