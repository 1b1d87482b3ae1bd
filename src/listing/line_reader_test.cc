#include "listing/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "base/error.h"

namespace qrvdiff {
namespace {

struct Outcome {
  std::vector<std::string> lines;
  LineReader::Result last;
  std::uint32_t lineNumber;
};

// The same, taking runs of lines up to an empty one at once wherever the reader offers them.
Outcome readInRuns(LineReader& reader) {
  Outcome outcome;
  for (;;) {
    const bool foundEmpty = reader.readUntilEmptyLine([&](std::string_view line, const char* end) {
      // The line feed follows the line, or the carriage return dropped from it.
      const char* const after = line.data() + line.size();
      EXPECT_TRUE(end == after || (end == after + 1 && *after == '\r'));
      EXPECT_EQ(*end, '\n');
      outcome.lines.emplace_back(line);
    });
    if (foundEmpty) {
      EXPECT_EQ(reader.line(), "");
      outcome.lines.emplace_back();
      continue;
    }
    outcome.last = reader.next();
    if (outcome.last != LineReader::Result::Line) break;
    outcome.lines.emplace_back(reader.line());
  }
  outcome.lineNumber = reader.lineNumber();
  return outcome;
}

void expectSameOutcome(const Outcome& runs, const Outcome& single) {
  EXPECT_EQ(runs.lines, single.lines);
  EXPECT_EQ(runs.last, single.last);
  EXPECT_EQ(runs.lineNumber, single.lineNumber);
}

// Reads until something other than a line comes; a tiny block size exercises refills. Input
// that is whole in memory must give the same lines, and so must reading in runs.
Outcome readAll(const std::string& bytes, std::size_t blockSize = 1 << 20) {
  MemorySource source(bytes);
  LineReader reader(source, "in.txt", blockSize);
  LineReader inPlace(std::string_view(bytes), "in.txt");
  Outcome outcome;
  for (;;) {
    const LineReader::Result streamed = reader.next();
    EXPECT_EQ(inPlace.next(), streamed);
    if (streamed != LineReader::Result::Line) break;
    EXPECT_EQ(inPlace.line(), reader.line());
  }
  EXPECT_EQ(inPlace.lineNumber(), reader.lineNumber());
  source = MemorySource(bytes);
  reader = LineReader(source, "in.txt", blockSize);
  for (;;) {
    outcome.last = reader.next();
    if (outcome.last != LineReader::Result::Line) break;
    outcome.lines.emplace_back(reader.line());
  }
  outcome.lineNumber = reader.lineNumber();

  source = MemorySource(bytes);
  reader = LineReader(source, "in.txt", blockSize);
  expectSameOutcome(readInRuns(reader), outcome);
  LineReader wholeInRuns(std::string_view(bytes), "in.txt");
  expectSameOutcome(readInRuns(wholeInRuns), outcome);
  return outcome;
}

TEST(LineReader, SplitsLinesAndCountsThem) {
  for (std::size_t block : {std::size_t{1} << 20, std::size_t{16}}) {
    const Outcome outcome = readAll("first\n\nthird line\n", block);
    EXPECT_EQ(outcome.lines, (std::vector<std::string>{"first", "", "third line"}));
    EXPECT_EQ(outcome.last, LineReader::Result::End);
    EXPECT_EQ(outcome.lineNumber, 3u);
  }
}

TEST(LineReader, EmptyInputEndsAtLineZero) {
  const Outcome outcome = readAll("");
  EXPECT_TRUE(outcome.lines.empty());
  EXPECT_EQ(outcome.last, LineReader::Result::End);
  EXPECT_EQ(outcome.lineNumber, 0u);
}

TEST(LineReader, LastLineWithoutLineFeedIsMalformedAndCounted) {
  const Outcome outcome = readAll("one\ntwo");
  EXPECT_EQ(outcome.lines, std::vector<std::string>{"one"});
  EXPECT_EQ(outcome.last, LineReader::Result::Malformed);
  EXPECT_EQ(outcome.lineNumber, 2u);
}

TEST(LineReader, LongestLineIsReadWholeOneMoreIsMalformed) {
  const std::string longest(LineReader::kMaxLineLength, 'x');
  for (std::size_t block : {std::size_t{1} << 20, std::size_t{100}}) {
    Outcome outcome = readAll("a\n" + longest + "\nb\n", block);
    ASSERT_EQ(outcome.lines.size(), 3u);
    EXPECT_EQ(outcome.lines[1], longest);

    outcome = readAll("a\n" + longest + "y\nb\n", block);
    EXPECT_EQ(outcome.lines, std::vector<std::string>{"a"});
    EXPECT_EQ(outcome.last, LineReader::Result::Malformed);
    EXPECT_EQ(outcome.lineNumber, 2u);
  }
  // The limit does not count a carriage return that belongs to the line end.
  const Outcome crlf = readAll(longest + "\r\n");
  ASSERT_EQ(crlf.lines.size(), 1u);
  EXPECT_EQ(crlf.lines[0], longest);
}

TEST(LineReader, CarriageReturnBeforeLineFeedIsDroppedOthersKept) {
  const Outcome outcome = readAll("a\r\nb\rc\n\r\n\r\r\n");
  EXPECT_EQ(outcome.lines, (std::vector<std::string>{"a", "b\rc", "", "\r"}));
}

TEST(LineReader, NulByteMakesTheLineMalformed) {
  const Outcome outcome = readAll(std::string("ok\nbad\0line\nnext\n", 17));
  EXPECT_EQ(outcome.lines, std::vector<std::string>{"ok"});
  EXPECT_EQ(outcome.last, LineReader::Result::Malformed);
  EXPECT_EQ(outcome.lineNumber, 2u);
}

// Wherever a NUL byte stands in the blocks the reader searches, the line that holds it is the
// malformed one, and every line before it is read.
TEST(LineReader, NulByteAnywhereMarksItsOwnLine) {
  std::string text;
  for (int i = 0; i < 12; ++i) text += std::string(static_cast<std::size_t>(5 + 7 * i), 'a') + "\n";
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n') continue;
    std::string bytes = text;
    bytes[at] = '\0';
    const std::uint32_t line =
        static_cast<std::uint32_t>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
    const Outcome outcome = readAll(bytes);
    EXPECT_EQ(outcome.lines.size(), line - 1) << "NUL at " << at;
    EXPECT_EQ(outcome.last, LineReader::Result::Malformed) << "NUL at " << at;
    EXPECT_EQ(outcome.lineNumber, line) << "NUL at " << at;
  }
}

TEST(LineReader, RunsOfLinesEndAtEmptyLinesAcrossBlocks) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    bytes += std::string(static_cast<std::size_t>(i % 70), 'x') + (i % 3 == 0 ? "\r\n" : "\n");
  }
  for (std::size_t block : {std::size_t{1} << 20, std::size_t{8200}, std::size_t{9000}}) {
    const Outcome outcome = readAll(bytes + "\r\nlast\n", block);
    EXPECT_EQ(outcome.lines.size(), 302u);
    EXPECT_EQ(outcome.last, LineReader::Result::End);
  }
}

TEST(LineReader, NothingFollowsAMalformedLine) {
  MemorySource source("x");
  LineReader reader(source, "in.txt");
  EXPECT_EQ(reader.next(), LineReader::Result::Malformed);
  EXPECT_EQ(reader.next(), LineReader::Result::End);
  EXPECT_EQ(reader.lineNumber(), 1u);
}

TEST(LineReader, ReadLineReportsPathAndLineNumber) {
  MemorySource source("one\ntwo\n");
  LineReader reader(source, "dir/l2.txt");
  reader.readLine();
  reader.readLine();
  try {
    reader.readLine();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Read error of file dir/l2.txt, near line 2");
  }
}

// Serves its bytes in reads of `piece` bytes, then fails as a disk with a bad block does.
class FailingSource final : public ByteSource {
 public:
  FailingSource(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  std::size_t read(char* buffer, std::size_t capacity) override {
    if (bytes_.empty()) throw std::system_error(std::make_error_code(std::errc::io_error));
    const std::size_t count = std::min({capacity, piece_, bytes_.size()});
    bytes_.copy(buffer, count);
    bytes_.erase(0, count);
    return count;
  }

 private:
  std::string bytes_;
  std::size_t piece_;
};

// A source that fails is no end of the listing, also where the listing may end (tryReadLine) and
// where the failure falls on a line boundary: the run ends with the read error, for the last line
// read, and not with a complaint about the listing's form.
TEST(LineReader, FailingSourceIsAReadErrorNotAnEnd) {
  for (const std::size_t piece : {std::size_t{3}, std::size_t{8}, std::size_t{1} << 20}) {
    FailingSource source("one\ntwo\n", piece);
    LineReader reader(source, "dir/l1.txt", 8192);
    EXPECT_TRUE(reader.tryReadLine());
    EXPECT_TRUE(reader.tryReadLine());
    try {
      reader.tryReadLine();
      FAIL() << "no error";
    } catch (const Error& error) {
      EXPECT_STREQ(error.what(), "Read error of file dir/l1.txt, near line 2");
    }
  }
}

#if defined(__linux__)
// A directory opens as a file but cannot be read (EISDIR): a failure, through a stream and
// through its descriptor alike, not an empty file.
TEST(FileSource, DirectoryCannotBeRead) {
  const std::string directory = std::filesystem::temp_directory_path().string();
  std::FILE* stream = std::fopen(directory.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  FileSource source(stream);
  char buffer[64];
  EXPECT_THROW(source.read(buffer, sizeof buffer), std::system_error);
  LineReader reader(source, "tmp");
  try {
    reader.next();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Read error of file tmp, near line 0");
  }
  std::fclose(stream);

  const int descriptor = open(directory.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(descriptor, 0);
  EXPECT_THROW(readAt(descriptor, buffer, sizeof buffer, 0), std::system_error);
  close(descriptor);
}
#endif

}  // namespace
}  // namespace qrvdiff
