#include "base/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#define QRVDIFF_WINDOWS 1
#define QRVDIFF_HAVE_PAGE_MAPPING 1
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#elif defined(__unix__) || defined(__APPLE__)
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#define QRVDIFF_POSIX 1
#define QRVDIFF_HAVE_PAGE_MAPPING 1
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qrvdiff {

#if defined(QRVDIFF_WINDOWS)

namespace {

std::wstring wideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      nullptr, nullptr);
  return text;
}

std::filesystem::path nativePath(const std::string& path) {
  return std::filesystem::path(wideFromUtf8(path));
}

}  // namespace

ProgramArguments::ProgramArguments(int count, char** words) {
  int wideCount = 0;
  LPWSTR* const wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  if (wide != nullptr) {
    for (int i = 0; i < wideCount; ++i) converted_.push_back(utf8FromWide(wide[i]));
    LocalFree(wide);
    for (const std::string& word : converted_) pointers_.push_back(word.c_str());
  } else {
    pointers_.assign(words, words + count);
  }
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return _wfopen(wideFromUtf8(path).c_str(), wideFromUtf8(mode).c_str());
}

std::tm localTime(std::time_t time) {
  std::tm local{};
  if (localtime_s(&local, &time) != 0) return std::tm{};
  return local;
}

#else

namespace {
std::filesystem::path nativePath(const std::string& path) {
  return std::filesystem::path(path);
}
}  // namespace

ProgramArguments::ProgramArguments(int count, char** words) : pointers_(words, words + count) {}

std::FILE* openFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::tm localTime(std::time_t time) {
  std::tm local{};
#if defined(QRVDIFF_POSIX)
  if (localtime_r(&time, &local) == nullptr) return std::tm{};
#else
  const std::tm* shared = std::localtime(&time);
  if (shared == nullptr) return std::tm{};
  local = *shared;
#endif
  return local;
}

#endif

bool namesSameFile(const std::string& path1, const std::string& path2) {
  std::error_code error;
  return std::filesystem::equivalent(nativePath(path1), nativePath(path2), error);
}

void ignoreBrokenPipeSignal() {
#if defined(SIGPIPE)
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool standardOutputIsTerminal() {
#if defined(QRVDIFF_WINDOWS)
  return _isatty(_fileno(stdout)) != 0;
#elif defined(QRVDIFF_POSIX)
  return isatty(STDOUT_FILENO) == 1;
#else
  return false;
#endif
}

void reuseHeapPagesOfLargeBlocks() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

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

#if defined(QRVDIFF_HAVE_PAGE_MAPPING)

namespace {

// Fresh zeroed pages of `size` bytes, or nullptr.
void* mapPages(std::size_t size) {
#if defined(QRVDIFF_WINDOWS)
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
  void* const block =
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
#endif
}

void unmapPages(void* block, std::size_t size) noexcept {
#if defined(QRVDIFF_WINDOWS)
  (void)size;
  VirtualFree(block, 0, MEM_RELEASE);
#else
  munmap(block, size);
#endif
}

// Only a hint, where the system takes one without privileges; the block works either way.
void adviseHugePages(void* block, std::size_t size, BlockUse use) {
#if defined(MADV_HUGEPAGE)
  const std::size_t smallPages = use == BlockUse::SparseStart ? kHugePage : 0;
  if (size > smallPages) {
    madvise(static_cast<char*>(block) + smallPages, size - smallPages, MADV_HUGEPAGE);
  }
#else
  (void)block;
  (void)size;
  (void)use;
#endif
}

}  // namespace

// Mappings are made whole huge pages long: the system then places them on a huge-page boundary,
// and every part of the block can be backed by huge pages.
std::size_t mappedSize(std::size_t size) {
  return size > SIZE_MAX - kHugePage ? size : (size + kHugePage - 1) & ~(kHugePage - 1);
}

void* allocateLargeBlock(std::size_t size, BlockUse use) {
  if (size < kMappedMinimum) return allocateFromHeap(size);
  void* const block = mapPages(mappedSize(size));
  if (block == nullptr) throw std::bad_alloc();
  adviseHugePages(block, mappedSize(size), use);
  return block;
}

void freeLargeBlock(void* block, std::size_t size, BlockUse /*use*/) noexcept {
  if (block == nullptr) return;
  if (size < kMappedMinimum) {
    std::free(block);
  } else {
    unmapPages(block, mappedSize(size));
  }
}

#else

void* allocateLargeBlock(std::size_t size, BlockUse /*use*/) {
  return allocateFromHeap(size);
}

void freeLargeBlock(void* block, std::size_t /*size*/, BlockUse /*use*/) noexcept {
  std::free(block);
}

#endif

// Positional reads and the state of an open file. Where the system offers no positional read
// that leaves the stream's own position alone, files are read once, through their streams.
#if defined(QRVDIFF_WINDOWS)

namespace {

HANDLE handleOf(int descriptor) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

std::optional<FileState> stateOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) return std::nullopt;
  // The last write time counts 100 ns steps.
  const std::uint64_t written = (std::uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32) |
                                information.ftLastWriteTime.dwLowDateTime;
  return FileState{(std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow,
                   static_cast<std::int64_t>(written / 10'000'000),
                   static_cast<std::int64_t>(written % 10'000'000 * 100)};
}

}  // namespace

// A read at an offset moves the position of the handle it goes through, so the file is opened
// again for those reads: the stream's own handle is left alone. That second handle stays open
// until the process ends, as the stream does for the whole run.
std::optional<RereadableFile> rereadableFile(std::FILE* file) {
  const HANDLE handle = handleOf(_fileno(file));
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return std::nullopt;
  const HANDLE again =
      ReOpenFile(handle, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (again == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<FileState> state = stateOf(again);
  const int descriptor =
      state ? _open_osfhandle(reinterpret_cast<std::intptr_t>(again), _O_RDONLY) : -1;
  if (descriptor < 0) {
    CloseHandle(again);
    return std::nullopt;
  }
  return RereadableFile{descriptor, *state};
}

std::optional<FileState> fileState(int descriptor) {
  const HANDLE handle = handleOf(descriptor);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  return stateOf(handle);
}

std::size_t readAt(int descriptor, char* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE handle = handleOf(descriptor);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size - done, 1 << 30));
    DWORD count = 0;
    if (!ReadFile(handle, buffer + done, wanted, &count, &at)) {
      const DWORD failure = GetLastError();
      if (failure == ERROR_HANDLE_EOF) break;
      // A failure after some bytes is met again, and reported, by the read that asks for the rest.
      if (done == 0) {
        throw std::system_error(static_cast<int>(failure), std::system_category(), "ReadFile");
      }
      break;
    }
    if (count == 0) break;
    done += count;
  }
  return done;
}

#elif defined(QRVDIFF_POSIX)

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
