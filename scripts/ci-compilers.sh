#!/usr/bin/env bash
# Builds every target (program, unit tests, benchmarks; with Clang also the fuzz targets) as a
# Release build, at its full optimisation, with GCC in build-gcc and with Clang in build-clang,
# warnings as errors. The default build type is built with warnings as errors by scripts/test
# (GCC) and scripts/ci-sanitizers.sh (Clang), which also run the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QRVDIFF_JOBS:-2}

build_with() {
  local dir=$1 compiler=$2
  shift 2
  echo "== $compiler in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$compiler" \
    -DQRVDIFF_WERROR=ON -DQRVDIFF_BUILD_TESTS=ON -DQRVDIFF_BUILD_BENCHMARKS=ON \
    "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

build_with build-gcc g++
# The fuzz targets need Clang's libFuzzer, so only the Clang build has them.
build_with build-clang clang++ -DQRVDIFF_BUILD_FUZZERS=ON
echo "== both compilers build warning-free"
