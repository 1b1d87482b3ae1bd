#!/usr/bin/env bash
# When the system refuses to start a thread, qrvdiff does the work on the one it has: the same
# compared listing, status 0, nothing on standard error. The pair is large enough for every place
# that starts one: listing 1 read beside listing 2, pairing on two threads (listing 2 of 200,000
# lines or more) and a file section of more than 8 MiB written out by a thread of its own.
# Usage: no_second_thread_test.sh QRVDIFF GEN_LISTINGS NO_THREAD_START_LIBRARY
set -u
bin=$1 gen=$2 shim=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "no_second_thread_test: $*"
  exit 1
}

"$gen" --seed 3 --size 12M --shape same-function-line --out1 "$work/l1" --out2 "$work/l2" ||
  fail "gen_listings failed"
[ "$(wc -l <"$work/l2")" -ge 200000 ] || fail "listing 2 too short to be paired on two threads"

if QRVDIFF_THREAD_REFUSED="$work/refused" LD_PRELOAD="$shim" \
  "$bin" -i1 "$work/l1" -i2 "$work/l2" -p "$work/one" 2>"$work/one.err"; then
  status=0
else
  status=$?
fi
[ "$status" = 0 ] || { head -5 "$work/one.err"; fail "status $status without a second thread"; }
[ -s "$work/one.err" ] && { head -5 "$work/one.err"; fail "standard error written"; }
[ -e "$work/refused" ] || fail "no thread was refused: the preloaded library took no effect"
"$bin" -i1 "$work/l1" -i2 "$work/l2" -p "$work/two" || fail "status $? with threads"

mask() { grep -v '^Listing produced at   : ' "$1"; }
cmp -s <(mask "$work/one") <(mask "$work/two") || fail "the listings differ"
echo "no_second_thread_test: same listing on one thread as on several"
