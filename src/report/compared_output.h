#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/platform.h"
#include "compare/pairing_schedule.h"
#include "listing/model.h"
#include "report/output_buffer.h"

namespace qrvdiff {

// Writes the blocks of an output buffer on a thread of its own, one at a time. The thread starts
// with the writer (std::system_error when the system gives none) and ends with it.
class BackgroundWriter final : public BlockWriter {
 public:
  BackgroundWriter();
  ~BackgroundWriter() override;
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  void submit(ByteSink& sink, const char* data, std::size_t size, std::uint64_t offset) override;
  void waitUntilWritten() override;
  bool failed() const override;

 private:
  void run();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  ByteSink* sink_ = nullptr;
  const char* pending_ = nullptr;
  std::size_t pendingSize_ = 0;
  std::uint64_t pendingOffset_ = 0;
  bool failed_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts running once everything above is ready
};

// Writes the file sections of the compared listing while pairing goes on: each section goes out
// as soon as its file and every file before it are paired, formatted by the thread that paired
// it, while its texts are still loaded. Only the thread whose section is next in turn writes to
// the output, without holding the lock; the others format theirs into copies that wait. A thread
// that runs too far ahead of the output waits for the others, but only when the schedule says
// that such a wait ends (mayWaitForEarlierFiles).
class ComparedOutput final : public PairedFileHandler {
 public:
  // Sections formatted ahead of their turn may hold up to `mostWaitingBytes` of memory (give or
  // take a section) before the thread ahead waits.
  ComparedOutput(ProfileListing& second, OutputBuffer& out,
                 std::size_t mostWaitingBytes = std::size_t{32} << 20);
  ~ComparedOutput() override;

  void filePaired(std::size_t fileIndex, SectionTexts& texts, bool mayWaitForEarlierFiles) override;
  void abandon() noexcept override;

 private:
  // Copies are kept in pieces of one size, which are reused: a newly touched page costs a page
  // fault and its zeroing. Small, as a copy's last piece is mostly empty, and many small
  // sections may wait at once.
  static constexpr std::size_t kPieceSize = 4 << 10;

  // A file section formatted ahead of its turn: full pieces, the last one filled `lastSize`.
  struct SectionCopy {
    std::vector<char*> pieces;
    std::size_t lastSize = 0;
    // The memory it holds, whatever it uses of it.
    std::size_t held() const { return pieces.size() * kPieceSize; }
  };
  class CopyTarget;
  // Formats a section into a copy. Kept for the next section rather than taking its block from
  // the heap and giving it back for every section.
  struct CopyFormatter;

  char* takePiece();
  // Writes the section whose turn it is; the mutex is not held.
  void writeInTurn(const MonitoredFile& file, SectionTexts& texts);
  // Writes a copy out and gives its pieces back; the mutex is not held.
  void writeCopy(SectionCopy& copy);

  ProfileListing& second_;
  OutputBuffer& out_;
  std::size_t mostWaitingBytes_;
  std::mutex mutex_;
  std::condition_variable progressed_;
  std::size_t nextFile_ = 0;  // the next file section to go out
  // By file index. Only a few sections wait at a time: an array over all files would touch
  // memory for every file, which listings of many small sections notice.
  std::unordered_map<std::size_t, SectionCopy> waiting_;
  std::size_t waitingBytes_ = 0;  // held by the waiting sections
  std::vector<ByteBlock> pieceMemory_;
  std::vector<char*> freePieces_;
  std::vector<std::unique_ptr<CopyFormatter>> freeFormatters_;
  bool abandoned_ = false;
};

}  // namespace qrvdiff
