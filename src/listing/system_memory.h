#pragma once

#include <cstddef>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace qrvdiff {

// The few places where the program asks the operating system for more than the standard library
// offers. Each has a portable fallback, chosen at build time.

// Memory for the big, long-lived stores of a listing. Where the platform offers it, such blocks
// are backed by huge pages: filling a gigabyte of fresh memory in 4 KiB pages costs a quarter of
// a million page faults, in 2 MiB pages five hundred. Elsewhere they come from the ordinary heap.
// allocateLargeBlock throws std::bad_alloc when memory runs out.
void* allocateLargeBlock(std::size_t size);
void freeLargeBlock(void* block, std::size_t size) noexcept;

// Allocator for std::vector that takes large arrays from allocateLargeBlock.
template <typename T>
struct LargeBlockAllocator {
  using value_type = T;
  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) {}  // NOLINT: converting, as allocators are

  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateLargeBlock(count * sizeof(T)));
  }
  void deallocate(T* block, std::size_t count) noexcept {
    freeLargeBlock(block, count * sizeof(T));
  }
  template <typename U>
  bool operator==(const LargeBlockAllocator<U>&) const {
    return true;
  }
};

// A vector whose large arrays come from allocateLargeBlock.
template <typename T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;

// A whole regular file mapped into memory, private to the process: the bytes are read in place,
// with no copy. Unavailable for pipes, devices, empty files and where the platform has no
// mapping; callers then read the file as a stream.
class MappedFile {
 public:
  static std::optional<MappedFile> map(std::FILE* file);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&&) = delete;
  MappedFile(const MappedFile&) = delete;
  ~MappedFile();

  // The file's bytes. They stay valid only while the file keeps its length: a file that is
  // going to be truncated (for instance because it is also the output) must not be mapped.
  std::string_view bytes() const { return {data_, size_}; }

 private:
  MappedFile(char* data, std::size_t size) : data_(data), size_(size) {}
  char* data_;
  std::size_t size_;
};

}  // namespace qrvdiff
