#!/usr/bin/env bash
# Runs one end-to-end case: a folder with the input listings, the command-line words and the
# expected results. See tests/cases/README.md for the files a case may hold.
# Usage: run_case.sh QRVDIFF_BINARY CASE_DIR
# With QRVDIFF_CASE_LINE_ENDS=crlf (a Windows build) every line that the program writes, to
# standard output, standard error or out.txt, must end in CR LF; the expected files, and check.sh,
# then see each CR LF as the LF that they hold.
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

# Replaces each CR LF of file $1 with LF; fails when the file has an LF without a CR before it.
from_crlf() {
  perl -e 'local $/; my $t = <STDIN>; exit 1 if $t =~ /(?<!\r)\n/; $t =~ s/\r\n/\n/g; print $t' \
    <"$1" >"$1.lf" && mv "$1.lf" "$1" && return
  echo "--- $2 has a line end without CR"
  failed=1
}

# The time of the run is the only text that differs between runs; it must have the fixed
# 24-character form, and is then replaced by a placeholder.
mask() {
  sed -E 's/^Listing produced at   : (Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}$/Listing produced at   : <TIME>/' "$1"
}

failed=0
if [ "${QRVDIFF_CASE_LINE_ENDS:-lf}" = crlf ]; then
  # Standard output is checked when it goes to the case's own folder, not to a device.
  [ "${stdout_target#/}" = "$stdout_target" ] && from_crlf "$stdout_target" "standard output"
  from_crlf actual_stderr "standard error"
  # An output left as it was holds the line ends that the case gave it.
  if [ -f out.txt ] && ! { [ -f existing_output ] && cmp -s existing_output out.txt; }; then
    from_crlf out.txt "output file out.txt"
  fi
fi
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
