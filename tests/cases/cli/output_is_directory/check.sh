[ -d outdir ] && [ -z "$(ls -A outdir)" ]
