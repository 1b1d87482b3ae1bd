# Standard output is a pipe whose reader has already gone: the write fails, which must be
# reported like any other failed write, never as success. qrvdiff starts only once the reader
# has closed its end (told through a named pipe), so that it never writes while it still could.
rm -f reader_gone
mkfifo reader_gone
{
  read -r _ <reader_gone
  "$QRVDIFF" -i1 l1.txt -i2 l2.txt -p - 2>stderr.txt
  echo $? >status.txt
} | {
  exec 0<&-
  echo gone >reader_gone
  sleep 1
}
status=$(cat status.txt)
[ "$status" = 255 ] || { echo "status $status"; exit 1; }
line_end='\n'
[ "${QRVDIFF_CASE_LINE_ENDS:-lf}" = crlf ] && line_end='\r\n'
printf "*** qrvdiff error: Could not close output profile file$line_end" | cmp - stderr.txt
