// Preloaded into qrvdiff by tests/no_second_thread_test.sh: the system refuses every new thread,
// as it does to a process that has reached its limit of threads or of memory. Each refusal
// creates the file that QRVDIFF_THREAD_REFUSED names, so the test can tell that one happened.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

// Declared here rather than taken from <pthread.h>, whose declaration says different things about
// exceptions to different compilers; only the unmangled name matters to the dynamic linker.
extern "C" int pthread_create(void*, const void*, void* (*)(void*), void*) {
  if (const char* marker = std::getenv("QRVDIFF_THREAD_REFUSED")) {
    const int file = open(marker, O_WRONLY | O_CREAT, 0644);
    if (file >= 0) close(file);
  }
  return EAGAIN;
}
