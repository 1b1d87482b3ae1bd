[ ! -e no_such_dir ]
