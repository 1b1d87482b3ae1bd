#include "report/compared_output.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>

#include "compare/tallies.h"
#include "listing/section_loader.h"
#include "report/writer.h"

namespace qrvdiff {

namespace {

// The block of a copy formatter: small, as a copy takes what it gathers in pieces anyway.
constexpr std::size_t kCopyBlockSize = 64 << 10;

}  // namespace

BackgroundWriter::BackgroundWriter() : thread_([this] { run(); }) {}

BackgroundWriter::~BackgroundWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundWriter::submit(ByteSink& sink, const char* data, std::size_t size,
                              std::uint64_t offset) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_ == nullptr; });
  sink_ = &sink;
  pending_ = data;
  pendingSize_ = size;
  pendingOffset_ = offset;
  changed_.notify_all();
}

void BackgroundWriter::waitUntilWritten() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_ == nullptr; });
}

bool BackgroundWriter::failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

void BackgroundWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ != nullptr || stopping_; });
    if (pending_ == nullptr) return;
    ByteSink& sink = *sink_;
    const char* data = pending_;
    const std::size_t size = pendingSize_;
    const std::uint64_t offset = pendingOffset_;
    const bool skip = failed_;
    lock.unlock();
    const bool written = skip || writeBlock(sink, data, size, offset);
    lock.lock();
    if (!written) failed_ = true;
    pending_ = nullptr;
    changed_.notify_all();
  }
}

// Gathers bytes in pieces taken from the owner's store.
class ComparedOutput::CopyTarget final : public ByteSink {
 public:
  explicit CopyTarget(ComparedOutput& owner) : owner_(owner) {}
  void setCopy(SectionCopy* copy) { copy_ = copy; }
  bool write(const char* data, std::size_t size) override {
    while (size != 0) {
      if (copy_->pieces.empty() || copy_->lastSize == kPieceSize) {
        copy_->pieces.push_back(owner_.takePiece());
        copy_->lastSize = 0;
      }
      const std::size_t part = std::min(size, kPieceSize - copy_->lastSize);
      std::memcpy(copy_->pieces.back() + copy_->lastSize, data, part);
      copy_->lastSize += part;
      data += part;
      size -= part;
    }
    return true;
  }

 private:
  ComparedOutput& owner_;
  SectionCopy* copy_ = nullptr;
};

struct ComparedOutput::CopyFormatter {
  explicit CopyFormatter(ComparedOutput& owner) : target(owner), out(target, kCopyBlockSize) {}
  CopyTarget target;
  OutputBuffer out;
};

ComparedOutput::ComparedOutput(ProfileListing& second, OutputBuffer& out,
                               std::size_t mostWaitingBytes)
    : second_(second), out_(out), mostWaitingBytes_(mostWaitingBytes) {}

ComparedOutput::~ComparedOutput() = default;

char* ComparedOutput::takePiece() {
  std::lock_guard lock(mutex_);
  if (freePieces_.empty()) {
    // A whole huge page at a time, shared out in pieces.
    const ByteBlock& memory = pieceMemory_.emplace_back(std::size_t{2} << 20);
    for (std::size_t offset = 0; offset + kPieceSize <= memory.size(); offset += kPieceSize) {
      freePieces_.push_back(memory.data() + offset);
    }
  }
  char* piece = freePieces_.back();
  freePieces_.pop_back();
  return piece;
}

void ComparedOutput::writeCopy(SectionCopy& copy) {
  for (std::size_t i = 0; i < copy.pieces.size(); ++i) {
    out_.append(copy.pieces[i], i + 1 == copy.pieces.size() ? copy.lastSize : kPieceSize);
  }
  std::lock_guard lock(mutex_);
  freePieces_.insert(freePieces_.end(), copy.pieces.begin(), copy.pieces.end());
  copy.pieces.clear();
}

void ComparedOutput::filePaired(std::size_t fileIndex, SectionTexts& texts,
                                bool mayWaitForEarlierFiles) {
  MonitoredFile& file = second_.files[fileIndex];
  computeFileTally(second_, file);
  // Only the thread whose file is next in turn writes to the output, and it does so without
  // holding the lock: no other thread touches the output until it has moved the turn on.
  std::unique_lock lock(mutex_);
  if (abandoned_) return;
  std::optional<SectionCopy> copy;
  if (fileIndex != nextFile_) {
    copy.emplace();
    std::unique_ptr<CopyFormatter> formatter;
    if (!freeFormatters_.empty()) {
      formatter = std::move(freeFormatters_.back());
      freeFormatters_.pop_back();
    }
    lock.unlock();
    if (!formatter) formatter = std::make_unique<CopyFormatter>(*this);
    formatter->target.setCopy(&*copy);
    writeFileSection(second_, file, texts, formatter->out);
    formatter->out.flush();
    formatter->target.setCopy(nullptr);
    lock.lock();
    freeFormatters_.push_back(std::move(formatter));
    if (abandoned_) return;
    if (fileIndex != nextFile_) {
      waitingBytes_ += copy->held();
      waiting_.emplace(fileIndex, std::move(*copy));
      // Too far ahead: wait until this section has gone out or room is made, when the pairing
      // schedule guarantees that such a wait ends.
      if (mayWaitForEarlierFiles) {
        progressed_.wait(lock, [&] {
          return abandoned_ || nextFile_ > fileIndex || waitingBytes_ <= mostWaitingBytes_;
        });
      }
      return;
    }
  }

  // This file's turn: write it, then every waiting section that follows it in turn.
  lock.unlock();
  if (copy) {
    writeCopy(*copy);
  } else {
    writeInTurn(file, texts);
  }
  lock.lock();
  ++nextFile_;
  for (auto found = waiting_.find(nextFile_); !abandoned_ && found != waiting_.end();
       found = waiting_.find(nextFile_)) {
    SectionCopy next = std::move(found->second);
    waiting_.erase(found);
    waitingBytes_ -= next.held();
    progressed_.notify_all();
    lock.unlock();
    writeCopy(next);
    lock.lock();
    ++nextFile_;
  }
  progressed_.notify_all();
}

void ComparedOutput::writeInTurn(const MonitoredFile& file, SectionTexts& texts) {
  // A large section takes long to write, and the other pairing thread has often nothing left
  // to do meanwhile: the system takes the blocks on a thread of its own.
  if (functionsExtent(second_, file) <= kSectionLoadedWhole) {
    writeFileSection(second_, file, texts, out_);
    return;
  }
  std::optional<BackgroundWriter> writer;
  try {
    writer.emplace();
  } catch (const std::system_error&) {
    // The system gives no thread for it: the blocks are written by this one.
  }
  struct WrittenThrough {
    OutputBuffer& out;
    ~WrittenThrough() { out.writeThrough(nullptr); }
  } through{out_};
  out_.writeThrough(writer ? &*writer : nullptr);
  writeFileSection(second_, file, texts, out_);
}

void ComparedOutput::abandon() noexcept {
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
  }
  progressed_.notify_all();
}

}  // namespace qrvdiff
