# The executable carries "$VERSIONINFO$9.1.4.1$<build date>$<build time>$$" and never prints it.
grep -a -q -E '\$VERSIONINFO\$9\.1\.4\.1\$[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}\$[0-9]{2}:[0-9]{2}:[0-9]{2}\$\$' "$QRVDIFF" || exit 1
! "$QRVDIFF" -h | grep -q VERSIONINFO
