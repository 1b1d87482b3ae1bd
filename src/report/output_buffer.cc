#include "report/output_buffer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/platform.h"

namespace qrvdiff {

FileSink::FileSink(std::FILE* file) : file_(file) {
  // The output is gathered in large blocks already; stdio buffering would only add a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

bool FileSink::write(const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, file_) == size;
}

namespace {

// Blocks go to the sink in pieces of at most this size, which stay in the processor's caches
// while the system copies them into the file. Pieces end where the output reaches a multiple of
// this size: a file then takes each write in whole large pages of its cache, rather than writes
// that straddle them.
constexpr std::size_t kLargestWrite = 256 << 10;

}  // namespace

bool writeBlock(ByteSink& sink, const char* data, std::size_t size, std::uint64_t offset) {
  while (size != 0) {
    const std::size_t toBoundary = kLargestWrite - static_cast<std::size_t>(offset % kLargestWrite);
    const std::size_t piece = std::min(size, toBoundary);
    if (!sink.write(data, piece)) return false;
    data += piece;
    size -= piece;
    offset += piece;
  }
  return true;
}

OutputBuffer::OutputBuffer(ByteSink& sink, std::size_t capacity, BlockWriter* writer)
    : sink_(sink), capacity_(capacity) {
  blocks_[0] = Block(static_cast<char*>(allocateLargeBlock(capacity)), BlockDeleter{capacity});
  writeThrough(writer);
  cursor_ = blocks_[0].get();
  end_ = cursor_ + capacity;
}

OutputBuffer::~OutputBuffer() {
  // The writer may still be reading a block.
  if (writer_ != nullptr) writer_->waitUntilWritten();
}

void OutputBuffer::BlockDeleter::operator()(char* block) const noexcept {
  freeLargeBlock(block, size);
}

void OutputBuffer::handOff(bool whole) {
  char* block = blocks_[current_].get();
  const std::size_t size = static_cast<std::size_t>(cursor_ - block);
  // A block that is handed off before it is full (reserve() needs more room) would leave the
  // output off the boundaries of the largest write for good; instead, what follows the last
  // boundary waits in the next block. Small blocks hand everything on: they would be left with
  // too little room.
  const std::size_t kept = whole || capacity_ < 2 * kLargestWrite
                               ? 0
                               : static_cast<std::size_t>((handedBytes_ + size) % kLargestWrite);
  const std::size_t handed = size - kept;
  if (handed != 0) {
    if (writer_) {
      writer_->submit(sink_, block, handed, handedBytes_);
      current_ ^= 1;  // the other block is free once submit has returned
    } else if (!failed_ && !writeBlock(sink_, block, handed, handedBytes_)) {
      failed_ = true;
    }
    handedBytes_ += handed;
  }
  cursor_ = blocks_[current_].get();
  end_ = cursor_ + capacity_;
  if (kept != 0) {
    // The background writer reads only the bytes handed to it, before these.
    std::memmove(cursor_, block + handed, kept);
    cursor_ += kept;
  }
}

void OutputBuffer::writeThrough(BlockWriter* writer) {
  if (writer == writer_) return;
  if (writer_ != nullptr) {
    writer_->waitUntilWritten();
    if (writer_->failed()) failed_ = true;
    writer_ = nullptr;
  }
  if (writer == nullptr || failed_) return;
  // The writer reads one block while the next is filled.
  if (!blocks_[1]) {
    blocks_[1] = Block(static_cast<char*>(allocateLargeBlock(capacity_)), BlockDeleter{capacity_});
  }
  writer_ = writer;
}

void OutputBuffer::flush() {
  handOff(true);
  if (writer_ != nullptr) writer_->waitUntilWritten();
}

bool OutputBuffer::failed() const {
  return failed_ || (writer_ != nullptr && writer_->failed());
}

void OutputBuffer::appendSlow(const char* data, std::size_t size) {
  while (size != 0) {
    if (cursor_ == end_) handOff(false);
    const std::size_t part = std::min(size, static_cast<std::size_t>(end_ - cursor_));
    std::char_traits<char>::copy(cursor_, data, part);
    cursor_ += part;
    data += part;
    size -= part;
  }
}

namespace {

// printf's "%*i" / "%*u": the decimal digits, right-aligned in at least `minimumWidth`.
template <typename Integer>
void appendNumber(OutputBuffer& out, Integer value, int minimumWidth) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const int length = static_cast<int>(result.ptr - digits);
  for (int i = length; i < minimumWidth; ++i) out.append(' ');
  out.append(digits, static_cast<std::size_t>(length));
}

}  // namespace

void OutputBuffer::appendInt(std::int64_t value, int minimumWidth) {
  appendNumber(*this, value, minimumWidth);
}

void OutputBuffer::appendUnsigned(std::uint64_t value, int minimumWidth) {
  appendNumber(*this, value, minimumWidth);
}

}  // namespace qrvdiff
