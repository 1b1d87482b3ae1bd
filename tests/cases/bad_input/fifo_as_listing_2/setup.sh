# Listing fed through a named pipe; the writer gives up after a while if never opened.
mkfifo l2.fifo
timeout 30 bash -c 'cat l2.src > l2.fifo' </dev/null >/dev/null 2>&1 &
