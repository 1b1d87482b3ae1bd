#include "listing/line_reader.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "base/error.h"

namespace qrvdiff {

FileSource::FileSource(std::FILE* file) : file_(file) {
  // Reads go straight into the reader's block; a stdio buffer would only add a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

std::size_t FileSource::read(char* buffer, std::size_t capacity) {
  const std::size_t count = std::fread(buffer, 1, capacity, file_);
  // Bytes read before a failure are served first; the failure shows again on the next read.
  if (count == 0 && std::ferror(file_)) {
    throw std::system_error(std::make_error_code(std::errc::io_error));
  }
  return count;
}

std::size_t MemorySource::read(char* buffer, std::size_t capacity) {
  const std::size_t count = std::min(capacity, bytes_.size());
  if (count != 0) std::memcpy(buffer, bytes_.data(), count);
  bytes_.remove_prefix(count);
  return count;
}

LineReader::LineReader(ByteSource& source, std::string path, std::size_t blockSize)
    : source_(&source),
      path_(std::move(path)),
      capacity_(std::max(blockSize, 2 * kLongestLineBytes)) {
  buffer_ = ByteBlock(kReadPlace + capacity_);
  origin_ = begin_ = end_ = buffer_.data() + kReadPlace;
}

LineReader::LineReader(std::string_view wholeInput, std::string path)
    : source_(nullptr),
      path_(std::move(path)),
      origin_(wholeInput.data()),
      begin_(wholeInput.data()),
      end_(wholeInput.data() + wholeInput.size()),
      sourceEnded_(true) {
  lineFeeds_.reset(begin_, end_);
}

bool LineReader::refill() {
  if (sourceEnded_) return false;
  if (refillListener_ != nullptr) refillListener_->beforeRefill();
  // The unread rest, a part of a line, goes just in front of the place each read fills, so
  // that every read lands on the same page-aligned place and asks for the same number of bytes
  // (a file read from its start then in whole pages): the system copies that faster.
  const std::size_t pending = static_cast<std::size_t>(end_ - begin_);
  originOffset_ = offsetOf(begin_);
  char* const readPlace = buffer_.data() + kReadPlace;
  char* const pendingPlace = pending <= kReadPlace ? readPlace - pending : buffer_.data();
  if (pending != 0 && begin_ != pendingPlace) std::memmove(pendingPlace, begin_, pending);
  origin_ = begin_ = pendingPlace;
  end_ = begin_ + pending;
  std::size_t count = 0;
  try {
    count = source_->read(pendingPlace + pending,
                          pending <= kReadPlace ? capacity_ : kReadPlace + capacity_ - pending);
  } catch (const std::system_error&) {
    throwReadError();
  }
  end_ += count;
  if (count == 0) sourceEnded_ = true;
  return count != 0;
}

LineReader::Result LineReader::nextSlow() {
  if (stopped_) return Result::End;
  for (;;) {
    const std::size_t available = static_cast<std::size_t>(end_ - begin_);
    const std::size_t window = std::min(available, kLongestLineBytes);
    const char* lineFeed = static_cast<const char*>(std::memchr(begin_, '\n', window));
    if (lineFeed != nullptr) {
      const char* start = begin_;
      std::size_t length = static_cast<std::size_t>(lineFeed - start);
      begin_ = lineFeed + 1;
      ++lineNumber_;
      if (length != 0 && start[length - 1] == '\r') --length;
      if (length > kMaxLineLength || std::memchr(start, '\0', length) != nullptr) {
        stopped_ = true;
        return Result::Malformed;
      }
      line_ = std::string_view(start, length);
      lineFeeds_.reset(begin_, end_);  // the common path may have searched past this line
      return Result::Line;
    }
    if (available >= kLongestLineBytes || !refill()) {
      if (available == 0) {
        stopped_ = true;
        return Result::End;
      }
      ++lineNumber_;  // a line without its line feed, or one too long to be read
      stopped_ = true;
      return Result::Malformed;
    }
  }
}

void LineReader::throwReadError() const {
  throw Error("Read error of file " + path_ + ", near line " + std::to_string(lineNumber_));
}

}  // namespace qrvdiff
