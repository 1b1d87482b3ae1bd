// Large blocks: usable throughout, of both uses, distinct while in use.

#include "base/platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qrvdiff {
namespace {

constexpr std::size_t kBlockSize = std::size_t{3} << 20;

TEST(SystemMemory, LargeBlocksOfEitherUseAreUsableThroughoutAndDistinct) {
  for (const BlockUse use : {BlockUse::Dense, BlockUse::SparseStart}) {
    char* const first = static_cast<char*>(allocateLargeBlock(kBlockSize, use));
    char* const second = static_cast<char*>(allocateLargeBlock(kBlockSize - 4096, use));
    std::memset(first, 'x', kBlockSize);
    std::memset(second, 'y', kBlockSize - 4096);
    EXPECT_EQ(first[kBlockSize - 1], 'x');
    EXPECT_EQ(second[0], 'y');
    freeLargeBlock(second, kBlockSize - 4096, use);
    freeLargeBlock(first, kBlockSize, use);
  }
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
