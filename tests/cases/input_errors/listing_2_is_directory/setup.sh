mkdir l2.txt
