#include "base/platform.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#define QRVDIFF_HAVE_MMAP 1
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qrvdiff {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this size a block is not worth a mapping of its own. Above it a mapping pays even when
// half of it is never used: a fault per 4 KiB page costs far more than a huge page's zeroing.
constexpr std::size_t kMappedMinimum = std::size_t{1} << 20;

void* allocateFromHeap(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
}  // namespace

ByteBlock::ByteBlock(std::size_t minimumSize) {
  const std::size_t size = minimumSize < kMappedMinimum || minimumSize > SIZE_MAX - kHugePage
                               ? minimumSize
                               : (minimumSize + kHugePage - 1) & ~(kHugePage - 1);
  data_ = static_cast<char*>(allocateLargeBlock(size));
  size_ = size;
}

#if defined(QRVDIFF_HAVE_MMAP)

// Mappings are made whole huge pages long: the system then places them on a huge-page boundary,
// and every part of the block can be backed by huge pages.
std::size_t mappedSize(std::size_t size) {
  return size > SIZE_MAX - kHugePage ? size : (size + kHugePage - 1) & ~(kHugePage - 1);
}

void* allocateLargeBlock(std::size_t size, BlockUse use) {
  if (size < kMappedMinimum) return allocateFromHeap(size);
  void* block =
      mmap(nullptr, mappedSize(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
  // Only a hint; the block works either way.
  const std::size_t smallPages = use == BlockUse::SparseStart ? kHugePage : 0;
  if (mappedSize(size) > smallPages) {
    madvise(static_cast<char*>(block) + smallPages, mappedSize(size) - smallPages, MADV_HUGEPAGE);
  }
#else
  (void)use;
#endif
  return block;
}

void freeLargeBlock(void* block, std::size_t size, BlockUse /*use*/) noexcept {
  if (block == nullptr) return;
  if (size < kMappedMinimum) {
    std::free(block);
  } else {
    munmap(block, mappedSize(size));
  }
}

namespace {
FileState stateOf(const struct stat& status) {
#if defined(__APPLE__)
  const struct timespec& changed = status.st_mtimespec;
#else
  const struct timespec& changed = status.st_mtim;
#endif
  return {static_cast<std::uint64_t>(status.st_size), static_cast<std::int64_t>(changed.tv_sec),
          static_cast<std::int64_t>(changed.tv_nsec)};
}
}  // namespace

std::optional<RereadableFile> rereadableFile(std::FILE* file) {
  const int descriptor = fileno(file);
  struct stat status;
  if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size < 0) {
    return std::nullopt;
  }
  return RereadableFile{descriptor, stateOf(status)};
}

std::optional<FileState> fileState(int descriptor) {
  struct stat status;
  if (fstat(descriptor, &status) != 0 || status.st_size < 0) return std::nullopt;
  return stateOf(status);
}

std::size_t readAt(int descriptor, char* buffer, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) break;
    const ssize_t count =
        pread(descriptor, buffer + done, size - done, static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) continue;
    // A failure after some bytes is met again, and reported, by the read that asks for the rest.
    if (count < 0 && done == 0) throw std::system_error(errno, std::generic_category(), "pread");
    if (count <= 0) break;
    done += static_cast<std::size_t>(count);
  }
  return done;
}

#else

void* allocateLargeBlock(std::size_t size, BlockUse /*use*/) {
  return allocateFromHeap(size);
}

void freeLargeBlock(void* block, std::size_t /*size*/, BlockUse /*use*/) noexcept {
  std::free(block);
}

std::optional<RereadableFile> rereadableFile(std::FILE* /*file*/) {
  return std::nullopt;
}

std::optional<FileState> fileState(int /*descriptor*/) {
  return std::nullopt;
}

std::size_t readAt(int /*descriptor*/, char* /*buffer*/, std::size_t /*size*/,
                   std::uint64_t /*offset*/) {
  return 0;
}

#endif

}  // namespace qrvdiff
