#!/usr/bin/env bash
# Windows check: cross-compiles qrvdiff.exe with MinGW-w64 (cmake/mingw-w64-x86_64.cmake) in
# build-windows, checks that it needs no DLL beyond the system's, runs every end-to-end case
# (tests/cases) under wine with CR LF line ends expected, and makes and checks the ZIP archive.
# Installs the cross compiler and wine when they are missing; skips, saying so, only when they
# cannot be installed. A case that cannot work under wine holds a file not_on_windows that says why.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${QRVDIFF_WINDOWS_BUILD_DIR:-build-windows}
jobs=${QRVDIFF_JOBS:-2}
die() {
  echo "ci-windows: $*" >&2
  exit 1
}

# The first of the commands named that is installed: in PATH or in wine's own folder.
installed_command() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null; then
      command -v "$name"
      return
    elif [ -x "/usr/lib/wine/$name" ]; then
      echo "/usr/lib/wine/$name"
      return
    fi
  done
}
wine_command() { installed_command wine wine64; }

pkgs=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || pkgs+=(g++-mingw-w64-x86-64-posix)
[ -n "$(wine_command)" ] || pkgs+=(wine64 wine)
command -v groff >/dev/null || command -v mandoc >/dev/null || pkgs+=(groff-base)
if [ "${#pkgs[@]}" -gt 0 ]; then
  echo "== installing: ${pkgs[*]}"
  if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
  if ! { $SUDO apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${pkgs[@]}" >/dev/null; }; then
    echo "ci-windows: SKIPPED: could not install ${pkgs[*]}"
    exit 0
  fi
fi
wine=$(wine_command)
[ -n "$wine" ] || die "wine is installed but no wine command was found"

echo "== building qrvdiff.exe in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQRVDIFF_WERROR=ON -DQRVDIFF_BUILD_TESTS=OFF \
  -DQRVDIFF_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$jobs"  # qrvdiff.exe and the manual page as text
exe=$root/$build/qrvdiff.exe
[ -f "$exe" ] || die "no $exe"

echo "== DLLs that qrvdiff.exe imports"
system_dll='^(kernel32|msvcrt|ucrtbase|shell32|advapi32|user32|ntdll|bcrypt|api-ms-win-[a-z0-9-]+)\.dll$'
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$dlls" ] || die "objdump names no imported DLL"
for dll in $dlls; do
  echo "   $dll"
  echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dll" || die "qrvdiff.exe needs $dll"
done

echo "== end-to-end cases under wine"
export WINEPREFIX=$root/$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Command-line words and file names pass between wine and the system as UTF-8.
export LC_ALL=C.UTF-8
# One wine server for all the runs (starting one costs a second), ended when the check ends.
wineserver=$(installed_command wineserver wineserver64)
[ -n "$wineserver" ] || die "no wineserver command was found"
trap '"$wineserver" -k 2>/dev/null || true' EXIT
mkdir -p "$WINEPREFIX"
"$wineserver" -p 2>/dev/null || true  # one may be running for this prefix already
"$wine" "$exe" -h >/dev/null 2>&1 || die "qrvdiff.exe -h fails under wine"
runner=$root/$build/qrvdiff-wine
printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$wine" "$exe" >"$runner"
chmod +x "$runner"
passed=0 failed=0 skipped=0
for case_dir in tests/cases/*/*/; do
  case_dir=${case_dir%/}
  if [ -f "$case_dir/not_on_windows" ]; then
    skipped=$((skipped + 1))
    continue
  fi
  if output=$(QRVDIFF_CASE_LINE_ENDS=crlf bash tests/run_case.sh "$runner" "$case_dir" 2>&1); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "--- FAILED: $case_dir"
    printf '%s\n' "$output" | head -n 40
  fi
done
echo "ci-windows: $passed cases passed, $failed failed, $skipped not for Windows"
[ "$failed" -eq 0 ] || exit 1

echo "== ZIP archive"
version=$(sed -n 's/^project(qrvdiff VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf "$build/packages"
(cd "$build" && cpack -G ZIP -B "$PWD/packages" >/dev/null)
archive=$build/packages/qrvdiff-$version-win64.zip
[ -f "$archive" ] || die "no $archive"
echo "   $archive"
contents=$(cmake -E tar tf "$archive")
for file in qrvdiff.exe README.md qrvdiff.txt; do
  grep -qx "qrvdiff-$version-win64/$file" <<<"$contents" || die "the archive lacks $file"
done
[ "$(grep -c '[^/]$' <<<"$contents")" -eq 3 ] || die "the archive holds other files: $contents"
unpacked=$(mktemp -d)
(cd "$unpacked" && cmake -E tar xf "$root/$archive")
top=$unpacked/qrvdiff-$version-win64
cmp -s "$top/README.md" README.md || die "the archive's README.md differs"
grep -q $'^QRVDIFF(1).*\r$' "$top/qrvdiff.txt" || die "qrvdiff.txt is not the manual page with CR LF"
grep -q $'[\b]' "$top/qrvdiff.txt" && die "qrvdiff.txt holds overstrikes"
"$wine" "$top/qrvdiff.exe" -h | grep -q "qrvdiff v$version\." || die "the archive's program fails"
rm -rf "$unpacked"
echo "== Windows checks passed"
