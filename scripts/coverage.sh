#!/usr/bin/env bash
# Line and branch coverage of src/ (without the *_test.cc files) by the whole CTest suite.
# Builds with g++ --coverage (QRVDIFF_COVERAGE=ON) in build-coverage, runs ctest there, then reads
# gcov's JSON output of every object file and prints per-file and total percentages, followed by
# the lines that no test ran. Needs only g++, gcov and python3.
#
# Branches: gcov also counts the edges by which a call may throw (exception unwinding); those are
# shown in the "all" column but left out of the main branch figure, as they are not decisions of
# the program.
#
# Usage: scripts/coverage.sh [--no-build]   (--no-build: only report on the existing .gcda files)
# Environment: QRVDIFF_COVERAGE_BUILD_DIR (default build-coverage).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QRVDIFF_COVERAGE_BUILD_DIR:-build-coverage}

test_status=0
if [ "${1:-}" != "--no-build" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Debug \
    -DQRVDIFF_COVERAGE=ON -DQRVDIFF_BUILD_TESTS=ON -DQRVDIFF_BUILD_BENCHMARKS=OFF \
    -DQRVDIFF_BUILD_FUZZERS=OFF >/dev/null
  cmake --build "$build" -j2
  find "$build" -name '*.gcda' -delete
  ctest --test-dir "$build" -j2 --output-on-failure >"$build/ctest.log" 2>&1 || test_status=$?
  tail -n 3 "$build/ctest.log"
fi

python3 - "$build" "$(pwd)/src" <<'PY'
import json, os, subprocess, sys, tempfile

build, src = sys.argv[1], os.path.realpath(sys.argv[2])
lines = {}     # file -> {line: count}
branches = {}  # file -> {(line, index): [count, throw]}

gcda_files = []
for root, _, names in os.walk(build):
    gcda_files += [os.path.join(root, n) for n in names if n.endswith(".gcda")]
if not gcda_files:
    sys.exit("coverage: no .gcda files under %s; run the tests first" % build)

with tempfile.TemporaryDirectory() as scratch:
    for gcda in sorted(gcda_files):
        result = subprocess.run(
            ["gcov", "--json-format", "--stdout", "--branch-probabilities", "--object-directory",
             os.path.dirname(os.path.abspath(gcda)), os.path.abspath(gcda)],
            cwd=scratch, capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit("coverage: gcov failed on %s: %s" % (gcda, result.stderr))
        for document in result.stdout.splitlines():
            if not document.strip():
                continue
            data = json.loads(document)
            cwd = data.get("current_working_directory", "")
            for entry in data["files"]:
                path = os.path.realpath(os.path.join(cwd, entry["file"]))
                if not path.startswith(src + os.sep) or path.endswith("_test.cc"):
                    continue
                file_lines = lines.setdefault(path, {})
                file_branches = branches.setdefault(path, {})
                for line in entry["lines"]:
                    number = line["line_number"]
                    file_lines[number] = file_lines.get(number, 0) + line["count"]
                    for index, branch in enumerate(line.get("branches", [])):
                        slot = file_branches.setdefault((number, index), [0, branch["throw"]])
                        slot[0] += branch["count"]

def percent(hit, total):
    return 100.0 * hit / total if total else 100.0

def ranges(numbers):
    out, start, prev = [], None, None
    for n in sorted(numbers):
        if start is None:
            start = prev = n
        elif n == prev + 1:
            prev = n
        else:
            out.append(str(start) if start == prev else "%d-%d" % (start, prev))
            start = prev = n
    if start is not None:
        out.append(str(start) if start == prev else "%d-%d" % (start, prev))
    return ",".join(out)

rows = []
totals = [0, 0, 0, 0, 0, 0]
for path in sorted(lines):
    file_lines, file_branches = lines[path], branches[path]
    line_hit = sum(1 for c in file_lines.values() if c > 0)
    decisions = [b for b in file_branches.values() if not b[1]]
    branch_hit = sum(1 for b in decisions if b[0] > 0)
    all_hit = sum(1 for b in file_branches.values() if b[0] > 0)
    counts = [line_hit, len(file_lines), branch_hit, len(decisions), all_hit, len(file_branches)]
    totals = [t + c for t, c in zip(totals, counts)]
    rows.append((os.path.relpath(path, os.path.dirname(src)), counts, path))

print()
print("%-32s %15s %17s %17s" % ("file", "lines", "branches", "all branches"))
for name, c, _ in rows + [("TOTAL", totals, None)]:
    if name == "TOTAL":
        print("-" * 84)
    print("%-32s %6.1f%% %4d/%-4d %6.1f%% %4d/%-4d %6.1f%% %4d/%-4d" % (
        name, percent(c[0], c[1]), c[0], c[1], percent(c[2], c[3]), c[2], c[3],
        percent(c[4], c[5]), c[4], c[5]))

print()
print("Not run (line numbers), and lines with a decision branch never taken:")
for name, _, path in rows:
    missed = [n for n, c in lines[path].items() if c == 0]
    partial = sorted({n for (n, _), b in branches[path].items() if not b[1] and b[0] == 0})
    if missed or partial:
        print("  %s" % name)
        if missed:
            print("    lines not run:   %s" % ranges(missed))
        if partial:
            print("    branch not taken: %s" % ranges(partial))
PY
if [ "$test_status" -ne 0 ]; then
  echo "coverage: some tests failed (see $build/ctest.log)"
  exit "$test_status"
fi
