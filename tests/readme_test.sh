#!/usr/bin/env bash
# Checks what the README promises:
#   1. doc/ci-recipe.sh passes or fails as the summary of the compared listing says: it fails on
#      the bundled example pair, which loses coverage, listing every lost point, and passes on a
#      listing compared with itself; it reports a failed comparison with status 2;
#   2. the help block of the README is exactly what `qrvdiff -h` prints;
#   3. the recipe shown in the README is exactly doc/ci-recipe.sh.
#
#   readme_test.sh QRVDIFF QRVDIFF_SUMMARY SOURCE_DIR [README]
set -uo pipefail

if [ "$#" -lt 3 ] || [ "$#" -gt 4 ]; then
  echo "usage: $0 QRVDIFF QRVDIFF_SUMMARY SOURCE_DIR [README]" >&2
  exit 2
fi
qrvdiff=$(realpath "$1")
summary=$(realpath "$2")
source_dir=$(realpath "$3")
readme=${4:-$source_dir/README.md}
recipe=$source_dir/doc/ci-recipe.sh
listing1=$source_dir/examples/profile1.txt
listing2=$source_dir/examples/profile2.txt

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The third amount of the summary's "TER                : " line that holds "([", read with awk
# so that the check does not share its parsing with the recipe.
lost_in_summary() {
  awk '/^TER                : .*\(\[/ {
         sub(/^[^[]*\[/, ""); sub(/\].*$/, "")
         split($0, amounts, / [+-] /); print amounts[3]; exit
       }' "$1"
}

# Counts the "v" marks at the measurement points: column 11 after a HITS/TRUE field of digits
# and blanks, column 22 after a FALSE field of digits and blanks.
count_lost_marks() {
  awk 'length($0) >= 11 && substr($0, 1, 10) ~ /^[ 0-9]+$/ {
         if (substr($0, 11, 1) == "v") n++
         if (substr($0, 12, 10) ~ /^[ 0-9]+$/ && substr($0, 22, 1) == "v") n++
       }
       END { print n + 0 }' "$1"
}

# Runs the recipe from a scratch directory; sets recipe_status.
run_recipe() {
  (cd "$work" && QRVDIFF=$qrvdiff QRVDIFF_SUMMARY=$summary sh "$recipe" "$@") \
    >"$work/recipe.out" 2>"$work/recipe.err"
  recipe_status=$?
}

# --- 1. the CI recipe ----------------------------------------------------------------------
if [ ! -f "$recipe" ]; then
  fail "recipe $recipe is missing"
elif [ ! -f "$listing1" ] || [ ! -f "$listing2" ]; then
  fail "example listings missing: expected $listing1 and $listing2"
else
  run_recipe "$listing1" "$listing2" "$work/examples.txt"
  lost=$(lost_in_summary "$work/examples.txt" 2>/dev/null)
  if [ -z "$lost" ]; then
    fail "example pair: no summary line with amounts of difference (recipe status $recipe_status)"
    cat "$work/recipe.err" >&2
  else
    if [ "$lost" -eq 0 ]; then
      fail "example pair: the summary shows no lost coverage; the examples must lose some so" \
        "that the README shows a failing CI check"
    elif [ "$recipe_status" -ne 1 ]; then
      fail "example pair: summary shows $lost lost points, recipe exited $recipe_status, not 1"
    fi
    marks=$(count_lost_marks "$work/examples.txt")
    if [ "$marks" != "$lost" ]; then
      fail "example pair: $marks points marked v, but the summary counts $lost lost"
    fi
    listed=$(grep -c '^ *lost  *line ' "$work/recipe.out")
    if [ "$listed" != "$lost" ]; then
      fail "example pair: the recipe listed $listed lost points, the summary counts $lost"
    fi
  fi

  # A listing compared with itself loses nothing and gains nothing.
  run_recipe "$listing2" "$listing2" "$work/same.txt"
  if [ "$recipe_status" -ne 0 ]; then
    fail "listing compared with itself: recipe exited $recipe_status, not 0"
    cat "$work/recipe.err" >&2
  fi
  if ! grep -Eq '^TER                : [0-9]+ % \(\[[0-9]+ \+ 0 - 0\]' "$work/same.txt"; then
    fail "listing compared with itself: summary is not [n + 0 - 0]"
  fi

  # The same listing with its first FUNCTION line flagged "-" (not covered, column 23): against
  # the original that point alone is gained one way round and lost the other way round.
  awk '!done && length($0) >= 40 && substr($0, 31, 9) == "FUNCTION " && substr($0, 23, 1) == " " {
         $0 = substr($0, 1, 22) "-" substr($0, 24); done = 1
       }
       { print }' "$listing2" >"$work/one-less.txt"
  if cmp -s "$listing2" "$work/one-less.txt"; then
    fail "$listing2 has no covered FUNCTION line to flag as not covered"
  else
    run_recipe "$work/one-less.txt" "$listing2" "$work/gained.txt"
    if [ "$recipe_status" -ne 0 ]; then
      fail "one point gained, none lost: recipe exited $recipe_status, not 0"
    fi
    if [ "$(lost_in_summary "$work/gained.txt")" != 0 ]; then
      fail "one point gained, none lost: summary does not show 0 lost"
    fi
    run_recipe "$listing2" "$work/one-less.txt" "$work/lost.txt"
    if [ "$recipe_status" -ne 1 ]; then
      fail "one point lost: recipe exited $recipe_status, not 1"
    fi
    if ! grep -Eq '^TER                : [0-9]+ % \(\[[0-9]+ \+ 0 - 1\]' "$work/lost.txt"; then
      fail "one point lost: summary is not [n + 0 - 1]"
    fi
    if [ "$(grep -c '^ *lost  *line .* col 11  FUNCTION ' "$work/recipe.out")" -ne 1 ]; then
      fail "one point lost: the recipe did not list the FUNCTION line marked v"
      cat "$work/recipe.out" >&2
    fi
  fi

  # A comparison that cannot run is status 2, not a verdict.
  run_recipe "$work/no-such-listing.txt" "$listing2" "$work/none.txt"
  if [ "$recipe_status" -ne 2 ]; then
    fail "missing listing 1: recipe exited $recipe_status, not 2"
  fi
  run_recipe "$listing1" "$listing2" "$work/no-such-dir/compared.txt"
  if [ "$recipe_status" -ne 2 ]; then
    fail "unwritable compared listing: recipe exited $recipe_status, not 2"
  fi
  run_recipe "$listing1"
  if [ "$recipe_status" -ne 2 ]; then
    fail "one argument only: recipe exited $recipe_status, not 2"
  fi
fi

# --- 2. and 3. blocks of the README ----------------------------------------------------------
# Prints the lines between the marker comments, without the fence lines around them; fails when
# the markers or the fence are missing.
readme_block() {
  local name=$1 fence=$2
  awk -v begin="<!-- $name-begin -->" -v end="<!-- $name-end -->" -v fence="$fence" '
    $0 == begin { inside = 1; found = 1; next }
    $0 == end { inside = 0; closed = 1; next }
    inside { lines[++n] = $0 }
    END {
      if (!found || !closed || n < 2 || lines[1] != fence || lines[n] != "```") exit 1
      for (i = 2; i < n; i++) print lines[i]
    }' "$readme"
}

if [ ! -f "$readme" ]; then
  fail "README $readme is missing"
else
  if ! readme_block help '```text' >"$work/help.readme"; then
    fail "README: no help block between <!-- help-begin --> and <!-- help-end --> in a" \
      '```text fence'
  else
    "$qrvdiff" -h >"$work/help.program"
    if ! diff -u "$work/help.readme" "$work/help.program" >"$work/help.diff"; then
      fail "README: the help block differs from the output of qrvdiff -h"
      cat "$work/help.diff" >&2
    fi
  fi
  if ! readme_block recipe '```sh' >"$work/recipe.readme"; then
    fail "README: no recipe block between <!-- recipe-begin --> and <!-- recipe-end --> in a" \
      '```sh fence'
  elif ! diff -u "$work/recipe.readme" "$recipe" >"$work/recipe.diff"; then
    fail "README: the recipe shown differs from doc/ci-recipe.sh"
    cat "$work/recipe.diff" >&2
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "README checks passed"
