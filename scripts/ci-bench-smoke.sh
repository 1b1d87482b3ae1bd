#!/usr/bin/env bash
# Checks that the listing generator makes valid pairs and that the benchmark script runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/ci-smoke.sh
