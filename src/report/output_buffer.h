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

// Gathers output into large blocks, so that the sink sees one write per block rather than one per
// line. With `inBackground`, a second thread hands the full blocks to the sink while the next
// block is being filled. After the first failed write nothing more is written; failed() tells.
class OutputBuffer {
 public:
  explicit OutputBuffer(ByteSink& sink, std::size_t capacity = 1 << 20, bool inBackground = false);
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
  // From now on full blocks go to the sink on a thread of their own while the next is filled
  // (`on`), or in the caller's thread again, once the blocks handed on have been written. After
  // a failed write it stays in the caller's thread.
  void writeInBackground(bool on);
  bool failed() const;

 private:
  class BackgroundWriter;

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
  std::uint64_t handedBytes_ = 0;             // of the output, passed on to be written
  std::unique_ptr<BackgroundWriter> writer_;  // none when writing in the caller's thread
};

}  // namespace qrvdiff
