#!/bin/sh
# Fails a CI job when coverage was lost between two execution profile listings.
#   ci-recipe.sh BASELINE CURRENT [COMPARED]
# Writes the compared listing to COMPARED (default: qrvdiff-compared.txt), worth keeping as a
# job artifact, and prints its summary. Exit status: 0 when no point lost its coverage, 1 when
# any did, 2 when the comparison failed. The programs come from $QRVDIFF and $QRVDIFF_SUMMARY,
# else from the PATH.
set -u
if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
  echo "usage: $0 BASELINE CURRENT [COMPARED]" >&2
  exit 2
fi
compared=${3:-qrvdiff-compared.txt}
"${QRVDIFF:-qrvdiff}" -i1 "$1" -i2 "$2" -p "$compared" || exit 2
exec "${QRVDIFF_SUMMARY:-qrvdiff-summary}" --fail-on-loss "$compared"
