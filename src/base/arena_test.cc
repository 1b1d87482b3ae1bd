#include "base/arena.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qrvdiff {
namespace {

// The texts "line 0", "line 1", ... each padded to `width` characters.
std::vector<std::string> numberedTexts(std::size_t count, std::size_t width) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    std::string text = "line " + std::to_string(i);
    text.resize(width, '.');
    texts.push_back(text);
  }
  return texts;
}

std::string joinedWithNewlines(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += text + '\n';
  return joined;
}

TEST(TextArena, StoredTextsStayWhereTheyAreAcrossBlocks) {
  TextArena arena;
  const std::vector<std::string> texts = numberedTexts(3000, 100);  // several blocks
  std::vector<const char*> copies;
  for (const std::string& text : texts) copies.push_back(arena.store(text));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(std::string(copies[i], texts[i].size() + 1), texts[i] + '\n') << i;
  }
}

TEST(TextArena, TextLargerThanAnyBlockGetsOneOfItsOwn) {
  TextArena arena;
  const char* before = arena.store("before");
  const std::string huge(std::size_t{3} << 20, 'x');
  const char* copy = arena.store(huge);
  EXPECT_EQ(std::string(copy, huge.size() + 1), huge + '\n');
  EXPECT_EQ(std::string(before, 7), "before\n");
  EXPECT_EQ(std::string(arena.store("after"), 6), "after\n");
}

TEST(TextArena, RunThatOutgrowsItsBlockMovesWholeAndStaysBackToBack) {
  TextArena arena;
  // Fill most of the first block, so that the run below must move to the next one.
  const char* filler = arena.store(std::string(60 << 10, 'f'));
  const std::vector<std::string> run = numberedTexts(200, 80);  // about 16 KiB
  arena.beginRun();
  for (const std::string& text : run) arena.storeInRun(text);
  EXPECT_EQ(arena.endRun(), joinedWithNewlines(run));
  EXPECT_EQ(filler[(60 << 10)], '\n');
}

TEST(TextArena, RunsLargerThanABlockAndEmptyRuns) {
  TextArena arena;
  arena.beginRun();
  EXPECT_TRUE(arena.endRun().empty());
  // Larger than the first block, so the run moves more than once while it grows.
  const std::vector<std::string> run = numberedTexts(5000, 120);
  arena.beginRun();
  for (const std::string& text : run) arena.storeInRun(text);
  EXPECT_EQ(arena.endRun(), joinedWithNewlines(run));
  // Empty texts count as lines of their own.
  arena.beginRun();
  arena.storeInRun("");
  arena.storeInRun("");
  EXPECT_EQ(arena.endRun(), "\n\n");
}

TEST(TextArena, AdoptedTextsOutliveTheArenaTheyCameFrom) {
  TextArena owner;
  const char* own = owner.store("own");
  const char* adopted;
  {
    TextArena other;
    adopted = other.store("adopted");
    other.store(std::string(100 << 10, 'y'));  // a second block in the other arena
    owner.adopt(other);
  }
  EXPECT_EQ(std::string(adopted, 8), "adopted\n");
  EXPECT_EQ(std::string(own, 4), "own\n");
  // Storing goes on in the owner's current block after the adoption.
  EXPECT_EQ(std::string(owner.store("more"), 5), "more\n");
}

}  // namespace
}  // namespace qrvdiff
