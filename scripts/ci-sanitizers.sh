#!/usr/bin/env bash
# Builds the library, the program and the unit tests with clang's sanitizers and runs the whole
# CTest suite with each build: the unit tests and the end-to-end cases, which run the sanitized
# qrvdiff.
#   asan: address and undefined-behaviour sanitizers (with leak checks), in build-asan;
#   tsan: thread sanitizer, in build-tsan (the program reads, pairs and writes on a second thread).
# Any sanitizer report fails the run: reports abort the process (-fno-sanitize-recover=all,
# halt_on_error), and every report is also written to a log file, which must not exist
# afterwards, so a report in a test whose exit status is not checked still counts.
# QRVDIFF_SANITIZERS picks the builds (default "asan tsan").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
failed=0

run_suite() {  # name build-dir compile-flags link-flags
  local name=$1 build=$2 flags=$3 link=$4
  echo "== $name: building in $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQRVDIFF_WERROR=ON -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$link" \
    -DQRVDIFF_BUILD_TESTS=ON -DQRVDIFF_BUILD_BENCHMARKS=OFF -DQRVDIFF_BUILD_FUZZERS=OFF >/dev/null
  cmake --build "$build" -j2

  local logs="$root/$build/sanitizer-logs"
  rm -rf "$logs"
  mkdir -p "$logs"
  local status=0
  ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$logs/asan" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan" \
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$logs/tsan" \
    ctest --test-dir "$build" --output-on-failure -j2 || status=$?

  if [ -n "$(ls -A "$logs")" ]; then
    echo "ci-sanitizers: $name reports:"
    for report in "$logs"/*; do
      echo "=== $report"
      head -n 80 "$report"
    done
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    echo "ci-sanitizers: $name FAILED"
    failed=1
  else
    echo "ci-sanitizers: $name: all tests passed with no report"
  fi
}

for sanitizer in ${QRVDIFF_SANITIZERS:-asan tsan}; do
  case "$sanitizer" in
    asan)
      run_suite asan "${QRVDIFF_ASAN_BUILD_DIR:-build-asan}" \
        "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
        "-fsanitize=address,undefined"
      ;;
    tsan)
      run_suite tsan "${QRVDIFF_TSAN_BUILD_DIR:-build-tsan}" "-fsanitize=thread -g" \
        "-fsanitize=thread"
      ;;
    *)
      echo "ci-sanitizers: unknown sanitizer build '$sanitizer' (asan, tsan)"
      exit 2
      ;;
  esac
done
exit "$failed"
