// bench_timer: runs one command and reports its wall-clock time and peak resident set size.
//
//   bench_timer REPORT_FILE COMMAND [ARGUMENT...]
//
// The command inherits standard input, output and error, so a caller may redirect them as it
// likes. When the command has ended, REPORT_FILE receives one line
//
//   <wall seconds> <peak RSS in KiB> <exit status>
//
// The wall time is taken with a monotonic clock around spawn and wait, in nanoseconds; the peak
// RSS is the largest of the command and of every descendant it waited for (as wait4 reports it),
// so `bash -c 'a; b'` reports the larger of a and b. A command killed by signal N reports status
// 128 + N. bench_timer itself exits 0 once the report is written, 127 when the command could not
// be started and 2 on a usage error.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

extern char** environ;

namespace {

double secondsSince(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: bench_timer REPORT_FILE COMMAND [ARGUMENT...]\n", stderr);
    return 2;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = 0;
  const int spawnError = posix_spawnp(&child, argv[2], nullptr, nullptr, argv + 2, environ);
  if (spawnError != 0) {
    std::fprintf(stderr, "bench_timer: cannot run %s: %s\n", argv[2], std::strerror(spawnError));
    return 127;
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "bench_timer: wait failed: %s\n", std::strerror(errno));
      return 127;
    }
  }
  const double seconds = secondsSince(start);
  int exitStatus = 0;
  if (WIFEXITED(status)) {
    exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exitStatus = 128 + WTERMSIG(status);
  }

  std::FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) {
    std::fprintf(stderr, "bench_timer: cannot write %s: %s\n", argv[1], std::strerror(errno));
    return 127;
  }
  std::fprintf(report, "%.6f %ld %d\n", seconds, usage.ru_maxrss, exitStatus);
  if (std::fclose(report) != 0) return 127;
  return 0;
}
