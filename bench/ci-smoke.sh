#!/usr/bin/env bash
# Fast smoke test of the benchmark tooling and of qrvdiff on generated listings, for CI.
#
#   bench/ci-smoke.sh [BUILD_DIR]
#
# Uses the build tree BUILD_DIR when given (configured there as Release if it has none yet),
# else build-bench, and builds qrvdiff, gen_listings and bench_timer in it. Then, for every shape
# of gen_listings and two seeds, it generates a pair of about 2 MB and requires of qrvdiff:
#   - exit status 0 and nothing on standard error, for the pair and for listing 2 against itself;
#   - a compared listing with its SUMMARY block;
#   - "^" and "v" marks in the typical pair's output;
#   - for a listing compared with itself: no "^" or "v" in the mark columns (10 and 21) of any
#     function-section line, and "+ 0 - 0]" in the first TER line of the summary.
# Finally it runs `bench/run --quick` in the same build tree, to prove the benchmark script works.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=$(realpath -m "${1:-build-bench}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== configuring a Release build in $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQRVDIFF_WERROR=ON \
    -DQRVDIFF_BUILD_TESTS=OFF -DQRVDIFF_BUILD_BENCHMARKS=AUTO >/dev/null
fi
echo "== building qrvdiff, gen_listings and bench_timer in $build"
cmake --build "$build" -j2 --target qrvdiff gen_listings bench_timer >/dev/null
qrvdiff=$build/qrvdiff
gen=$build/bench/gen_listings

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "ci-smoke: FAIL: $*"
  failures=$((failures + 1))
}

# run_qrvdiff NAME L1 L2 OUT: true when qrvdiff exits 0 with an empty standard error.
run_qrvdiff() {
  local name=$1 status=0
  "$qrvdiff" -i1 "$2" -i2 "$3" -p "$4" 2>"$work/stderr" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status: $(head -c 300 "$work/stderr")"
    return 1
  fi
  if [ -s "$work/stderr" ]; then
    fail "$name: standard error not empty: $(head -c 300 "$work/stderr")"
    return 1
  fi
  if ! grep -q '^SUMMARY$' "$4" || ! grep -q '^Functions compared : ' "$4"; then
    fail "$name: the output has no SUMMARY block"
    return 1
  fi
}

# Marks in columns 10 and 21 (0-based) of function-section lines: from a FUNCTION line (its
# description at column 30) to the empty line that ends the section. Prints "<^ count> <v count>".
count_marks() {
  awk '
    length($0) >= 40 && substr($0, 31, 9) == "FUNCTION " { inside = 1 }
    $0 == "" { inside = 0 }
    inside {
      a = substr($0, 11, 1); b = substr($0, 22, 1)
      up += (a == "^") + (b == "^"); down += (a == "v") + (b == "v")
    }
    END { print up + 0, down + 0 }' "$1"
}

for seed in 1 2; do
  for shape in typical same-function-line many-files disjoint-files; do
    name="$shape seed $seed"
    l1="$work/$shape-$seed.1"
    l2="$work/$shape-$seed.2"
    "$gen" --seed "$seed" --size 2M --shape "$shape" --out1 "$l1" --out2 "$l2" ||
      { fail "$name: gen_listings failed"; continue; }

    if run_qrvdiff "$name" "$l1" "$l2" "$work/out"; then
      read -r up down < <(count_marks "$work/out")
      if [ "$shape" = typical ] && { [ "$up" -eq 0 ] || [ "$down" -eq 0 ]; }; then
        fail "$name: expected both \"^\" and \"v\" marks, found $up and $down"
      fi
      echo "ok    $name: $(stat -c %s "$l2") bytes, $up \"^\" and $down \"v\" marks"
    fi

    if run_qrvdiff "$name, listing 2 with itself" "$l2" "$l2" "$work/self"; then
      read -r up down < <(count_marks "$work/self")
      if [ "$up" -ne 0 ] || [ "$down" -ne 0 ]; then
        fail "$name, listing 2 with itself: $up \"^\" and $down \"v\" marks"
      fi
      summary_ter=$(sed -n '/^SUMMARY$/,$p' "$work/self" | grep -m1 '^TER ' || true)
      [[ "$summary_ter" == *"+ 0 - 0]"* ]] ||
        fail "$name, listing 2 with itself: summary TER line is \"$summary_ter\""
      echo "ok    $name, with itself: $summary_ter"
    fi
    rm -f "$l1" "$l2" "$work/out" "$work/self"
  done
done

echo "== bench/run --quick"
if ! "$root/bench/run" --quick --build-dir "$build" >"$work/run.log" 2>&1; then
  cat "$work/run.log"
  fail "bench/run --quick failed"
elif ! grep -qE '^(PASS|FAIL|SKIP)  ' "$work/run.log"; then
  cat "$work/run.log"
  fail "bench/run --quick printed no targets"
else
  sed -n '/^qrvdiff benchmark/,$p' "$work/run.log"
fi

if [ "$failures" -ne 0 ]; then
  echo "ci-smoke: $failures check(s) failed"
  exit 1
fi
echo "ci-smoke: all checks passed"
