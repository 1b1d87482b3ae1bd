# Listing fed through a named pipe; the writer gives up after a while if never opened.
mkfifo l1.fifo
timeout 30 bash -c 'cat l1.src > l1.fifo' </dev/null >/dev/null 2>&1 &
