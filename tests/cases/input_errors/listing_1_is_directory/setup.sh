mkdir l1.txt
