#!/usr/bin/env bash
# Fuzz smoke run: builds whole_run_fuzzer (clang, libFuzzer, address and undefined-behaviour
# sanitizers) in build-fuzz, replays every seed and regression input, then fuzzes for a bounded
# time (QRVDIFF_FUZZ_SECONDS, default 60) starting from the seed corpus. Fails on any finding:
# a crash, a sanitizer report, a broken invariant, a time-out or a memory blow-up.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QRVDIFF_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${QRVDIFF_FUZZ_SECONDS:-60}
[ "$seconds" -gt 0 ] || { echo "ci-fuzz: QRVDIFF_FUZZ_SECONDS must be positive"; exit 2; }

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DQRVDIFF_BUILD_FUZZERS=ON \
  -DQRVDIFF_WERROR=ON -DQRVDIFF_BUILD_TESTS=OFF -DQRVDIFF_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target whole_run_fuzzer
fuzzer="$build/fuzz/whole_run_fuzzer"

seeds="$build/seeds"
corpus="$build/corpus"
artifacts="$build/artifacts"
rm -rf "$seeds" "$artifacts"
mkdir -p "$corpus" "$artifacts"
bash fuzz/make_corpus.sh "$seeds"

log="$build/fuzz-smoke.log"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -dict=fuzz/listing.dict -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1 ||
  status=$?

grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
  echo "ci-fuzz: FINDING (exit status $status); last lines of $log:"
  tail -n 60 "$log"
  echo "ci-fuzz: reproducers:"
  ls -l "$artifacts"
  echo "Reproduce with: $fuzzer <reproducer>; keep it as fuzz/regressions/<name> once fixed."
  exit 1
fi
echo "ci-fuzz: no finding in ${seconds}s"
