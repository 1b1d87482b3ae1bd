#!/usr/bin/env bash
# Builds a Release tree in build-package, installs it into a scratch prefix, makes the Debian
# package and checks both: the installed and packaged files, the package fields, and the
# packaged program, run from the unpacked package.
set -euo pipefail
cd "$(dirname "$0")/.."
build="build-package"
jobs=${QRVDIFF_JOBS:-2}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
die() {
  echo "ci-package: $*" >&2
  exit 1
}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQRVDIFF_WERROR=ON \
  -DQRVDIFF_BUILD_TESTS=OFF -DQRVDIFF_BUILD_BENCHMARKS=OFF -DQRVDIFF_BUILD_FUZZERS=OFF \
  -DQRVDIFF_COVERAGE=OFF >/dev/null
cmake --build "$build" -j"$jobs"
[ -f "$build/CPackConfig.cmake" ] ||
  die "no CPack configuration in $build: CMakeLists.txt must include cmake/Packaging.cmake"

# The version that the program reports is the version the package must carry.
version=$("$build/qrvdiff" -h | sed -n 's/^This is .* qrvdiff v\([0-9.]*\)\.$/\1/p')
[ -n "$version" ] || die "qrvdiff -h does not state a version"
echo "== qrvdiff $version"

echo "== cmake --install"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/qrvdiff bin/qrvdiff-summary share/man/man1/qrvdiff.1 \
  share/man/man1/qrvdiff-summary.1 share/doc/qrvdiff/examples/ci-recipe.sh; do
  [ -f "$prefix/$file" ] || die "cmake --install did not install $file"
done
for program in qrvdiff qrvdiff-summary; do
  [ -x "$prefix/bin/$program" ] || die "installed bin/$program is not executable"
  cmp -s "doc/$program.1" "$prefix/share/man/man1/$program.1" ||
    die "installed manual page of $program differs"
done

echo "== cpack -G DEB"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$PWD/packages" >/dev/null)
shopt -s nullglob
debs=("$build"/packages/qrvdiff_"$version"_*.deb)
[ "${#debs[@]}" -eq 1 ] || die "expected one qrvdiff_${version}_<arch>.deb, found ${#debs[@]}"
deb=${debs[0]}
echo "   $deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = qrvdiff ] || die "package name is '$(field Package)'"
[ "$(field Version)" = "$version" ] || die "package version is '$(field Version)'"
[ "$(field Section)" = devel ] || die "package section is '$(field Section)'"
[ "$(field Maintainer)" = "qrvdiff developers" ] || die "maintainer is '$(field Maintainer)'"
case $(field Depends) in
  *libc6*) ;;
  *) die "package does not depend on libc6: '$(field Depends)'" ;;
esac
[ -n "$(field Description)" ] || die "package has no description"

dpkg-deb -c "$deb" >"$scratch/contents"
for file in ./usr/bin/qrvdiff ./usr/bin/qrvdiff-summary ./usr/share/man/man1/qrvdiff.1 \
  ./usr/share/man/man1/qrvdiff-summary.1 ./usr/share/doc/qrvdiff/examples/ci-recipe.sh; do
  awk -v f="$file" '$6 == f { found = 1 } END { exit !found }' "$scratch/contents" ||
    die "package does not contain $file"
done

echo "== packaged program"
root=$scratch/root
dpkg-deb -x "$deb" "$root"
packaged=$root/usr/bin/qrvdiff
"$packaged" -h >"$scratch/help" || die "packaged qrvdiff -h exited with $?"
"$build/qrvdiff" -h | cmp -s - "$scratch/help" || die "packaged qrvdiff -h prints another help"
cmp -s doc/qrvdiff.1 "$root/usr/share/man/man1/qrvdiff.1" || die "packaged manual page differs"
cmp -s doc/qrvdiff-summary.1 "$root/usr/share/man/man1/qrvdiff-summary.1" ||
  die "packaged manual page of qrvdiff-summary differs"
"$root/usr/bin/qrvdiff-summary" --version | grep -qx "qrvdiff-summary $version" ||
  die "packaged qrvdiff-summary does not report version $version"

if [ -f examples/profile1.txt ] && [ -f examples/profile2.txt ]; then
  status=0
  "$packaged" -i1 examples/profile1.txt -i2 examples/profile2.txt -p "$scratch/compared.txt" ||
    status=$?
  [ "$status" -eq 0 ] || die "packaged qrvdiff failed on the examples (status $status)"
  grep -q '^Functions compared : ' "$scratch/compared.txt" ||
    die "packaged qrvdiff wrote no summary for the examples"
  # The packaged program must compare exactly as the one just built does (the time line aside).
  "$build/qrvdiff" -i1 examples/profile1.txt -i2 examples/profile2.txt -p "$scratch/built.txt"
  diff <(grep -v '^Listing produced at   : ' "$scratch/built.txt") \
    <(grep -v '^Listing produced at   : ' "$scratch/compared.txt") >/dev/null ||
    die "packaged qrvdiff compares the examples differently from the built one"
  QRVDIFF=$packaged QRVDIFF_SUMMARY=$root/usr/bin/qrvdiff-summary \
    sh "$root/usr/share/doc/qrvdiff/examples/ci-recipe.sh" \
    examples/profile2.txt examples/profile2.txt "$scratch/same.txt" >/dev/null ||
    die "packaged ci-recipe.sh fails on a listing compared with itself"
else
  echo "   (examples/profile1.txt and profile2.txt missing: comparison skipped)"
fi
echo "== package checks passed"
