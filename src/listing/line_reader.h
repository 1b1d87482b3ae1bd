#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/platform.h"
#include "listing/line_feed_scanner.h"

namespace qrvdiff {

// Where the bytes of a listing come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `capacity` bytes; 0 means end of input. Throws std::system_error when the input
  // cannot be read.
  virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
};

// Reads an open file; the file stays owned by the caller.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::FILE* file);
  std::size_t read(char* buffer, std::size_t capacity) override;

 private:
  std::FILE* file_;
};

// Reads a block of memory, for tests and fuzzing.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read(char* buffer, std::size_t capacity) override;

 private:
  std::string_view bytes_;
};

// Told by a LineReader before it refills its block, after which the lines read so far are gone.
class RefillListener {
 public:
  virtual void beforeRefill() = 0;

 protected:
  ~RefillListener() = default;
};

// Splits a listing into lines, strictly front to back. A line is the text before a line feed,
// without a carriage return that directly precedes the line feed; it may hold at most
// kMaxLineLength characters and no NUL byte. The input is read in large blocks.
class LineReader {
 public:
  static constexpr std::size_t kMaxLineLength = 4095;

  enum class Result { Line, End, Malformed };

  // Reads `source` in blocks; a line stays valid until the next call of next().
  LineReader(ByteSource& source, std::string path, std::size_t blockSize = 1 << 20);
  // Reads input that is whole in memory and outlives the reader; every line stays valid.
  LineReader(std::string_view wholeInput, std::string path);

  // The next line. `Line`: line() holds it. `End`: nothing more could be read; the line number is
  // unchanged. `Malformed`: a line without its line feed, too long, or holding a NUL byte; the line
  // number counts it. After `Malformed` every further call returns `End`.
  Result next() {
    // The common case, inline: a whole line, without NUL byte, in the data at hand.
    if (!stopped_) {
      if (const char* lineFeed = servedLine(lineFeeds_, begin_, line_)) {
        begin_ = lineFeed + 1;
        ++lineNumber_;
        return Result::Line;
      }
    }
    return nextSlow();
  }

  // Reads lines as next() does for as long as the data at hand serves them, handing each line
  // that is not empty to `take(line, lineFeed)`, with the line feed that ends it. True when it
  // stopped after reading an empty line, which is then the current line; false when the next
  // line needs more than the data at hand offers (next() then reads it; the current line is the
  // last one handed over). The lines of a function section come this way without a call per
  // line, with the reader's state kept in registers.
  template <typename Take>
  bool readUntilEmptyLine(Take&& take) {
    if (stopped_) return false;
    LineFeedScanner<true> lineFeeds = lineFeeds_;
    const char* begin = begin_;
    std::uint32_t lineNumber = lineNumber_;
    std::string_view line = line_;
    bool foundEmpty = false;
    for (;;) {
      const char* lineFeed = servedLine(lineFeeds, begin, line);
      if (lineFeed == nullptr) break;
      begin = lineFeed + 1;
      ++lineNumber;
      if (line.empty()) {
        foundEmpty = true;
        break;
      }
      take(line, lineFeed);
    }
    line_ = line;
    begin_ = begin;
    lineNumber_ = lineNumber;
    if (foundEmpty) {
      lineFeeds_ = lineFeeds;
    } else {
      lineFeeds_.reset(begin_, end_);  // next() looks at the line not served again, from its start
    }
    return foundEmpty;
  }

  // next(), ending the run with "Read error of file %s, near line %i" unless a line was read.
  // Every call that needs more input ends the run with that message, for the line last read, when
  // the source cannot be read: a failure of the system is no end of the listing.
  void readLine() {
    if (next() != Result::Line) throwReadError();
  }
  // next(); true when a line was read.
  bool tryReadLine() { return next() == Result::Line; }

  std::string_view line() const { return line_; }
  // Just past the line feed of the line last read.
  const char* afterLine() const { return begin_; }
  // The end of the input at hand in memory, which the line last read lies in front of.
  const char* dataEnd() const { return end_; }
  // Where in the input the line last read begins, and where the next one begins, in bytes.
  std::uint64_t lineOffset() const { return offsetOf(line_.data()); }
  std::uint64_t offsetAfterLine() const { return offsetOf(begin_); }
  std::uint32_t lineNumber() const { return lineNumber_; }
  const std::string& path() const { return path_; }
  // True when every line read stays valid as long as the input does.
  bool linesAreStable() const { return source_ == nullptr; }
  // Lines stay valid until the next call of next() that refills the block; `listener` (or none)
  // hears of it before, and may still use them then.
  void setRefillListener(RefillListener* listener) { refillListener_ = listener; }

 private:
  // The longest stretch that can hold a line: its characters, a carriage return and the line feed.
  static constexpr std::size_t kLongestLineBytes = kMaxLineLength + 2;
  // Where in the buffer reads are put: room in front for the part of a line left from the read
  // before, which is shorter than the longest line.
  static constexpr std::size_t kReadPlace = 8192;

  // The line that begins at `begin`, into `line`, and the line feed that ends it, when the data
  // at hand holds it whole, without NUL byte and not too long; else nullptr, and `line` stays
  // as it was (nextSlow() then reads it).
  static const char* servedLine(LineFeedScanner<true>& lineFeeds, const char* begin,
                                std::string_view& line) {
    const char* lineFeed = lineFeeds.next();
    if (lineFeed == nullptr || lineFeeds.nulBefore(lineFeed)) return nullptr;
    std::size_t length = static_cast<std::size_t>(lineFeed - begin);
    if (length != 0 && begin[length - 1] == '\r') --length;
    if (length > kMaxLineLength) return nullptr;
    line = std::string_view(begin, length);
    return lineFeed;
  }
  std::uint64_t offsetOf(const char* position) const {
    return originOffset_ + static_cast<std::uint64_t>(position - origin_);
  }
  Result nextSlow();
  bool refill();
  [[noreturn]] void throwReadError() const;

  ByteSource* source_;  // none when the whole input is in memory
  std::string path_;
  ByteBlock buffer_;  // large blocks come in few pages
  std::size_t capacity_ = 0;
  const char* origin_;  // the data at hand starts here, at input offset originOffset_
  std::uint64_t originOffset_ = 0;
  const char* begin_;  // unread data is [begin_, end_)
  const char* end_;
  // Positioned at begin_ while lines are read on the common path; watches for NUL bytes.
  LineFeedScanner<true> lineFeeds_;
  RefillListener* refillListener_ = nullptr;
  bool sourceEnded_ = false;
  bool stopped_ = false;
  std::string_view line_;
  std::uint32_t lineNumber_ = 0;
};

}  // namespace qrvdiff
