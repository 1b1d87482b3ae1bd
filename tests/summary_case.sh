#!/usr/bin/env bash
# Runs one end-to-end case of qrvdiff-summary: a folder under tests/summary_cases/ holding
#   args             the command-line words, one per line, run from tests/summary_cases/inputs/
#   stdin            (optional) the name of a file of inputs/ to give on standard input
#   expected_stdout  (optional) standard output, byte for byte
#   expected_stderr  (optional) standard error, byte for byte; without it, it must be empty
#   expected_status  (optional) the exit status; 0 without it
# NO_COLOR is set, so that no case depends on the terminal.
#
#   summary_case.sh QRVDIFF_SUMMARY CASE_DIR
set -u
bin=$(realpath "$1")
case_dir=$(realpath "$2")
cd "$case_dir/../inputs" || exit 1

words=()
[ -f "$case_dir/args" ] && mapfile -t words <"$case_dir/args"
stdin=/dev/null
[ -f "$case_dir/stdin" ] && stdin=$(head -n 1 "$case_dir/stdin")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

NO_COLOR=1 "$bin" "${words[@]}" <"$stdin" >"$work/stdout" 2>"$work/stderr"
status=$?

failed=0
compare() {  # expected actual label
  if ! cmp -s "$1" "$2"; then
    echo "--- $3 differs (expected vs actual):"
    diff -u "$1" "$2" | head -n 80
    failed=1
  fi
}
[ -f "$case_dir/expected_stdout" ] && compare "$case_dir/expected_stdout" "$work/stdout" stdout
if [ -f "$case_dir/expected_stderr" ]; then
  compare "$case_dir/expected_stderr" "$work/stderr" stderr
elif [ -s "$work/stderr" ]; then
  echo "--- unexpected standard error:"
  cat "$work/stderr"
  failed=1
fi
expected_status=0
[ -f "$case_dir/expected_status" ] && expected_status=$(head -n 1 "$case_dir/expected_status")
if [ "$status" != "$expected_status" ]; then
  echo "--- exit status $status, expected $expected_status"
  failed=1
fi
exit "$failed"
