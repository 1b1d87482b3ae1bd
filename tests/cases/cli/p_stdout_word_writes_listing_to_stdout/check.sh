# The listing went to standard output (captured in listing.txt); no file was created for it.
[ "$1" = 0 ] || exit 1
[ ! -e ./- ] && [ ! -e stdout ] || { echo "an output file was created"; exit 1; }
[ "$(head -c 78 listing.txt)" = "$(printf '%077d\n' 0 | tr 0 '*')" ] || { echo "no banner on standard output"; exit 1; }
grep -qx 'Input profile 1       : l1.txt (Mon Feb 28 09:00:00 2022)' listing.txt || exit 1
grep -qx 'Input profile 2       : l2.txt (Tue Mar  1 10:00:00 2022)' listing.txt || exit 1
[ "$(tail -n 1 listing.txt)" = 'TER                : 100 % (  2/  2) statement' ] || { echo "listing incomplete"; exit 1; }
