#!/usr/bin/env bash
# Times qrvdiff-summary on a compared listing of about 100 MB against `wc -l` on the same file.
#
#   bench/summary-speed.sh [BUILD_DIR] [SIZE]
#
# Builds qrvdiff, qrvdiff-summary and gen_listings in BUILD_DIR (default: build-bench, configured
# as Release when new), generates a typical pair of SIZE (default 100M) with seed 1, compares it,
# then runs `wc -l` and qrvdiff-summary in each format five times each (the file read once before,
# so both find it in the page cache) and prints the medians and the ratio of each to wc -l.
# The generated data is deleted at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-bench}")
size=${2:-100M}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQRVDIFF_BUILD_TESTS=OFF \
    -DQRVDIFF_BUILD_BENCHMARKS=ON >/dev/null
fi
cmake --build "$build" -j2 --target qrvdiff qrvdiff-summary gen_listings >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/gen_listings" --seed 1 --size "$size" --shape typical --out1 "$work/a" \
  --out2 "$work/b" >/dev/null
"$build/qrvdiff" -i1 "$work/a" -i2 "$work/b" -p "$work/compared"
rm -f "$work/a" "$work/b"
echo "compared listing: $(wc -c <"$work/compared") bytes, $(wc -l <"$work/compared") lines"

# Median wall time in seconds of five runs of the command.
median() {
  local times=() start end
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p | awk '{ printf "%.4f", $1 / 1e9 }'
}

cat "$work/compared" >/dev/null
base=$(median wc -l "$work/compared")
printf '%-28s %8s s\n' "wc -l" "$base"
for format in text json github markdown; do
  t=$(median "$build/qrvdiff-summary" --format "$format" "$work/compared")
  printf '%-28s %8s s   ratio %.2f\n' "qrvdiff-summary $format" "$t" \
    "$(awk -v a="$t" -v b="$base" 'BEGIN { print a / b }')"
done
