#include "report/output_buffer.h"

#include <charconv>

namespace qrvdiff {

FileSink::FileSink(std::FILE* file) : file_(file) {
  // The output is gathered in large blocks already; stdio buffering would only add a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

bool FileSink::write(const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, file_) == size;
}

OutputBuffer::OutputBuffer(ByteSink& sink, std::size_t capacity)
    : sink_(sink), buffer_(std::make_unique_for_overwrite<char[]>(capacity)) {
  cursor_ = buffer_.get();
  end_ = cursor_ + capacity;
}

void OutputBuffer::flush() {
  const std::size_t size = static_cast<std::size_t>(cursor_ - buffer_.get());
  cursor_ = buffer_.get();
  if (size == 0 || failed_) return;
  if (!sink_.write(buffer_.get(), size)) failed_ = true;
}

void OutputBuffer::appendSlow(const char* data, std::size_t size) {
  flush();
  const std::size_t capacity = static_cast<std::size_t>(end_ - buffer_.get());
  if (size >= capacity / 2) {
    if (!failed_ && !sink_.write(data, size)) failed_ = true;
    return;
  }
  std::char_traits<char>::copy(cursor_, data, size);
  cursor_ += size;
}

void OutputBuffer::appendInt(std::int64_t value, int minimumWidth) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const int length = static_cast<int>(result.ptr - digits);
  for (int i = length; i < minimumWidth; ++i) append(' ');
  append(digits, static_cast<std::size_t>(length));
}

void OutputBuffer::appendUnsigned(std::uint64_t value, int minimumWidth) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const int length = static_cast<int>(result.ptr - digits);
  for (int i = length; i < minimumWidth; ++i) append(' ');
  append(digits, static_cast<std::size_t>(length));
}

}  // namespace qrvdiff
