#include "listing/system_memory.h"

#include <cstdint>
#include <cstdlib>

#if defined(__unix__) || defined(__APPLE__)
#define QRVDIFF_HAVE_MMAP 1
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qrvdiff {

namespace {
// Below this size a block is not worth a mapping of its own.
constexpr std::size_t kMappedMinimum = std::size_t{2} << 20;

void* allocateFromHeap(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
}  // namespace

#if defined(QRVDIFF_HAVE_MMAP)

// Mappings are made whole huge pages long: the system then places them on a huge-page boundary,
// and every part of the block can be backed by huge pages.
std::size_t mappedSize(std::size_t size) {
  return size > SIZE_MAX - kMappedMinimum ? size
                                          : (size + kMappedMinimum - 1) & ~(kMappedMinimum - 1);
}

void* allocateLargeBlock(std::size_t size) {
  if (size < kMappedMinimum) return allocateFromHeap(size);
  void* block =
      mmap(nullptr, mappedSize(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
  madvise(block, mappedSize(size), MADV_HUGEPAGE);  // only a hint; the block works either way
#endif
  return block;
}

void freeLargeBlock(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (size < kMappedMinimum) {
    std::free(block);
  } else {
    munmap(block, mappedSize(size));
  }
}

std::optional<MappedFile> MappedFile::map(std::FILE* file) {
  const int descriptor = fileno(file);
  struct stat status;
  if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size <= 0) {
    return std::nullopt;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  int flags = MAP_PRIVATE;
#if defined(MAP_POPULATE)
  flags |= MAP_POPULATE;  // one call sets up every page instead of a fault per page
#endif
  // Read-only: populating a writable private mapping would copy every page.
  void* data = mmap(nullptr, size, PROT_READ, flags, descriptor, 0);
  if (data == MAP_FAILED) return std::nullopt;
  return MappedFile(static_cast<char*>(data), size);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) munmap(data_, size_);
}

#else

void* allocateLargeBlock(std::size_t size) {
  return allocateFromHeap(size);
}

void freeLargeBlock(void* block, std::size_t /*size*/) noexcept {
  std::free(block);
}

std::optional<MappedFile> MappedFile::map(std::FILE* /*file*/) {
  return std::nullopt;
}

MappedFile::~MappedFile() = default;

#endif

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

}  // namespace qrvdiff
