# Standard output is a pipe whose reader has already gone: the write fails, which must be
# reported like any other failed write, never as success.
"$QRVDIFF" -i1 l1.txt -i2 l2.txt -p - 2>stderr.txt | { exec 0<&-; sleep 1; }
status=${PIPESTATUS[0]}
[ "$status" = 255 ] || { echo "status $status"; exit 1; }
printf '*** qrvdiff error: Could not close output profile file\n' | cmp - stderr.txt
