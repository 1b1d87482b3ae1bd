#!/usr/bin/env bash
# Runs one end-to-end case: a folder with the input listings, the command-line words and the
# expected results. See tests/cases/README.md for the files a case may hold.
# Usage: run_case.sh QRVDIFF_BINARY CASE_DIR
set -u
bin=$(realpath "$1")
case_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a "$case_dir"/. "$work"/
cd "$work" || exit 1

export QRVDIFF="$bin"  # for setup.sh and check.sh
[ -f existing_output ] && cp existing_output out.txt
if [ -f setup.sh ]; then bash ./setup.sh || { echo "setup.sh failed"; exit 1; }; fi

words=()
[ -f args ] && mapfile -t words < args
stdout_target=actual_stdout
[ -f stdout_to ] && stdout_target=$(head -n 1 stdout_to)

"$bin" "${words[@]}" >"$stdout_target" 2>actual_stderr
status=$?

# The time of the run is the only text that differs between runs; it must have the fixed
# 24-character form, and is then replaced by a placeholder.
mask() {
  sed -E 's/^Listing produced at   : (Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}$/Listing produced at   : <TIME>/' "$1"
}

failed=0
compare() {  # expected-file actual-file label
  if ! cmp -s "$1" "$2"; then
    echo "--- $3 differs (expected vs actual):"
    diff -u "$1" "$2" | head -n 60
    failed=1
  fi
}

expected_status=0
[ -f expected_status ] && expected_status=$(head -n 1 expected_status)
if [ "$status" != "$expected_status" ]; then
  echo "--- exit status: expected $expected_status, got $status"
  failed=1
fi

[ -f expected_stdout ] || : >expected_stdout
[ -f expected_stderr ] || : >expected_stderr
if [ "$stdout_target" = actual_stdout ]; then
  mask actual_stdout >actual_stdout.masked
  compare expected_stdout actual_stdout.masked "standard output"
fi
compare expected_stderr actual_stderr "standard error"

if [ -f expected_output ]; then
  if [ -f out.txt ]; then
    mask out.txt >out.txt.masked
    compare expected_output out.txt.masked "output file out.txt"
  else
    echo "--- output file out.txt was not written"
    failed=1
  fi
fi
if [ -f expect_no_output ] && [ -e out.txt ]; then
  echo "--- output file out.txt exists but must not"
  failed=1
fi
if [ -f check.sh ]; then
  bash ./check.sh "$status" || { echo "--- check.sh failed"; failed=1; }
fi
exit "$failed"
