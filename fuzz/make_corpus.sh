#!/usr/bin/env bash
# Builds the seed corpus of whole_run_fuzzer from the project's listings.
# Usage: fuzz/make_corpus.sh OUTPUT_DIR
#
# A seed is listing 1, the separator (the 15 bytes NUL "==listing 2==" NUL), listing 2; a seed
# without separator is compared with itself. Seeds made:
#   - every examples/*.txt alone, and the example pair in both orders;
#   - every end-to-end case folder tests/cases/<area>/<case>/ with l1.txt and l2.txt as a pair,
#     and its l2.txt alone; a folder with only one of them gives that one alone;
#   - every file of fuzz/regressions/ as it is (inputs that once found a fault; *.md excepted).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: make_corpus.sh OUTPUT_DIR}
mkdir -p "$out"

separator() { printf '\0==listing 2==\0'; }
pair() {  # listing1 listing2 seed-name
  { cat "$1"; separator; cat "$2"; } >"$out/$3"
}
count=0

shopt -s nullglob
for example in "$root"/examples/*.txt; do
  cp "$example" "$out/example-$(basename "$example" .txt)"
  count=$((count + 1))
done
if [ -f "$root/examples/profile1.txt" ] && [ -f "$root/examples/profile2.txt" ]; then
  pair "$root/examples/profile1.txt" "$root/examples/profile2.txt" example-pair
  pair "$root/examples/profile2.txt" "$root/examples/profile1.txt" example-pair-reversed
  count=$((count + 2))
fi

for case_dir in "$root"/tests/cases/*/*/; do
  case_dir=${case_dir%/}
  name="case-$(basename "$(dirname "$case_dir")")-$(basename "$case_dir")"
  l1="$case_dir/l1.txt"
  l2="$case_dir/l2.txt"
  if [ -f "$l1" ] && [ -f "$l2" ]; then
    pair "$l1" "$l2" "$name"
    cp "$l2" "$out/$name-self"
    count=$((count + 2))
  elif [ -f "$l2" ]; then
    cp "$l2" "$out/$name-self"
    count=$((count + 1))
  elif [ -f "$l1" ]; then
    cp "$l1" "$out/$name-self"
    count=$((count + 1))
  fi
done

for regression in "$root"/fuzz/regressions/*; do
  [ -f "$regression" ] || continue
  case "$regression" in *.md) continue ;; esac
  cp "$regression" "$out/regression-$(basename "$regression")"
  count=$((count + 1))
done

echo "make_corpus: $count seeds in $out"
