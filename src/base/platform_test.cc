// Large blocks: usable throughout, of both uses, distinct while in use.

#include "base/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/scratch_folder.h"

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

namespace qrvdiff {
namespace {

class PlatformFiles : public testing::ScratchFolder {};

std::string readWhole(const std::string& path) {
  const FileHandle file(openFile(path, "rb"));
  if (!file) return "<cannot open>";
  std::string text;
  char buffer[256];
  for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file.get())) != 0;) {
    text.append(buffer, count);
  }
  return text;
}

// Names in UTF-8, with letters beyond ASCII and a blank, open the file of that name; text written
// in text mode gets the platform's line ends, and a lone CR stays as it is.
TEST_F(PlatformFiles, OpenFileTakesUtf8NamesAndWritesTheLineEndsOfTextMode) {
  const std::string path = write("\xC3\xA4lter \xE6\x96\xB0.txt", "");
  {
    const FileHandle file(openFile(path, "w"));
    ASSERT_TRUE(file);
    std::fputs("a\rb\nc\n", file.get());
  }
#if defined(_WIN32)
  EXPECT_EQ(readWhole(path), "a\rb\r\nc\r\n");
#else
  EXPECT_EQ(readWhole(path), "a\rb\nc\n");
#endif
  EXPECT_EQ(openFile(path + ".missing", "rb"), nullptr);
}

TEST_F(PlatformFiles, SameFileIsToldThroughOtherNamesOnly) {
  const std::string first = write(
      "f\xC3\xBC"
      "1.txt",
      "same text");
  const std::string second = write(
      "f\xC3\xBC"
      "2.txt",
      "same text");
  const std::filesystem::path folder = std::filesystem::path(first).parent_path();
  EXPECT_TRUE(namesSameFile(first, first));
  EXPECT_TRUE(namesSameFile(first, (folder / "." /
                                    "f\xC3\xBC"
                                    "1.txt")
                                       .string()));
  EXPECT_FALSE(namesSameFile(first, second));  // equal contents, another file
  EXPECT_FALSE(namesSameFile(first, first + ".missing"));
  EXPECT_FALSE(namesSameFile(first + ".missing", first + ".missing"));
#if !defined(_WIN32)
  std::filesystem::create_symlink(first, folder / "link");
  EXPECT_TRUE(namesSameFile((folder / "link").string(), first));
#endif
}

TEST(ProgramArguments, WordsArePassedOnInOrder) {
  char program[] = "qrvdiff";
  char option[] = "-i1";
  char name[] = "\xC3\xA4.txt";
  char empty[] = "";
  char* words[] = {program, option, name, empty, nullptr};
  const ProgramArguments arguments(4, words);
#if !defined(_WIN32)  // on Windows they come from the process's own command line
  ASSERT_EQ(arguments.count(), 4);
  EXPECT_STREQ(arguments.words()[2], "\xC3\xA4.txt");
  EXPECT_STREQ(arguments.words()[3], "");
#else
  EXPECT_GE(arguments.count(), 1);
#endif
}

TEST(LocalTime, BreaksDownTheTimeOfDay) {
  // Whatever the time zone, a day's time stays within its day: the minutes and seconds of a
  // whole hour are kept by every zone of whole or half hours.
  const std::tm local = localTime(std::time_t{86400 * 365});
  EXPECT_TRUE(local.tm_year == 70 || local.tm_year == 71);
  EXPECT_EQ(local.tm_sec, 0);
  EXPECT_EQ(local.tm_min % 15, 0);
}

}  // namespace
}  // namespace qrvdiff
