// Preloaded into qrvdiff by tests/output_file_test.sh: faults of the input that appear once the
// output has been opened for writing (by fopen with "w" or "a", or open for writing), met by the
// reads of a listing's texts during pairing, which go through pread.
//   QRVDIFF_FAULT=cut     the first such read cuts QRVDIFF_FAULT_FILE to nothing first
//   QRVDIFF_FAULT=eio     reads of QRVDIFF_FAULT_FILE fail with EIO
//   QRVDIFF_FAULT=stall   the first such read creates the file QRVDIFF_FAULT_MARKER and then
//                         waits for a signal for ever
//   QRVDIFF_FAULT=eio-from=N   from the start of the run, reads of QRVDIFF_FAULT_FILE deliver its
//                         bytes before offset N and fail with EIO at N
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool outputOpened = false;

const char* fault() {
  const char* value = std::getenv("QRVDIFF_FAULT");
  return value != nullptr ? value : "";
}

bool isFaultFile(int descriptor) {
  const char* path = std::getenv("QRVDIFF_FAULT_FILE");
  struct stat wanted, actual;
  return path != nullptr && stat(path, &wanted) == 0 && fstat(descriptor, &actual) == 0 &&
         wanted.st_dev == actual.st_dev && wanted.st_ino == actual.st_ino;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Whether the read of `size` bytes at `offset` of `descriptor` fails; may cut the file or stall.
bool faultBefore(int descriptor, size_t& size, off_t offset) {
  const char* kind = fault();
  if (std::strncmp(kind, "eio-from=", 9) == 0) {
    const off_t from = std::atoll(kind + 9);
    if (!isFaultFile(descriptor)) return false;
    if (offset >= from) return true;
    if (offset + static_cast<off_t>(size) > from) size = static_cast<size_t>(from - offset);
    return false;
  }
  if (!outputOpened) return false;
  if (std::strcmp(kind, "stall") == 0) {
    if (const char* marker = std::getenv("QRVDIFF_FAULT_MARKER")) {
      const int file = open(marker, O_WRONLY | O_CREAT, 0644);
      if (file >= 0) close(file);
    }
    for (;;) pause();
  }
  if (!isFaultFile(descriptor)) return false;
  if (std::strcmp(kind, "cut") == 0) {
    static bool cut = false;
    if (!cut) cut = truncate(std::getenv("QRVDIFF_FAULT_FILE"), 0) == 0;
    return false;
  }
  return std::strcmp(kind, "eio") == 0;
}

ssize_t faultyRead(const char* name, int descriptor, void* buffer, size_t size, off_t offset) {
  if (faultBefore(descriptor, size, offset)) {
    errno = EIO;
    return -1;
  }
  using Read = ssize_t (*)(int, void*, size_t, off_t);
  return next<Read>(name)(descriptor, buffer, size, offset);
}

int openNoting(const char* name, const char* path, int flags, va_list rest) {
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0) outputOpened = true;
  const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(rest, int)) : 0;
  using Open = int (*)(const char*, int, ...);
  return next<Open>(name)(path, flags, mode);
}

std::FILE* fopenNoting(const char* name, const char* path, const char* mode) {
  if (std::strpbrk(mode, "wa+") != nullptr) outputOpened = true;
  using Fopen = std::FILE* (*)(const char*, const char*);
  return next<Fopen>(name)(path, mode);
}

}  // namespace

extern "C" {
ssize_t pread(int descriptor, void* buffer, size_t size, off_t offset) {
  return faultyRead("pread", descriptor, buffer, size, offset);
}
ssize_t pread64(int descriptor, void* buffer, size_t size, off_t offset) {
  return faultyRead("pread64", descriptor, buffer, size, offset);
}
int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int result = openNoting("open", path, flags, rest);
  va_end(rest);
  return result;
}
int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int result = openNoting("open64", path, flags, rest);
  va_end(rest);
  return result;
}
std::FILE* fopen(const char* path, const char* mode) {
  return fopenNoting("fopen", path, mode);
}
std::FILE* fopen64(const char* path, const char* mode) {
  return fopenNoting("fopen64", path, mode);
}
}
