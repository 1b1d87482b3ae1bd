# The full compared listing is checked by the input_errors cases; here only that it was written.
[ "$1" = 0 ] || exit 1
[ -f out.txt ] || { echo "out.txt missing"; exit 1; }
[ "$(head -c 78 out.txt)" = "$(printf '%077d\n' 0 | tr 0 '*')" ] || { echo "out.txt does not start with the banner"; exit 1; }
