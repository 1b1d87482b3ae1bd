#!/usr/bin/env bash
# Lints the manual pages with both formatters; any message at all fails the check. Also checks
# that each page states the project's version.
set -euo pipefail
cd "$(dirname "$0")/.."
failed=0

for tool in mandoc groff; do
  command -v "$tool" >/dev/null || {
    echo "ci-manpage: $tool is not installed" >&2
    exit 1
  }
done

check() {
  local output status=0
  output=$("$@" 2>&1) || status=$?
  if [ "$status" -ne 0 ] || [ -n "$output" ]; then
    echo "ci-manpage: '$*' (status $status) reports:" >&2
    printf '%s\n' "$output" >&2
    failed=1
  fi
}
version=$(sed -n 's/^project(qrvdiff VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for page in doc/qrvdiff.1 doc/qrvdiff-summary.1; do
  check mandoc -T lint "$page"
  check groff -man -ww -z "$page"
  title=$(basename "$page" .1 | tr '[:lower:]' '[:upper:]')
  if ! grep -q "^\.TH $title 1 [^ ]* \"qrvdiff $version\"" "$page"; then
    echo "ci-manpage: the .TH line of $page does not name qrvdiff $version" >&2
    failed=1
  fi
done

[ "$failed" -eq 0 ] && echo "manual page lint clean"
exit "$failed"
