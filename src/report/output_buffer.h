#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace qrvdiff {

// Where the compared listing goes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all bytes; false when that failed.
  virtual bool write(const char* data, std::size_t size) = 0;
};

// Writes to an open stream; the stream stays owned by the caller.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::FILE* file);
  bool write(const char* data, std::size_t size) override;

 private:
  std::FILE* file_;
};

// Writes `size` bytes that begin at byte `offset` of the output to the sink, in the pieces an
// output is written in (see the source); false when a write failed.
bool writeBlock(ByteSink& sink, const char* data, std::size_t size, std::uint64_t offset);

// Takes the full blocks of an OutputBuffer off its hands and writes them with writeBlock, while
// the buffer fills the next.
class BlockWriter {
 public:
  virtual ~BlockWriter() = default;
  // Waits until the block taken before is written, then takes this one. Its bytes stay as they
  // are until the next call of submit() or waitUntilWritten() returns.
  virtual void submit(ByteSink& sink, const char* data, std::size_t size, std::uint64_t offset) = 0;
  // Returns once every block taken is written.
  virtual void waitUntilWritten() = 0;
  // A write failed; the blocks taken after it are not written.
  virtual bool failed() const = 0;
};

// Gathers output into large blocks, so that the sink sees one write per block rather than one per
// line. With a BlockWriter, the full blocks go to it while the next block is being filled. After
// the first failed write nothing more is written; failed() tells.
class OutputBuffer {
 public:
  explicit OutputBuffer(ByteSink& sink, std::size_t capacity = 1 << 20,
                        BlockWriter* writer = nullptr);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  void append(std::string_view text) { append(text.data(), text.size()); }
  void append(const char* data, std::size_t size) {
    if (size <= static_cast<std::size_t>(end_ - cursor_)) {
      std::char_traits<char>::copy(cursor_, data, size);
      cursor_ += size;
    } else {
      appendSlow(data, size);
    }
  }
  void append(char c) {
    if (cursor_ == end_) handOff(false);
    *cursor_++ = c;
  }
  // Room for `size` bytes in one piece at the end of the output, to be filled and then passed to
  // commit(); nullptr when a block cannot hold that many.
  char* reserve(std::size_t size) {
    if (size > static_cast<std::size_t>(end_ - cursor_)) {
      if (size > capacity_) return nullptr;
      handOff(false);
      if (size > static_cast<std::size_t>(end_ - cursor_)) handOff(true);
    }
    return cursor_;
  }
  void commit(std::size_t size) { cursor_ += size; }

  // printf's "%i" and "%3i" (minimumWidth 3).
  void appendInt(std::int64_t value, int minimumWidth = 0);
  void appendUnsigned(std::uint64_t value, int minimumWidth = 0);

  // Hands everything gathered so far to the sink and waits until it has been written.
  void flush();
  // From now on full blocks go to `writer`, or are written by the caller when it is null, once
  // the blocks handed to the writer before have been written. After a failed write they are
  // never handed to a writer. The writer must outlive its use by the buffer.
  void writeThrough(BlockWriter* writer);
  bool failed() const;

 private:
  void appendSlow(const char* data, std::size_t size);
  // Passes the filled part of the current block on and starts another. Unless `whole`, the bytes
  // after the last multiple of the largest write in the output may stay, moved to the start of
  // the new block (see handOff in the source).
  void handOff(bool whole);

  ByteSink& sink_;
  std::size_t capacity_;
  // Taken from allocateLargeBlock: large blocks then come in few pages, each faulted in once.
  struct BlockDeleter {
    std::size_t size;
    void operator()(char* block) const noexcept;
  };
  using Block = std::unique_ptr<char[], BlockDeleter>;
  Block blocks_[2];
  int current_ = 0;
  char* cursor_;
  char* end_;
  bool failed_ = false;
  std::uint64_t handedBytes_ = 0;  // of the output, passed on to be written
  BlockWriter* writer_ = nullptr;  // none when the caller writes
};

}  // namespace qrvdiff
