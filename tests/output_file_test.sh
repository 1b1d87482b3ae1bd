#!/usr/bin/env bash
# The output file appears complete or not at all: a fault of an input met while the output is
# written, a failed write and a signal that ends the run all leave an existing output as it was,
# in content and mode, and no temporary file behind. A symbolic link gets its target replaced,
# devices are written directly, and an input that is also the output is read whole first.
# Faults are injected by a preloaded library (tests/support/io_faults.cc).
# Usage: output_file_test.sh QRVDIFF IO_FAULTS_LIBRARY CASES_DIR
set -u
bin=$(realpath "$1") faults=$(realpath "$2") cases=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$cases/output/full_layout/l1.txt" "$cases/output/full_layout/l2.txt" .
failures=0
fail() {
  echo "output_file_test: $*"
  failures=$((failures + 1))
}
mask() { grep -v '^Listing produced at   : ' "$1"; }
"$bin" -i1 l1.txt -i2 l2.txt -p reference || fail "status $? of a plain run"
mask reference >reference.masked

# Runs qrvdiff with the words after `--`, the words before set in its environment; the status in
# $status, standard error in the file err.
run() {
  local settings=()
  while [ "$1" != -- ]; do
    settings+=("$1")
    shift
  done
  shift
  env "${settings[@]}" "$bin" "$@" 2>err
  status=$?
}
# Checks the status and message of the last run. Usage: expect CASE STATUS MESSAGE
expect() {
  [ "$status" = "$2" ] || fail "$1: status $status, not $2"
  [ "$(cat err)" = "$3" ] || fail "$1: standard error \"$(cat err)\", not \"$3\""
}
# An existing output, to be left as it was: out.txt, "earlier", mode 604.
earlier() {
  echo earlier >out.txt
  chmod 604 out.txt
}
untouched() {
  [ "$(cat out.txt)" = earlier ] || fail "$1: the existing output was changed"
  [ "$(stat -c %a out.txt)" = 604 ] || fail "$1: the existing output has mode $(stat -c %a out.txt)"
}
no_leftovers() {
  local left
  left=$(find . -name '.qrvdiff-*')
  [ -z "$left" ] || fail "$1: left behind: $left"
  rm -f .qrvdiff-*
}

# Listing 1 cut, or failing to be read, while its texts are read again during pairing.
for fault in cut eio; do
  cp l1.txt c1.txt
  earlier
  run LD_PRELOAD="$faults" QRVDIFF_FAULT=$fault QRVDIFF_FAULT_FILE=c1.txt \
    -- -i1 c1.txt -i2 l2.txt -p out.txt
  case $fault in
  cut) expect "$fault" 255 "*** qrvdiff error: Read error of file c1.txt, changed during the run" ;;
  eio) expect "$fault" 255 "*** qrvdiff error: Read error of file c1.txt, after line 11" ;;
  esac
  untouched "$fault"
  no_leftovers "$fault"
done

# A read that fails where listing 2 may end is no end of it.
earlier
run LD_PRELOAD="$faults" QRVDIFF_FAULT=eio-from="$(stat -c %s l2.txt)" QRVDIFF_FAULT_FILE=l2.txt \
  -- -i1 l1.txt -i2 l2.txt -p out.txt
expect "failing end of listing 2" 255 "*** qrvdiff error: Read error of file l2.txt, near line 88"
untouched "failing end of listing 2"

# A write that fails (the file size limit, its signal ignored) leaves the output as it was.
earlier
(
  trap '' XFSZ
  ulimit -f 1
  exec "$bin" -i1 l1.txt -i2 l2.txt -p out.txt 2>err
)
status=$?
expect "failed write" 255 "*** qrvdiff error: Could not close output profile file"
untouched "failed write"
no_leftovers "failed write"

# SIGTERM and SIGHUP while the output is being written: the process ends by the signal, without
# a temporary file, the output as it was.
for signal in TERM HUP; do
  earlier
  rm -f stalled
  LD_PRELOAD="$faults" QRVDIFF_FAULT=stall QRVDIFF_FAULT_MARKER=stalled \
    "$bin" -i1 l1.txt -i2 l2.txt -p out.txt 2>err &
  pid=$!
  for _ in $(seq 100); do
    [ -e stalled ] && break
    sleep 0.1
  done
  [ -e stalled ] || fail "$signal: the run never stalled"
  kill -"$signal" "$pid"
  { wait "$pid"; } 2>/dev/null  # without the shell's notice of the signal
  status=$?
  [ "$status" = $((128 + $(kill -l "$signal"))) ] || fail "$signal: status $status"
  untouched "$signal"
  no_leftovers "$signal"
done

# A new output gets the mode that creating a file gives.
(
  umask 027
  exec "$bin" -i1 l1.txt -i2 l2.txt -p new.txt
) || fail "new output: status $?"
[ "$(stat -c %a new.txt)" = 640 ] || fail "new output: mode $(stat -c %a new.txt), not 640"
cmp -s reference.masked <(mask new.txt) || fail "new output: differs"

# A symbolic link stays one; the file it leads to is replaced, keeping its mode.
mkdir real
echo earlier >real/target.txt
chmod 604 real/target.txt
ln -s real/target.txt link.txt
run -- -i1 l1.txt -i2 l2.txt -p link.txt
expect "link" 0 ""
[ -L link.txt ] || fail "link: no longer a symbolic link"
cmp -s reference.masked <(mask real/target.txt) || fail "link: the target holds another text"
[ "$(stat -c %a real/target.txt)" = 604 ] || fail "link: target mode $(stat -c %a real/target.txt)"

run -- -i1 l1.txt -i2 l2.txt -p /dev/null
expect "/dev/null" 0 ""

# An input that is also the output is read whole before the output replaces it.
for input in -i1 -i2; do
  cp l1.txt s1.txt
  cp l2.txt s2.txt
  same=s${input#-i}.txt
  run -- -i1 s1.txt -i2 s2.txt -p "$same"
  expect "$input as output" 0 ""
  cmp -s <(mask reference | sed 's/l\([12]\)\.txt/s\1.txt/') <(mask "$same") ||
    fail "$input as output: differs"
done
no_leftovers "same files"

[ "$failures" = 0 ] || exit 1
echo "output_file_test: the output is complete or as it was"
