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

// Gathers output into large blocks, so that the stream sees one write per block rather than one
// per line. After the first failed write nothing more is written; failed() tells.
class OutputBuffer {
 public:
  explicit OutputBuffer(ByteSink& sink, std::size_t capacity = 1 << 20);
  ~OutputBuffer() = default;
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
    if (cursor_ == end_) flush();
    *cursor_++ = c;
  }
  // printf's "%i" and "%3i" (minimumWidth 3).
  void appendInt(std::int64_t value, int minimumWidth = 0);
  void appendUnsigned(std::uint64_t value, int minimumWidth = 0);

  // Hands everything gathered so far to the sink.
  void flush();
  bool failed() const { return failed_; }

 private:
  void appendSlow(const char* data, std::size_t size);

  ByteSink& sink_;
  std::unique_ptr<char[]> buffer_;
  char* cursor_;
  char* end_;
  bool failed_ = false;
};

}  // namespace qrvdiff
