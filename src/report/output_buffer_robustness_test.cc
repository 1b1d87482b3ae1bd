// The output buffer passes every byte on, in order, whatever its capacity, the sizes of the pieces
// appended and the thread that writes; after the first failed write it writes nothing more.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "report/output_buffer.h"
#include "support/background_writing.h"

namespace qrvdiff {
namespace {

class RecordingSink final : public ByteSink {
 public:
  explicit RecordingSink(std::size_t failingWrite = std::numeric_limits<std::size_t>::max())
      : failingWrite_(failingWrite) {}

  bool write(const char* data, std::size_t size) override {
    ++writes;
    if (writes == failingWrite_) return false;
    if (writes > failingWrite_) ++writesAfterFailure;
    bytes.append(data, size);
    return true;
  }

  std::string bytes;
  std::size_t writes = 0;
  std::size_t writesAfterFailure = 0;

 private:
  std::size_t failingWrite_;
};

// Notes the size of every write before passing it on.
class SizeRecorder final : public ByteSink {
 public:
  SizeRecorder(ByteSink& inner, std::vector<std::size_t>& sizes) : inner_(inner), sizes_(sizes) {}
  bool write(const char* data, std::size_t size) override {
    sizes_.push_back(size);
    return inner_.write(data, size);
  }

 private:
  ByteSink& inner_;
  std::vector<std::size_t>& sizes_;
};

// A fixed mix of every kind of append: pieces from empty to larger than most capacities, single
// characters and numbers with and without a minimum width. Returns the bytes they stand for.
std::string appendMix(OutputBuffer& out) {
  std::string expected;
  std::uint64_t state = 12345;
  const auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  constexpr std::int64_t kSigned[] = {0,
                                      5,
                                      -5,
                                      42,
                                      100,
                                      -1000,
                                      2147483647,
                                      -2147483647 - 1,
                                      std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max()};
  constexpr std::uint64_t kUnsigned[] = {
      0, 7, 99, 100, 140, 4294967295ULL, std::numeric_limits<std::uint64_t>::max()};
  for (int step = 0; step < 300; ++step) {
    switch (next() % 5) {
      case 0:
      case 1: {
        std::string piece(next() % (next() % 16 == 0 ? 5000 : 90), 'a');
        for (char& c : piece) c = static_cast<char>('a' + next() % 26);
        out.append(piece);
        expected += piece;
        break;
      }
      case 2: {
        const char c = static_cast<char>(next() % 2 == 0 ? '\n' : 'A' + next() % 26);
        out.append(c);
        expected += c;
        break;
      }
      case 3: {
        const std::int64_t value = kSigned[next() % std::size(kSigned)];
        const int width = static_cast<int>(next() % 5);
        out.appendInt(value, width);
        char text[32];
        std::snprintf(text, sizeof text, "%*" PRId64, width, value);
        expected += text;
        break;
      }
      default: {
        const std::uint64_t value = kUnsigned[next() % std::size(kUnsigned)];
        const int width = static_cast<int>(next() % 5);
        out.appendUnsigned(value, width);
        char text[32];
        std::snprintf(text, sizeof text, "%*" PRIu64, width, value);
        expected += text;
        break;
      }
    }
  }
  return expected;
}

constexpr std::size_t kCapacities[] = {1, 2, 3, 7, 64, 4096, 1 << 20};

TEST(OutputBufferRobustness, PassesEveryByteOnInOrder) {
  for (const bool inBackground : {false, true}) {
    for (const std::size_t capacity : kCapacities) {
      RecordingSink sink;
      std::string expected;
      {
        testing::OptionalBackgroundWriter writer(inBackground);
        OutputBuffer out(sink, capacity, writer.get());
        expected = appendMix(out);
        out.flush();
        EXPECT_FALSE(out.failed());
        EXPECT_EQ(sink.bytes, expected)
            << "capacity " << capacity << ", background " << inBackground;
        // More after a flush goes on behind it.
        out.append("tail");
        out.flush();
      }
      EXPECT_EQ(sink.bytes, expected + "tail") << "capacity " << capacity;
    }
  }
}

// Writing may move to a thread of its own and back at any point: the bytes stay in order, the
// large pieces stay aligned, and nothing is written after a failed write.
TEST(OutputBufferRobustness, WritingMovesToItsOwnThreadAndBackInOrder) {
  constexpr std::size_t kPiece = 256 << 10;
  for (const std::size_t failingWrite : {std::size_t{3}, std::size_t{7}, ~std::size_t{0}}) {
    for (const bool startInBackground : {false, true}) {
      RecordingSink sink(failingWrite);
      std::vector<std::size_t> writeSizes;
      SizeRecorder recorder(sink, writeSizes);
      std::string expected;
      bool failed = false;
      {
        BackgroundWriter writer;
        OutputBuffer out(recorder, 4 * kPiece, startInBackground ? &writer : nullptr);
        for (int step = 0; step < 120; ++step) {
          if (step % 9 == 0) out.writeThrough(step % 2 == 0 ? &writer : nullptr);
          const std::string piece(static_cast<std::size_t>(step) * 7919 % (kPiece + 1000),
                                  static_cast<char>('a' + step % 26));
          if (step % 2 == 0) {
            out.append(piece);
          } else {
            char* room = out.reserve(piece.size());
            ASSERT_NE(room, nullptr);
            std::memcpy(room, piece.data(), piece.size());
            out.commit(piece.size());
          }
          expected += piece;
        }
        out.flush();
        failed = out.failed();
      }
      const std::string context = "failing write " + std::to_string(failingWrite) +
                                  ", starting in background " + std::to_string(startInBackground);
      EXPECT_EQ(sink.writesAfterFailure, 0u) << context;
      EXPECT_EQ(failed, sink.writes >= failingWrite) << context;
      if (failed) {
        EXPECT_EQ(expected.compare(0, sink.bytes.size(), sink.bytes), 0) << context;
        continue;
      }
      EXPECT_EQ(sink.bytes, expected) << context;
      std::uint64_t offset = 0;
      for (std::size_t i = 0; i + 1 < writeSizes.size(); ++i) {
        offset += writeSizes[i];
        EXPECT_EQ(offset % kPiece, 0u) << "write " << i << ", " << context;
      }
    }
  }
}

TEST(OutputBufferRobustness, WritesNothingAfterTheFirstFailedWrite) {
  for (const bool inBackground : {false, true}) {
    for (const std::size_t capacity : kCapacities) {
      for (const std::size_t failingWrite : {1, 2, 5}) {
        RecordingSink sink(failingWrite);
        std::string expected;
        bool failed = false;
        {
          testing::OptionalBackgroundWriter writer(inBackground);
          OutputBuffer out(sink, capacity, writer.get());
          expected = appendMix(out);
          out.flush();
          out.append("more");
          expected += "more";
          out.flush();
          failed = out.failed();
        }
        const std::string context = "capacity " + std::to_string(capacity) + ", failing write " +
                                    std::to_string(failingWrite) + ", background " +
                                    std::to_string(inBackground);
        EXPECT_EQ(failed, sink.writes >= failingWrite) << context;
        EXPECT_EQ(sink.writesAfterFailure, 0u) << context;
        // What reached the sink is the beginning of the output.
        EXPECT_EQ(expected.compare(0, sink.bytes.size(), sink.bytes), 0) << context;
      }
    }
  }
}

// Large blocks go out in writes that end at multiples of 256 KiB of the output, also when
// reserve() hands a block on before it is full, in the caller's thread or in the background.
TEST(OutputBufferRobustness, LargeBlocksWriteWholeAlignedPieces) {
  constexpr std::size_t kPiece = 256 << 10;
  for (const bool inBackground : {false, true}) {
    RecordingSink sink;
    std::vector<std::size_t> writeSizes;
    SizeRecorder recorder(sink, writeSizes);
    std::string expected;
    {
      testing::OptionalBackgroundWriter writer(inBackground);
      OutputBuffer out(recorder, 4 * kPiece, writer.get());
      std::uint64_t state = 99;
      for (int step = 0; step < 400; ++step) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const std::size_t size = (state >> 33) % (3 * kPiece / 2);
        const char fill = static_cast<char>('a' + step % 26);
        if (step % 3 == 0) {
          out.append(std::string(size % 5000, fill));
          expected.append(size % 5000, fill);
        } else {
          char* room = out.reserve(size);
          ASSERT_NE(room, nullptr);
          std::memset(room, fill, size);
          out.commit(size);
          expected.append(size, fill);
        }
      }
      out.flush();
      EXPECT_FALSE(out.failed());
    }
    EXPECT_EQ(sink.bytes, expected) << "background " << inBackground;
    ASSERT_FALSE(writeSizes.empty());
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i + 1 < writeSizes.size(); ++i) {
      offset += writeSizes[i];
      EXPECT_EQ(offset % kPiece, 0u) << "write " << i << ", background " << inBackground;
    }
    // Nothing but the aligned pieces and the last one: no write smaller than needed.
    EXPECT_LE(writeSizes.size(), expected.size() / kPiece + 1);
  }
}

}  // namespace
}  // namespace qrvdiff
