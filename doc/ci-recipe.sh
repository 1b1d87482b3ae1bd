#!/bin/sh
# Fails a CI job when coverage was lost between two execution profile listings.
#
#   ci-recipe.sh BASELINE CURRENT [COMPARED]
#
# Compares BASELINE (listing 1) with CURRENT (listing 2) and writes the compared listing to
# COMPARED (default: qrvdiff-compared.txt), which is worth keeping as a job artifact.
# Exit status: 0 when no measurement point lost its coverage, 1 when any did (the lines marked
# "v" are listed on standard error), 2 when the comparison itself failed.
# The qrvdiff program is taken from $QRVDIFF, else from the PATH.
set -u

if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
  echo "usage: $0 BASELINE CURRENT [COMPARED]" >&2
  exit 2
fi
qrvdiff=${QRVDIFF:-qrvdiff}
compared=${3:-qrvdiff-compared.txt}

if ! "$qrvdiff" -i1 "$1" -i2 "$2" -p "$compared"; then
  echo "ci-recipe: qrvdiff could not compare $1 with $2" >&2
  exit 2
fi

# The summary line reads, e.g.:
#   TER                : 84 % ([213 + 38 - 30] 221/263) of 4 source files
# [covered in listing 1 + newly covered - lost]; the third number counts the "v" marks.
summary=$(grep '^TER                : .*(\[' "$compared" | head -n 1)
number='\(-\{0,1\}[0-9]\{1,\}\)'
lost=$(printf '%s\n' "$summary" |
  sed -n "s/^[^[]*\[$number + $number - $number\].*\$/\3/p")
if [ -z "$lost" ]; then
  echo "ci-recipe: no summary line with amounts of difference in $compared" >&2
  exit 2
fi

echo "$summary"
if [ "$lost" -ne 0 ]; then
  echo "ci-recipe: coverage lost at $lost measurement points; lines marked v in $compared:" >&2
  # A mark stands in column 11 (after the HITS/TRUE counter) or 22 (after the FALSE counter).
  grep -nE '^[ 0-9]{10}(v|.[ 0-9]{10}v)' "$compared" >&2
  exit 1
fi
echo "ci-recipe: no coverage lost"
exit 0
