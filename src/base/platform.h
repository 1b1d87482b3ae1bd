#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qrvdiff {

// The few places where the program asks the operating system for more than the standard library
// offers, with a POSIX and a Windows part. Each has a portable fallback, chosen at build time.

// The program's arguments as UTF-8 words. On Windows they are taken from the wide command line,
// so that any file name survives; elsewhere they are the words as given.
class ProgramArguments {
 public:
  ProgramArguments(int count, char** words);
  int count() const { return static_cast<int>(pointers_.size()); }
  const char* const* words() const { return pointers_.data(); }

 private:
  std::vector<std::string> converted_;  // empty where the words are used as given
  std::vector<const char*> pointers_;
};

// Opens the file named by a UTF-8 path, as std::fopen does with `mode`. On Windows the name is
// converted to the system's wide characters, and text mode ("r", "w") turns each "\n" into CR LF
// on writing; elsewhere text and binary mode are the same.
std::FILE* openFile(const std::string& path, const char* mode);

// Whether two UTF-8 paths name the same existing file (through links and other names).
bool namesSameFile(const std::string& path1, const std::string& path2);

// Makes a write to a pipe whose reader has gone fail like any other failed write, instead of
// ending the process with a signal, where the system has that signal.
void ignoreBrokenPipeSignal();

// True when standard output is a terminal.
bool standardOutputIsTerminal();

// Lets the heap keep and reuse the pages of large blocks that are freed, instead of mapping each
// large block afresh, where the heap can be told so: for a process whose large blocks are freed
// as they grow, so that the pages of one serve the next without new page faults.
void reuseHeapPagesOfLargeBlocks();

// `time` broken down into the local time, in an object of the caller's own (std::localtime
// returns one shared by every caller); all fields 0 when it cannot be told.
std::tm localTime(std::time_t time);

// Memory for the big, long-lived stores of a listing. Where the platform offers it, such blocks
// are backed by huge pages: the first touch of memory costs a page fault per page, and a 2 MiB
// page takes the place of 512 small ones. Elsewhere they come from the ordinary heap.
// allocateLargeBlock throws std::bad_alloc when memory runs out.
enum class BlockUse {
  Dense,        // filled from the start: huge pages throughout
  SparseStart,  // sized by a generous guess, often used only a little: the first 2 MiB come in
                // small pages, so that a small use does not pay for the zeroing of a huge page
};
void* allocateLargeBlock(std::size_t size, BlockUse use = BlockUse::Dense);
// `use` as the block was allocated with.
void freeLargeBlock(void* block, std::size_t size, BlockUse use = BlockUse::Dense) noexcept;

// Allocator for std::vector that takes large arrays from allocateLargeBlock.
template <typename T, BlockUse kUse = BlockUse::Dense>
struct LargeBlockAllocator {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = LargeBlockAllocator<U, kUse>;
  };
  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U, kUse>&) {
  }  // NOLINT: converting, as allocators are

  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateLargeBlock(count * sizeof(T), kUse));
  }
  void deallocate(T* block, std::size_t count) noexcept {
    freeLargeBlock(block, count * sizeof(T), kUse);
  }
  template <typename U>
  bool operator==(const LargeBlockAllocator<U, kUse>&) const {
    return true;
  }
};

// A vector whose large arrays come from allocateLargeBlock.
template <typename T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;
// The same for an array reserved by a generous guess (see BlockUse::SparseStart).
template <typename T>
using GuessedVector = std::vector<T, LargeBlockAllocator<T, BlockUse::SparseStart>>;

// Bytes from allocateLargeBlock, at least as many as asked for: sizes from 1 MiB on are rounded
// up to whole huge pages, so that a large buffer costs few page faults.
class ByteBlock {
 public:
  ByteBlock() = default;
  explicit ByteBlock(std::size_t minimumSize);
  ByteBlock(ByteBlock&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  ByteBlock& operator=(ByteBlock&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~ByteBlock() { freeLargeBlock(data_, size_); }

  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// An open stream, closed when the handle goes.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A file that can be read again at any place: a regular file, where the platform allows it.
// What tells whether a file has been written to: its size and the time of its last change.
struct FileState {
  std::uint64_t size = 0;
  std::int64_t changedSeconds = 0;
  std::int64_t changedNanoseconds = 0;
  bool operator==(const FileState&) const = default;
};

struct RereadableFile {
  int descriptor;
  FileState state;  // when it was opened
};
// The file under an open stream when it can be read again, else nullopt (pipes, devices).
std::optional<RereadableFile> rereadableFile(std::FILE* file);
// The state of an open file now; nullopt when it cannot be told.
std::optional<FileState> fileState(int descriptor);

// Reads up to `size` bytes at `offset` of a file, without moving its position; returns how many
// were read, fewer than `size` only at the end of the file, or before a failure of the system.
// Throws std::system_error when the system fails to read the first of them (an I/O error).
std::size_t readAt(int descriptor, char* buffer, std::size_t size, std::uint64_t offset);

}  // namespace qrvdiff
