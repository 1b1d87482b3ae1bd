#include "listing/line_feed_scanner.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace qrvdiff {
namespace {

std::vector<std::size_t> lineFeedsOf(const std::vector<char>& text) {
  std::vector<std::size_t> found;
  LineFeedScanner<> scanner(text.data(), text.data() + text.size());
  while (const char* lineFeed = scanner.next()) {
    found.push_back(static_cast<std::size_t>(lineFeed - text.data()));
  }
  return found;
}

std::vector<std::size_t> expectedLineFeeds(const std::string& text) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') found.push_back(i);
  }
  return found;
}

TEST(LineFeedScanner, EmptyStretchesHaveNoLineFeed) {
  LineFeedScanner<true> none(nullptr, nullptr);
  EXPECT_EQ(none.next(), nullptr);
  EXPECT_EQ(none.next(), nullptr);
  LineFeedScanner<> unset;
  EXPECT_EQ(unset.next(), nullptr);
}

// Every length around the 64-byte blocks, line feeds anywhere, the last block partial or whole;
// each text sits in a buffer of exactly its size, so a read past the end shows under a checker.
TEST(LineFeedScanner, FindsEveryLineFeedInOrder) {
  std::mt19937 random(7);
  for (std::size_t size = 1; size <= 200; ++size) {
    for (int round = 0; round < 20; ++round) {
      std::string text(size, 'x');
      for (char& c : text) {
        if (random() % 9 == 0) c = '\n';
      }
      if (round == 0) text.back() = '\n';
      if (round == 1) text.assign(size, '\n');
      const std::vector<char> exact(text.begin(), text.end());
      EXPECT_EQ(lineFeedsOf(exact), expectedLineFeeds(text))
          << "size " << size << ", round " << round;
    }
  }
}

TEST(LineFeedScanner, NotesTheFirstNulOfTheBlocksSearched) {
  std::string text(300, 'x');
  text[70] = '\n';
  text[100] = '\0';
  text[150] = '\0';
  text[200] = '\n';
  LineFeedScanner<true> scanner(text.data(), text.data() + text.size());
  const char* first = scanner.next();
  ASSERT_EQ(first, text.data() + 70);
  EXPECT_FALSE(scanner.nulBefore(first));
  const char* second = scanner.next();
  ASSERT_EQ(second, text.data() + 200);
  EXPECT_TRUE(scanner.nulBefore(second));
  EXPECT_TRUE(scanner.nulBefore(text.data() + 101));
  EXPECT_FALSE(scanner.nulBefore(text.data() + 100));
  // A NUL byte in the last, partial block, found only when that block is searched.
  std::string tail(70, 'x');
  tail[68] = '\0';
  LineFeedScanner<true> atEnd(tail.data(), tail.data() + tail.size());
  EXPECT_EQ(atEnd.next(), nullptr);
  EXPECT_TRUE(atEnd.nulBefore(tail.data() + 69));
}

}  // namespace
}  // namespace qrvdiff
