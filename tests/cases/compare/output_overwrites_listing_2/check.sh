# The output replaces listing 2 itself, which was read completely before it was emptied.
[ "$1" = 0 ] || exit 1
if [ "${QRVDIFF_CASE_LINE_ENDS:-lf}" = crlf ]; then
  grep -q -v $'\r$' l2.txt && { echo "a line of l2.txt does not end in CR LF"; exit 1; }
  sed -i 's/\r$//' l2.txt
fi
sed -E 's/^Listing produced at   : [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}$/Listing produced at   : <TIME>/' l2.txt | cmp - expected_l2_after
