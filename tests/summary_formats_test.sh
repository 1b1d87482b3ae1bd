#!/usr/bin/env bash
# Checks qrvdiff-summary's formats beyond fixed expected outputs:
#   1. the JSON output parses (RFC 8259, by Python's parser) and its totals are those of the
#      compared listing's own SUMMARY block, its lost points those marked "v";
#   2. a pipe from qrvdiff works;
#   3. a compared listing with thousands of long, markdown-active names: the markdown stays under
#      65,000 characters and says what it left out; the workflow annotations are the largest
#      losses first, at most --max-annotations of them, the rest counted in the notice.
#
#   summary_formats_test.sh QRVDIFF_SUMMARY QRVDIFF SOURCE_DIR
set -uo pipefail
summary=$(realpath "$1")
qrvdiff=$(realpath "$2")
source_dir=$(realpath "$3")
inputs=$source_dir/tests/summary_cases/inputs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- 1. JSON against the listing's own SUMMARY block -------------------------------------------
check_json() {  # compared-listing
  "$summary" --format json "$1" >"$work/out.json" || fail "$1: status $?"
  python3 - "$1" "$work/out.json" <<'PY' || fail "$1: JSON does not match the listing"
import json, re, sys
listing = open(sys.argv[1], 'rb').read().decode('latin-1').split('\n')
report = json.load(open(sys.argv[2], encoding='utf-8'))
t = report['totals']
def only(pattern):
    found = [m for m in (re.match(pattern, l) for l in listing) if m]
    return found[0]
compared = int(only(r'Functions compared : (\d+)$').group(1))
ter = only(r'TER                : (\d+) % \(\[(\d+) \+ (\d+) - (\d+)\] (\d+)/(\d+)\)')
a, b, c = (int(ter.group(i)) for i in (2, 3, 4))
expected = {'functions_compared': compared,
            'functions_all': int(only(r'Functions all      : (\d+)$').group(1)),
            'percent': int(ter.group(1)), 'kept': a - c, 'gained': b, 'lost': c,
            'covered': int(ter.group(5)), 'points': int(ter.group(6))}
problems = [f'{k}: {t[k]} != {v}' for k, v in expected.items() if t[k] != v]
status = lambda text: sum(1 for l in listing if len(l) >= 40 and l[30:39] == 'FUNCTION ' and l[11:22] == text)
if report['not_available'] != status('(not avail)'): problems.append('not_available')
if report['different'] != status('(different)'): problems.append('different')
lost = sum(len(f['lost_points']) for file in report['files'] for f in file['functions'])
gained = sum(len(f['gained_points']) for file in report['files'] for f in file['functions'])
if (lost, gained) != (c, b): problems.append(f'points listed: lost {lost}, gained {gained}')
for file in report['files']:
    for f in file['functions']:
        for p in f['lost_points'] + f['gained_points']:
            if p['mark_column'] not in (11, 22) or not isinstance(p['line'], int): problems.append(str(p))
        if f['status'] not in ('compared', 'not_available', 'different'): problems.append(f['status'])
if problems: sys.exit('\n'.join(problems))
PY
}
for listing in "$inputs"/examples.txt "$inputs"/handmade.txt "$inputs"/no_files.txt; do
  check_json "$listing"
done

# --- 2. from a pipe -----------------------------------------------------------------------------
"$qrvdiff" -i1 "$source_dir/examples/profile1.txt" -i2 "$source_dir/examples/profile2.txt" -p - |
  "$summary" --fail-on-loss --format json - >"$work/piped.json"
status=$?
[ "$status" -eq 1 ] || fail "examples through a pipe: status $status, not 1"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/piped.json" ||
  fail "examples through a pipe: output is not JSON"

# --- 3. a large report ----------------------------------------------------------------------------
python3 - "$work/large.txt" <<'PY'
import sys
lines = ['*' * 77, '*' + ' ' * 75 + '*', '*' + ' ' * 75 + '*',
         '*             EXECUTION PROFILE LISTING (COMPARED by qrvdiff v9.1.4.1)      *',
         '*' + ' ' * 75 + '*', '*' + ' ' * 75 + '*', '*' * 77, '', '',
         'Input profile 1       : a (x)', 'Input profile 2       : b (y)',
         'Listing produced at   : z', 'Coverage view         : As instrumented', '', '']
total_lost = 0
for f in range(40):
    lines += ['', f'MONITORED SOURCE FILE : src/dir|{f}/file_{f}.c', 'INSTRUMENTATION MODE  : decision', '',
              ' HITS/TRUE      FALSE    LINE DESCRIPTION', '=' * 77, '']
    for g in range(100):
        lost = 1 + (f * 100 + g) % 7
        if f == 17 and g == 42: lost = 50
        total_lost += lost
        name = f'fn_{f}_{g}(' + '|*_<>' * 300 + ')'
        lines.append('         4' + ' ' * 14 + '   10 FUNCTION ' + name)
        for p in range(lost):
            lines.append('         0v           -   %3d return [%d] |`*_#<x>' % (11 + p, p) + 'y' * 500)
        lines += ['', f'***TER   0 % ([{lost} + 0 - {lost}]  1/{lost + 1:3}) of FUNCTION {name}',
                  '       N.A. statement', '-' * 77, '']
    lines += ['', '***TER   0 % ([0 + 0 - 0]  0/  0) of FILE (compared Fs) x', '       N.A. statement',
              '-' * 77, '', '']
lines += ['', 'SUMMARY', '=======', '', 'Source files       : 40', 'Headers extracted  : 0',
          'Source lines       : 1', '', 'Functions compared : 4000',
          f'TER                : 0 % ([{total_lost} + 0 - {total_lost}] 4000/{total_lost + 4000}) of 40 source files',
          'TER                : 100 % (0/0) statement', '', 'Functions all      : 4000',
          'TER                : 0 % (0/0) of 40 source files', 'TER                : 100 % (0/0) statement']
open(sys.argv[1], 'w').write('\n'.join(lines) + '\n')
PY
"$summary" --format markdown "$work/large.txt" >"$work/large.md" || fail "large: markdown status $?"
characters=$(python3 -c 'import sys; print(len(open(sys.argv[1], encoding="utf-8").read()))' \
  "$work/large.md")
[ "$characters" -lt 65000 ] || fail "large: markdown has $characters characters"
grep -q '^_Left out to stay under 65000 characters: [1-9][0-9]* function rows and [1-9][0-9]* lost points._$' \
  "$work/large.md" || fail "large: markdown does not say what it left out"
grep -q '^</details>$' "$work/large.md" || fail "large: markdown does not close its details"
if grep -v '^|' "$work/large.md" | grep -q '[^\\]|'; then
  fail "large: an unescaped | outside the table rows"
fi

"$summary" --format github --max-annotations 5 "$work/large.txt" >"$work/large.gh"
[ "$(grep -c '^::warning ' "$work/large.gh")" -eq 5 ] || fail "large: not 5 annotations"
grep -q '^::warning file=src/dir%7C17/file_17.c' "$work/large.gh" &&
  fail "large: | escaped in a property (only % CR LF : , are)"
head -n 1 "$work/large.gh" | grep -q '^::warning file=src/dir|17/file_17.c,line=11,title=Coverage lost::.*fn_17_42(' ||
  fail "large: the first annotation is not of the function with most lost points"
total=$(python3 -c "print(sum(1 + (i % 7) for i in range(4000)) - (1 + (1742 % 7)) + 50)")
tail -n 1 "$work/large.gh" | grep -q "; $((total - 5)) lost points without annotation\$" ||
  fail "large: the notice does not count the $((total - 5)) lost points left without annotation"
[ "$(wc -l <"$work/large.gh")" -eq 6 ] || fail "large: more than the annotations and one notice"

# --- 4. colour only on a terminal, and not under NO_COLOR ---------------------------------------
escape=$(printf '\033')
if "$summary" "$inputs/handmade.txt" | grep -q "$escape"; then
  fail "colour written to a pipe"
fi
if command -v script >/dev/null; then
  script -qc "env -u NO_COLOR '$summary' '$inputs/handmade.txt'" /dev/null >"$work/tty.txt"
  grep -q "$escape\[31mlost" "$work/tty.txt" || fail "no colour on a terminal"
  script -qc "NO_COLOR=1 '$summary' '$inputs/handmade.txt'" /dev/null >"$work/tty.txt"
  grep -q "$escape" "$work/tty.txt" && fail "colour on a terminal although NO_COLOR is set"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "summary format checks passed"
