# The output goes to the file named in UTF-8, and to no other name.
[ "$1" = 0 ] || exit 1
[ -f ergebnis_é.txt ] || { echo "ergebnis_é.txt was not written"; ls; exit 1; }
[ "$(ls | grep -c -v -E '^(actual_|args$|check\.sh$|expect|l[12]\.txt$|ergebnis_é\.txt$)')" = 0 ] ||
  { echo "another file was written:"; ls; exit 1; }
if [ "${QRVDIFF_CASE_LINE_ENDS:-lf}" = crlf ]; then
  grep -q -v $'\r$' ergebnis_é.txt && { echo "a line does not end in CR LF"; exit 1; }
  sed -i 's/\r$//' ergebnis_é.txt
fi
sed -E 's/^Listing produced at   : [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}$/Listing produced at   : <TIME>/' ergebnis_é.txt | cmp - expected_listing
