#include "report/output_buffer.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "listing/system_memory.h"

namespace qrvdiff {

FileSink::FileSink(std::FILE* file) : file_(file) {
  // The output is gathered in large blocks already; stdio buffering would only add a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

bool FileSink::write(const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, file_) == size;
}

namespace {

// Blocks go to the sink in pieces of at most this size: the system copies large writes into a
// file far more slowly than pieces that stay in the processor's caches.
constexpr std::size_t kLargestWrite = 256 << 10;

bool writeInPieces(ByteSink& sink, const char* data, std::size_t size) {
  while (size != 0) {
    const std::size_t piece = std::min(size, kLargestWrite);
    if (!sink.write(data, piece)) return false;
    data += piece;
    size -= piece;
  }
  return true;
}

}  // namespace

// Writes one block at a time on its own thread.
class OutputBuffer::BackgroundWriter {
 public:
  explicit BackgroundWriter(ByteSink& sink) : sink_(sink), thread_([this] { run(); }) {}

  ~BackgroundWriter() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Waits until the previous block is written, then queues this one.
  void submit(const char* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == nullptr; });
    pending_ = data;
    pendingSize_ = size;
    changed_.notify_all();
  }

  void waitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == nullptr; });
  }

  bool failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return pending_ != nullptr || stopping_; });
      if (pending_ == nullptr) return;
      const char* data = pending_;
      const std::size_t size = pendingSize_;
      const bool skip = failed_;
      lock.unlock();
      const bool written = skip || writeInPieces(sink_, data, size);
      lock.lock();
      if (!written) failed_ = true;
      pending_ = nullptr;
      changed_.notify_all();
    }
  }

  ByteSink& sink_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const char* pending_ = nullptr;
  std::size_t pendingSize_ = 0;
  bool failed_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts running once everything above is ready
};

OutputBuffer::OutputBuffer(ByteSink& sink, std::size_t capacity, bool inBackground)
    : sink_(sink), capacity_(capacity) {
  const auto newBlock = [capacity] {
    return Block(static_cast<char*>(allocateLargeBlock(capacity)), BlockDeleter{capacity});
  };
  blocks_[0] = newBlock();
  if (inBackground) {
    blocks_[1] = newBlock();
    writer_ = std::make_unique<BackgroundWriter>(sink);
  }
  cursor_ = blocks_[0].get();
  end_ = cursor_ + capacity;
}

OutputBuffer::~OutputBuffer() = default;

void OutputBuffer::BlockDeleter::operator()(char* block) const noexcept {
  freeLargeBlock(block, size);
}

void OutputBuffer::handOff() {
  char* block = blocks_[current_].get();
  const std::size_t size = static_cast<std::size_t>(cursor_ - block);
  if (size != 0) {
    if (writer_) {
      writer_->submit(block, size);
      current_ ^= 1;  // the other block is free once submit has returned
    } else if (!failed_ && !writeInPieces(sink_, block, size)) {
      failed_ = true;
    }
  }
  cursor_ = blocks_[current_].get();
  end_ = cursor_ + capacity_;
}

void OutputBuffer::flush() {
  handOff();
  if (writer_) writer_->waitUntilIdle();
}

bool OutputBuffer::failed() const {
  return failed_ || (writer_ && writer_->failed());
}

void OutputBuffer::appendSlow(const char* data, std::size_t size) {
  while (size != 0) {
    if (cursor_ == end_) handOff();
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
